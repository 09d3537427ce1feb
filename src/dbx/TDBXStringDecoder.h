// TDBXStringDecoder: row bytes back to text. Bytes map one to one to characters until an FF byte;
// after it, pairs of bytes (high byte first) form characters. The decoder keeps its state between
// calls, so a value can be fed segment by segment and a pair may be split across segments.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ab {

class TDBXStringDecoder {
  public:
    void Reset() {
        wide_ = false;
        pending_ = -1;
    }
    // Appends the characters of bytes to text.
    void Decode(std::span<const std::uint8_t> bytes, std::u16string& text);
    // Whole value at once.
    static std::u16string DecodeAll(std::span<const std::uint8_t> bytes);

  private:
    bool wide_ = false;
    int pending_ = -1;  // high byte waiting for its pair
};

}  // namespace ab
