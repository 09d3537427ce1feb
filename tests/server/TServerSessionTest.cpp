// One session over an in-memory channel: the client's BufferKBSize, read from its connect message,
// sizes every later read the session asks of its channel and cuts its longer replies into writes
// of that size; the reply composer's own cutting. Over a socket pair that keeps each send apart:
// the socket channel holds answers until it is read, and a session answers a burst of requests in
// one send and a lone request at once.
#include "server/TServerSession.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <deque>
#include <thread>

#include "ServerTestSupport.h"
#include "server/ServerConstants.h"
#include "server/TFileStore.h"
#include "server/TReplyWriter.h"
#include "server/TServerSocketChannel.h"

namespace ab::server {
namespace {

using test::Ascii;
using test::Bytes;
using test::Cat;
using test::Hex;

// Serves one queued chunk per read (cut to what the reader asks for) and records the size each
// read asked for and each write.
class RecordingChannel : public TDbxChannel {
  public:
    explicit RecordingChannel(std::deque<Bytes> chunks) : chunks_(std::move(chunks)) {}
    void Open() override {}
    void Close() override {}
    int Read(std::span<std::uint8_t> dest) override {
        asked.push_back(dest.size());
        if (chunks_.empty())
            return -1;
        Bytes& chunk = chunks_.front();
        const std::size_t n = std::min(dest.size(), chunk.size());
        std::copy_n(chunk.begin(), n, dest.begin());
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        if (chunk.empty())
            chunks_.pop_front();
        return static_cast<int>(n);
    }
    int Write(std::span<const std::uint8_t> src) override {
        writes.emplace_back(src.begin(), src.end());
        return static_cast<int>(src.size());
    }
    std::vector<std::size_t> asked;
    std::vector<Bytes> writes;

  private:
    std::deque<Bytes> chunks_;
};

std::string Connect(const std::string& bufferLine) {
    return "{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":\"Atualizador\","
           "\"DSAuthenticationPassword\":\"6485B9B5C668BE12667E6690BE732C1F\"" +
           bufferLine + "}]}";
}

TEST(ServerSessionBuffers, BufferKBSizeSizesReadsAndWrites) {
    test::TempDir dir;
    TServerOptions o;
    o.root = dir.Path();
    TFileStore store(o.root);
    // An echo of 3000 characters: its reply is longer than the smallest buffer.
    const std::string text(3000, 'x');
    const Bytes row = Cat({Hex("10 0B B8"), Ascii(text), Hex("C0")});
    const Bytes echo = Cat({Ascii(R"({"method":"execute","params":[{"handle":[1]},{"data":[3004,)"),
                            row, Ascii("]}]}")});
    const Bytes result = Cat(
        {Ascii("{\"result\":[{\"data\":[3004,"), Hex("C0 10 0B B8"), Ascii(text), Ascii("]}]}")});
    const struct {
        const char* line;  // the connect message's BufferKBSize member, or none
        std::size_t bytes;
    } cases[] = {
        {"", 32768},
        {R"(,"BufferKBSize":"1024")", 1 << 20},
        {R"(,"BufferKBSize":"1")", 1024},
        {R"(,"BufferKBSize":" 2")", 2048},  // leading spaces, as the client reads it
        {R"(,"BufferKBSize":"0")", 32768},
        {R"(,"BufferKBSize":"-4")", 32768},
        {R"(,"BufferKBSize":"")", 32768},
        {R"(,"BufferKBSize":"1MB")", 32768},
        {R"(,"BufferKBSize":"99999")", 16 << 20},  // clamped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TServerContext context(o, store);
        RecordingChannel channel(
            {Hex("05 05 05 05 05"), Ascii(Connect(c.line)),
             Ascii(R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod",)"
                   R"("TZvServer.EchoString"]})"),
             echo});
        TServerSession(channel, context, 1, true).Run();
        // Query and connect are read with the default size, the rest with the client's (the
        // echo request in several reads when it is longer).
        ASSERT_GE(channel.asked.size(), 5u);
        EXPECT_EQ(channel.asked[0], 32768u);
        EXPECT_EQ(channel.asked[1], 32768u);
        for (std::size_t i = 2; i < channel.asked.size(); ++i)
            EXPECT_EQ(channel.asked[i], c.bytes) << i;
        // After the handshake answer, the connect reply and the prepare reply, the echo's reply
        // leaves in writes of the buffer size, the last one shorter.
        ASSERT_GT(channel.writes.size(), 3u);
        Bytes joined;
        for (std::size_t i = 3; i < channel.writes.size(); ++i) {
            const std::size_t expected =
                i + 1 < channel.writes.size() ? c.bytes : (result.size() - 1) % c.bytes + 1;
            EXPECT_EQ(channel.writes[i].size(), expected) << i;
            joined.insert(joined.end(), channel.writes[i].begin(), channel.writes[i].end());
        }
        EXPECT_EQ(joined, result);
    }
}

TEST(ServerSessionBuffers, ComposerCutsMessagesAtTheBufferSize) {
    const struct {
        std::size_t composed;
        std::vector<std::size_t> writes;
    } cases[] = {
        {10, {10}},        {16, {16}},  // exactly full: one write, at the flush
        {17, {16, 1}},                  // the next byte sends the full buffer
        {40, {16, 16, 8}}, {48, {16, 16, 16}},
    };
    for (const auto& c : cases) {
        RecordingChannel channel({});
        TReplyWriter writer(channel, 16);
        Bytes composed;
        for (std::size_t i = 0; i < c.composed; ++i)
            composed.push_back(static_cast<std::uint8_t>('a' + i % 26));
        // In pieces of 7 through the two paths: raw bytes and text.
        for (std::size_t i = 0; i < composed.size(); i += 7) {
            const std::size_t n = std::min<std::size_t>(7, composed.size() - i);
            if (i % 2 == 0)
                writer.Bytes(std::span(composed).subspan(i, n));
            else
                writer.Raw(std::string_view(reinterpret_cast<const char*>(&composed[i]), n));
        }
        writer.Flush();
        std::vector<std::size_t> sizes;
        Bytes joined;
        for (const auto& w : channel.writes) {
            sizes.push_back(w.size());
            joined.insert(joined.end(), w.begin(), w.end());
        }
        EXPECT_EQ(sizes, c.writes) << c.composed;
        EXPECT_EQ(joined, composed);
        writer.Flush();  // nothing left: no empty write
        EXPECT_EQ(channel.writes.size(), c.writes.size());
    }
}

// Both ends of a local socket pair that keeps every send as one record, so the peer sees exactly
// how the channel grouped its bytes.
class RecordPair {
  public:
    RecordPair() {
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds_) != 0)
            throw std::runtime_error("socketpair");
        // Room for the largest record the tests send.
        const int size = 1 << 20;
        for (int fd : fds_)
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    ~RecordPair() {
        for (int fd : fds_)
            if (fd >= 0)
                ::close(fd);
    }
    int Server() const { return fds_[0]; }
    // The records that arrive within the time, each whole.
    std::vector<Bytes> Records(std::chrono::milliseconds wait = std::chrono::milliseconds(50)) {
        std::vector<Bytes> out;
        for (;;) {
            pollfd p{fds_[1], POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0)
                return out;
            Bytes record(1 << 20);
            const ssize_t n = ::recv(fds_[1], record.data(), record.size(), 0);
            if (n <= 0)
                return out;
            record.resize(static_cast<std::size_t>(n));
            out.push_back(std::move(record));
            wait = std::chrono::milliseconds(50);
        }
    }
    void Send(const Bytes& record) {
        ASSERT_EQ(::send(fds_[1], record.data(), record.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(record.size()));
    }
    // The client's end closes: the server's next read ends.
    void CloseClient() { ::shutdown(fds_[1], SHUT_RDWR); }

  private:
    int fds_[2] = {-1, -1};
};

std::vector<std::size_t> Sizes(const std::vector<Bytes>& records) {
    std::vector<std::size_t> sizes;
    for (const auto& r : records)
        sizes.push_back(r.size());
    return sizes;
}

// What the channel sends, and when: writes wait for a read (or a flush), and leave at once only
// when holding them would pass the limit, together with what was held.
TEST(ServerSocketChannel, WritesLeaveTogetherBeforeARead) {
    constexpr std::size_t kHeld = kHeldReplyBytes;
    enum Step { Flush, Read };
    const struct {
        const char* what;
        std::vector<std::size_t> writes;
        std::vector<std::size_t> atOnce;  // the records sent before any read or flush
        Step then;
        std::vector<std::size_t> after;  // the records the read or flush sent
    } cases[] = {
        {"one answer, then a read", {40}, {}, Read, {40}},
        {"a burst, then a read", {40, 17, 300, 1}, {}, Read, {358}},
        {"a burst, then a flush", {40, 17}, {}, Flush, {57}},
        {"nothing held: no empty send", {}, {}, Read, {}},
        {"up to the limit is held", {kHeld - 10, 10}, {}, Read, {kHeld}},
        {"past the limit leaves with what was held", {kHeld - 10, 11, 5}, {kHeld + 1}, Read, {5}},
        {"one write past the limit", {kHeld + 1}, {kHeld + 1}, Flush, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordPair pair;
        TConnectionRecord record(true, {});
        TServerSocketChannel channel(pair.Server(), record);
        Bytes written;
        for (const std::size_t n : c.writes) {
            Bytes piece(n);
            for (auto& b : piece)
                b = static_cast<std::uint8_t>(written.size() + (&b - piece.data()));
            ASSERT_EQ(channel.Write(piece), static_cast<int>(n));
            written.insert(written.end(), piece.begin(), piece.end());
        }
        std::vector<Bytes> got = pair.Records();
        EXPECT_EQ(Sizes(got), c.atOnce);
        if (c.then == Flush) {
            EXPECT_TRUE(channel.Flush());
        } else {
            // The read waits for the client, who writes only once the answers are in.
            std::vector<Bytes> before;
            std::thread client([&] {
                before = pair.Records(std::chrono::seconds(1));
                pair.Send(Ascii("q"));
            });
            std::uint8_t byte = 0;
            EXPECT_EQ(channel.Read(std::span(&byte, 1)), 1);
            client.join();
            EXPECT_EQ(byte, 'q');
            got.insert(got.end(), before.begin(), before.end());
            EXPECT_EQ(Sizes(before), c.after);
        }
        if (c.then == Flush)
            for (auto& r : pair.Records())
                got.push_back(std::move(r));
        Bytes joined;
        for (const auto& r : got)
            joined.insert(joined.end(), r.begin(), r.end());
        EXPECT_EQ(joined, written);
        EXPECT_EQ(record.Bytes(), c.then == Read ? Ascii("q") : Bytes{});
    }
}

// A session over the socket: the answers to requests that came together leave in one send, and a
// request alone is answered in a send of its own, before the session waits for the next.
TEST(ServerSocketChannel, SessionAnswersABurstInOneSend) {
    test::TempDir dir;
    TServerOptions o;
    o.root = dir.Path();
    TFileStore store(o.root);
    TServerContext context(o, store);
    RecordPair pair;
    TConnectionRecord record(false, {});
    TServerSocketChannel channel(pair.Server(), record);
    std::thread server([&] { TServerSession(channel, context, 1, true, &channel).Run(); });
    struct Closer {
        RecordPair& pair;
        std::thread& server;
        ~Closer() {
            pair.CloseClient();
            server.join();
        }
    } closer{pair, server};

    pair.Send(Hex("05 05 05 05 05"));
    EXPECT_EQ(pair.Records(std::chrono::seconds(5)), std::vector<Bytes>{Hex("06 00 00 00 00")});
    pair.Send(Ascii(Connect("")));
    ASSERT_EQ(pair.Records(std::chrono::seconds(5)).size(), 1u);
    pair.Send(Ascii(R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod",)"
                    R"("TZvServer.EchoString"]})"));
    ASSERT_EQ(pair.Records(std::chrono::seconds(5)).size(), 1u);
    const Bytes echo = Cat({Ascii(R"({"method":"execute","params":[{"handle":[1]},{"data":[4,)"),
                            Hex("22 6F 69 C0"), Ascii("]}]}")});
    const Bytes answer =
        Cat({Ascii(R"({"result":[{"data":[4,)"), Hex("C0 22 6F 69"), Ascii("]}]}")});
    for (const std::size_t burst : {1u, 32u, 1u, 5u}) {
        SCOPED_TRACE(burst);
        Bytes requests, answers;
        for (std::size_t i = 0; i < burst; ++i) {
            requests.insert(requests.end(), echo.begin(), echo.end());
            answers.insert(answers.end(), answer.begin(), answer.end());
        }
        pair.Send(requests);
        EXPECT_EQ(pair.Records(std::chrono::seconds(5)), std::vector<Bytes>{answers});
    }
}

}  // namespace
}  // namespace ab::server
