// Packet writer: builds one binary data packet in a single contiguous buffer, in one pass, going
// back only to patch the header (level, row count, flags, row offset) and the current 16-bit
// property counts.
//
// Calling order: Init_Sequential; per column AddColumnDesc then its properties (area
// fldAttrArea); packet properties (area pcktAttrArea), ended by AddAttribute(pcktAttrArea, {}, 0,
// {}); per row PutField with the status byte, then one PutField per column; GetDataPacket.
// Every refusal raises EDBClient with the store's code; the writer is then unusable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packet/PacketConstants.h"

namespace ab {

struct TDSDataPacketFldDesc {
    std::string Name;  // UTF-8, at most 31 bytes
    std::uint32_t TypeWord = 0;
    std::uint16_t Attributes = 0;
};

class TDSDataPacketWriter {
  public:
    static constexpr std::size_t InitialCapacity = 32'768;
    static constexpr std::size_t GrowthStep = 32'768;
    static constexpr std::size_t MaxDoublingStep = 1'024'000;

    // Allocates the buffer and writes the header (0 rows, flags 1). A version above 3 fails with
    // 16389; the version is not written.
    void Init_Sequential(std::uint32_t version, std::uint16_t columns);

    // Appends a column descriptor with a property count of 0. Level 2 for a type code above 11;
    // 10756 for a code above 36, the name "RowState" or more columns than announced; 9986 for a
    // name longer than 31 bytes.
    void AddColumnDesc(const TDSDataPacketFldDesc& desc);

    // Appends a property of the column just added (fldAttrArea) or of the packet (pcktAttrArea).
    // `value` is the encoded value as the caller holds it: a fixed-size type's bytes; for a
    // varying type a prefix of the type's width followed by the bytes (the writer skips that
    // prefix and writes its own); for an array a 32-bit count followed by the elements.
    // With pcktAttrArea and an empty value it ends the packet properties and writes nothing.
    // 10756 once a row is complete; 10000 for a type word without an encoding.
    void AddAttribute(TPcktAttrArea area, std::string_view name, std::uint32_t typeWord,
                      std::span<const std::uint8_t> value);

    // First call of a row: status fldIsChanged and the one-byte row status. Then one call per
    // column: fldIsNull or fldIsUnChanged sets the column's bit and writes nothing; fldIsChanged
    // writes the value (a varying type: `value` whole behind its prefix; a fixed-size type: the
    // size from the type word, `value` must hold at least that many bytes).
    // 10000 (first call of the packet) when a column's type word has no encoding; 9986 for a
    // value that does not fit its column (a length beyond the prefix's range, a short fixed value).
    void PutField(TPcktFldStatus status, std::span<const std::uint8_t> value);

    // Writes a varying column's length prefix only; the caller sends the `length` value bytes right
    // after the packet's bytes. Only for the packet's last value: after it the row must be
    // complete and only GetDataPacket is allowed (10756 otherwise); 9986 when the length does
    // not fit the prefix or the column is not varying.
    void PutFieldDeferred(std::size_t length);

    // Finishes the header and hands over the packet (size = packet length; no copy).
    std::vector<std::uint8_t> GetDataPacket();

    // Bytes the buffer can hold before it grows next (the growth policy's capacity).
    std::size_t Capacity() const noexcept { return capacity_; }

  private:
    enum class Phase { Idle, Columns, PacketProperties, Rows, Finished };

    void Require(bool condition, int code);
    void Fail(int code);
    void Reserve(std::size_t more);
    void Append(const void* data, std::size_t n);
    void AppendZeros(std::size_t n);
    void AppendU8(std::uint8_t v) { Append(&v, 1); }
    void AppendU16(std::uint16_t v);
    void AppendU32(std::uint32_t v);
    std::uint16_t ReadU16(std::size_t at) const;
    std::uint32_t ReadU32(std::size_t at) const;
    void PatchU16(std::size_t at, std::uint16_t v);
    void PatchU32(std::size_t at, std::uint32_t v);
    void AppendProperty(std::string_view name, std::uint32_t typeWord,
                        std::span<const std::uint8_t> value);
    void RecordRowOffset();
    void BeginRow(std::span<const std::uint8_t> value);
    void PutColumnValue(std::uint32_t typeWord, std::span<const std::uint8_t> value);

    std::vector<std::uint8_t> buf_;
    std::size_t capacity_ = 0;
    bool growByCapacity_ = false;  // growth steps alternate: 32,768 bytes, then the capacity
    Phase phase_ = Phase::Idle;
    std::uint16_t columnsAnnounced_ = 0;
    std::vector<std::uint32_t> columnTypes_;
    std::size_t columnPropCountAt_ = 0;  // the current column's property count
    std::size_t packetPropCountAt_ = 0;  // the reserved or final packet-property count
    bool packetPropsEnded_ = false;
    bool rowOffsetRecorded_ = false;
    bool columnTypesChecked_ = false;
    bool deferred_ = false;       // the last value's bytes follow outside the buffer
    std::size_t nextColumn_ = 0;  // 0: next call is a row's status; else column index + 1
    std::size_t bitmapAt_ = 0;
};

}  // namespace ab
