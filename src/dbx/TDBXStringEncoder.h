// TDBXStringEncoder: text to row bytes. Codes 0 to 254 are one byte each; at the first character
// with a code of 255 or more one byte FF is written and every remaining character, that one
// included, follows as two bytes, high byte first.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace ab {

class TDBXStringEncoder {
  public:
    static std::vector<std::uint8_t> Encode(std::u16string_view text);
    static std::size_t EncodedLength(std::u16string_view text);
};

}  // namespace ab
