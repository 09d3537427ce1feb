// In-memory channels for tests and fuzz targets: a blocking pipe pair (one end per side, usable
// from two threads), and a channel that serves fixed bytes and records what is written to it.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "dbx/TDbxChannel.h"

namespace ab::test {

// One direction of a pipe. Reads block until bytes arrive or the writer closes. A reader that is
// already waiting has its destination filled by the writer directly (one copy); otherwise bytes
// wait in the chunks they were written in, and spent chunks are reused.
class MemoryPipe {
  public:
    void Put(std::span<const std::uint8_t> bytes) {
        if (bytes.empty())
            return;
        {
            std::lock_guard lock(mutex_);
            if (posted_.data() != nullptr && postedFilled_ == 0 && chunks_.empty()) {
                const std::size_t n = std::min(bytes.size(), posted_.size());
                std::memcpy(posted_.data(), bytes.data(), n);
                postedFilled_ = n;
                bytes = bytes.subspan(n);
            }
            if (!bytes.empty()) {
                std::vector<std::uint8_t> chunk;
                if (!spare_.empty()) {
                    chunk = std::move(spare_.back());
                    spare_.pop_back();
                }
                chunk.assign(bytes.begin(), bytes.end());
                chunks_.push_back(std::move(chunk));
            }
            pending_.store(true, std::memory_order_release);
        }
        ready_.notify_all();
    }
    // Returns 1..max bytes, or -1 when closed and drained.
    int Take(std::span<std::uint8_t> dest, std::size_t max) {
        const std::size_t limit = std::min(dest.size(), max);
        {
            std::lock_guard lock(mutex_);
            if (!chunks_.empty() || closed_ || limit == 0)
                return TakeQueued(dest.first(limit));
            posted_ = dest.first(limit);
            postedFilled_ = 0;
        }
        // A peer thread usually answers within microseconds: spin briefly before sleeping, so a
        // request/answer ping-pong is not dominated by wake-up latency.
        SpinUntilPending();
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return postedFilled_ > 0 || !chunks_.empty() || closed_; });
        const std::size_t filled = postedFilled_;
        posted_ = {};
        postedFilled_ = 0;
        if (filled > 0) {
            pending_.store(!chunks_.empty() || closed_, std::memory_order_release);
            return static_cast<int>(filled);
        }
        return TakeQueued(dest.first(limit));
    }
    void CloseWriter() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            pending_.store(true, std::memory_order_release);
        }
        ready_.notify_all();
    }
    bool Closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

  private:
    // Busy-waits up to about 50 microseconds (without system calls), then yields a while.
    void SpinUntilPending() const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        for (int spin = 0; !pending_.load(std::memory_order_acquire); ++spin) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
            if ((spin & 63) == 63 && std::chrono::steady_clock::now() > until)
                break;
        }
        for (int spin = 0; spin < 200 && !pending_.load(std::memory_order_acquire); ++spin)
            std::this_thread::yield();
    }

    // Called with the lock held.
    int TakeQueued(std::span<std::uint8_t> dest) {
        if (chunks_.empty())
            return closed_ ? -1 : 0;
        std::size_t n = 0;
        while (n < dest.size() && !chunks_.empty()) {
            auto& front = chunks_.front();
            const std::size_t take = std::min(dest.size() - n, front.size() - frontOffset_);
            std::memcpy(dest.data() + n, front.data() + frontOffset_, take);
            n += take;
            frontOffset_ += take;
            if (frontOffset_ == front.size()) {
                if (spare_.size() < 8)
                    spare_.push_back(std::move(front));
                chunks_.pop_front();
                frontOffset_ = 0;
            }
        }
        pending_.store(!chunks_.empty() || closed_, std::memory_order_release);
        return static_cast<int>(n);
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<std::uint8_t>> chunks_;
    std::vector<std::vector<std::uint8_t>> spare_;
    std::size_t frontOffset_ = 0;
    std::span<std::uint8_t> posted_;  // the waiting reader's destination
    std::size_t postedFilled_ = 0;
    bool closed_ = false;
    std::atomic<bool> pending_{false};
};

// One end of a connected pair.
class MemoryChannel : public TDbxChannel {
  public:
    MemoryChannel(std::shared_ptr<MemoryPipe> in, std::shared_ptr<MemoryPipe> out)
        : in_(std::move(in)), out_(std::move(out)) {}
    ~MemoryChannel() override { Close(); }

    void Open() override {}
    void Close() override {
        out_->CloseWriter();
        in_->CloseWriter();
    }
    int Read(std::span<std::uint8_t> dest) override { return in_->Take(dest, maxBytesPerRead); }
    int Write(std::span<const std::uint8_t> src) override {
        if (out_->Closed())
            return -1;
        if (failAfterBytes >= 0 && written_ + src.size() > static_cast<std::size_t>(failAfterBytes))
            return -1;
        written_ += src.size();
        writeSizes.push_back(src.size());
        out_->Put(src);
        return static_cast<int>(src.size());
    }

    // Test knobs: deliver at most this many bytes per read; refuse writes past this many bytes.
    std::size_t maxBytesPerRead = std::numeric_limits<std::size_t>::max();
    long long failAfterBytes = -1;
    // Sizes of the writes made on this end, in order.
    std::vector<std::size_t> writeSizes;

  private:
    std::shared_ptr<MemoryPipe> in_;
    std::shared_ptr<MemoryPipe> out_;
    std::size_t written_ = 0;
};

inline std::pair<std::unique_ptr<MemoryChannel>, std::unique_ptr<MemoryChannel>> MakeChannelPair() {
    auto a = std::make_shared<MemoryPipe>();
    auto b = std::make_shared<MemoryPipe>();
    return {std::make_unique<MemoryChannel>(a, b), std::make_unique<MemoryChannel>(b, a)};
}

// Serves a fixed byte sequence (optionally a few bytes per read), then -1; keeps what is written.
class BufferChannel : public TDbxChannel {
  public:
    explicit BufferChannel(std::vector<std::uint8_t> input, std::size_t maxPerRead = 0)
        : input_(std::move(input)), maxPerRead_(maxPerRead) {}
    void Open() override {}
    void Close() override { closed_ = true; }
    int Read(std::span<std::uint8_t> dest) override {
        if (closed_ || pos_ >= input_.size())
            return -1;
        std::size_t n = std::min(dest.size(), input_.size() - pos_);
        if (maxPerRead_)
            n = std::min(n, maxPerRead_);
        std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(pos_), n, dest.begin());
        pos_ += n;
        return static_cast<int>(n);
    }
    int Write(std::span<const std::uint8_t> src) override {
        if (closed_)
            return -1;
        written.insert(written.end(), src.begin(), src.end());
        return static_cast<int>(src.size());
    }
    std::vector<std::uint8_t> written;

  private:
    std::vector<std::uint8_t> input_;
    std::size_t maxPerRead_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

}  // namespace ab::test
