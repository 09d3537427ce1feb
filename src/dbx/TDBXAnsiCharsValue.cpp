// TDBXAnsiCharsValue: 8-bit text as a byte field.
#include "dbx/TDBXAnsiCharsValue.h"

#include "dbx/TDBXRowBuffer.h"

namespace ab {

namespace {

std::shared_ptr<const std::vector<std::uint8_t>> BytesOf(std::string_view text) {
    return std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end());
}

}  // namespace

std::string TDBXAnsiCharsValue::GetAnsiString() {
    Refresh();
    return isNull_ ? std::string() : value_;
}

void TDBXAnsiCharsValue::SetAnsiString(std::string_view value) {
    value_.assign(value);
    source_.reset();
    MarkSet();
}

std::unique_ptr<TDBXStreamReader> TDBXAnsiCharsValue::GetStreamReader() {
    Refresh();
    return std::make_unique<TDBXMemoryStreamReader>(BytesOf(isNull_ ? std::string() : value_));
}

void TDBXAnsiCharsValue::WriteField(TDBXRowBuffer& row) {
    source_ = std::make_unique<TDBXMemoryStreamReader>(BytesOf(value_));
    row.WriteBytes(*source_);
}

void TDBXAnsiCharsValue::ReadField(TDBXRowBuffer& row) {
    const std::vector<std::uint8_t> bytes = row.ReadBytes()->ReadAll();
    value_.assign(bytes.begin(), bytes.end());
}

}  // namespace ab
