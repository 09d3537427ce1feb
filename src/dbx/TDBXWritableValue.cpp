// TDBXWritableValue: access rules, refresh from the row, the unset/null rules and the factory.
#include "dbx/TDBXWritableValue.h"

#include "dbx/DbxConstants.h"
#include "dbx/TDBXAnsiCharsValue.h"
#include "dbx/TDBXBooleanValue.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXJSONValue.h"
#include "dbx/TDBXNumericValues.h"
#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXStreamReader.h"
#include "dbx/TDBXStreamValue.h"
#include "dbx/TDBXValueType.h"
#include "dbx/TDBXWideCharsValue.h"
#include "platform/Text.h"

namespace ab {

using T = TDBXDataTypes;

TDBXWritableValue::TDBXWritableValue(const TDBXValueType& valueType, TDBXRowBuffer* row)
    : valueType_(valueType), row_(row) {}

TDBXWritableValue::~TDBXWritableValue() = default;

std::unique_ptr<TDBXWritableValue> TDBXWritableValue::Create(const TDBXValueType& type,
                                                             TDBXRowBuffer* row) {
    const int sub = type.GetSubType();
    switch (type.GetDataType()) {
        case T::WideStringType:
            return std::make_unique<TDBXWideCharsValue>(type, row);
        case T::AnsiStringType:
            return std::make_unique<TDBXAnsiCharsValue>(type, row);
        case T::BlobType:
            if (sub == T::WideMemoSubType)
                return std::make_unique<TDBXWideCharsValue>(type, row);
            if (sub == T::MemoSubType || sub == T::HMemoSubType)
                return std::make_unique<TDBXAnsiCharsValue>(type, row);
            return std::make_unique<TDBXStreamValue>(type, row);
        case T::BooleanType:
            return std::make_unique<TDBXBooleanValue>(type, row);
        case T::VariantType:
        case T::BinaryBlobType:
        case T::BytesType:
        case T::VarBytesType:
        case T::AdtType:
        case T::ArrayType:
            return std::make_unique<TDBXStreamValue>(type, row);
        case T::JsonValueType:
            return std::make_unique<TDBXJSONValue>(type, row);
        case T::Int8Type:
            return std::make_unique<TDBXInt8Value>(type, row);
        case T::Int16Type:
            return std::make_unique<TDBXInt16Value>(type, row);
        case T::Int32Type:
            return std::make_unique<TDBXInt32Value>(type, row);
        case T::Int64Type:
            return std::make_unique<TDBXInt64Value>(type, row);
        case T::UInt8Type:
            return std::make_unique<TDBXUInt8Value>(type, row);
        case T::UInt16Type:
            return std::make_unique<TDBXUInt16Value>(type, row);
        case T::DoubleType:
            if (sub == T::SingleSubType)
                return std::make_unique<TDBXSingleValue>(type, row);
            return std::make_unique<TDBXDoubleValue>(type, row);
        case T::SingleType:
            return std::make_unique<TDBXSingleValue>(type, row);
        default:
            throw TDBXError(TDBXErrorCodes::UnsupportedFieldType,
                            Format(u"Unexpected data type %s", {IntToStr(type.GetDataType())}));
    }
}

void TDBXWritableValue::FailAccess(int requestedType) const {
    throw TDBXError(TDBXErrorCodes::InvalidType,
                    Format(u"%s value type cannot be accessed as %s value type",
                           {TDBXDataTypes::TypeName(valueType_.GetDataType()),
                            TDBXDataTypes::TypeName(requestedType)}));
}

void TDBXWritableValue::Refresh() {
    if (!row_ || row_->Generation() == generation_)
        return;
    row_->GoToField(valueType_.GetOrdinal());
    if (row_->IsNull()) {
        isNull_ = true;
        ReadNullField();
    } else {
        ReadField(*row_);
        isNull_ = false;
    }
    generation_ = row_->Generation();
}

void TDBXWritableValue::MarkSet() {
    isNull_ = false;
    setPending_ = true;
    generation_ = row_ ? row_->Generation() : -1;
}

bool TDBXWritableValue::IsNull() {
    Refresh();
    return isNull_;
}

void TDBXWritableValue::SetNull() {
    MarkSet();
    isNull_ = true;
}

void TDBXWritableValue::WriteToRow(TDBXRowBuffer& row) {
    if (!setPending_) {
        const int direction = valueType_.GetParameterDirection();
        if (direction == TDBXParameterDirections::OutParameter ||
            direction == TDBXParameterDirections::ReturnParameter) {
            row.WriteNull();
            return;
        }
        throw TDBXError(
            TDBXErrorCodes::ParameterNotSet,
            Format(u"Parameter not set for column number %s", {IntToStr(valueType_.GetOrdinal())}));
    }
    if (isNull_) {
        row.WriteNull();
        return;
    }
    WriteField(row);
}

std::vector<std::uint8_t> TDBXWritableValue::GetBytes() {
    return GetStreamReader()->ReadAll();
}

std::u16string TDBXWritableValue::GetWideString() {
    FailAccess(T::WideStringType);
}
void TDBXWritableValue::SetWideString(std::u16string_view) {
    FailAccess(T::WideStringType);
}
std::string TDBXWritableValue::GetAnsiString() {
    FailAccess(T::AnsiStringType);
}
void TDBXWritableValue::SetAnsiString(std::string_view) {
    FailAccess(T::AnsiStringType);
}
bool TDBXWritableValue::GetBoolean() {
    FailAccess(T::BooleanType);
}
void TDBXWritableValue::SetBoolean(bool) {
    FailAccess(T::BooleanType);
}
std::int8_t TDBXWritableValue::GetInt8() {
    FailAccess(T::Int8Type);
}
void TDBXWritableValue::SetInt8(std::int8_t) {
    FailAccess(T::Int8Type);
}
std::int16_t TDBXWritableValue::GetInt16() {
    FailAccess(T::Int16Type);
}
void TDBXWritableValue::SetInt16(std::int16_t) {
    FailAccess(T::Int16Type);
}
std::int32_t TDBXWritableValue::GetInt32() {
    FailAccess(T::Int32Type);
}
void TDBXWritableValue::SetInt32(std::int32_t) {
    FailAccess(T::Int32Type);
}
std::int64_t TDBXWritableValue::GetInt64() {
    FailAccess(T::Int64Type);
}
void TDBXWritableValue::SetInt64(std::int64_t) {
    FailAccess(T::Int64Type);
}
std::uint8_t TDBXWritableValue::GetUInt8() {
    FailAccess(T::UInt8Type);
}
void TDBXWritableValue::SetUInt8(std::uint8_t) {
    FailAccess(T::UInt8Type);
}
std::uint16_t TDBXWritableValue::GetUInt16() {
    FailAccess(T::UInt16Type);
}
void TDBXWritableValue::SetUInt16(std::uint16_t) {
    FailAccess(T::UInt16Type);
}
double TDBXWritableValue::GetDouble() {
    FailAccess(T::DoubleType);
}
void TDBXWritableValue::SetDouble(double) {
    FailAccess(T::DoubleType);
}
float TDBXWritableValue::GetSingle() {
    FailAccess(T::SingleType);
}
void TDBXWritableValue::SetSingle(float) {
    FailAccess(T::SingleType);
}
TJSONValue TDBXWritableValue::GetJSONValue() {
    FailAccess(T::JsonValueType);
}
void TDBXWritableValue::SetJSONValue(TJSONValue) {
    FailAccess(T::JsonValueType);
}
void TDBXWritableValue::SetAsVariant(const TOleVariant&) {
    FailAccess(T::BytesType);
}
void TDBXWritableValue::SetDynamicBytes(std::vector<std::uint8_t>) {
    FailAccess(T::BytesType);
}
std::unique_ptr<TDBXStreamReader> TDBXWritableValue::GetStreamReader() {
    FailAccess(T::BlobType);
}

}  // namespace ab
