// The server's socket channel and received-bytes record (see the header).
#include "server/TServerSocketChannel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

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
    std::size_t done = 0;
    while (done < src.size()) {
        const ssize_t n = ::send(fd_, src.data() + done, src.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<int>(std::min<std::size_t>(done, INT_MAX));
}

}  // namespace ab::server
