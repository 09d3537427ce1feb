// TDBXWideCharsValue: text in, text out, overflow for long texts.
#include "dbx/TDBXWideCharsValue.h"

#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXStringEncoder.h"

namespace ab {

std::u16string TDBXWideCharsValue::GetWideString() {
    Refresh();
    return isNull_ ? std::u16string() : value_;
}

void TDBXWideCharsValue::SetWideString(std::u16string_view value) {
    value_.assign(value);
    overflow_.reset();
    MarkSet();
}

std::unique_ptr<TDBXStreamReader> TDBXWideCharsValue::GetStreamReader() {
    Refresh();
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(
        isNull_ ? std::vector<std::uint8_t>() : TDBXStringEncoder::Encode(value_));
    return std::make_unique<TDBXMemoryStreamReader>(std::move(bytes));
}

void TDBXWideCharsValue::WriteField(TDBXRowBuffer& row) {
    auto rest = std::make_shared<std::vector<std::uint8_t>>();
    overflow_.reset();
    if (!row.WriteString(value_, rest.get()))
        overflow_ = std::make_unique<TDBXMemoryStreamReader>(std::move(rest));
}

void TDBXWideCharsValue::ReadField(TDBXRowBuffer& row) {
    value_ = row.ReadString();
}

}  // namespace ab
