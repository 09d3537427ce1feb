// The server's socket channel and received-bytes record (see the header).
#include "server/TServerSocketChannel.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

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

int TServerSocketChannel::Read(std::span<std::uint8_t> dest) {
    // The server is about to wait for its peer: what it answered so far goes first.
    if (!Flush())
        return -1;
    const std::size_t want = std::min<std::size_t>(dest.size(), INT_MAX);
    for (;;) {
        const ssize_t n = ::recv(fd_, dest.data(), want, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
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
        const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
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
