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

// One direction of a pipe. Reads block until bytes arrive or the writer closes.
//
// Small writes that find a reader waiting are copied into its destination by the writer; other
// small writes are queued in the chunks they came in (spent chunks are reused). A large write is
// offered instead: the reader copies straight from the writer's memory into its destination, a
// part at a time (a read ends where a part of a gather write ends, so a large part can land
// directly where its reader wants it), while the writer waits. If no reader takes the rest within
// a moment, the writer queues it and returns, so a write never waits for long. Both sides spin
// briefly on atomic flags before sleeping, so a request/answer ping-pong is not dominated by
// wake-up latency.
class MemoryPipe {
  public:
    static constexpr std::size_t kOfferedFrom = 4096;

    void Put(std::span<const std::uint8_t> bytes) { PutParts(std::span(&bytes, 1)); }
    // The parts in order, as one write.
    void PutParts(std::span<const std::span<const std::uint8_t>> parts) {
        std::size_t total = 0;
        for (const auto& part : parts)
            total += part.size();
        std::unique_lock lock(mutex_);
        if (total == 0 || closed_ || !chunks_.empty() || postedFilled_ > 0 ||
            offered_.load(std::memory_order_relaxed)) {
            Queue(parts);
        } else if (total < kOfferedFrom) {
            if (posted_.data() != nullptr)
                FillPosted(parts);
            else
                Queue(parts);
        } else {
            Offer(parts, lock);
            return;
        }
        lock.unlock();
        ready_.notify_all();
    }
    // Returns 1..max bytes, or -1 when closed and drained.
    int Take(std::span<std::uint8_t> dest, std::size_t max) {
        dest = dest.first(std::min(dest.size(), max));
        std::unique_lock lock(mutex_);
        if (!offered_.load(std::memory_order_relaxed) && chunks_.empty() && !closed_ &&
            !dest.empty()) {
            posted_ = dest;
            lock.unlock();
            SpinUntil([&] { return Arrived(); });
            lock.lock();
            ready_.wait(lock, [&] { return Arrived(); });
            posted_ = {};
            if (postedFilled_ > 0) {
                const std::size_t n = postedFilled_;
                postedFilled_ = 0;
                filled_.store(false, std::memory_order_relaxed);
                return static_cast<int>(n);
            }
        }
        if (offered_.load(std::memory_order_relaxed) && !dest.empty())
            return TakeOffered(dest);
        return TakeQueued(dest);
    }
    void CloseWriter() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            queued_.store(true, std::memory_order_release);
        }
        ready_.notify_all();
    }
    bool Closed() const { return closed_.load(std::memory_order_acquire); }

  private:
    // Busy-waits up to about 50 microseconds (without system calls), then yields a while.
    template <class Done>
    static void SpinUntil(Done done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        for (int spin = 0; !done(); ++spin) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
            if ((spin & 63) == 63 && std::chrono::steady_clock::now() > until)
                break;
        }
        for (int spin = 0; spin < 200 && !done(); ++spin)
            std::this_thread::yield();
    }
    bool Arrived() const {
        return filled_.load(std::memory_order_acquire) ||
               offered_.load(std::memory_order_acquire) || queued_.load(std::memory_order_acquire);
    }
    // The following are called with the lock held.
    void FillPosted(std::span<const std::span<const std::uint8_t>> parts) {
        std::size_t filled = 0;
        std::vector<std::span<const std::uint8_t>> rest;
        for (auto bytes : parts) {
            const std::size_t n = std::min(bytes.size(), posted_.size() - filled);
            std::memcpy(posted_.data() + filled, bytes.data(), n);
            filled += n;
            if (n < bytes.size())
                rest.push_back(bytes.subspan(n));
        }
        Queue(rest);
        postedFilled_ = filled;
        posted_ = {};  // filled: no later write may fill it again
        filled_.store(true, std::memory_order_release);
    }
    void Offer(std::span<const std::span<const std::uint8_t>> parts,
               std::unique_lock<std::mutex>& lock) {
        offer_.assign(parts.begin(), parts.end());
        offerPart_ = 0;
        offerOffset_ = 0;
        SkipEmptyParts();
        lock.unlock();
        ready_.notify_all();
        SpinUntil([&] { return !offered_.load(std::memory_order_acquire); });
        lock.lock();
        if (offered_.load(std::memory_order_relaxed)) {
            // No reader came back for the rest: it waits in the queue instead.
            offer_[offerPart_] = offer_[offerPart_].subspan(offerOffset_);
            Queue(std::span(offer_).subspan(offerPart_));
            offer_.clear();
            offered_.store(false, std::memory_order_release);
            lock.unlock();
            ready_.notify_all();
        }
    }
    void SkipEmptyParts() {
        while (offerPart_ < offer_.size() && offerOffset_ == offer_[offerPart_].size()) {
            ++offerPart_;
            offerOffset_ = 0;
        }
        const bool more = offerPart_ < offer_.size();
        if (!more)
            offer_.clear();
        offered_.store(more, std::memory_order_release);
    }
    int TakeOffered(std::span<std::uint8_t> dest) {
        const auto part = offer_[offerPart_].subspan(offerOffset_);
        const std::size_t n = std::min(dest.size(), part.size());
        std::memcpy(dest.data(), part.data(), n);
        offerOffset_ += n;
        SkipEmptyParts();
        return static_cast<int>(n);
    }
    void Queue(std::span<const std::span<const std::uint8_t>> parts) {
        std::vector<std::uint8_t> chunk;
        for (const auto& bytes : parts) {
            if (bytes.empty())
                continue;
            if (chunk.empty() && !spare_.empty()) {
                chunk = std::move(spare_.back());
                spare_.pop_back();
                chunk.clear();
            }
            chunk.insert(chunk.end(), bytes.begin(), bytes.end());
        }
        if (chunk.empty())
            return;
        chunks_.push_back(std::move(chunk));
        queued_.store(true, std::memory_order_release);
    }
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
        queued_.store(!chunks_.empty() || closed_, std::memory_order_release);
        return static_cast<int>(n);
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<std::uint8_t>> chunks_;
    std::vector<std::vector<std::uint8_t>> spare_;
    std::size_t frontOffset_ = 0;
    std::atomic<bool> closed_{false};
    // The waiting reader's destination (empty once filled), and what a small write put there.
    std::span<std::uint8_t> posted_;
    std::size_t postedFilled_ = 0;
    // The large write being offered: its parts and how far the reader has taken them.
    std::vector<std::span<const std::uint8_t>> offer_;
    std::size_t offerPart_ = 0;
    std::size_t offerOffset_ = 0;
    // Read without the lock while spinning; written with it held.
    alignas(64) std::atomic<bool> offered_{false};
    std::atomic<bool> filled_{false};
    std::atomic<bool> queued_{false};  // chunks wait, or the writer closed
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
    int Write(std::span<const std::uint8_t> src) override { return WriteParts(std::span(&src, 1)); }
    int WriteParts(std::span<const std::span<const std::uint8_t>> parts) override {
        std::size_t size = 0;
        for (const auto& part : parts)
            size += part.size();
        if (out_->Closed())
            return -1;
        if (failAfterBytes >= 0 && written_ + size > static_cast<std::size_t>(failAfterBytes))
            return -1;
        written_ += size;
        writeSizes.push_back(size);
        out_->PutParts(parts);
        return static_cast<int>(size);
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
