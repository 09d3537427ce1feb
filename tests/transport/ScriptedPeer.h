// A scripted TCP peer for tests: listens on a free loopback port and runs a script on each
// accepted connection in its own thread. Scripts read and write raw bytes with bounded waits.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ab::test {

// One accepted connection as the script sees it.
class PeerConnection {
  public:
    explicit PeerConnection(int fd) : fd_(fd) {}
    ~PeerConnection() { Close(); }

    // Reads exactly n bytes; fewer when the client closes or after the wait limit.
    std::string Receive(std::size_t n, int waitMs = 10000) {
        std::string out;
        char buf[65536];
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (out.size() < n && fd_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  until - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(got));
        }
        return out;
    }
    // Reads until the text ends with the marker (or the limit/wait runs out).
    std::string ReceiveUntil(std::string_view marker, int waitMs = 10000,
                             std::size_t limit = 1 << 20) {
        std::string out;
        while (out.size() < limit) {
            std::string c = Receive(1, waitMs);
            if (c.empty())
                break;
            out += c;
            if (out.size() >= marker.size() &&
                out.compare(out.size() - marker.size(), marker.size(), marker) == 0)
                break;
        }
        return out;
    }
    // Everything until the client closes (or the wait runs out).
    std::string ReceiveAll(int waitMs = 10000) { return Receive(SIZE_MAX, waitMs); }
    bool Send(std::string_view bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int Fd() const { return fd_; }

  private:
    int fd_;
};

class ScriptedPeer {
  public:
    using Script = std::function<void(PeerConnection&, int connectionIndex)>;

    explicit ScriptedPeer(Script script) : script_(std::move(script)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_, 8);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~ScriptedPeer() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        std::lock_guard lock(mutex_);
        for (auto& t : workers_)
            t.join();
        ::close(listen_);
    }
    int Port() const { return port_; }
    int Accepted() const { return accepted_; }

  private:
    void AcceptLoop() {
        int index = 0;
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++accepted_;
            std::lock_guard lock(mutex_);
            workers_.emplace_back([this, fd, i = index++] {
                PeerConnection c(fd);
                script_(c, i);
            });
        }
    }

    Script script_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

}  // namespace ab::test
