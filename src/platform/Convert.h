// Whole-number parsing with the rules the tool's runtime used: optional leading spaces, a sign,
// decimal digits, or hexadecimal after "$", "0x" or "0X". Nothing may follow the number.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ab {

std::optional<std::int64_t> TryStrToInt64(std::u16string_view text);
// 32-bit range only; values outside it do not parse.
std::optional<std::int32_t> TryStrToInt(std::u16string_view text);

// Raise EConvertError "'%s' is not a valid integer value" when the text does not parse.
std::int32_t StrToInt(std::u16string_view text);
std::int64_t StrToInt64(std::u16string_view text);

}  // namespace ab
