// In-memory channels for tests and fuzz targets: a blocking pipe pair (one end per side, usable from
// two threads), and a channel that serves fixed bytes and records what is written to it.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "dbx/TDbxChannel.h"

namespace ab::test {

// One direction of a pipe. Reads block until bytes arrive or the writer closes.
class MemoryPipe {
public:
    void Put(std::span<const std::uint8_t> bytes) {
        {
            std::lock_guard lock(mutex_);
            data_.insert(data_.end(), bytes.begin(), bytes.end());
        }
        ready_.notify_all();
    }
    // Returns 1..max bytes, or -1 when closed and drained.
    int Take(std::span<std::uint8_t> dest, std::size_t max) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !data_.empty() || closed_; });
        if (data_.empty()) return -1;
        const std::size_t n = std::min({dest.size(), max, data_.size()});
        std::copy_n(data_.begin(), n, dest.begin());
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }
    void CloseWriter() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
    }
    bool Closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::uint8_t> data_;
    bool closed_ = false;
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
    int Read(std::span<std::uint8_t> dest) override {
        return in_->Take(dest, maxBytesPerRead);
    }
    int Write(std::span<const std::uint8_t> src) override {
        if (out_->Closed()) return -1;
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
        if (closed_ || pos_ >= input_.size()) return -1;
        std::size_t n = std::min(dest.size(), input_.size() - pos_);
        if (maxPerRead_) n = std::min(n, maxPerRead_);
        std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(pos_), n, dest.begin());
        pos_ += n;
        return static_cast<int>(n);
    }
    int Write(std::span<const std::uint8_t> src) override {
        if (closed_) return -1;
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
