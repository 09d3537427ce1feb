// Socket channel and TCP layer over real loopback TCP against a scripted peer: reads that return
// what has arrived, the deadlines (the connect's included) and their messages, closing, a broken
// link noticed, Terminate from another thread, layer selection and the property rules the layer
// reads.
#include <gtest/gtest.h>

#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "FullBacklogListener.h"
#include "ScriptedPeer.h"
#include "dbx/TDBXError.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "transport/ESocketError.h"
#include "transport/TDBXProperties.h"
#include "transport/TDBXSocketChannel.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using test::PeerConnection;
using test::ScriptedPeer;

TDBXProperties PropsFor(
    int port, std::initializer_list<std::pair<const char16_t*, const char16_t*>> extra = {}) {
    TDBXProperties p;
    p.Add(u"HostName", u"127.0.0.1");
    p.Add(u"Port", IntToStr(port));
    for (const auto& [name, value] : extra)
        p.SetValue(name, value);
    return p;
}

struct OpenChannel {
    explicit OpenChannel(TDBXProperties props) : properties(std::move(props)) {
        channel.SetDBXProperties(&properties);
        channel.Open();
    }
    TDBXProperties properties;
    TDBXSocketChannel channel;
};

int ReadSome(TDbxChannel& c, std::vector<std::uint8_t>& buf) {
    return c.Read(buf);
}

template <class F>
long long MillisecondsOf(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(TDBXSocketChannel, ReadReturnsWhatHasArrivedWithoutWaitingForMore) {
    ScriptedPeer peer([](PeerConnection& c, int) {
        c.Receive(1);
        c.Send("0123456789");
        c.Receive(1);  // hold the connection open
    });
    OpenChannel oc(PropsFor(peer.Port()));
    const std::uint8_t go = 'g';
    ASSERT_EQ(oc.channel.Write(std::span(&go, 1)), 1);
    std::this_thread::sleep_for(100ms);
    std::vector<std::uint8_t> four(4), big(64);
    EXPECT_EQ(oc.channel.Read(four), 4);
    EXPECT_EQ(std::string(four.begin(), four.end()), "0123");
    EXPECT_EQ(ReadSome(oc.channel, big), 6);
    EXPECT_EQ(std::string(big.begin(), big.begin() + 6), "456789");
    oc.channel.Write(std::span(&go, 1));
    EXPECT_FALSE(oc.channel.IsConnectionLost());
}

TEST(TDBXSocketChannel, ConnectTimeoutBoundsOnlyTheFirstRead) {
    // Silent peer: the first read fails with the connect message after about the deadline, and the
    // layer is terminated afterwards.
    {
        ScriptedPeer peer([](PeerConnection& c, int) { c.Receive(1, 3000); });
        OpenChannel oc(PropsFor(peer.Port(), {{u"ConnectTimeout", u"300"}}));
        std::vector<std::uint8_t> buf(8);
        const auto ms = MillisecondsOf([&] {
            try {
                oc.channel.Read(buf);
                ADD_FAILURE() << "no timeout";
            } catch (const TDBXError& e) {
                EXPECT_EQ(e.ErrorCode(), 0);
                EXPECT_EQ(e.Message(), u"Connection timeout error");
            }
        });
        EXPECT_GE(ms, 280);
        EXPECT_LT(ms, 2500);
        EXPECT_EQ(oc.channel.Read(buf), -1);
        EXPECT_EQ(oc.channel.Write(buf), -1);
    }
    // A later read waits longer than the connect deadline.
    {
        ScriptedPeer peer([](PeerConnection& c, int) {
            c.Send("a");
            std::this_thread::sleep_for(600ms);
            c.Send("b");
            c.Receive(1, 3000);
        });
        OpenChannel oc(PropsFor(peer.Port(), {{u"ConnectTimeout", u"300"}}));
        std::vector<std::uint8_t> buf(8);
        EXPECT_EQ(oc.channel.Read(buf), 1);
        EXPECT_EQ(oc.channel.Read(buf), 1);
        EXPECT_EQ(buf[0], 'b');
    }
}

TEST(TDBXSocketChannel, CommunicationTimeoutBoundsReadsAfterTheFirst) {
    ScriptedPeer peer([](PeerConnection& c, int) {
        std::this_thread::sleep_for(500ms);
        c.Send("a");
        c.Receive(1, 3000);
    });
    OpenChannel oc(PropsFor(peer.Port(), {{u"CommunicationTimeout", u"300"}}));
    std::vector<std::uint8_t> buf(8);
    EXPECT_EQ(oc.channel.Read(buf), 1);  // the first read is not bounded by it
    try {
        oc.channel.Read(buf);
        FAIL();
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.Message(), u"Communication timeout error");
    }
}

// A peer that closes or resets the connection while a read waits is reported as such at once,
// timed read or not; only a deadline that passes gives a timeout error.
TEST(TDBXSocketChannel, PeerEndingTheConnectionDuringAReadIsNoTimeout) {
    struct Case {
        const char* name;
        const char16_t* property;  // the deadline set, if any
        bool afterFirstRead;       // the read that fails is a later one
        bool reset;
    } cases[] = {
        {"close, untimed", nullptr, false, false},
        {"close, connect deadline", u"ConnectTimeout", false, false},
        {"close, communication deadline", u"CommunicationTimeout", true, false},
        {"reset, untimed", nullptr, false, true},
        {"reset, connect deadline", u"ConnectTimeout", false, true},
        {"reset, communication deadline", u"CommunicationTimeout", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer([&](PeerConnection& conn, int) {
            if (c.afterFirstRead)
                conn.Send("a");
            std::this_thread::sleep_for(200ms);  // the client waits in its read meanwhile
            if (c.reset) {
                const linger abortive{1, 0};
                ::setsockopt(conn.Fd(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            }
            conn.Close();
        });
        OpenChannel oc(c.property ? PropsFor(peer.Port(), {{c.property, u"5000"}})
                                  : PropsFor(peer.Port()));
        std::vector<std::uint8_t> buf(8);
        if (c.afterFirstRead) {
            ASSERT_EQ(oc.channel.Read(buf), 1);
        }
        const auto ms = MillisecondsOf([&] {
            try {
                oc.channel.Read(buf);
                ADD_FAILURE() << "nothing raised";
            } catch (const ESocketError& e) {
                if (c.reset) {
                    EXPECT_EQ(e.LastError(), ECONNRESET);
                    EXPECT_EQ(e.Message().rfind(u"Socket error # ", 0), 0u) << ToUtf8(e.Message());
                } else {
                    EXPECT_EQ(e.LastError(), 0);
                    EXPECT_EQ(e.Message(), u"Connection closed by the peer");
                }
            } catch (const Exception& e) {
                ADD_FAILURE() << e.ClassName() << ": " << ToUtf8(e.Message());
            }
        });
        EXPECT_LT(ms, 2500) << "waited for the deadline";
        EXPECT_TRUE(oc.channel.IsConnectionLost());
        EXPECT_EQ(oc.channel.Read(buf), -1);
    }
}

// The peer's receive buffer stays at 256 KB instead of growing to the system's limit (tens of MB):
// a peer that reads nothing holds up a write soon, and one that reads opens its window often.
void SmallReceiveBuffer(PeerConnection& conn) {
    const int size = 128 << 10;  // the system doubles it
    ::setsockopt(conn.Fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

// A write the peer takes none of (it accepted and never reads, so the socket buffers fill) fails
// after the deadline of its phase with its own message, and the link is lost. A write that keeps
// moving, however slowly, takes as long as it needs.
TEST(TDBXSocketChannel, WriteDeadlineEndsAWriteThatMakesNoProgress) {
    struct Case {
        const char* name;
        const char16_t* property;
        bool afterFirstRead;
    } cases[] = {
        {"connect deadline, before the first read", u"ConnectTimeout", false},
        {"communication deadline, after the first read", u"CommunicationTimeout", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> done{false};
        ScriptedPeer peer([&](PeerConnection& conn, int) {
            SmallReceiveBuffer(conn);
            if (c.afterFirstRead)
                conn.Send("a");
            for (int i = 0; i < 1000 && !done; ++i)
                std::this_thread::sleep_for(10ms);
        });
        OpenChannel oc(PropsFor(peer.Port(), {{c.property, u"400"}}));
        std::vector<std::uint8_t> buf(16u << 20, 'x');
        if (c.afterFirstRead) {
            ASSERT_EQ(oc.channel.Read(std::span(buf).first(8)), 1);
        }
        const auto ms = MillisecondsOf([&] {
            try {
                oc.channel.Write(buf);
                ADD_FAILURE() << "the write ended";
            } catch (const TDBXError& e) {
                EXPECT_EQ(e.ErrorCode(), 0);
                EXPECT_EQ(e.Message(), u"Write timeout error");
            }
        });
        done = true;
        EXPECT_GE(ms, 380);
        EXPECT_LT(ms, 3000);
        EXPECT_TRUE(oc.channel.IsConnectionLost());
        EXPECT_EQ(oc.channel.Write(std::span(buf).first(1)), -1);
        EXPECT_EQ(oc.channel.Read(std::span(buf).first(8)), -1);
    }

    // The peer takes 64 KB every 20 ms: the whole write lasts well past the deadline, but no wait
    // for room does.
    const std::size_t size = 8u << 20;
    std::size_t received = 0;
    {
        ScriptedPeer peer([&](PeerConnection& conn, int) {
            SmallReceiveBuffer(conn);
            conn.Send("a");
            while (received < size) {
                const std::string got =
                    conn.Receive(std::min<std::size_t>(64 << 10, size - received));
                if (got.empty())
                    break;
                received += got.size();
                std::this_thread::sleep_for(20ms);
            }
        });
        OpenChannel oc(PropsFor(peer.Port(), {{u"CommunicationTimeout", u"400"}}));
        std::vector<std::uint8_t> buf(size, 'y');
        ASSERT_EQ(oc.channel.Read(std::span(buf).first(8)), 1);
        const auto ms = MillisecondsOf([&] { EXPECT_EQ(oc.channel.Write(buf), int(size)); });
        EXPECT_GT(ms, 800) << "the peer did not hold the write back; the case shows nothing";
    }
    EXPECT_EQ(received, size);
}

// Every connection has TCP keepalive, so a vanished peer is found also without deadlines. The
// client's socket is the one of this process whose peer is the scripted peer's port.
TEST(TDBXSocketChannel, EveryConnectionHasKeepalive) {
    ScriptedPeer peer([](PeerConnection& c, int) { c.Receive(1, 2000); });
    OpenChannel oc(PropsFor(peer.Port()));
    int fd = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int candidate = std::stoi(entry.path().filename().string());
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(candidate, reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
            addr.sin_family == AF_INET && ntohs(addr.sin_port) == peer.Port()) {
            fd = candidate;
            break;
        }
    }
    ASSERT_GE(fd, 0);
    auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t len = sizeof value;
        EXPECT_EQ(::getsockopt(fd, level, name, &value, &len), 0);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 6);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 120'000);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_NODELAY), 1);
}

TEST(TDBXSocketChannel, CloseMakesReadAndWriteFail) {
    ScriptedPeer peer([](PeerConnection& c, int) { c.Receive(1, 2000); });
    OpenChannel oc(PropsFor(peer.Port()));
    oc.channel.Close();
    std::vector<std::uint8_t> buf(4);
    EXPECT_EQ(oc.channel.Read(buf), -1);
    EXPECT_EQ(oc.channel.Write(buf), -1);
}

// Each way the link can break: the failure is raised once, the layer terminates itself, the
// connection counts as lost, and nothing more is read or written.
TEST(TDBXSocketChannel, ABrokenLinkIsLostAndCarriesNothingMore) {
    struct Case {
        const char* name;
        bool reset;  // the peer aborts the connection instead of closing it
        const char16_t* connectTimeout;
        bool write;
    } cases[] = {
        {"peer closes, plain read", false, u"", false},
        {"peer closes, timed read", false, u"5000", false},
        {"peer resets, plain read", true, u"", false},
        {"peer resets, write", true, u"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> opened{false}, closed{false};
        ScriptedPeer peer([&](PeerConnection& conn, int) {
            // Not before the client has seen its connect complete: a reset then fails the connect.
            for (int i = 0; i < 1000 && !opened; ++i)
                std::this_thread::sleep_for(5ms);
            if (c.reset) {
                const linger abortive{1, 0};
                ::setsockopt(conn.Fd(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            }
            conn.Close();
            closed = true;
        });
        OpenChannel oc(PropsFor(peer.Port(), {{u"ConnectTimeout", c.connectTimeout}}));
        opened = true;
        // The peer accepts when it next looks (up to 100 ms), then closes; the close or reset
        // arrives on loopback at once.
        for (int i = 0; i < 1000 && !closed; ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(50ms);
        std::vector<std::uint8_t> buf(64, 'x');
        try {
            if (c.write)
                oc.channel.Write(buf);
            else
                oc.channel.Read(buf);
            ADD_FAILURE() << "nothing raised";
        } catch (const Exception& e) {
            EXPECT_FALSE(e.Message().empty());
        }
        EXPECT_TRUE(oc.channel.IsConnectionLost());
        EXPECT_EQ(oc.channel.Read(buf), -1);
        EXPECT_EQ(oc.channel.Write(buf), -1);
    }
}

// Terminate from another thread ends a read waiting on a silent peer, or a write that a peer not
// reading holds up, at once; the descriptor stays open until Close on the owner's thread.
TEST(TDBXSocketChannel, TerminateFromAnotherThreadEndsABlockedReadOrWrite) {
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "write" : "read");
        std::atomic<bool> done{false};
        ScriptedPeer peer([&](PeerConnection&, int) {
            for (int i = 0; i < 500 && !done; ++i)
                std::this_thread::sleep_for(10ms);
        });
        OpenChannel oc(PropsFor(peer.Port()));
        std::vector<std::uint8_t> buf(write ? 64u << 20 : 64u, 'x');
        int result = 0;
        std::atomic<bool> returned{false};
        std::thread blocked([&] {
            result = write ? oc.channel.Write(buf) : oc.channel.Read(buf);
            returned = true;
        });
        std::this_thread::sleep_for(200ms);
        EXPECT_FALSE(returned) << "did not block";
        const auto ms = MillisecondsOf([&] {
            oc.channel.GetLayer()->Terminate();
            blocked.join();
        });
        done = true;
        EXPECT_LT(ms, 500);
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(oc.channel.IsConnectionLost());
        oc.channel.Close();
        EXPECT_FALSE(oc.channel.IsConnectionLost());  // closed on purpose, not lost
    }
}

// "ConnectTimeout" bounds the TCP connect too: a connect whose SYNs go unanswered fails with the
// first read's timeout error instead of waiting for the system's own limit.
TEST(TDBXSocketChannel, ConnectTimeoutBoundsTheTcpConnect) {
    test::FullBacklogListener swallower;
    if (!swallower.Hangs())
        GTEST_SKIP() << "this kernel answers a connect to a full accept queue at once";
    auto props = PropsFor(swallower.Port(), {{u"ConnectTimeout", u"300"}});
    TDBXSocketChannel channel;
    channel.SetDBXProperties(&props);
    const auto ms = MillisecondsOf([&] {
        try {
            channel.Open();
            ADD_FAILURE() << "connected";
        } catch (const TDBXError& e) {
            EXPECT_EQ(e.ErrorCode(), 0);
            EXPECT_EQ(e.Message(), u"Connection timeout error");
        }
    });
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 1000);
    std::vector<std::uint8_t> buf(4);
    EXPECT_EQ(channel.Read(buf), -1);
}

// A gather write larger than the socket buffers blocks; signals that interrupt it make the send
// return early, inside a part or at its end, and it resumes exactly there. Empty parts are passed
// over.
TEST(TDBXSocketChannel, GatherWriteResumesAfterInterruptedSends) {
    std::vector<std::vector<std::uint8_t>> parts;
    std::string expected;
    for (const std::size_t size : {19u, 6u << 20, 0u, 2u, 3u << 20}) {
        parts.emplace_back(size);
        for (std::size_t i = 0; i < size; ++i)
            parts.back()[i] = static_cast<std::uint8_t>(i * 31 + parts.size());
        expected.append(parts.back().begin(), parts.back().end());
    }
    struct sigaction action {};
    action.sa_handler = [](int) {};  // no SA_RESTART: a blocked send returns what it sent
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    std::string received;
    {
        ScriptedPeer peer([&](PeerConnection& c, int) {
            std::this_thread::sleep_for(300ms);  // the send buffer fills meanwhile
            received = c.Receive(expected.size());
        });
        OpenChannel oc(PropsFor(peer.Port()));
        std::atomic<bool> done{false};
        const pthread_t writer = ::pthread_self();
        std::thread interrupter([&] {
            for (int i = 0; i < 20 && !done; ++i) {
                std::this_thread::sleep_for(10ms);
                ::pthread_kill(writer, SIGUSR1);
            }
        });
        const std::vector<std::span<const std::uint8_t>> spans(parts.begin(), parts.end());
        EXPECT_EQ(oc.channel.WriteParts(spans), static_cast<int>(expected.size()));
        done = true;
        interrupter.join();
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(received == expected) << received.size() << " bytes received";
}

TEST(TDBXSocketChannel, LayerSelectionAndPropertyRules) {
    ScriptedPeer peer([](PeerConnection& c, int) { c.Receive(1, 2000); });
    const std::u16string portPlus65536 = IntToStr(peer.Port() + 65536);
    struct Case {
        const char16_t* name;
        const char16_t* value;
        bool opens;
    } cases[] = {
        {u"CommunicationProtocol", u"", true},
        {u"CommunicationProtocol", u"TCP/IP", true},
        {u"CommunicationIPVersion", u"IPv6", true},  // not one of the two names: IPv4
        {u"CommunicationIPVersion", u" ip_ipv4 ", true},
        {u"CommunicationIPVersion", u"ip_ipv6", false},  // 127.0.0.1 is no IPv6 address
        {u"Port", portPlus65536.c_str(), true},          // low 16 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.value));
        auto props = PropsFor(peer.Port());
        props.SetValue(c.name, c.value);
        TDBXSocketChannel channel;
        channel.SetDBXProperties(&props);
        if (c.opens) {
            EXPECT_NO_THROW(channel.Open());
            ASSERT_NE(channel.GetChannelInfo(), nullptr);
            EXPECT_EQ(channel.GetChannelInfo()->Id(), 0);
        } else {
            EXPECT_THROW(channel.Open(), ESocketError);
        }
    }
}

TEST(TDBXSocketChannel, OpenErrors) {
    ScriptedPeer peer([](PeerConnection& c, int) { c.Receive(1, 2000); });
    auto expectMessage = [&](TDBXProperties props, const std::u16string& message) {
        TDBXSocketChannel channel;
        channel.SetDBXProperties(&props);
        try {
            channel.Open();
            ADD_FAILURE() << "opened";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
    };
    expectMessage(PropsFor(peer.Port(), {{u"CommunicationProtocol", u"http"}}),
                  u"Protocol http can be used after an adequate instance of TDBXCommunicationLayer "
                  u"is registered with TDBXCommunicationLayerFactory.");
    expectMessage(PropsFor(peer.Port(), {{u"ConnectTimeout", u"soon"}}),
                  u"'soon' is not a valid integer value");
    expectMessage(PropsFor(peer.Port(), {{u"IPImplementationID", u"Other"}}),
                  u"No peer with the interface with guid {2F8D6C0B-5E41-4B27-9C3A-7A1E0D4B6F12} "
                  u"has been registered with the current implementation (Other)");
    // Nobody listens on the port once the peer is gone: the platform's error.
    int closedPort;
    {
        ScriptedPeer gone([](PeerConnection&, int) {});
        closedPort = gone.Port();
    }
    auto props = PropsFor(closedPort);
    TDBXSocketChannel channel;
    channel.SetDBXProperties(&props);
    EXPECT_THROW(channel.Open(), ESocketError);
}

}  // namespace
}  // namespace ab

namespace ab {
namespace {

TEST(TDBXSocketChannel, IPv6ByCommunicationIPVersion) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, 1) != 0) {
        if (listener >= 0)
            ::close(listener);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::thread peer([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd >= 0) {
            ::send(fd, "6", 1, MSG_NOSIGNAL);
            char c;
            ::recv(fd, &c, 1, 0);
            ::close(fd);
        }
    });
    TDBXProperties props;
    props.Add(u"HostName", u"::1");
    props.Add(u"Port", IntToStr(ntohs(addr.sin6_port)));
    props.Add(u"CommunicationIPVersion", u"ip_IPv6");
    TDBXSocketChannel channel;
    channel.SetDBXProperties(&props);
    channel.Open();
    std::vector<std::uint8_t> buf(4);
    EXPECT_EQ(channel.Read(buf), 1);
    EXPECT_EQ(buf[0], '6');
    channel.Close();
    peer.join();
    ::close(listener);
}

}  // namespace
}  // namespace ab
