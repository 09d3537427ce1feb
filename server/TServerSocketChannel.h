// The server's side of one accepted TCP connection as a byte channel, and the record of every
// byte the connection received (kept in memory and/or written to a file, for tests) with its
// counts of messages and round trips.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "dbx/TDbxChannel.h"

struct iovec;

namespace ab::server {

// A time for the log: whole seconds, or seconds with up to three decimals, and " s".
std::string SecondsText(std::chrono::milliseconds ms);

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

    // Messages received on this connection (counted as the server counts them) and round trips
    // (see TServerSocketChannel); each Add returns the new count.
    std::int64_t AddMessage() { return messages_.fetch_add(1) + 1; }
    std::int64_t AddRoundTrip() { return roundTrips_.fetch_add(1) + 1; }
    std::int64_t Messages() const { return messages_.load(); }
    std::int64_t RoundTrips() const { return roundTrips_.load(); }

  private:
    std::atomic<std::int64_t> messages_{0};
    std::atomic<std::int64_t> roundTrips_{0};
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
//
// Waits on the peer are bounded when asked (nothing is bounded at first): reads by a deadline
// and/or a time per read, writes by a time in which the peer must take at least one byte, and the
// bytes read by a budget. A wait that runs out fails the read or write as a closed peer would,
// and Failure() tells why.
//
// Round trips: a read counts one when the owner has said it is between messages (nothing from the
// peer left to handle) and bytes were written since the previous read, that is, the server sent
// answers and now waits on the peer for more.
class TServerSocketChannel : public TDbxChannel {
  public:
    using Clock = std::chrono::steady_clock;

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
    TConnectionRecord& Record() { return record_; }

    // Reads fail once this point has passed; why names it in Failure().
    void SetReadDeadline(Clock::time_point when, std::string why);
    // Each read fails when no byte comes for this long; 0: no limit.
    void SetReadTimeout(std::chrono::milliseconds timeout);
    // A send fails when the peer takes no byte for this long; 0: no limit.
    void SetWriteTimeout(std::chrono::milliseconds timeout);
    // Reads take at most this many bytes more, then fail; why names it in Failure().
    void SetReadBudget(std::uint64_t bytes, std::string why);
    // No deadline, time limit or budget from here on.
    void ClearLimits();
    // Why the last read or send failed; empty when the peer closed or the socket failed.
    const std::string& Failure() const { return failure_; }

    void SetBetweenMessages(bool between) { betweenMessages_ = between; }
    void OnRoundTrip(std::function<void(std::int64_t count)> observer) {
        onRoundTrip_ = std::move(observer);
    }
    // true when bytes have arrived that no read has taken yet.
    bool HasUnread() const;

  private:
    // Sends every byte the vector points at (advancing it); false when the socket fails.
    bool Send(std::span<iovec> vec);
    // Waits until the socket is ready for `events`, within the limits; false (with Failure set)
    // when a limit ran out or the wait failed.
    bool WaitReady(short events);

    int fd_;
    TConnectionRecord& record_;
    std::vector<std::uint8_t> held_;

    Clock::time_point readDeadline_ = Clock::time_point::max();
    std::string readDeadlineWhy_;
    std::chrono::milliseconds readTimeout_{0};
    std::chrono::milliseconds writeTimeout_{0};
    bool budgeted_ = false;
    std::uint64_t budget_ = 0;
    std::string budgetWhy_;
    std::string failure_;

    bool betweenMessages_ = true;  // the client speaks first
    bool wroteSinceRead_ = false;
    std::function<void(std::int64_t)> onRoundTrip_;
};

}  // namespace ab::server
