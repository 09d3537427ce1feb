// TDBXValueType: the type description of a parameter or table column (name, data type, sub type,
// direction, precision, scale, size, child position, flags, ordinal).
//
// Changing DataType, Size, ChildPosition, ParameterDirection or ValueTypeFlags to a different value
// marks the description modified; a parameter then rebuilds its value on the next access. Column
// descriptions are read-only: every setter fails with "%s type cannot be modified" (code 9).
#pragma once

#include <cstdint>
#include <string>

namespace ab {

class TDBXValueType {
  public:
    TDBXValueType() = default;
    virtual ~TDBXValueType() = default;
    TDBXValueType(const TDBXValueType&) = default;
    TDBXValueType& operator=(const TDBXValueType&) = default;

    const std::u16string& GetName() const { return name_; }
    int GetDataType() const { return dataType_; }
    int GetSubType() const { return subType_; }
    int GetParameterDirection() const { return direction_; }
    std::int64_t GetPrecision() const { return precision_; }
    int GetScale() const { return scale_; }
    std::int64_t GetSize() const { return size_; }
    int GetChildPosition() const { return childPosition_; }
    int GetValueTypeFlags() const { return flags_; }
    int GetOrdinal() const { return ordinal_; }
    // The literal value carried in metadata when the flags have the literal bit.
    const std::u16string& GetLiteral() const { return literal_; }

    void SetName(std::u16string name);
    void SetDataType(int dataType);
    void SetSubType(int subType);
    void SetParameterDirection(int direction);
    void SetPrecision(std::int64_t precision);
    void SetScale(int scale);
    void SetSize(std::int64_t size);
    void SetChildPosition(int childPosition);
    void SetValueTypeFlags(int flags);
    void SetOrdinal(int ordinal);
    void SetLiteral(std::u16string literal);

    bool IsModified() const { return modified_; }
    void ClearModified() { modified_ = false; }
    bool IsReadOnly() const { return readOnly_; }
    void SetReadOnly() { readOnly_ = true; }

    // "TDBXTypes.<name>" of the data type.
    std::u16string TypeName() const;

  private:
    void CheckWritable() const;

    std::u16string name_;
    int dataType_ = 0;
    int subType_ = 0;
    int direction_ = 1;  // in
    std::int64_t precision_ = 0;
    int scale_ = 0;
    std::int64_t size_ = 0;
    int childPosition_ = 0;
    int flags_ = 0;
    int ordinal_ = 0;
    std::u16string literal_;
    bool modified_ = false;
    bool readOnly_ = false;
};

}  // namespace ab
