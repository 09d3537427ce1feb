// Helpers for the update server tests: hex literals, a hand-built data packet, a raw TCP client
// that sends exactly the bytes it is given, and a temporary folder.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ab::server::test {

using Bytes = std::vector<std::uint8_t>;

// A stamp of the worked examples: 2015-12-11 10:30:00.
constexpr double kExampleStamp = 63585513000000.0;

inline Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline Bytes Hex(std::string_view hex) {
    Bytes out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline Bytes Ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The 165-byte packet of the worked example: S01\a.txt, 2015-12-11 10:30:00, "ABCDE".
inline Bytes WorkedPacket() {
    return Hex(
        "96 19 E0 BD 01 00 00 00 18 00 00 00 03 00 01 00"
        "00 00 03 00 00 00 88 00 04 4E 6F 6D 65 01 00 49"
        "00 00 00 01 00 05 57 49 44 54 48 02 00 02 00 C8"
        "00 08 44 61 74 61 48 6F 72 61 08 00 08 00 00 00"
        "00 00 07 41 72 71 75 69 76 6F 04 00 4B 00 00 00"
        "01 00 07 53 55 42 54 59 50 45 02 00 49 00 07 00"
        "42 69 6E 61 72 79 00 01 00 0A 43 48 41 4E 47 45"
        "5F 4C 4F 47 04 00 82 00 03 00 00 00 01 00 00 00"
        "00 00 00 00 04 00 00 00 04 00 09 53 30 31 5C 61"
        "2E 74 78 74 00 20 26 F5 53 EA CC 42 05 00 00 00"
        "41 42 43 44 45");
}

// A packet for any name (Windows-1252 bytes), time stamp and content, laid out like the worked
// example: the first 0x88 bytes are the example's, then the row.
inline Bytes MakePacket(std::string_view name, double dataHora, const Bytes& content) {
    Bytes p = WorkedPacket();
    p.resize(0x88);
    p.push_back(0x04);
    p.push_back(content.empty() ? 0x10 : 0x00);
    p.push_back(static_cast<std::uint8_t>(name.size()));
    p.insert(p.end(), name.begin(), name.end());
    std::uint8_t d[8];
    std::memcpy(d, &dataHora, 8);
    p.insert(p.end(), d, d + 8);
    if (!content.empty()) {
        const auto n = static_cast<std::uint32_t>(content.size());
        for (int i = 0; i < 4; ++i)
            p.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        p.insert(p.end(), content.begin(), content.end());
    }
    return p;
}

// The stream bytes of a byte-array variant: 03, the 8-byte little-endian count, the bytes.
inline Bytes VariantBytes(const Bytes& packet) {
    Bytes v{0x03};
    const std::uint64_t n = packet.size();
    for (int i = 0; i < 8; ++i)
        v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    v.insert(v.end(), packet.begin(), packet.end());
    return v;
}

inline Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ab-server-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Blocking TCP client with read deadlines.
class RawClient {
  public:
    explicit RawClient(std::uint16_t port, bool ipv6 = false) {
        fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int rc;
        if (ipv6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            a.sin6_port = htons(port);
            rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(port);
            rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        if (rc != 0)
            throw std::runtime_error("connect failed");
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~RawClient() { Close(); }
    int Fd() const { return fd_; }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    void Send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            done += static_cast<std::size_t>(n);
        }
    }
    void Send(std::string_view text) { Send(Ascii(text)); }

    // Exactly n bytes, or fewer when the peer closed or the deadline passed.
    Bytes Read(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::uint8_t buf[65536];
            const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0)
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    std::string ReadText(std::size_t n) {
        const Bytes b = Read(n);
        return std::string(b.begin(), b.end());
    }
    // Reads up to and including the first occurrence of the marker.
    std::string ReadUntil(std::string_view marker,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < marker.size() ||
               out.compare(out.size() - marker.size(), marker.size(), marker) != 0) {
            const Bytes b = Read(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now()));
            if (b.empty())
                break;
            out += static_cast<char>(b[0]);
        }
        return out;
    }
    // true when the peer closed the connection within the timeout; what arrives before is dropped.
    bool PeerClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            std::uint8_t b[4096];
            const ssize_t n = ::recv(fd_, b, sizeof b, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return errno == ECONNRESET;
        }
    }
    // true when the peer closes before sending another byte (within the timeout).
    bool ClosedWithoutAnswer(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return false;
        std::uint8_t b;
        const ssize_t n = ::recv(fd_, &b, 1, 0);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }
    // true when nothing arrives within the time.
    bool Quiet(std::chrono::milliseconds time) {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(time.count())) == 0;
    }

  private:
    int fd_ = -1;
};

}  // namespace ab::server::test
