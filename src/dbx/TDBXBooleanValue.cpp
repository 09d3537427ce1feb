// TDBXBooleanValue: truth in the header bit.
#include "dbx/TDBXBooleanValue.h"

#include "dbx/TDBXRowBuffer.h"

namespace ab {

bool TDBXBooleanValue::GetBoolean() {
    Refresh();
    return value_;
}

void TDBXBooleanValue::SetBoolean(bool value) {
    value_ = value;
    MarkSet();
}

void TDBXBooleanValue::WriteField(TDBXRowBuffer& row) {
    row.WriteBoolean(value_);
}

void TDBXBooleanValue::ReadField(TDBXRowBuffer& row) {
    value_ = row.ReadBoolean();
}

}  // namespace ab
