// TDBXStreamValue: shared bytes served inline first, then segment by segment.
#include "dbx/TDBXStreamValue.h"

#include "dbx/TDBXByteSource.h"
#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXValueType.h"

namespace ab {

void TDBXStreamValue::SetAsVariant(const TOleVariant& value) {
    if (value.IsNull()) {
        SetNull();
        return;
    }
    variant_ = value;
    bytes_.reset();
    source_.reset();
    fromRow_ = false;
    MarkSet();
}

void TDBXStreamValue::SetDynamicBytes(std::vector<std::uint8_t> value) {
    variant_ = TOleVariant();
    bytes_ = std::make_shared<const std::vector<std::uint8_t>>(std::move(value));
    source_.reset();
    fromRow_ = false;
    MarkSet();
}

std::unique_ptr<TDBXStreamReader> TDBXStreamValue::NewSource() const {
    if (variant_.TailSource())
        return variant_.TailSource()->OpenReader(variant_.StreamPrefix());
    if (variant_.IsByteArray())
        return TDBXMemoryStreamReader::ForByteArray(variant_);
    return std::make_unique<TDBXMemoryStreamReader>(bytes_);
}

std::unique_ptr<TDBXStreamReader> TDBXStreamValue::GetStreamReader() {
    Refresh();
    if (isNull_)
        return std::make_unique<TDBXMemoryStreamReader>(nullptr);
    if (fromRow_) {
        row_->GoToField(valueType_.GetOrdinal());
        return row_->ReadBytes();
    }
    return NewSource();
}

void TDBXStreamValue::WriteField(TDBXRowBuffer& row) {
    source_ = NewSource();
    row.WriteBytes(*source_);
}

void TDBXStreamValue::ReadField(TDBXRowBuffer&) {
    // The bytes are read when asked for: a large reply value is fetched only if used.
    fromRow_ = true;
}

}  // namespace ab
