// Strict binary data packet reader.
#include "packet/TDSDataPacketReader.h"

#include <tuple>
#include <utility>

#include "packet/EDBClient.h"
#include "packet/PacketConstants.h"

namespace ab {
namespace {

[[noreturn]] void Mismatch() {
    throw EDBClient(DBERR_DATAPACKETMISMATCH);
}

// Bounds-checked little-endian cursor.
class TCursor {
  public:
    explicit TCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return bytes_.size() - pos_; }
    std::span<const std::uint8_t> Since(std::size_t start) const {
        return bytes_.subspan(start, pos_ - start);
    }
    std::span<const std::uint8_t> Take(std::uint64_t n) {
        if (n > Remaining())
            Mismatch();
        auto s = bytes_.subspan(pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return s;
    }
    std::uint32_t UInt(std::size_t width) {
        auto s = Take(width);
        std::uint32_t v = 0;
        for (std::size_t i = width; i-- > 0;)
            v = (v << 8) | s[i];
        return v;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(UInt(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(UInt(2)); }
    std::uint32_t U32() { return UInt(4); }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

TFieldLayout LayoutOrMismatch(std::uint32_t typeWord) {
    const auto layout = LayoutOf(typeWord);
    if (!layout)
        Mismatch();
    return *layout;
}

// One value of a type word: the bytes as encoded and the content behind prefix or count.
std::pair<std::span<const std::uint8_t>, std::span<const std::uint8_t>> ReadValue(
    TCursor& c, std::uint32_t typeWord) {
    const TFieldLayout layout = LayoutOrMismatch(typeWord);
    const std::size_t start = c.Position();
    std::span<const std::uint8_t> content;
    switch (layout.kind) {
        case TFieldLayout::Fixed:
            content = c.Take(layout.size);
            break;
        case TFieldLayout::Varying: {
            const std::uint32_t n = c.UInt(layout.size);
            if (n > dsMaxBlobLength)
                Mismatch();
            content = c.Take(n);
            break;
        }
        case TFieldLayout::Array:
            content = c.Take(static_cast<std::uint64_t>(c.U32()) * layout.size);
            break;
    }
    return {c.Since(start), content};
}

TDSPacketProperty ReadProperty(TCursor& c) {
    TDSPacketProperty p;
    const std::uint8_t nameLength = c.U8();
    if (nameLength == 0)
        Mismatch();
    auto name = c.Take(nameLength);
    p.Name.assign(name.begin(), name.end());
    p.TypeWord = c.U32();
    std::tie(p.Encoded, p.Content) = ReadValue(c, p.TypeWord);
    return p;
}

const TDSPacketProperty* Find(const std::vector<TDSPacketProperty>& props, std::string_view name) {
    for (const auto& p : props)
        if (p.Name == name)
            return &p;
    return nullptr;
}

}  // namespace

const TDSPacketProperty* TDSPacketColumn::FindProperty(std::string_view name) const {
    return Find(Properties, name);
}

const TDSPacketProperty* TDSDataPacket::FindProperty(std::string_view name) const {
    return Find(Properties, name);
}

TDSDataPacket ReadDataPacket(std::span<const std::uint8_t> packet) {
    TCursor c(packet);
    TDSDataPacket result;
    if (c.U32() != dsPacketSignature)
        Mismatch();
    result.Level = c.U16();
    if (result.Level < dsLevelBasic || result.Level > 3 || c.U16() > 3)
        Mismatch();
    const std::uint32_t headerSize = c.U32();
    const std::uint16_t columnCount = c.U16();
    const std::uint32_t rowCount = c.U32();
    result.Flags = c.U32();
    result.RowOffset = c.U16();
    if (headerSize < dsHeaderSize || headerSize > packet.size())
        Mismatch();
    c.Take(headerSize - dsHeaderSize);

    bool extendedTypes = false;
    for (std::uint16_t i = 0; i < columnCount; ++i) {
        TDSPacketColumn col;
        const std::uint8_t nameLength = c.U8();
        if (nameLength == 0 || nameLength > dsMaxColumnNameLength)
            Mismatch();
        auto name = c.Take(nameLength);
        col.Name.assign(name.begin(), name.end());
        col.TypeWord = c.U32();
        LayoutOrMismatch(col.TypeWord);
        extendedTypes |= TypeCodeOf(col.TypeWord) > dsfldMaxBasicCode;
        col.Attributes = c.U16();
        const std::uint16_t propCount = c.U16();
        for (std::uint16_t k = 0; k < propCount; ++k)
            col.Properties.push_back(ReadProperty(c));
        result.Columns.push_back(std::move(col));
    }
    if (extendedTypes != (result.Level >= dsLevelExtendedTypes))
        Mismatch();
    const std::uint16_t packetPropCount = c.U16();
    for (std::uint16_t k = 0; k < packetPropCount; ++k)
        result.Properties.push_back(ReadProperty(c));

    if ((result.Flags & dsFlagRowOffset) != 0 ? result.RowOffset != c.Position()
                                              : result.RowOffset != 0)
        Mismatch();
    if ((result.Flags & ~(dsFlagSequential | dsFlagRowOffset)) != 0)
        Mismatch();
    const std::size_t bitmapSize = (result.Columns.size() + 3) / 4;
    for (std::uint32_t r = 0; r < rowCount; ++r) {
        TDSPacketRow row;
        row.Status = c.U8();
        auto bitmap = c.Take(bitmapSize);
        for (std::size_t j = 0; j < result.Columns.size(); ++j) {
            const unsigned bits = (bitmap[j / 4] >> (2 * (j % 4))) & 3u;
            if (bits == 3)
                Mismatch();
            row.Marks.push_back(static_cast<std::uint8_t>(bits));
            if (bits != 0) {
                row.Values.emplace_back(std::nullopt);
                continue;
            }
            row.Values.emplace_back(ReadValue(c, result.Columns[j].TypeWord).second);
        }
        // Bits past the last column must be clear.
        for (std::size_t j = result.Columns.size(); j < bitmapSize * 4; ++j)
            if (((bitmap[j / 4] >> (2 * (j % 4))) & 3u) != 0)
                Mismatch();
        result.Rows.push_back(std::move(row));
    }
    if (c.Remaining() != 0)
        Mismatch();
    return result;
}

}  // namespace ab
