// The update server announcing transport filters: a client-side filter channel adopts them, and
// the connect message, a SendFile and a PropertsFile travel framed and transformed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>

#include "ServerTestSupport.h"
#include "server/TUpdateServer.h"
#include "transport/TDBXFilterSocketChannel.h"

namespace ab::server {
namespace {

namespace fs = std::filesystem;
using test::Ascii;
using test::Bytes;
using test::Cat;
using test::Hex;

// A plain socket as a channel, for the client side of the filter channel.
class SocketChannel : public TDbxChannel {
  public:
    explicit SocketChannel(int fd) : fd_(fd) {}
    void Open() override {}
    void Close() override {}
    int Read(std::span<std::uint8_t> dest) override {
        const ssize_t n = ::recv(fd_, dest.data(), dest.size(), 0);
        return n > 0 ? static_cast<int>(n) : -1;
    }
    int Write(std::span<const std::uint8_t> src) override {
        return ::send(fd_, src.data(), src.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(src.size())
                   ? static_cast<int>(src.size())
                   : -1;
    }

  private:
    int fd_;
};

Bytes ReadExactly(TDbxChannel& channel, std::size_t n) {
    Bytes out(n);
    std::size_t got = 0;
    while (got < n) {
        const int r = channel.Read(std::span(out).subspan(got));
        if (r <= 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return out;
}

void Send(TDbxChannel& channel, const Bytes& bytes) {
    ASSERT_GE(channel.Write(bytes), 0);
}

class UpdateServerFiltersTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UpdateServerFiltersTest, PublishExchangeThroughTheFilters) {
    test::TempDir dir;
    TServerOptions o;
    o.port = 0;
    o.root = dir.Path();
    o.filters = GetParam();
    o.keepReceived = true;
    TUpdateServer server(o);
    const std::uint16_t port = server.Start();

    test::RawClient socket(port);
    TDBXFilterSocketChannel channel(std::make_unique<SocketChannel>(socket.Fd()));
    const std::string connect =
        "{\"method\":\"connect\",\"params\":[{\"DSAuthenticationPassword\":"
        "\"6485B9B5C668BE12667E6690BE732C1F\",\"DSAuthenticationUser\":\"Atualizador\"}]}";
    Send(channel, Ascii(connect));
    ASSERT_TRUE(channel.HasFilters());
    const std::string reply = "{\"result\":[1,\"AtualizadorServidor\",2]}";
    ASSERT_EQ(ReadExactly(channel, reply.size()), Ascii(reply));

    Send(
        channel,
        Ascii(
            R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.SendFile"]})"));
    const std::string prepared =
        "{\"result\":[{\"handle\":[1]},{\"parameters\":[3,[35,0,1,0,0,\"Dados\",0,0,0],"
        "[4,0,1,0,0,\"ChecarMaisAtual\",0,0,0],[4,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}";
    ASSERT_EQ(ReadExactly(channel, prepared.size()), Ascii(prepared));
    const Bytes content = test::RandomBytes(20000, 5);
    const Bytes value =
        test::VariantBytes(test::MakePacket("S01\\f.bin", 63585513000000.0, content));
    Send(channel, Cat({Ascii("{\"method\":\"execute\",\"params\":[{\"handle\":[1]},{\"data\":[" +
                             std::to_string(value.size() + 5) + ","),
                       Hex("10"),
                       Bytes{static_cast<std::uint8_t>(value.size() >> 8),
                             static_cast<std::uint8_t>(value.size())},
                       value, Hex("60 C0"), Ascii("]}]}")}));
    const Bytes result = Cat({Ascii("{\"result\":[{\"data\":[3,"), Hex("C0 C0 60"), Ascii("]}]}")});
    EXPECT_EQ(ReadExactly(channel, result.size()), result);
    // On the wire: the query, then framed blocks only.
    const Bytes wire = server.ReceivedBytes(0);
    ASSERT_GT(wire.size(), 6u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 5), Hex("05 05 05 05 05"));
    EXPECT_TRUE(wire[5] == 0x0D || wire[5] == 0x07);
    if (std::string(GetParam()).find("PC1") != std::string::npos) {  // enciphered
        EXPECT_EQ(std::search(wire.begin(), wire.end(), content.begin(), content.begin() + 64),
                  wire.end());
    }
    std::ifstream in(dir.Path() / "S01" / "f.bin", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), content);
}

// Requests in flight through the filters: each request is its own frame, written before any
// answer is read; the answers come back in order, whole, however the frames shared reads.
TEST_P(UpdateServerFiltersTest, RequestsInFlightThroughTheFilters) {
    test::TempDir dir;
    TServerOptions o;
    o.port = 0;
    o.root = dir.Path();
    o.filters = GetParam();
    TUpdateServer server(o);
    const std::uint16_t port = server.Start();
    fs::create_directories(dir.Path() / "S01");
    std::ofstream(dir.Path() / "S01" / "a.txt") << "x";
    std::tm tm{};
    tm.tm_year = 2015 - 1900, tm.tm_mon = 11, tm.tm_mday = 10, tm.tm_hour = 8, tm.tm_min = 30;
    tm.tm_isdst = -1;
    const timespec stamp[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir.Path() / "S01" / "a.txt").c_str(), stamp, 0), 0);

    test::RawClient socket(port);
    TDBXFilterSocketChannel channel(std::make_unique<SocketChannel>(socket.Fd()));
    Send(channel, Ascii("{\"method\":\"connect\",\"params\":[{\"DSAuthenticationPassword\":"
                        "\"6485B9B5C668BE12667E6690BE732C1F\",\"DSAuthenticationUser\":"
                        "\"Atualizador\"}]}"));
    const std::string connected = "{\"result\":[1,\"AtualizadorServidor\",2]}";
    ASSERT_EQ(ReadExactly(channel, connected.size()), Ascii(connected));
    Send(
        channel,
        Ascii(
            R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.PropertsFile"]})"));
    const std::string prepared =
        "{\"result\":[{\"handle\":[1]},{\"parameters\":[2,[26,0,1,0,0,\"Arquivo\",0,0,0],"
        "[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}";
    ASSERT_EQ(ReadExactly(channel, prepared.size()), Ascii(prepared));

    auto execute = [](const std::string& base64) {
        return Cat({Ascii("{\"method\":\"execute\",\"params\":[{\"handle\":[1]},{\"data\":[" +
                          std::to_string(base64.size() + 2) + ","),
                    Bytes{static_cast<std::uint8_t>(0x20 + base64.size())}, Ascii(base64),
                    Hex("C0"), Ascii("]}]}")});
    };
    auto result = [](const Bytes& row) {
        return Cat({Ascii("{\"result\":[{\"data\":[" + std::to_string(row.size()) + ","), row,
                    Ascii("]}]}")});
    };
    const Bytes held = result(Cat({Hex("C0 2F"), Ascii("20151210083000;")}));
    const Bytes none = result(Hex("C0 20"));
    Bytes expected;
    for (int i = 0; i < 12; ++i) {
        const bool asksHeld = i % 3 == 0;
        Send(channel, execute(asksHeld ? "UzAxXGEudHh0" : "UzAxXGIudHh0"));  // S01\a.txt, b.txt
        const Bytes& answer = asksHeld ? held : none;
        expected.insert(expected.end(), answer.begin(), answer.end());
    }
    EXPECT_EQ(ReadExactly(channel, expected.size()), expected);
    EXPECT_EQ(server.MessageCount(), 2 + 1 + 12);
}

TEST_P(UpdateServerFiltersTest, MessageFaultsWithFiltersOn) {
    const std::string connect =
        "{\"method\":\"connect\",\"params\":[{\"DSAuthenticationPassword\":"
        "\"6485B9B5C668BE12667E6690BE732C1F\",\"DSAuthenticationUser\":\"Atualizador\"}]}";
    const std::string prepare =
        R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.SendFile"]})";
    const std::string connected = "{\"result\":[1,\"AtualizadorServidor\",2]}";
    auto error = [](int k) {
        return "{\"error\":{\"name\":\"TDBXError\",\"code\":101,\"message\":\"Falha injetada na "
               "mensagem " +
               std::to_string(k) + "\"}";
    };
    struct Case {
        int k;
        bool drop;
    };
    for (const Case c : {Case{1, true}, Case{1, false}, Case{2, true}, Case{2, false},
                         Case{3, true}, Case{3, false}}) {
        SCOPED_TRACE(std::string(c.drop ? "drop" : "error") + " at " + std::to_string(c.k));
        test::TempDir dir;
        TServerOptions o;
        o.port = 0;
        o.root = dir.Path();
        o.filters = GetParam();
        o.keepReceived = true;
        (c.drop ? o.dropAtMessage : o.errorAtMessage) = c.k;
        TUpdateServer server(o);
        const std::uint16_t port = server.Start();
        test::RawClient socket(port);
        if (c.k == 1) {
            // The query is not answered: closed, or the error object in the answer's place.
            socket.Send(Hex("05 05 05 05 05"));
            if (!c.drop) {
                EXPECT_EQ(socket.ReadText(error(1).size()), error(1));
            }
            EXPECT_TRUE(socket.ClosedWithoutAnswer());
            ASSERT_TRUE(server.WaitConnectionClosed(0, std::chrono::seconds(5)));
            EXPECT_EQ(server.ReceivedBytes(0), Hex("05 05 05 05 05"));
            EXPECT_EQ(server.MessageCount(), 1);
            continue;
        }
        TDBXFilterSocketChannel channel(std::make_unique<SocketChannel>(socket.Fd()));
        Send(channel, Ascii(connect));
        ASSERT_TRUE(channel.HasFilters());
        if (c.k == 3) {
            ASSERT_EQ(ReadExactly(channel, connected.size()), Ascii(connected));
            Send(channel, Ascii(prepare));
        }
        if (c.drop) {
            std::uint8_t b;
            EXPECT_EQ(channel.Read(std::span(&b, 1)), -1);
        } else {
            // Through the filters, and the connection goes on.
            EXPECT_EQ(ReadExactly(channel, error(c.k).size()), Ascii(error(c.k)));
            Send(channel, Ascii(R"({"method":"vendor_property","params":["x"]})"));
            const std::string answer =
                c.k == 2 ? "{\"error\":{" : R"({"result":[""]})";  // not connected after 2
            EXPECT_EQ(ReadExactly(channel, answer.size()), Ascii(answer));
        }
        EXPECT_EQ(server.MessageCount(), c.drop ? c.k : c.k + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, UpdateServerFiltersTest,
                         ::testing::Values(R"({"ZLibCompression":{"CompressMoreThan":"100"}})",
                                           R"({"PC1":{}})", R"({"RSA":{},"PC1":{}})",
                                           R"({"RSA":{},"PC1":{},"ZLibCompression":{}})"));

TEST(UpdateServerFiltersStartTest, UnknownOrMalformedFiltersStopTheStart) {
    test::TempDir dir;
    for (const char* filters : {R"({"Nada":{}})", "not json"}) {
        TServerOptions o;
        o.port = 0;
        o.root = dir.Path();
        o.filters = filters;
        TUpdateServer server(o);
        EXPECT_THROW(server.Start(), EServerError) << filters;
    }
}

// Before login a compressed frame inflates no further than the login bound: a frame of a few
// kilobytes that would inflate to 4 MiB ends the connection at the filter, before the server
// builds any of that message (so no error reply about its length comes back), and a real client
// then logs in through the same filter.
TEST(UpdateServerFiltersLoginTest, CompressedFrameBeforeLoginIsNotInflatedPastTheBound) {
    test::TempDir dir;
    TServerOptions o;
    o.port = 0;
    o.root = dir.Path();
    o.filters = R"({"ZLibCompression":{}})";
    o.keepReceived = true;
    TUpdateServer server(o);
    const std::uint16_t port = server.Start();
    const std::string connect =
        "{\"method\":\"connect\",\"params\":[{\"DSAuthenticationPassword\":"
        "\"6485B9B5C668BE12667E6690BE732C1F\",\"DSAuthenticationUser\":\"Atualizador\"}]}";
    {
        test::RawClient socket(port);
        TDBXFilterSocketChannel channel(std::make_unique<SocketChannel>(socket.Fd()));
        Bytes bomb = Ascii(connect.substr(0, connect.find("[{") + 2) + "\"Extra\":\"");
        bomb.resize(4 << 20, 'x');
        Send(channel, bomb);
        EXPECT_LT(server.ReceivedBytes(0).size(), 256u * 1024);
        EXPECT_TRUE(ReadExactly(channel, 1).empty());
        EXPECT_TRUE(server.WaitConnectionClosed(0, std::chrono::seconds(5)));
    }
    test::RawClient socket(port);
    TDBXFilterSocketChannel channel(std::make_unique<SocketChannel>(socket.Fd()));
    Send(channel, Ascii(connect));
    const std::string reply = "{\"result\":[1,\"AtualizadorServidor\",2]}";
    EXPECT_EQ(ReadExactly(channel, reply.size()), Ascii(reply));
}

}  // namespace
}  // namespace ab::server
