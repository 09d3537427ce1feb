// TDBXStringEncoder: the one-byte form with the FF switch to UTF-16 big-endian.
#include "dbx/TDBXStringEncoder.h"

namespace ab {

namespace {

std::size_t SwitchIndex(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 255)
            return i;
    }
    return text.size();
}

}  // namespace

std::size_t TDBXStringEncoder::EncodedLength(std::u16string_view text) {
    const std::size_t at = SwitchIndex(text);
    return at == text.size() ? text.size() : at + 1 + 2 * (text.size() - at);
}

std::vector<std::uint8_t> TDBXStringEncoder::Encode(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(EncodedLength(text));
    const std::size_t at = SwitchIndex(text);
    for (std::size_t i = 0; i < at; ++i)
        out.push_back(static_cast<std::uint8_t>(text[i]));
    if (at < text.size()) {
        out.push_back(0xFF);
        for (std::size_t i = at; i < text.size(); ++i) {
            out.push_back(static_cast<std::uint8_t>(text[i] >> 8));
            out.push_back(static_cast<std::uint8_t>(text[i] & 0xFF));
        }
    }
    return out;
}

}  // namespace ab
