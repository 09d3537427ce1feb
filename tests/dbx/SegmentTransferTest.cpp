// Large byte values against a scripted server in a second thread over the in-memory pipe: the
// inline part, the server's more-blob requests answered in padded blocks, and the reply.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "DbxTestSupport.h"
#include "dbx/DbxConstants.h"
#include "dbx/TDBXFileByteSource.h"
#include "dbx/TOleVariant.h"
#include "platform/EReadError.h"
#include "platform/TLocalFile.h"
#include "platform/Text.h"
#include "support/MemoryChannel.h"

namespace ab::test {
namespace {

using Tok = TDBXTokens;

const std::string kSendFilePrepare =
    R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.SendFile"]})";
const std::string kSendFilePrepareReply =
    R"({"result":[{"handle":[7]},{"parameters":[3,[3,0,1,0,0,"Dados",0,0,0],)"
    R"([4,0,1,0,0,"ChecarMaisAtual",0,0,0],[4,0,4,0,0,"ReturnParameter",0,0,0]]}]})";

// A channel end that keeps every byte read through it.
class RecordingChannel : public TDbxChannel {
  public:
    explicit RecordingChannel(std::unique_ptr<MemoryChannel> end) : end_(std::move(end)) {}
    void Open() override {}
    void Close() override { end_->Close(); }
    int Read(std::span<std::uint8_t> dest) override {
        const int n = end_->Read(dest);
        if (n > 0)
            read.insert(read.end(), dest.begin(), dest.begin() + n);
        return n;
    }
    int Write(std::span<const std::uint8_t> src) override { return end_->Write(src); }
    Bytes read;

  private:
    std::unique_ptr<MemoryChannel> end_;
};

// The server side, written with the same codec the bundled server uses.
struct Peer {
    explicit Peer(std::unique_ptr<MemoryChannel> end)
        : channel(std::make_unique<RecordingChannel>(std::move(end))),
          reader(channel.get(), 32768),
          writer(channel.get(), 32768) {
        reader.Open();
        writer.Open();
    }
    std::string ReadExact(std::size_t n) {
        std::string s(n, '\0');
        reader.ReadDataBytes(std::span(reinterpret_cast<std::uint8_t*>(s.data()), n));
        return s;
    }
    void Send(std::string_view text) {
        writer.WriteAscii(text);
        writer.Flush();
    }
    std::unique_ptr<RecordingChannel> channel;
    TDBXJSonStreamReader reader;
    TDBXJSonStreamWriter writer;
};

struct Transfer {
    std::vector<std::int32_t> counts;  // the count of every segment block, as sent
    Bytes received;                    // the value as the server put it together
    std::vector<std::size_t> clientWrites;
    bool result = false;
    Bytes wire;  // every byte the client sent
};

// SendFile(value, true) from a client thread-side command; the peer pulls every segment.
Transfer SendVariant(TOleVariant value) {
    auto [clientEnd, serverEnd] = MakeChannelPair();
    Transfer t;
    std::exception_ptr peerError;
    std::thread server([&, end = std::move(serverEnd)]() mutable {
        try {
            Peer peer(std::move(end));
            EXPECT_EQ(peer.ReadExact(kSendFilePrepare.size()), kSendFilePrepare);
            peer.Send(kSendFilePrepareReply);
            // The execute request: handle, then the parameter row in a data block.
            EXPECT_EQ(peer.ReadExact(30), R"({"method":"execute","params":[)");
            peer.reader.Next(Tok::TokenObjectStart);
            peer.reader.SkipToEndOfObject();  // {"handle":[7]}
            peer.reader.NextValueSeparator();
            const std::int32_t rowSize = peer.reader.ReadDataObjectStart();
            TDBXRowBuffer row(0);
            row.ReadDataBytes(peer.reader, rowSize);
            peer.reader.ReadDataObjectEnd();
            peer.reader.Next(Tok::TokenArrayEnd);
            peer.reader.Next(Tok::TokenObjectEnd);
            row.GoToField(0);
            const auto first = row.ReadInlineBytes();
            t.received.assign(first.begin(), first.end());
            const bool more = !row.IsLastParameterBlobSegment();
            row.GoToField(1);
            EXPECT_TRUE(row.ReadBoolean());
            row.GoToField(2);
            EXPECT_TRUE(row.IsNull());
            // Ask for segment after segment until the block that says it is the last.
            for (std::int32_t blob = 1; more; ++blob) {
                peer.writer.WriteServerMoreBlobObject(7, blob, 0, 0, 0);
                const std::int32_t count = peer.reader.ReadDataBlock(t.received);
                t.counts.push_back(count);
                if (count <= 0)
                    break;
            }
            peer.Send(R"({"result":[{"data":[3,)" + Str(Hex("C0 C0 60")) + "]}]}");
            EXPECT_EQ(peer.ReadExact(39), R"({"method":"command_close","params":[7]})");
            t.wire = peer.channel->read;
        } catch (...) {
            peerError = std::current_exception();
        }
    });
    {
        ClientSide client(clientEnd.get());
        TestCommand command(client, u"DataSnap.ServerMethod", u"TZvServer.SendFile");
        command.Prepare();
        command.Value(0).SetAsVariant(value);
        command.Value(1).SetBoolean(true);
        command.Execute();
        t.result = command.Value(2).GetBoolean();
        command.Close();
    }
    server.join();
    if (peerError)
        std::rethrow_exception(peerError);
    t.clientWrites = clientEnd->writeSizes;
    return t;
}

Transfer SendFile(Bytes packet) {
    return SendVariant(TOleVariant::ByteArray(std::move(packet)));
}

Bytes Packet(std::size_t size) {
    Bytes packet(size);
    for (std::size_t i = 0; i < size; ++i)
        packet[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return packet;
}

Bytes ExpectedValue(const Bytes& packet) {
    Bytes value = {0x03};
    for (int i = 0; i < 8; ++i)
        value.push_back(static_cast<std::uint8_t>(std::uint64_t{packet.size()} >> (8 * i)));
    value.insert(value.end(), packet.begin(), packet.end());
    return value;
}

TEST(SegmentTransfer, FiveMillionBytePacket) {
    const Bytes packet = Packet(5000000);
    const Transfer t = SendFile(packet);
    // 30717 bytes inline, then 151 segments of 32747 and a last one of 24495.
    ASSERT_EQ(t.counts.size(), 152u);
    for (std::size_t i = 0; i < 151; ++i)
        ASSERT_EQ(t.counts[i], 32747) << i;
    EXPECT_EQ(t.counts.back(), -24495);
    EXPECT_TRUE(t.received == ExpectedValue(packet));
    EXPECT_TRUE(t.result);
    // prepare, the execute request (30722 row bytes in one buffer), 152 blocks, command close.
    ASSERT_EQ(t.clientWrites.size(), 1u + 1u + 152u + 1u);
    EXPECT_EQ(t.clientWrites[1], 30722u + 64u);
    for (std::size_t i = 2; i < 153; ++i)
        ASSERT_EQ(t.clientWrites[i], 32768u) << i;
    EXPECT_EQ(t.clientWrites[153], 24495u + 21u);
}

TEST(SegmentTransfer, ValueEndingAtABlockBoundary) {
    // 9 header bytes + packet = 30717 inline + exactly one full block.
    const Bytes packet = Packet(30717 + 32747 - 9);
    const Transfer t = SendFile(packet);
    EXPECT_EQ(t.counts, (std::vector<std::int32_t>{-32747}));
    EXPECT_TRUE(t.received == ExpectedValue(packet));
    EXPECT_EQ(t.clientWrites.size(), 4u);  // no empty block follows
}

TEST(SegmentTransfer, SmallPacketTravelsInline) {
    const Bytes packet = Packet(100);
    const Transfer t = SendFile(packet);
    EXPECT_TRUE(t.counts.empty());
    EXPECT_TRUE(t.received == ExpectedValue(packet));
    EXPECT_TRUE(t.result);
}

// A temporary file holding given bytes, its last-write time set to a fixed past moment.
class ScratchFile {
  public:
    explicit ScratchFile(const Bytes& content) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ab-dbx-XXXXXX").string();
        const int fd = mkstemp(tmpl.data());
        EXPECT_GE(fd, 0);
        close(fd);
        path_ = tmpl;
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        SetOldTime();
    }
    ~ScratchFile() { std::filesystem::remove(path_); }
    void SetOldTime() const {
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, path_.c_str(), old, 0), 0);
    }
    std::u16string Path() const { return FromUtf8(path_.string()); }
    const std::filesystem::path& FsPath() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The packet as the program sends it: the head in memory, the content read from the file.
TOleVariant FileVariant(Bytes head, const ScratchFile& file) {
    return TOleVariant::ByteArray(std::move(head),
                                  std::make_shared<const TDBXFileByteSource>(
                                      std::make_shared<const TLocalFile>(file.Path())));
}

constexpr std::size_t kHead = 151;

// The content streamed from its file while the server pulls it leaves as exactly the same bytes,
// in the same writes, as the packet held in memory.
TEST(SegmentTransfer, FileContentTravelsAsTheSameBytesAsMemory) {
    const Bytes packet = Packet(5000000);
    const Transfer memory = SendFile(packet);
    ScratchFile file(Bytes(packet.begin() + kHead, packet.end()));
    const Transfer streamed =
        SendVariant(FileVariant(Bytes(packet.begin(), packet.begin() + kHead), file));
    ASSERT_EQ(streamed.counts.size(), 152u);
    EXPECT_EQ(streamed.counts.back(), -24495);
    EXPECT_EQ(streamed.counts, memory.counts);
    EXPECT_EQ(streamed.clientWrites, memory.clientWrites);
    EXPECT_EQ(streamed.wire.size(), memory.wire.size());
    EXPECT_TRUE(streamed.wire == memory.wire);
    EXPECT_TRUE(streamed.received == ExpectedValue(packet));
    EXPECT_TRUE(streamed.result);
}

// The content file changes while the server pulls it (before the second request): the execute
// fails with an error naming the file before its last bytes leave. The peer has whole blocks
// only, each the file's bytes as they were, and then the end of the link.
TEST(SegmentTransfer, FileChangedWhilePulledEndsTheLinkBeforeItsLastBytes) {
    const Bytes packet = Packet(5000000);
    constexpr std::size_t kShrunk = 2'000'000;
    constexpr std::size_t kInlineContent = 30717 - 9 - kHead;
    enum Change { Grow, Shrink, RewriteTimeSetBack };
    for (Change change : {Grow, Shrink, RewriteTimeSetBack}) {
        SCOPED_TRACE(change);
        ScratchFile file(Bytes(packet.begin() + kHead, packet.end()));
        const TOleVariant value = FileVariant(Bytes(packet.begin(), packet.begin() + kHead), file);
        // A later clock tick than the open, for the status-change time to move.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::function<void()> apply = [&] {
            switch (change) {
                case Grow:
                    std::ofstream(file.FsPath(), std::ios::binary | std::ios::app) << "x";
                    break;
                case Shrink:
                    std::filesystem::resize_file(file.FsPath(), kShrunk);
                    break;
                case RewriteTimeSetBack:
                    std::fstream(file.FsPath(), std::ios::binary | std::ios::in | std::ios::out)
                        << "changed";
                    file.SetOldTime();
                    break;
            }
        };

        auto [clientEnd, serverEnd] = MakeChannelPair();
        std::vector<std::int32_t> counts;
        Bytes received;
        bool linkEnded = false;
        std::thread server([&, end = std::move(serverEnd)]() mutable {
            Peer peer(std::move(end));
            try {
                peer.ReadExact(kSendFilePrepare.size());
                peer.Send(kSendFilePrepareReply);
                peer.ReadExact(30);
                peer.reader.Next(Tok::TokenObjectStart);
                peer.reader.SkipToEndOfObject();
                peer.reader.NextValueSeparator();
                TDBXRowBuffer row(0);
                row.ReadDataBytes(peer.reader, peer.reader.ReadDataObjectStart());
                peer.reader.ReadDataObjectEnd();
                peer.reader.Next(Tok::TokenArrayEnd);
                peer.reader.Next(Tok::TokenObjectEnd);
                row.GoToField(0);
                const auto first = row.ReadInlineBytes();
                received.assign(first.begin(), first.end());
            } catch (...) {
                ADD_FAILURE() << "the execute did not arrive whole";
                return;
            }
            try {
                for (std::int32_t blob = 1;; ++blob) {
                    if (blob == 2)
                        apply();
                    peer.writer.WriteServerMoreBlobObject(7, blob, 0, 0, 0);
                    const std::int32_t count = peer.reader.ReadDataBlock(received);
                    counts.push_back(count);
                    if (count <= 0)
                        break;
                }
            } catch (...) {
                linkEnded = true;
            }
        });
        std::u16string error;
        {
            ClientSide client(clientEnd.get());
            TestCommand command(client, u"DataSnap.ServerMethod", u"TZvServer.SendFile");
            command.Prepare();
            command.Value(0).SetAsVariant(value);
            command.Value(1).SetBoolean(true);
            try {
                command.Execute();
            } catch (const Exception& e) {
                error = e.Message();
            }
            EXPECT_EQ(client.writer.BufferedCount(), 0);
            command.Close();
        }
        server.join();

        EXPECT_EQ(error, u"File \"" + file.Path() + u"\" changed while it was being sent");
        EXPECT_TRUE(linkEnded);
        const std::size_t whole =
            change == Shrink ? (kShrunk - kInlineContent) / 32747 : 151;  // all but the last
        EXPECT_EQ(counts, std::vector<std::int32_t>(whole, 32747));
        const Bytes expected = ExpectedValue(packet);
        ASSERT_EQ(received.size(), 30717 + whole * 32747);
        EXPECT_TRUE(std::equal(received.begin(), received.end(), expected.begin()));
        // prepare, execute, the whole blocks; nothing after them, not even the command close.
        EXPECT_EQ(clientEnd->writeSizes.size(), 2 + whole);
    }
}

// A content file small enough to travel in the execute row that changed since it was opened: the
// execute fails before anything of it is written, no half-built row is left, and the link stays
// in step (the next thing the server reads is the command close).
TEST(SegmentTransfer, SmallFileChangedBeforeTheExecuteSendsNothing) {
    const Bytes packet = Packet(kHead + 100);
    ScratchFile file(Bytes(packet.begin() + kHead, packet.end()));
    const TOleVariant value = FileVariant(Bytes(packet.begin(), packet.begin() + kHead), file);
    std::ofstream(file.FsPath(), std::ios::binary | std::ios::app) << "x";

    auto [clientEnd, serverEnd] = MakeChannelPair();
    std::string next;
    std::thread server([&, end = std::move(serverEnd)]() mutable {
        Peer peer(std::move(end));
        EXPECT_EQ(peer.ReadExact(kSendFilePrepare.size()), kSendFilePrepare);
        peer.Send(kSendFilePrepareReply);
        next = peer.ReadExact(39);
    });
    {
        ClientSide client(clientEnd.get());
        TestCommand command(client, u"DataSnap.ServerMethod", u"TZvServer.SendFile");
        command.Prepare();
        command.Value(0).SetAsVariant(value);
        command.Value(1).SetBoolean(true);
        EXPECT_THROW(command.Execute(), EReadError);
        EXPECT_TRUE(command.Row().IsEmpty());
        EXPECT_EQ(client.writer.BufferedCount(), 0);
        command.Close();
    }
    server.join();
    EXPECT_EQ(next, R"({"method":"command_close","params":[7]})");
    EXPECT_EQ(clientEnd->writeSizes.size(), 2u);
}

}  // namespace
}  // namespace ab::test
