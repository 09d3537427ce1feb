// Parameter rows as the server meets them (see the header).
#include "server/TParameterRow.h"

namespace ab::server {

std::optional<std::vector<TRowField>> TParameterRow::Split(std::span<const std::uint8_t> row) {
    std::vector<TRowField> fields;
    std::size_t pos = 0;
    while (pos < row.size()) {
        TRowField f;
        f.header = row[pos++];
        if (f.header & 0x80) {
            if (f.header != 0xC0)
                return std::nullopt;
            f.isNull = true;
        } else if (f.header & 0x20) {
            const std::size_t n = f.header & 0x1F;
            if (n > row.size() - pos)
                return std::nullopt;
            f.truth = (f.header & 0x40) != 0;
            f.payload = row.subspan(pos, n);
            pos += n;
        } else if (f.header == 0x10 || f.header == 0x50) {
            if (row.size() - pos < 2)
                return std::nullopt;
            const std::size_t n = (static_cast<std::size_t>(row[pos]) << 8) | row[pos + 1];
            pos += 2;
            if (n > row.size() - pos)
                return std::nullopt;
            f.firstSegment = f.header == 0x50;
            f.payload = row.subspan(pos, n);
            pos += n;
        } else {
            return std::nullopt;
        }
        fields.push_back(f);
    }
    return fields;
}

std::optional<std::u16string> TParameterRow::DecodeString(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    std::size_t i = 0;
    for (; i < bytes.size() && bytes[i] != 0xFF; ++i)
        out += static_cast<char16_t>(bytes[i]);
    if (i == bytes.size())
        return out;
    ++i;  // the FF marker
    if ((bytes.size() - i) % 2 != 0)
        return std::nullopt;
    for (; i < bytes.size(); i += 2)
        out += static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
    return out;
}

std::vector<std::uint8_t> TParameterRow::EncodeString(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    for (; i < text.size() && text[i] < 255; ++i)
        out.push_back(static_cast<std::uint8_t>(text[i]));
    if (i == text.size())
        return out;
    out.push_back(0xFF);
    for (; i < text.size(); ++i) {
        out.push_back(static_cast<std::uint8_t>(text[i] >> 8));
        out.push_back(static_cast<std::uint8_t>(text[i] & 0xFF));
    }
    return out;
}

void TParameterRow::AppendNull(std::vector<std::uint8_t>& row) {
    row.push_back(0xC0);
}

void TParameterRow::AppendBool(std::vector<std::uint8_t>& row, bool value) {
    row.push_back(value ? 0x60 : 0x20);
}

void TParameterRow::AppendInt32(std::vector<std::uint8_t>& row, std::int32_t value) {
    std::uint32_t magnitude = value < 0
                                  ? static_cast<std::uint32_t>(-(static_cast<std::int64_t>(value)))
                                  : static_cast<std::uint32_t>(value);
    std::uint8_t bytes[4];
    int k = 0;
    for (; magnitude != 0; magnitude >>= 8)
        bytes[k++] = static_cast<std::uint8_t>(magnitude);
    row.push_back(static_cast<std::uint8_t>((value < 0 ? 0x20 : 0x60) + k));
    while (k > 0)
        row.push_back(bytes[--k]);
}

bool TParameterRow::AppendString(std::vector<std::uint8_t>& row, std::u16string_view text) {
    const auto bytes = EncodeString(text);
    if (bytes.size() > 0xFFFF)
        return false;
    if (bytes.size() <= 31) {
        row.push_back(static_cast<std::uint8_t>(0x20 + bytes.size()));
    } else {
        row.push_back(0x10);
        row.push_back(static_cast<std::uint8_t>(bytes.size() >> 8));
        row.push_back(static_cast<std::uint8_t>(bytes.size() & 0xFF));
    }
    row.insert(row.end(), bytes.begin(), bytes.end());
    return true;
}

}  // namespace ab::server
