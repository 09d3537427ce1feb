// A data-set parameter and its value conversions.
#include "transport/TParam.h"

#include "platform/Text.h"

namespace ab {

void TParam::SetAsWideString(std::u16string value) {
    if (DataType == TParamDataType::ftUnknown)
        DataType = TParamDataType::ftWideString;
    value_ = std::move(value);
}

std::u16string TParam::AsWideString() const {
    if (auto* s = std::get_if<std::u16string>(&value_))
        return *s;
    if (auto* s = std::get_if<std::string>(&value_))
        return FromAnsi(*s);
    if (auto* b = std::get_if<bool>(&value_))
        return *b ? u"True" : u"False";
    if (auto* i = std::get_if<std::int32_t>(&value_))
        return IntToStr(*i);
    return {};
}

void TParam::SetAsString(std::string value) {
    if (DataType == TParamDataType::ftUnknown)
        DataType = TParamDataType::ftString;
    value_ = std::move(value);
}

std::string TParam::AsString() const {
    if (auto* s = std::get_if<std::string>(&value_))
        return *s;
    return ToAnsi(AsWideString());
}

void TParam::SetAsBoolean(bool value) {
    if (DataType == TParamDataType::ftUnknown)
        DataType = TParamDataType::ftBoolean;
    value_ = value;
}

bool TParam::AsBoolean() const {
    if (auto* b = std::get_if<bool>(&value_))
        return *b;
    if (auto* i = std::get_if<std::int32_t>(&value_))
        return *i != 0;
    return false;
}

void TParam::SetAsInteger(std::int32_t value) {
    if (DataType == TParamDataType::ftUnknown)
        DataType = TParamDataType::ftInteger;
    value_ = value;
}

std::int32_t TParam::AsInteger() const {
    if (auto* i = std::get_if<std::int32_t>(&value_))
        return *i;
    if (auto* b = std::get_if<bool>(&value_))
        return *b ? 1 : 0;
    return 0;
}

void TParam::SetAsBlob(std::vector<std::uint8_t> value) {
    if (DataType == TParamDataType::ftUnknown)
        DataType = TParamDataType::ftBlob;
    value_ = std::move(value);
}

std::vector<std::uint8_t> TParam::AsBlob() const {
    if (auto* v = std::get_if<std::vector<std::uint8_t>>(&value_))
        return *v;
    return {};
}

std::int64_t TParam::GetDataSize() const {
    if (IsNull())
        return 0;
    switch (DataType) {
        case TParamDataType::ftWideString:
            return 2 * static_cast<std::int64_t>(AsWideString().size()) + 2;
        case TParamDataType::ftString:
            return static_cast<std::int64_t>(AsString().size()) + 1;
        case TParamDataType::ftBoolean:
            return 2;
        case TParamDataType::ftInteger:
            return 4;
        case TParamDataType::ftBlob:
            return static_cast<std::int64_t>(AsBlob().size());
        default:
            return 0;
    }
}

}  // namespace ab
