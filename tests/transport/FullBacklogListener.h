// A loopback listener whose accept queue is full and never drained: the kernel drops the SYNs of
// any further connect, which then waits as on an address that swallows them. Nothing leaves the
// machine. Hangs() tells whether this kernel really drops them (a probe connect stayed pending).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace ab::test {

class FullBacklogListener {
  public:
    FullBacklogListener() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listen_, 0) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        // Connections complete until the queue is full; the first one left pending proves it.
        for (int i = 0; i < 8 && !hangs_; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0)
                return;
            fillers_.push_back(fd);
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            pollfd p{fd, POLLOUT, 0};
            hangs_ = ::poll(&p, 1, 200) == 0;
        }
    }
    ~FullBacklogListener() {
        for (const int fd : fillers_)
            ::close(fd);
        if (listen_ >= 0)
            ::close(listen_);
    }
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;

    int Port() const { return port_; }
    bool Hangs() const { return hangs_; }

  private:
    int listen_ = -1;
    int port_ = 0;
    bool hangs_ = false;
    std::vector<int> fillers_;
};

}  // namespace ab::test
