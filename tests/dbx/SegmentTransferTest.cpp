// Large byte values against a scripted server in a second thread over the in-memory pipe: the
// inline part, the server's more-blob requests answered in padded blocks, and the reply.
#include <exception>
#include <thread>

#include "DbxTestSupport.h"
#include "dbx/DbxConstants.h"
#include "dbx/TOleVariant.h"
#include "support/MemoryChannel.h"

namespace ab::test {
namespace {

using Tok = TDBXTokens;

const std::string kSendFilePrepare =
    R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.SendFile"]})";
const std::string kSendFilePrepareReply =
    R"({"result":[{"handle":[7]},{"parameters":[3,[3,0,1,0,0,"Dados",0,0,0],)"
    R"([4,0,1,0,0,"ChecarMaisAtual",0,0,0],[4,0,4,0,0,"ReturnParameter",0,0,0]]}]})";

// The server side, written with the same codec the bundled server uses.
struct Peer {
    explicit Peer(std::unique_ptr<MemoryChannel> end)
        : channel(std::move(end)), reader(channel.get(), 32768), writer(channel.get(), 32768) {
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
    std::unique_ptr<MemoryChannel> channel;
    TDBXJSonStreamReader reader;
    TDBXJSonStreamWriter writer;
};

struct Transfer {
    std::vector<std::int32_t> counts;  // the count of every segment block, as sent
    Bytes received;                    // the value as the server put it together
    std::vector<std::size_t> clientWrites;
    bool result = false;
};

// SendFile(packet, true) from a client thread-side command; the peer pulls every segment.
Transfer SendFile(Bytes packet) {
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
        } catch (...) {
            peerError = std::current_exception();
        }
    });
    {
        ClientSide client(clientEnd.get());
        TestCommand command(client, u"DataSnap.ServerMethod", u"TZvServer.SendFile");
        command.Prepare();
        command.Value(0).SetAsVariant(TOleVariant::ByteArray(std::move(packet)));
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

}  // namespace
}  // namespace ab::test
