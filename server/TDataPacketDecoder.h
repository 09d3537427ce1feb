// Strict reader of the one-row send-file data packet: it accepts exactly the three columns, their
// properties, the change log and the single inserted row that the publishing tool produces, and
// refuses everything else with EPacketError naming the first deviation.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Exception.h"

namespace ab::server {

class EPacketError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EPacketError"; }
};

// Everything before the content: what a receiver needs to place the file and check its length.
struct TPacketHead {
    std::string nameBytes;  // the destination name as sent (Windows-1252 bytes)
    std::u16string name;    // the same, as text
    double dataHora = 0;    // milliseconds since 0000-12-31 00:00, local time
    bool contentNull = false;
    std::uint32_t contentLength = 0;
    std::size_t contentOffset = 0;  // where the content starts in the packet
};

struct TDecodedPacket : TPacketHead {
    std::span<const std::uint8_t> content;  // points into the decoded packet
};

// The calendar fields of a packet time stamp.
struct TStampFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

class TDataPacketDecoder {
  public:
    // Decodes a whole packet; content points into `packet`.
    static TDecodedPacket Decode(std::span<const std::uint8_t> packet);
    // Decodes everything up to the content from the start of a packet; nullopt while the prefix
    // is too short to tell (the head is never longer than kMaxPacketHead bytes).
    static std::optional<TPacketHead> DecodeHead(std::span<const std::uint8_t> prefix);
    static constexpr std::size_t kMaxPacketHead = 0x88 + 3 + 255 + 8 + 4;
    // Splits a time stamp into calendar fields; EPacketError unless it is a whole number of
    // milliseconds between 0001-01-01 and 9999-12-31.
    static TStampFields StampFields(double dataHora);
};

}  // namespace ab::server
