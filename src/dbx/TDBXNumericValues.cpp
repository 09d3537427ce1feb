// The numeric value classes: row reads and writes.
#include "dbx/TDBXNumericValues.h"

#include "dbx/TDBXRowBuffer.h"

namespace ab {

void TDBXIntegerValue::WriteField(TDBXRowBuffer& row) {
    row.WriteInt64(value_);
}
void TDBXIntegerValue::ReadField(TDBXRowBuffer& row) {
    value_ = row.ReadInt64();
}

double TDBXDoubleValue::GetDouble() {
    Refresh();
    return value_;
}
void TDBXDoubleValue::SetDouble(double value) {
    value_ = value;
    MarkSet();
}
void TDBXDoubleValue::WriteField(TDBXRowBuffer& row) {
    row.WriteDouble(value_);
}
void TDBXDoubleValue::ReadField(TDBXRowBuffer& row) {
    value_ = row.ReadDouble();
}

float TDBXSingleValue::GetSingle() {
    Refresh();
    return value_;
}
void TDBXSingleValue::SetSingle(float value) {
    value_ = value;
    MarkSet();
}
void TDBXSingleValue::WriteField(TDBXRowBuffer& row) {
    row.WriteSingle(value_);
}
void TDBXSingleValue::ReadField(TDBXRowBuffer& row) {
    value_ = row.ReadSingle();
}

}  // namespace ab
