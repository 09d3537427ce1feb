// What the update server lets a connection cost: the bytes a stranger may send before its login,
// the time it has to log in and the time a logged-in client may leave the server waiting, and the
// places strangers may hold while logged-in sessions and newcomers are served.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <future>
#include <optional>
#include <thread>

#include "ServerMessages.h"
#include "ServerTestSupport.h"
#include "UpdateServerFixture.h"

namespace ab::server {
namespace {

using namespace std::chrono_literals;
using test::Ascii;
using test::Base64;
using test::Bytes;
using test::Cat;
using test::ConnectMessage;
using test::ErrorReply;
using test::Execute;
using test::Hex;
using test::RawClient;
using test::Result;
using test::StringField;

using UpdateServerLimitsTest = test::UpdateServerFixture;
using Clock = std::chrono::steady_clock;

// A connect message padded with an extra property so that, after the five-byte filter query, the
// client has sent exactly `total` bytes.
std::string ConnectOfTotal(std::uint16_t port, std::size_t total) {
    std::string message = ConnectMessage(port);
    const std::size_t at = message.find("[{") + 2;
    const std::size_t frame = std::string("\"Extra\":\"\",").size();
    message.insert(at,
                   "\"Extra\":\"" + std::string(total - 5 - message.size() - frame, 'x') + "\",");
    return message;
}

Bytes AskNothing() {
    return Execute(1, Cat({StringField(Base64("S01\\nada.txt")), Hex("C0")}));
}

TEST_F(UpdateServerLimitsTest, ConnectMessageOverTheLoginBoundIsRefusedAsItIsRead) {
    TServerOptions o;
    o.maxLoginBytes = 1024;
    Start(o);
    const std::string refused = ErrorReply(30, "More than 1024 bytes before login");
    const struct {
        const char* what;
        std::size_t total;  // bytes before the login answer, the filter query's five included
        bool accepted;
    } cases[] = {
        {"exactly the bound", 1024, true},
        {"one byte over", 1025, false},
        {"far over", 10000, false},
    };
    int handle = 1;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        RawClient c(port_);
        test::Handshake(c);
        c.Send(ConnectOfTotal(port_, k.total));
        if (k.accepted) {
            EXPECT_EQ(c.ReadUntil("]}"),
                      "{\"result\":[" + std::to_string(handle++) + ",\"AtualizadorServidor\",2]}");
            // Past the login the bound is lifted.
            c.Send(test::Prepare("TZvServer.PropertsFile" + std::string(2000, ' ')));
            EXPECT_EQ(c.ReadUntil("}"), ErrorReply(24,
                                                   "Server method not found: "
                                                   "TZvServer.PropertsFile" +
                                                       std::string(2000, ' ')));
        } else {
            EXPECT_EQ(c.ReadText(refused.size()), refused);
            EXPECT_TRUE(c.PeerClosed());
        }
    }
}

TEST_F(UpdateServerLimitsTest, StrangersAndIdleClientsAreClosedAtTheirDeadlines) {
    TServerOptions o;
    o.loginTimeout = 400ms;
    o.idleTimeout = 400ms;
    Start(o);
    const auto start = Clock::now();
    RawClient silent(port_);
    RawClient trickling(port_);
    RawClient idle(port_);
    Login(idle);
    RawClient talking(port_);
    Login(talking, 2);
    ASSERT_EQ(PrepareText(talking, "TZvServer.PropertsFile",
                          test::PrepareReply(1, test::kPropertsFileParameters).size()),
              test::PrepareReply(1, test::kPropertsFileParameters));

    // The login deadline runs from the accept, whatever the stranger sends meanwhile.
    test::Handshake(trickling);
    auto trickle = std::async(std::launch::async, [&]() -> std::optional<Clock::duration> {
        for (int i = 0; i < 30; ++i) {
            if (::send(trickling.Fd(), " ", 1, MSG_NOSIGNAL) != 1 ||
                trickling.ClosedWithoutAnswer(100ms))
                return Clock::now() - start;
        }
        return std::nullopt;
    });

    // A logged-in client that keeps asking is served past both times.
    const Bytes none = Result(Hex("C0 20"));
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(150ms);
        talking.Send(AskNothing());
        ASSERT_EQ(talking.Read(none.size()), none) << i;
    }
    const auto trickleClosed = trickle.get();
    ASSERT_TRUE(trickleClosed.has_value());
    EXPECT_GE(*trickleClosed, 350ms);
    EXPECT_LT(*trickleClosed, 1500ms);
    EXPECT_TRUE(silent.ClosedWithoutAnswer(100ms));
    EXPECT_TRUE(idle.ClosedWithoutAnswer(100ms));
    EXPECT_FALSE(talking.ClosedWithoutAnswer(100ms));
}

// Strangers hold at most their own places; a newcomer takes the place of the one that has waited
// longest, so logged-in sessions and new real clients are served while strangers keep coming, and
// only a server full of logged-in sessions turns a newcomer away.
TEST_F(UpdateServerLimitsTest, StrangersGiveTheirPlacesToNewcomers) {
    TServerOptions o;
    o.maxConnections = 4;
    o.maxPendingLogins = 3;
    o.loginTimeout = 0ms;  // strangers leave only to make room
    Start(o);
    const Bytes none = Result(Hex("C0 20"));
    const std::string prepared = test::PrepareReply(1, test::kPropertsFileParameters);
    std::vector<std::unique_ptr<RawClient>> sessions;
    auto newSession = [&](int handle) {
        sessions.push_back(std::make_unique<RawClient>(port_));
        RawClient& c = *sessions.back();
        Login(c, handle);
        ASSERT_EQ(PrepareText(c, "TZvServer.PropertsFile", prepared.size()), prepared);
    };
    auto allAnswer = [&] {
        for (auto& s : sessions) {
            s->Send(AskNothing());
            EXPECT_EQ(s->Read(none.size()), none);
        }
    };
    newSession(1);

    std::vector<std::unique_ptr<RawClient>> strangers;
    for (int i = 0; i < 20; ++i) {
        strangers.push_back(std::make_unique<RawClient>(port_));
        ASSERT_TRUE(server_->WaitForConnections(1 + strangers.size(), 5s));
    }
    newSession(2);
    allAnswer();
    // The three last strangers held the places; the newcomer took the oldest one's.
    for (std::size_t i = 0; i < strangers.size(); ++i)
        EXPECT_EQ(strangers[i]->PeerClosed(i < 18 ? 2s : 100ms), i < 18) << i;

    // Two more real clients take the last strangers' places; the fifth client finds every place
    // logged in and is closed at once, and the sessions go on.
    newSession(3);
    newSession(4);
    EXPECT_TRUE(strangers[18]->PeerClosed());
    EXPECT_TRUE(strangers[19]->PeerClosed());
    RawClient refused(port_);
    EXPECT_TRUE(refused.ClosedWithoutAnswer());
    allAnswer();
}

}  // namespace
}  // namespace ab::server
