// The TCP communication layer over POSIX sockets.
#include "transport/TDBXIdTCPLayer.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "dbx/TDBXError.h"
#include "platform/Convert.h"
#include "platform/Text.h"
#include "transport/ESocketError.h"
#include "transport/TDBXProperties.h"
#include "transport/TLimiteDeBanda.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

namespace {

ESocketError SystemError(int err) {
    return ESocketError(err, FromUtf8(std::string("Socket error # ") + std::to_string(err) + ": " +
                                      std::strerror(err)));
}

// Empty text means 0; otherwise the runtime's integer rules.
int TimeoutValue(const TDBXProperties& properties, std::u16string_view name) {
    const std::u16string value = properties.GetValue(name);
    return value.empty() ? 0 : StrToInt(value);
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, never below 0.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Connects fd to the address: a non-blocking connect, then a wait for its end that is bounded by
// the deadline when there is one (without one only the system's own limit applies), the socket
// going back to blocking afterwards. Returns 0, the connect's error, ETIMEDOUT when the deadline
// came first, or ECONNABORTED when the layer was terminated. The flag is checked after the connect
// has started, so a Terminate either is seen here or shuts down a connect under way, which wakes
// the wait.
int ConnectSocket(int fd, const addrinfo& address, const Clock::time_point* deadline,
                  const std::atomic<bool>& terminated) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    int err = 0;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) < 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            for (;;) {
                if (terminated) {
                    err = ECONNABORTED;
                    break;
                }
                pollfd p{fd, POLLOUT, 0};
                const int wait = deadline ? MillisecondsLeft(*deadline) : -1;
                const int ready = ::poll(&p, 1, wait);
                if (ready < 0 && errno == EINTR)
                    continue;
                if (ready < 0) {
                    err = errno;
                    break;
                }
                if (ready == 0) {
                    if (wait == 0) {
                        err = ETIMEDOUT;
                        break;
                    }
                    continue;
                }
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
                    err = errno;
                break;
            }
        }
    }
    if (err == 0 && ::fcntl(fd, F_SETFL, flags) < 0)
        err = errno;
    return err;
}

// Nagle off, keepalive and the user timeout on; 0 or the error of the option that failed.
int SetSocketOptions(int fd) {
    const int one = 1;
    const int idle = C::KeepAliveIdleSeconds;
    const int interval = C::KeepAliveIntervalSeconds;
    const int probes = C::KeepAliveProbes;
    const unsigned unacknowledged = C::UnacknowledgedTimeoutMs;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged) !=
            0)
        return errno;
    return 0;
}

}  // namespace

TDBXIdTCPLayer::~TDBXIdTCPLayer() {
    Close();
}

void TDBXIdTCPLayer::CreateClientSocket() {
    if (!implementationId_.empty()) {
        throw Exception(Format(C::ErrNoPeer, {C::TcpClientInterfaceGuid, implementationId_}));
    }
}

void TDBXIdTCPLayer::Open(const TDBXProperties& properties) {
    implementationId_ = properties.GetValue(C::IPImplementationID);
    CreateClientSocket();
    const std::string host = ToUtf8(properties.GetValue(C::HostName));
    const auto port = static_cast<std::uint16_t>(properties.GetInteger(C::Port));
    const std::u16string version = Trim(properties.GetValue(C::CommunicationIPVersion));
    const int family = TDBXProperties::SameName(version, C::IPv6) ? AF_INET6 : AF_INET;
    connectTimeout_ = TimeoutValue(properties, C::ConnectTimeout);
    communicationTimeout_ = TimeoutValue(properties, C::CommunicationTimeout);
    // The connect deadline covers every address tried, from here on.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(connectTimeout_);
    const Clock::time_point* connectDeadline = connectTimeout_ > 0 ? &deadline : nullptr;

    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc =
        ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        if (rc == EAI_SYSTEM)
            throw SystemError(errno);
        throw ESocketError(
            rc, FromUtf8(std::string("Host not found: ") + host + " (" + ::gai_strerror(rc) + ")"));
    }
    int lastError = ECONNREFUSED;
    bool connected = false;
    for (addrinfo* a = found; a && !connected; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (!AdoptSocket(fd)) {
            lastError = ECONNABORTED;
            break;
        }
        if (const int err = SetSocketOptions(fd); err != 0) {
            lastError = err;
            ReleaseSocket();
            continue;
        }
        const int err = ConnectSocket(fd, *a, connectDeadline, terminated_);
        if (terminated_) {
            lastError = ECONNABORTED;
            break;
        }
        connected = err == 0;
        if (!connected) {
            lastError = err;
            ReleaseSocket();
            if (err == ETIMEDOUT && connectDeadline && MillisecondsLeft(deadline) == 0)
                break;
        }
    }
    ::freeaddrinfo(found);
    if (!connected) {
        ReleaseSocket();
        if (lastError == ETIMEDOUT && connectDeadline)
            throw TDBXError(TDBXErrorCodes::None, C::ErrConnectionTimeout);
        throw SystemError(lastError);
    }
    connected_ = false;
}

bool TDBXIdTCPLayer::AdoptSocket(int fd) {
    std::lock_guard lock(socketMutex_);
    if (terminated_) {
        ::close(fd);
        return false;
    }
    socket_ = fd;
    receiveTimeoutMs_ = 0;
    return true;
}

void TDBXIdTCPLayer::ReleaseSocket() {
    std::lock_guard lock(socketMutex_);
    const int fd = socket_.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

void TDBXIdTCPLayer::Terminate() {
    std::lock_guard lock(socketMutex_);
    if (!terminated_.exchange(true) && socket_ >= 0)
        ::shutdown(socket_, SHUT_RDWR);
}

void TDBXIdTCPLayer::Close() {
    std::lock_guard lock(socketMutex_);
    const int fd = socket_.exchange(-1);
    if (fd < 0)
        return;
    if (!terminated_.exchange(true))
        ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

int TDBXIdTCPLayer::Read(std::span<std::uint8_t> dest) {
    if (terminated_ || socket_ < 0)
        return -1;
    if (dest.empty())
        return 0;
    int timeoutMs = connected_ ? communicationTimeout_ : connectTimeout_;
    const char16_t* message = connected_ ? C::ErrCommunicationTimeout : C::ErrConnectionTimeout;
    if (prazoDeLeituraTemporario_ > 0 && (timeoutMs <= 0 || prazoDeLeituraTemporario_ < timeoutMs))
        timeoutMs = prazoDeLeituraTemporario_;
    const int count = timeoutMs > 0 ? TimedRead(dest, timeoutMs, message) : PlainRead(dest);
    if (count > 0)
        connected_ = true;
    return count;
}

bool TDBXIdTCPLayer::SetReceiveTimeout(int ms) {
    if (ms == receiveTimeoutMs_)
        return true;
    const timeval tv{ms / 1000, (ms % 1000) * 1000};
    if (::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return false;
    receiveTimeoutMs_ = ms;
    return true;
}

void TDBXIdTCPLayer::Fail(int err, const char16_t* timeoutMessage) {
    Terminate();
    if (err == 0)
        throw ESocketError(0, C::ErrConnectionClosedByPeer);
    if ((err == EAGAIN || err == EWOULDBLOCK) && timeoutMessage)
        throw TDBXError(TDBXErrorCodes::None, timeoutMessage);
    throw SystemError(err);
}

int TDBXIdTCPLayer::PlainRead(std::span<std::uint8_t> dest) {
    // A deadline left on the socket by an earlier timed read no longer applies.
    if (!SetReceiveTimeout(0))
        Fail(errno, nullptr);
    for (;;) {
        const ssize_t n = ::recv(socket_, dest.data(), dest.size(), 0);
        if (n > 0)
            return static_cast<int>(n);
        const int err = n == 0 ? 0 : errno;
        if (err == EINTR)
            continue;
        // A connection ended by Terminate from another thread is a terminated layer.
        if (terminated_)
            return -1;
        Fail(err, nullptr);
    }
}

int TDBXIdTCPLayer::TimedRead(std::span<std::uint8_t> dest, int timeoutMs,
                              const char16_t* message) {
    // The socket's own receive timeout bounds the wait: one system call per read, which counts
    // when every answer is a round trip.
    if (!SetReceiveTimeout(timeoutMs))
        Fail(errno, message);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const ssize_t n = ::recv(socket_, dest.data(), dest.size(), 0);
        if (n > 0)
            return static_cast<int>(n);
        const int err = n == 0 ? 0 : errno;
        if (terminated_)
            return -1;  // by another thread
        if (err == EINTR) {
            // A signal cut the wait short: wait again, unless the deadline is already gone.
            if (MillisecondsLeft(deadline) > 0)
                continue;
            Fail(EAGAIN, message);
        }
        // The receive timeout passing shows as EAGAIN; a close or a socket error is no deadline.
        Fail(err, message);
    }
}

int TDBXIdTCPLayer::WaitForRoom(Clock::time_point& deadline, int timeoutMs) {
    // The socket reports room only once a good part of its send buffer is free, which a slow peer
    // may take longer than the deadline to allow while it does take bytes. Progress is therefore
    // the peer acknowledging bytes (the send queue shrinking), looked at a few times per deadline.
    const int slice = std::max(timeoutMs / 8, 1);
    int queued = -1;
    if (::ioctl(socket_, SIOCOUTQ, &queued) != 0)
        return errno;
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            return EAGAIN;
        pollfd p{socket_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, std::min(left, slice));
        if (ready > 0 || (ready < 0 && errno == EINTR))
            return 0;  // room, a broken connection (the send reports it) or a signal
        if (ready < 0)
            return errno;
        int now = -1;
        if (::ioctl(socket_, SIOCOUTQ, &now) != 0)
            return errno;
        if (now < queued)
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        queued = now;
    }
}

bool TDBXIdTCPLayer::EsperarAVez(std::size_t bytes) {
    TLimiteDeBanda& limite = *limiteDeBanda_.Limite;
    const auto espera = limite.Tomar(bytes);
    if (espera <= std::chrono::nanoseconds(0))
        return true;
    const auto fim = Clock::now() + espera;
    for (;;) {
        if (terminated_) {
            limite.Devolver(bytes);
            return false;
        }
        const auto falta = std::chrono::duration_cast<std::chrono::nanoseconds>(fim - Clock::now());
        if (falta <= std::chrono::nanoseconds(0))
            return true;
        // A wait on the socket that asks for no event: Terminate's shutdown wakes it at once. A
        // socket error wakes it too, and the send that follows reports it.
        const timespec ts{static_cast<time_t>(falta.count() / 1'000'000'000),
                          static_cast<long>(falta.count() % 1'000'000'000)};
        pollfd p{socket_, 0, 0};
        const int ready = ::ppoll(&p, 1, &ts, nullptr);
        if (ready > 0 && !terminated_)
            return true;
        if (ready < 0 && errno != EINTR)
            return true;
    }
}

int TDBXIdTCPLayer::Write(std::span<const std::uint8_t> src) {
    return WriteParts(std::span(&src, 1));
}

int TDBXIdTCPLayer::WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
    if (terminated_ || socket_ < 0)
        return -1;
    // One gathered send per call, resumed after a partial one, so a segment leaves from where its
    // bytes lie.
    constexpr std::size_t kMaxParts = 16;
    if (parts.size() > kMaxParts)
        return TDBXCommunicationLayer::WriteParts(parts);
    iovec vectors[kMaxParts];
    std::size_t count = 0;
    std::size_t total = 0;
    for (const auto& part : parts) {
        if (part.empty())
            continue;
        vectors[count].iov_base = const_cast<std::uint8_t*>(part.data());
        vectors[count].iov_len = part.size();
        total += part.size();
        ++count;
    }
    // The deadline that a read made now would have. Without one the send blocks as long as the
    // peer keeps the connection up; with one it never blocks, and a wait for room in the socket
    // buffers that passes the deadline since the last progress fails the write.
    const int timeoutMs = connected_ ? communicationTimeout_ : connectTimeout_;
    const int flags = MSG_NOSIGNAL | (timeoutMs > 0 ? MSG_DONTWAIT : 0);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t restante = total;
    TLimiteDeBanda* const limite = limiteDeBanda_.Limite.get();
    // Bytes the cap granted that have not left yet; without a cap, all of them.
    std::size_t vez = limite ? 0 : total;
    std::size_t first = 0;
    while (first < count) {
        if (vez == 0) {
            vez = std::min(restante, limite->Fatia());
            if (!EsperarAVez(vez))
                return -1;  // terminated by another thread
            if (timeoutMs > 0)
                deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        }
        // A send carries no more than the cap granted: the vector it ends in is cut short, and
        // restored after the send.
        std::size_t end = count;
        std::size_t cut = 0;
        if (vez < restante) {
            std::size_t sum = 0;
            for (end = first; sum + vectors[end].iov_len <= vez; ++end)
                sum += vectors[end].iov_len;
            if (sum < vez) {
                cut = vectors[end].iov_len;
                vectors[end++].iov_len = vez - sum;
            }
        }
        msghdr message{};
        message.msg_iov = vectors + first;
        message.msg_iovlen = end - first;
        ssize_t n = ::sendmsg(socket_, &message, flags);
        if (cut > 0)
            vectors[end - 1].iov_len = cut;
        if (n < 0) {
            int err = errno;
            if (err == EINTR)
                continue;
            if (timeoutMs > 0 && (err == EAGAIN || err == EWOULDBLOCK) && !terminated_) {
                err = WaitForRoom(deadline, timeoutMs);
                if (err == 0)
                    continue;
            }
            if (terminated_)
                return -1;  // by another thread
            // Part of a message may have left: the connection cannot carry another one.
            Fail(err, C::ErrWriteTimeout);
        }
        if (timeoutMs > 0)
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        vez -= static_cast<std::size_t>(n);
        restante -= static_cast<std::size_t>(n);
        if (limite && limiteDeBanda_.AoEscrever) {
            // Whoever follows the bytes may fail; part of a message has left, so the connection
            // cannot carry another one.
            try {
                limiteDeBanda_.AoEscrever(static_cast<std::size_t>(n));
            } catch (...) {
                Terminate();
                throw;
            }
        }
        while (first < count && static_cast<std::size_t>(n) >= vectors[first].iov_len) {
            n -= static_cast<ssize_t>(vectors[first].iov_len);
            ++first;
        }
        if (first < count) {
            vectors[first].iov_base = static_cast<std::uint8_t*>(vectors[first].iov_base) + n;
            vectors[first].iov_len -= static_cast<std::size_t>(n);
        }
    }
    return static_cast<int>(total);
}

}  // namespace ab
