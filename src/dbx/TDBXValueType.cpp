// TDBXValueType: type description setters with the modified and read-only rules.
#include "dbx/TDBXValueType.h"

#include "dbx/DbxConstants.h"
#include "dbx/TDBXError.h"
#include "platform/Text.h"

namespace ab {

void TDBXValueType::CheckWritable() const {
    if (readOnly_)
        throw TDBXError(TDBXErrorCodes::InvalidParameter,
                        Format(u"%s type cannot be modified", {name_}));
}

void TDBXValueType::SetName(std::u16string name) {
    CheckWritable();
    name_ = std::move(name);
}

void TDBXValueType::SetDataType(int dataType) {
    CheckWritable();
    if (dataType_ != dataType)
        modified_ = true;
    dataType_ = dataType;
}

void TDBXValueType::SetSubType(int subType) {
    CheckWritable();
    subType_ = subType;
}

void TDBXValueType::SetParameterDirection(int direction) {
    CheckWritable();
    if (direction_ != direction)
        modified_ = true;
    direction_ = direction;
}

void TDBXValueType::SetPrecision(std::int64_t precision) {
    CheckWritable();
    precision_ = precision;
}

void TDBXValueType::SetScale(int scale) {
    CheckWritable();
    scale_ = scale;
}

void TDBXValueType::SetSize(std::int64_t size) {
    CheckWritable();
    if (size_ != size)
        modified_ = true;
    size_ = size;
}

void TDBXValueType::SetChildPosition(int childPosition) {
    CheckWritable();
    if (childPosition_ != childPosition)
        modified_ = true;
    childPosition_ = childPosition;
}

void TDBXValueType::SetValueTypeFlags(int flags) {
    CheckWritable();
    if (flags_ != flags)
        modified_ = true;
    flags_ = flags;
}

void TDBXValueType::SetOrdinal(int ordinal) {
    CheckWritable();
    ordinal_ = ordinal;
}

void TDBXValueType::SetLiteral(std::u16string literal) {
    CheckWritable();
    literal_ = std::move(literal);
}

std::u16string TDBXValueType::TypeName() const {
    return TDBXDataTypes::TypeName(dataType_);
}

}  // namespace ab
