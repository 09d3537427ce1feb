// The server's side of one accepted TCP connection as a byte channel, and the record of every
// byte the connection received (kept in memory and/or written to a file, for tests).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <span>
#include <vector>

#include "dbx/TDbxChannel.h"

struct iovec;

namespace ab::server {

class TConnectionRecord {
  public:
    // keep: hold the bytes in memory; file: also append them there (empty: no file).
    TConnectionRecord(bool keep, const std::filesystem::path& file);
    ~TConnectionRecord();
    TConnectionRecord(const TConnectionRecord&) = delete;
    TConnectionRecord& operator=(const TConnectionRecord&) = delete;

    void Append(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> Bytes() const;
    void MarkClosed();
    bool WaitClosed(std::chrono::milliseconds timeout) const;

  private:
    const bool keep_;
    std::FILE* file_ = nullptr;
    mutable std::mutex mutex_;
    mutable std::condition_variable closedChanged_;
    std::vector<std::uint8_t> bytes_;
    bool closed_ = false;
};

// Does not own the socket: the server closes it when the connection ends.
//
// Written bytes are held, not sent, until the channel is read (or Flush is called): the answers to
// requests that arrived together leave together, in one send, and nothing is ever held while the
// server waits for its peer, since every wait for bytes is a Read. The bytes and their order are
// those written; only their grouping into sends changes. A hold that would pass kHeldReplyBytes
// leaves at once.
class TServerSocketChannel : public TDbxChannel {
  public:
    TServerSocketChannel(int fd, TConnectionRecord& record) : fd_(fd), record_(record) {}

    void Open() override {}
    void Close() override {}
    // Sends what is held, then returns what is buffered (at least one byte); -1 once the peer
    // closed or the socket failed.
    int Read(std::span<std::uint8_t> dest) override;
    // Holds the bytes (or sends them with what is held); -1 when the socket cannot take them.
    int Write(std::span<const std::uint8_t> src) override;
    int WriteParts(std::span<const std::span<const std::uint8_t>> parts) override;
    // Sends what is held; false when the socket cannot take it (what was held is dropped).
    bool Flush();

    int Fd() const { return fd_; }

  private:
    // Sends every byte the vector points at (advancing it); false when the socket fails.
    bool Send(std::span<iovec> vec);

    int fd_;
    TConnectionRecord& record_;
    std::vector<std::uint8_t> held_;
};

}  // namespace ab::server
