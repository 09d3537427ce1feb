// Composes the server's replies and requests (JSON-shaped text with raw row bytes inside "data"
// arrays) in a buffer of the client's buffer size, as the client's own writer does: a message
// that fits leaves in one channel write at Flush; a longer one leaves in writes of exactly the
// buffer size (each sent when the buffer is full and another byte comes), the rest at Flush.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TDbxChannel.h"

namespace ab::server {

class TReplyWriter {
  public:
    explicit TReplyWriter(TDbxChannel& channel, std::size_t bufferSize = 32768);

    // Takes effect at once; composed bytes beyond the new size leave with the next byte appended.
    void SetBufferSize(std::size_t bufferSize);
    std::size_t BufferSize() const { return capacity_; }

    TReplyWriter& Raw(std::string_view text);
    TReplyWriter& Int(std::int64_t value);
    TReplyWriter& Bool(bool value);
    // Quoted: \b \t \n \f \r \" \\ escaped, other codes below 32 and above 255 as \u with four
    // upper-case hex digits, codes 32 to 255 as one byte each.
    TReplyWriter& String(std::u16string_view text);
    TReplyWriter& Bytes(std::span<const std::uint8_t> bytes);
    // {"data":[count,bytes]} (the count as given, the bytes raw).
    TReplyWriter& DataObject(std::int64_t count, std::span<const std::uint8_t> bytes);

    // The error object; the outer object stays open, as clients expect it.
    void Error(std::string_view name, int code, std::u16string_view message);

    // Sends what was composed; EConnectionClosed when the channel cannot write.
    void Flush();

    const std::vector<std::uint8_t>& Pending() const { return buffer_; }

  private:
    void Append(std::span<const std::uint8_t> bytes);
    void Send(std::span<const std::uint8_t> bytes);

    TDbxChannel& channel_;
    std::size_t capacity_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace ab::server
