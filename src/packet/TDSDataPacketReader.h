// Strict reader of a binary data packet, for the side that receives packets: every length is
// checked against the bytes present, nothing is allocated from a count before the bytes it
// describes have been seen, trailing bytes are refused. Any fault raises EDBClient 16389
// "Mismatch in datapacket.". The returned spans point into the input and stay valid as long as it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ab {

struct TDSPacketProperty {
    std::string Name;
    std::uint32_t TypeWord = 0;
    // The value as it stands in the packet: fixed bytes, or prefix and bytes, or count and
    // elements.
    std::span<const std::uint8_t> Encoded;
    // The bytes behind a varying type's prefix (the fixed bytes otherwise; the elements of an
    // array).
    std::span<const std::uint8_t> Content;
};

struct TDSPacketColumn {
    std::string Name;
    std::uint32_t TypeWord = 0;
    std::uint16_t Attributes = 0;
    std::vector<TDSPacketProperty> Properties;
    const TDSPacketProperty* FindProperty(std::string_view name) const;
};

struct TDSPacketRow {
    std::uint8_t Status = 0;
    // Per column: nullopt when null or not changed (see Marks), else the value's content bytes
    // (without the length prefix).
    std::vector<std::optional<std::span<const std::uint8_t>>> Values;
    std::vector<std::uint8_t> Marks;  // 0 value, 1 null, 2 not changed
};

struct TDSDataPacket {
    std::uint16_t Level = 0;
    std::uint32_t Flags = 0;
    std::uint16_t RowOffset = 0;
    std::vector<TDSPacketColumn> Columns;
    std::vector<TDSPacketProperty> Properties;
    std::vector<TDSPacketRow> Rows;
    const TDSPacketProperty* FindProperty(std::string_view name) const;
};

// Parses a whole packet. Checks: signature, level 1 to 3 (2 required when a column's type code is
// above 11), the reserved field at most 3, header size, column names of 1 to 31 bytes, known type
// codes with an encoding, each property's value within bounds, the row offset when flag bit 1 is
// set, every row complete, and no bytes after the last row.
TDSDataPacket ReadDataPacket(std::span<const std::uint8_t> packet);

}  // namespace ab
