// Requests written ahead of their answers: the round trips the server counts for a client that
// waits on every answer and for one that writes ahead, and the faults that play servers which
// cannot take requests ahead or ignore the client's BufferKBSize.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ServerMessages.h"
#include "ServerTestSupport.h"
#include "UpdateServerFixture.h"

namespace ab::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Ascii;
using test::Base64;
using test::Bytes;
using test::Cat;
using test::ErrorReply;
using test::Execute;
using test::Hex;
using test::kExampleStamp;
using test::PrepareReply;
using test::RawClient;
using test::Result;
using test::StringField;

using UpdateServerAheadTest = test::UpdateServerFixture;

// One send of the client and the answers it then waits for (none: it goes on writing).
struct Step {
    Bytes send;
    Bytes answers;
    int messages = 1;
};

Step Join(const std::vector<Step>& steps) {
    Step all{{}, {}, 0};
    for (const auto& s : steps) {
        all.send.insert(all.send.end(), s.send.begin(), s.send.end());
        all.answers.insert(all.answers.end(), s.answers.begin(), s.answers.end());
        all.messages += s.messages;
    }
    return all;
}

Bytes AskFor(const std::string& name) {
    return Execute(1, Cat({StringField(Base64(name)), Hex("C0")}));
}

Bytes Block(const Bytes& value, std::size_t from, std::size_t count) {
    const bool last = from + count == value.size();
    const auto signedCount = static_cast<long long>(count);
    std::string n = std::to_string(last ? -signedCount : signedCount);
    n.resize(std::max<std::size_t>(n.size(), 9), ' ');
    return Cat({Ascii("{\"data\":[" + n + ","),
                Bytes(value.begin() + static_cast<std::ptrdiff_t>(from),
                      value.begin() + static_cast<std::ptrdiff_t>(from + count)),
                Ascii("]}")});
}

// The lines the server logged about one connection, in order, without the program's prefix.
std::vector<std::string> LogLines(const std::string& log, int connection) {
    const std::string prefix = "atualizador-servidor: conexao " + std::to_string(connection) + ": ";
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            lines.push_back(line.substr(prefix.size()));
    return lines;
}

// A round trip is a wait on the client after answers left, so a client that waits on every answer
// costs one per answered send, and the same requests written ahead cost one per batch: a batch
// larger than the server's 32 KB read buffer too, and requests that get no answer cost none. The
// server logs each one and a summary when the connection ends.
TEST_F(UpdateServerAheadTest, RoundTripsAreTheWaitsAfterAnswers) {
    TServerOptions o;
    o.log = true;
    Start(o);
    fs::create_directories(Root() / "S01");
    std::ofstream(Root() / "S01" / "velho.txt") << "v";

    const Bytes none = Result(Hex("C0 20"));
    const Bytes value = test::VariantBytes(
        test::MakePacket("S01\\grande.bin", kExampleStamp, test::RandomBytes(5000, 3)));
    const Bytes pull = Ascii("{\"more_blob\":[3,1,0,0,0]}");
    const std::vector<Step> login = {
        {Hex("05 05 05 05 05"), Hex("06 00 00 00 00")},
        {Ascii(test::ConnectMessage(port_)), {}},  // the reply's handle differs per connection
    };
    const std::vector<Step> prepares = {
        {Ascii(test::Prepare("TZvServer.PropertsFile")),
         Ascii(PrepareReply(1, test::kPropertsFileParameters))},
        {Ascii(test::Prepare("TZvServer.EchoString")),
         Ascii(PrepareReply(2,
                            "{\"parameters\":[2,[26,0,1,2000,0,\"Value\",0,0,0],"
                            "[26,0,4,2000,0,\"ReturnParameter\",0,0,0]]}"))},
        {Ascii(test::Prepare("TZvServer.SendFile")),
         Ascii(PrepareReply(3, test::kSendFileParameters))},
    };
    std::vector<Step> asks;
    for (int i = 0; i < 5; ++i)
        asks.push_back({AskFor("S01\\nada" + std::to_string(i) + ".txt"), none});
    asks.push_back({Ascii(R"({"method":"reader_close","params":[1,1]})"), {}});
    asks.push_back({AskFor("S01\\nada.txt"), none});
    // Echoes of 1,000 characters: 40 of them pass the server's read buffer.
    std::vector<Step> echoes;
    for (int i = 0; i < 40; ++i) {
        const std::string text(1000, static_cast<char>('a' + i % 26));
        echoes.push_back({Execute(2, Cat({StringField(text), Hex("C0")})),
                          Result(Cat({Hex("C0"), StringField(text)}))});
    }
    // A file the server pulls in two segments goes alone, as a client sends it.
    const std::vector<Step> send = {
        {Execute(3, Cat({Hex("50 00 14"), Bytes(value.begin(), value.begin() + 20), Hex("60 C0")})),
         pull},
        {Block(value, 20, 3000), pull},
        {Block(value, 3020, value.size() - 3020), Result(Hex("C0 C0 60"))},
        {Ascii(R"({"method":"disconnect","params":[1]})"), {}},
    };

    auto concat = [](std::initializer_list<std::vector<Step>> parts) {
        std::vector<Step> all;
        for (const auto& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
    } clients[] = {
        {"one request at a time", concat({login, prepares, asks, echoes, send})},
        {"written ahead", concat({login, {Join(prepares)}, {Join(asks)}, {Join(echoes)}, send})},
    };
    testing::internal::CaptureStderr();
    int connection = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> expected;  // round trips, messages
    for (const auto& client : clients) {
        SCOPED_TRACE(client.what);
        RawClient c(port_);
        std::int64_t waits = 0;
        std::int64_t messages = 0;
        for (const auto& step : client.steps) {
            c.Send(step.send);
            messages += step.messages;
            if (step.send == login[1].send) {
                EXPECT_TRUE(c.ReadUntil("]}").starts_with("{\"result\":["));
                ++waits;
            } else if (!step.answers.empty()) {
                ASSERT_EQ(c.Read(step.answers.size()), step.answers);
                ++waits;
            }
        }
        ASSERT_TRUE(c.ClosedWithoutAnswer());
        ASSERT_TRUE(server_->WaitConnectionClosed(static_cast<std::size_t>(connection), 5s));
        EXPECT_EQ(server_->RoundTrips(static_cast<std::size_t>(connection)), waits);
        EXPECT_EQ(server_->ConnectionMessages(static_cast<std::size_t>(connection)), messages);
        expected.emplace_back(waits, messages);
        ++connection;
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(expected[0], std::make_pair(std::int64_t{54}, std::int64_t{56}));
    EXPECT_EQ(expected[1], std::make_pair(std::int64_t{8}, std::int64_t{56}));
    for (int n = 1; n <= connection; ++n) {
        SCOPED_TRACE(n);
        const auto [waits, messages] = expected[static_cast<std::size_t>(n - 1)];
        std::vector<std::string> counted;
        for (const auto& line : LogLines(log, n))
            if (line.starts_with("ida e volta ") || line.find("idas e voltas") != std::string::npos)
                counted.push_back(line);
        std::vector<std::string> wanted;
        for (std::int64_t k = 1; k <= waits; ++k)
            wanted.push_back("ida e volta " + std::to_string(k));
        wanted.push_back(std::to_string(waits) + " idas e voltas, " + std::to_string(messages) +
                         " mensagens");
        EXPECT_EQ(counted, wanted);
    }
}

// Servers that cannot take requests ahead: one drops what it received behind a request it
// answers, the other closes the connection. Both take the requests a waiting client writes back
// to back (a close with no answer, then the next request), and a request written alone.
TEST_F(UpdateServerAheadTest, RequestsAheadAreDroppedOrCloseTheConnection) {
    const Bytes none = Result(Hex("C0 20"));
    const Bytes closeThenAsk =
        Cat({Ascii(R"({"method":"reader_close","params":[1,1]})"), AskFor("S01\\a.txt")});
    const Bytes twoAhead = Cat({AskFor("S01\\a.txt"), AskFor("S01\\b.txt")});
    for (const bool drop : {true, false}) {
        SCOPED_TRACE(drop ? "drop" : "close");
        TServerOptions o;
        o.dropRequestsAhead = drop;
        o.closeOnRequestsAhead = !drop;
        Start(o);
        RawClient c(port_);
        Login(c);
        const std::string prepared = PrepareReply(1, test::kPropertsFileParameters);
        ASSERT_EQ(PrepareText(c, "TZvServer.PropertsFile", prepared.size()), prepared);
        c.Send(AskFor("S01\\a.txt"));
        EXPECT_EQ(c.Read(none.size()), none);
        c.Send(closeThenAsk);
        EXPECT_EQ(c.Read(none.size()), none);

        c.Send(twoAhead);
        if (drop) {
            EXPECT_EQ(c.Read(none.size()), none);
            EXPECT_TRUE(c.Quiet(300ms));  // the second request is gone
            c.Send(AskFor("S01\\c.txt"));
            EXPECT_EQ(c.Read(none.size()), none);
        } else {
            EXPECT_TRUE(c.ClosedWithoutAnswer());
        }
        server_->Stop();
    }
}

// A server that keeps 32 KB buffers whatever the client's BufferKBSize: a client that believes
// its larger buffers were taken sends blocks that do not fit, and each is refused on its count
// with an error reply, the connection closed; a block that fits a 32 KB buffer is taken.
TEST_F(UpdateServerAheadTest, IgnoredBufferKBSizeRefusesBlocksLargerThan32KB) {
    TServerOptions o;
    o.ignoreBufferKBSize = true;
    Start(o);
    const Bytes content = test::RandomBytes(200000, 9);
    const Bytes value = test::VariantBytes(test::MakePacket("S01\\b.bin", kExampleStamp, content));
    const std::string pull = "{\"more_blob\":[1,1,0,0,0]}";
    auto refused = [](std::size_t n) {
        return ErrorReply(
            14, "Data block of " + std::to_string(n) + " bytes does not fit the 32768-byte buffer");
    };
    const struct {
        const char* what;
        std::size_t inlineBytes;  // value bytes inside the execute's row
        std::size_t block;        // segment block size, the last one excepted
        bool accepted;
    } cases[] = {
        {"an execute row of 1 MB buffers", 65000, 0, false},
        {"segments of 1 MB buffers", 1024, 1048555, false},
        {"segments that fill 32 KB buffers", 1024, 32747, true},
    };
    int handle = 1;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        RawClient c(port_);
        test::Handshake(c);
        std::string connect = test::ConnectMessage(port_);
        connect.insert(connect.find("[{") + 2, "\"BufferKBSize\":\"1024\",");
        c.Send(connect);
        ASSERT_TRUE(c.ReadUntil("]}").starts_with("{\"result\":[" + std::to_string(handle++)));
        const std::string prepared = PrepareReply(1, test::kSendFileParameters);
        ASSERT_EQ(PrepareText(c, "TZvServer.SendFile", prepared.size()), prepared);

        const std::size_t rowBytes = 3 + k.inlineBytes + 2;
        const Bytes head =
            Ascii("{\"method\":\"execute\",\"params\":[{\"handle\":[1]},{\"data\":[" +
                  std::to_string(rowBytes) + ",");
        if (rowBytes > 32747) {
            // Refused on the count: the row itself need not follow.
            c.Send(head);
            EXPECT_EQ(c.ReadUntil("}"), refused(rowBytes));
            EXPECT_TRUE(c.PeerClosed());
            continue;
        }
        c.Send(
            Cat({head,
                 Bytes{0x50, static_cast<std::uint8_t>(k.inlineBytes >> 8),
                       static_cast<std::uint8_t>(k.inlineBytes)},
                 Bytes(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(k.inlineBytes)),
                 Hex("60 C0"), Ascii("]}]}")}));
        std::size_t at = k.inlineBytes;
        while (at < value.size()) {
            ASSERT_EQ(c.ReadUntil("]}"), pull);
            const std::size_t n = std::min(k.block, value.size() - at);
            if (!k.accepted) {
                c.Send(Ascii("{\"data\":[" + std::to_string(n) + "  ,"));
                EXPECT_EQ(c.ReadUntil("}"), refused(n));
                EXPECT_TRUE(c.PeerClosed());
                break;
            }
            c.Send(Block(value, at, n));
            at += n;
        }
        if (k.accepted) {
            const Bytes stored = Result(Hex("C0 C0 60"));
            EXPECT_EQ(c.ReadUntil("]}]}"), std::string(stored.begin(), stored.end()));
            EXPECT_EQ(test::ReadFile(Root() / "S01" / "b.bin"), content);
        }
    }
}

}  // namespace
}  // namespace ab::server
