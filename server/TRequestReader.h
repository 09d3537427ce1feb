// Token reader for the requests a client sends: objects, arrays, strings, integers, literals and
// the raw binary blocks that follow a count inside "data" arrays.
//
// Calling protocol: one reader per connection, used by one thread. Every Read/Expect call first
// skips white space (9, 10, 13, 32), except ReadRaw, which copies the bytes that follow the last
// consumed byte. The channel is asked for bytes only when the buffer holds none; a channel that
// can read no more raises EConnectionClosed, a syntax deviation EProtocolError. Strings are
// limited to kMaxStringBytes; raw blocks are appended to the caller's vector as they arrive, or
// handed out piece by piece from the read buffer (ReadSome), so a length the peer announces never
// reserves memory ahead of its bytes. Each channel read asks for at most the buffer size, which
// follows the client's buffer once its connect message was read (SetBufferSize). A limit on the
// bytes consumed in all (SetLimit) bounds what a peer can make the reader build before login.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dbx/TDbxChannel.h"
#include "platform/Exception.h"

namespace ab::server {

class EProtocolError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EProtocolError"; }
};

class EConnectionClosed : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConnectionClosed"; }
};

class TRequestReader {
  public:
    explicit TRequestReader(TDbxChannel& channel, std::size_t bufferSize = 32768);

    // Later channel reads ask for at most this many bytes; bytes already read and not yet
    // consumed are kept.
    void SetBufferSize(std::size_t bufferSize);
    std::size_t BufferSize() const { return capacity_; }

    // Bytes to serve before the channel's (read ahead by the filter handshake).
    void Unread(std::span<const std::uint8_t> bytes);

    // Skips white space; false when the channel ended cleanly before another byte.
    bool WaitForMessage();

    // The next byte after white space, not consumed.
    char PeekToken();
    void Expect(char token);
    // Consumes the token when it is next.
    bool Accept(char token);
    // A quoted string; characters up to 255 are single bytes, \u escapes give 16-bit codes.
    std::u16string ReadString();
    // A string and the ':' after it.
    std::u16string ReadKey();
    std::int64_t ReadInt();
    bool ReadBool();
    // Appends exactly count raw bytes to out.
    void ReadRaw(std::size_t count, std::vector<std::uint8_t>& out);
    // The next 1 to max raw bytes (max > 0), straight from the read buffer: what it holds, or one
    // channel read when it holds nothing. Valid until the next call on the reader.
    std::span<const std::uint8_t> ReadSome(std::size_t max);
    // Skips one JSON value (no raw blocks inside), nesting at most kMaxSkipDepth.
    void SkipValue();

    // Bytes consumed so far (for error messages).
    std::uint64_t Position() const { return consumed_; }

    // Consuming more than `total` bytes in all (counted from the first) raises EProtocolError
    // with `why`; 0 lifts the limit. Bytes past it are never taken off the buffer.
    void SetLimit(std::uint64_t total, std::u16string why);
    // Bytes read from the channel and not consumed yet.
    std::size_t Buffered() const { return end_ - pos_; }
    // Throws those bytes away; returns how many there were.
    std::size_t DiscardBuffered();

  private:
    // Raises the limit's error unless `count` more bytes may be consumed.
    void Allow(std::size_t count);
    std::uint8_t Peek();
    std::uint8_t Get();
    void SkipWhiteSpace();
    void Fill();
    [[noreturn]] void Fail(const std::string& what);
    void SkipValue(std::size_t depth);

    TDbxChannel& channel_;
    std::size_t capacity_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t limit_ = 0;
    std::u16string limitWhy_;
};

}  // namespace ab::server
