// Hexadecimal text of byte blocks, as the filters carry keys and check blocks in their parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

// Two upper-case digits per byte, high nibble first.
std::u16string BytesToHex(std::span<const std::uint8_t> bytes);
// Digits 0-9, A-F and a-f, two per byte. An odd count or any other character gives nothing.
std::optional<std::vector<std::uint8_t>> HexToBytes(std::u16string_view text);

}  // namespace ab
