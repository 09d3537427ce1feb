// A minimal raw-socket client of the bundled server, the baseline the benchmarks compare the
// client stack with: it sends hand-written messages and waits for the same replies.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/Text.h"
#include "server/TServerOptions.h"
#include "transport/TransportConstants.h"

namespace ab::bench {

// Follows a JSON byte stream through its string literals, where braces and brackets are text.
class JsonStrings {
  public:
    bool InString() const { return inString_; }
    // True when `c` belongs to a string literal, its quotes included.
    bool Consume(char c) {
        if (!inString_) {
            inString_ = c == '"';
            return inString_;
        }
        if (escape_)
            escape_ = false;
        else if (c == '\\')
            escape_ = true;
        else if (c == '"')
            inString_ = false;
        return true;
    }

  private:
    bool inString_ = false;
    bool escape_ = false;
};

class RawClient {
  public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("connect");
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void Send(const void* data, std::size_t n) {
        const char* p = static_cast<const char*>(data);
        while (n > 0) {
            const ssize_t k = ::send(fd_, p, n, MSG_NOSIGNAL);
            if (k <= 0)
                throw std::runtime_error("send");
            p += k;
            n -= static_cast<std::size_t>(k);
        }
    }
    void Send(const std::string& s) { Send(s.data(), s.size()); }
    std::string Receive(std::size_t n) {
        std::string s;
        while (s.size() < n)
            s.push_back(static_cast<char>(Byte()));
        return s;
    }
    // One JSON object, braces counted outside strings. The replies read here are a login reply, a
    // prepare reply, segment requests and result rows whose data bytes hold no brace or quote (a
    // short text of digits, a boolean). An error object is left open by the server: it ends
    // after its inner object.
    std::string ReceiveObject() {
        std::string s;
        int depth = 0;
        JsonStrings strings;
        for (;;) {
            const char c = static_cast<char>(Byte());
            s.push_back(c);
            if (strings.Consume(c))
                continue;
            if (c == '{')
                ++depth;
            else if (c == '}' && --depth == 0)
                return s;
            if (depth == 1 && s.starts_with("{\"error\":{") && c == '}')
                throw std::runtime_error("error reply: " + s);
        }
    }

  private:
    std::uint8_t Byte() {
        if (pos_ == len_) {
            const ssize_t k = ::recv(fd_, buf_, sizeof buf_, 0);
            if (k <= 0)
                throw std::runtime_error("recv");
            len_ = static_cast<std::size_t>(k);
            pos_ = 0;
        }
        return static_cast<std::uint8_t>(buf_[pos_++]);
    }
    int fd_;
    char buf_[32768];
    std::size_t pos_ = 0, len_ = 0;
};

inline int HandleOf(const std::string& reply) {
    const auto at = reply.find("\"handle\":[");
    if (at == std::string::npos)
        throw std::runtime_error("no handle in " + reply);
    return std::atoi(reply.c_str() + at + 10);
}

inline std::string Prepare(const std::string& method) {
    return R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.)" +
           method + "\"]}";
}

inline std::string ExecuteStart(int handle, std::size_t rowBytes) {
    return R"({"method":"execute","params":[{"handle":[)" + std::to_string(handle) +
           R"(]},{"data":[)" + std::to_string(rowBytes) + ",";
}

inline std::string CommandClose(int handle) {
    return R"({"method":"command_close","params":[)" + std::to_string(handle) + "]}";
}

inline void RawHandshake(RawClient& c) {
    c.Send(std::string(5, static_cast<char>(TransportConstants::FilterQueryByte)));
    c.Receive(5);
    c.Send(
        R"({"method":"connect","params":[{"DriverName":"DataSnap","DSAuthenticationPassword":")" +
        ToUtf8(server::DefaultPassword()) + R"(","DSAuthenticationUser":")" +
        ToUtf8(server::DefaultUser()) + R"("}]})");
    c.ReceiveObject();
}

}  // namespace ab::bench
