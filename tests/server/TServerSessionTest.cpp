// One session over an in-memory channel: the client's BufferKBSize, read from its connect message,
// sizes every later read the session asks of its channel and cuts its longer replies into writes
// of that size; the reply composer's own cutting.
#include "server/TServerSession.h"

#include <gtest/gtest.h>

#include <deque>

#include "ServerTestSupport.h"
#include "server/TFileStore.h"
#include "server/TReplyWriter.h"

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

}  // namespace
}  // namespace ab::server
