// The server's side of one accepted TCP connection as a byte channel, and the record of every
// byte the connection received (kept in memory and/or written to a file, for tests).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "dbx/TDbxChannel.h"

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
class TServerSocketChannel : public TDbxChannel {
  public:
    TServerSocketChannel(int fd, TConnectionRecord& record) : fd_(fd), record_(record) {}

    void Open() override {}
    void Close() override {}
    // What is buffered (at least one byte), or -1 once the peer closed or the socket failed.
    int Read(std::span<std::uint8_t> dest) override;
    // Sends everything; -1 when the socket cannot take it.
    int Write(std::span<const std::uint8_t> src) override;

  private:
    int fd_;
    TConnectionRecord& record_;
};

}  // namespace ab::server
