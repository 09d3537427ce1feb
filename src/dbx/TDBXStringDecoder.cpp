// TDBXStringDecoder: incremental decoding of the one-byte / FF + UTF-16 big-endian form.
#include "dbx/TDBXStringDecoder.h"

namespace ab {

void TDBXStringDecoder::Decode(std::span<const std::uint8_t> bytes, std::u16string& text) {
    std::size_t i = 0;
    while (!wide_ && i < bytes.size()) {
        const std::uint8_t b = bytes[i++];
        if (b == 0xFF) {
            wide_ = true;
            break;
        }
        text.push_back(static_cast<char16_t>(b));
    }
    for (; i < bytes.size(); ++i) {
        if (pending_ < 0) {
            pending_ = bytes[i];
        } else {
            text.push_back(static_cast<char16_t>((pending_ << 8) | bytes[i]));
            pending_ = -1;
        }
    }
}

std::u16string TDBXStringDecoder::DecodeAll(std::span<const std::uint8_t> bytes) {
    TDBXStringDecoder decoder;
    std::u16string text;
    decoder.Decode(bytes, text);
    return text;
}

}  // namespace ab
