// Parameter rows as the server meets them: splitting a client's row into fields, decoding text
// fields, and encoding the fields of a reply row (null, boolean, 32-bit integer, text).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ab::server {

struct TRowField {
    std::uint8_t header = 0;
    bool isNull = false;
    bool truth = false;         // short fields: bit 0x40
    bool firstSegment = false;  // 50: further bytes follow on request
    std::span<const std::uint8_t> payload;
};

class TParameterRow {
  public:
    // The fields of a row, in order; nullopt when a header is unknown or a length runs past the
    // row's end. Accepted headers: C0 (null), 20-3F and 60-7F (short), 10 and 50 (2-byte length).
    static std::optional<std::vector<TRowField>> Split(std::span<const std::uint8_t> row);

    // String bytes: one byte per character until an FF byte, then UTF-16 big-endian pairs;
    // nullopt when a pair is cut.
    static std::optional<std::u16string> DecodeString(std::span<const std::uint8_t> bytes);
    static std::vector<std::uint8_t> EncodeString(std::u16string_view text);

    static void AppendNull(std::vector<std::uint8_t>& row);
    static void AppendBool(std::vector<std::uint8_t>& row, bool value);
    static void AppendInt32(std::vector<std::uint8_t>& row, std::int32_t value);
    // false when the encoded text is longer than a 2-byte length can carry.
    static bool AppendString(std::vector<std::uint8_t>& row, std::u16string_view text);
};

}  // namespace ab::server
