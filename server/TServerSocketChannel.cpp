// The server's socket channel and received-bytes record (see the header).
#include "server/TServerSocketChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "server/ServerConstants.h"

namespace ab::server {

TConnectionRecord::TConnectionRecord(bool keep, const std::filesystem::path& file) : keep_(keep) {
    if (!file.empty())
        file_ = std::fopen(file.c_str(), "wb");
}

TConnectionRecord::~TConnectionRecord() {
    if (file_)
        std::fclose(file_);
}

void TConnectionRecord::Append(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (keep_)
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    if (file_) {
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::fflush(file_);
    }
}

std::vector<std::uint8_t> TConnectionRecord::Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void TConnectionRecord::MarkClosed() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    closedChanged_.notify_all();
}

bool TConnectionRecord::WaitClosed(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return closedChanged_.wait_for(lock, timeout, [&] { return closed_; });
}

std::string SecondsText(std::chrono::milliseconds ms) {
    const long long count = ms.count();
    std::string text = std::to_string(count / 1000);
    if (count % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03lld", count % 1000);
        text += fraction;
        while (text.back() == '0')
            text.pop_back();
    }
    return text + " s";
}

void TServerSocketChannel::SetReadDeadline(Clock::time_point when, std::string why) {
    readDeadline_ = when;
    readDeadlineWhy_ = std::move(why);
}

void TServerSocketChannel::SetReadTimeout(std::chrono::milliseconds timeout) {
    readTimeout_ = timeout;
}

void TServerSocketChannel::SetWriteTimeout(std::chrono::milliseconds timeout) {
    writeTimeout_ = timeout;
}

void TServerSocketChannel::SetReadBudget(std::uint64_t bytes, std::string why) {
    budgeted_ = true;
    budget_ = bytes;
    budgetWhy_ = std::move(why);
}

void TServerSocketChannel::ClearLimits() {
    readDeadline_ = Clock::time_point::max();
    readTimeout_ = writeTimeout_ = std::chrono::milliseconds(0);
    budgeted_ = false;
}

bool TServerSocketChannel::HasUnread() const {
    std::uint8_t byte;
    return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

bool TServerSocketChannel::WaitReady(short events) {
    const bool reading = events == POLLIN;
    for (;;) {
        int wait = -1;
        std::string why;
        const std::chrono::milliseconds each = reading ? readTimeout_ : writeTimeout_;
        if (each.count() > 0) {
            wait = static_cast<int>(std::min<long long>(each.count(), INT_MAX));
            why = reading ? "nenhum byte do cliente em " + SecondsText(each)
                          : "o cliente não recebeu nada em " + SecondsText(each);
        }
        if (reading && readDeadline_ != Clock::time_point::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(readDeadline_ - Clock::now());
            const int until = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
            if (wait < 0 || until <= wait) {
                wait = until;
                why = readDeadlineWhy_;
            }
        }
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready > 0)
            return true;  // readable, writable, or an error the next call reports
        if (ready < 0 && errno == EINTR)
            continue;
        failure_ = ready == 0 ? why : std::string("poll: ") + std::strerror(errno);
        return false;
    }
}

int TServerSocketChannel::Read(std::span<std::uint8_t> dest) {
    // The server is about to wait for its peer: what it answered so far goes first.
    if (!Flush())
        return -1;
    if (betweenMessages_ && wroteSinceRead_) {
        const std::int64_t count = record_.AddRoundTrip();
        if (onRoundTrip_)
            onRoundTrip_(count);
    }
    betweenMessages_ = false;
    wroteSinceRead_ = false;
    std::size_t want = std::min<std::size_t>(dest.size(), INT_MAX);
    if (budgeted_) {
        if (budget_ == 0) {
            failure_ = budgetWhy_;
            return -1;
        }
        want = static_cast<std::size_t>(std::min<std::uint64_t>(want, budget_));
    }
    for (;;) {
        if (!WaitReady(POLLIN))
            return -1;
        const ssize_t n = ::recv(fd_, dest.data(), want, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return -1;
        if (budgeted_)
            budget_ -= static_cast<std::uint64_t>(n);
        record_.Append(dest.first(static_cast<std::size_t>(n)));
        return static_cast<int>(n);
    }
}

int TServerSocketChannel::Write(std::span<const std::uint8_t> src) {
    return WriteParts(std::span(&src, 1));
}

int TServerSocketChannel::WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
    std::size_t total = 0;
    for (const auto& part : parts)
        total += part.size();
    const int count = static_cast<int>(std::min<std::size_t>(total, INT_MAX));
    if (total > 0)
        wroteSinceRead_ = true;
    if (held_.size() + total <= kHeldReplyBytes) {
        for (const auto& part : parts)
            held_.insert(held_.end(), part.begin(), part.end());
        return count;
    }
    // Too much to hold: what is held and the new bytes leave in one send, without a copy.
    std::vector<iovec> vec;
    vec.reserve(parts.size() + 1);
    vec.push_back({held_.data(), held_.size()});
    for (const auto& part : parts)
        vec.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
    const bool sent = Send(vec);
    held_.clear();
    return sent ? count : -1;
}

bool TServerSocketChannel::Flush() {
    if (held_.empty())
        return true;
    iovec held{held_.data(), held_.size()};
    const bool sent = Send(std::span(&held, 1));
    held_.clear();
    return sent;
}

bool TServerSocketChannel::Send(std::span<iovec> vec) {
    std::size_t first = 0;
    while (first < vec.size()) {
        if (vec[first].iov_len == 0) {
            ++first;
            continue;
        }
        msghdr message{};
        message.msg_iov = vec.data() + first;
        message.msg_iovlen = std::min<std::size_t>(vec.size() - first, IOV_MAX);
        // Never blocked in the kernel: a peer that reads nothing meets the write limit.
        const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(POLLOUT))
                return false;
            continue;
        }
        if (n <= 0)
            return false;
        // Past what the socket took: whole parts, then into the one it stopped in.
        for (auto left = static_cast<std::size_t>(n); left > 0;) {
            iovec& v = vec[first];
            const std::size_t step = std::min(left, v.iov_len);
            v.iov_base = static_cast<std::uint8_t*>(v.iov_base) + step;
            v.iov_len -= step;
            left -= step;
            if (v.iov_len == 0)
                ++first;
        }
    }
    return true;
}

}  // namespace ab::server
