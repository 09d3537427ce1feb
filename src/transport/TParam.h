// One parameter of a data-set component (the server-method component's Params): name, field
// type, parameter type, size, precision, scale and a value that is null until set.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ab {

// The field types a parameter can hold (named like the record set's field types).
enum class TParamDataType {
    ftUnknown,
    ftString,
    ftInteger,
    ftBoolean,
    ftBlob,
    ftWideString,
    ftVariant
};
enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
  public:
    TParam(std::u16string name, TParamDataType dataType, TParamType paramType)
        : Name(std::move(name)), DataType(dataType), ParamType(paramType) {}

    std::u16string Name;
    TParamDataType DataType;
    TParamType ParamType;
    std::int32_t Precision = 0;
    std::int32_t Size = 0;
    std::int32_t NumericScale = 0;

    bool IsNull() const { return std::holds_alternative<std::monostate>(value_); }
    void Clear() { value_ = std::monostate{}; }

    // Setting a value also sets the field type when it is still unknown.
    void SetAsWideString(std::u16string value);
    std::u16string AsWideString() const;
    void SetAsString(std::string value);
    std::string AsString() const;
    void SetAsBoolean(bool value);
    bool AsBoolean() const;
    void SetAsInteger(std::int32_t value);
    std::int32_t AsInteger() const;
    void SetAsBlob(std::vector<std::uint8_t> value);
    std::vector<std::uint8_t> AsBlob() const;

    // Bytes the value takes: for text 2 x length + 2 (wide) or length + 1; 0 when null.
    std::int64_t GetDataSize() const;

  private:
    std::variant<std::monostate, std::u16string, std::string, bool, std::int32_t,
                 std::vector<std::uint8_t>>
        value_;
};

}  // namespace ab
