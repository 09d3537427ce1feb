// TDBXJSONValue: JSON text in a length-prefixed block.
#include "dbx/TDBXJSONValue.h"

#include "dbx/TDBXRowBuffer.h"

namespace ab {

TJSONValue TDBXJSONValue::GetJSONValue() {
    Refresh();
    return value_;
}

void TDBXJSONValue::SetJSONValue(TJSONValue value) {
    value_ = std::move(value);
    MarkSet();
}

void TDBXJSONValue::WriteField(TDBXRowBuffer& row) {
    row.WriteJSON(value_.ToAscii());
}

void TDBXJSONValue::ReadField(TDBXRowBuffer& row) {
    value_ = row.ReadJSON();
}

}  // namespace ab
