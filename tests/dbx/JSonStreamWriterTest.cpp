// Writer: primitives, string escaping, buffer flushing, command message bytes, segment blocks.
#include <algorithm>
#include <climits>
#include <functional>

#include "DbxTestSupport.h"
#include "dbx/DbxConstants.h"
#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TOleVariant.h"
#include "support/MemoryChannel.h"

namespace ab::test {
namespace {

std::string Emit(const std::function<void(TDBXJSonStreamWriter&)>& write, int bufferSize = 32768) {
    BufferChannel channel({});
    TDBXJSonStreamWriter writer(&channel, bufferSize);
    writer.Open();
    write(writer);
    writer.Flush();
    return Str(channel.written);
}

TEST(JSonStreamWriter, PrimitivesAndStrings) {
    using W = TDBXJSonStreamWriter;
    const struct {
        std::function<void(W&)> write;
        std::string expected;
    } cases[] = {
        {[](W& w) { w.WriteInt(0); }, "0"},
        {[](W& w) { w.WriteInt(-12); }, "-12"},
        {[](W& w) { w.WriteInt(INT_MIN); }, "-2147483648"},
        {[](W& w) { w.WriteLong(LLONG_MIN); }, "-9223372036854775808"},
        {[](W& w) { w.WriteLong(9223372036854775807LL); }, "9223372036854775807"},
        {[](W& w) { w.WriteBoolean(true), w.WriteBoolean(false), w.WriteNull(); }, "truefalsenull"},
        {[](W& w) {
             w.WriteObjectStart(), w.WriteArrayStart(), w.WriteValueSeparator();
             w.WriteNameSeparator(), w.WriteSpace(), w.WriteArrayEnd(), w.WriteObjectEnd();
         },
         "{[,: ]}"},
        {[](W& w) { w.WriteFloat(1.5f), w.WriteDouble(2.5); }, ""},
        {[](W& w) { w.WriteString(u"a\"b"); }, "\"a\\\"b\""},
        {[](W& w) { w.WriteString(u"\x07"); }, "\"\\u0007\""},
        {[](W& w) { w.WriteString(u"\u00e9"); }, "\"\xE9\""},
        {[](W& w) { w.WriteString(u"\u20ac"); }, "\"\\u20AC\""},
        {[](W& w) { w.WriteString(u"\u00e7\u00e3o"); }, "\"\xE7\xE3o\""},
        {[](W& w) { w.WriteString(u"\b\t\n\f\r\\/"); }, "\"\\b\\t\\n\\f\\r\\\\/\""},
        {[](W& w) { w.WriteString(u"\u00ff\u0100"); }, "\"\xFF\\u0100\""},
        {[](W& w) { w.WriteString(u"\U0001F600"); }, "\"\\uD83D\\uDE00\""},
        {[](W& w) { w.WriteNamedString(u"Port", u"211"); }, "\"Port\":\"211\""},
        {[](W& w) { w.WriteAscii(TDBXJSonBytes::ParameterMetadataStart); }, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Emit(c.write), c.expected);
}

TEST(JSonStreamWriter, FullBuffersLeaveWhole) {
    auto [a, b] = MakeChannelPair();
    TDBXJSonStreamWriter writer(a.get(), 16);
    writer.Open();
    writer.WriteAscii(std::string(16, 'x'));
    EXPECT_TRUE(a->writeSizes.empty());  // exactly full: held until the next byte or flush
    writer.WriteAscii("y");
    EXPECT_EQ(a->writeSizes, (std::vector<std::size_t>{16}));
    writer.Flush();
    writer.Flush();  // an empty flush sends nothing
    EXPECT_EQ(a->writeSizes, (std::vector<std::size_t>{16, 1}));

    a->writeSizes.clear();
    writer.WriteAscii(std::string(40, 'z'));
    writer.Flush();
    EXPECT_EQ(a->writeSizes, (std::vector<std::size_t>{16, 16, 8}));
}

TEST(JSonStreamWriter, BufferSizes) {
    BufferChannel channel({});
    EXPECT_EQ(TDBXJSonStreamWriter(&channel, 0).BufferSize(), 8192);
    EXPECT_EQ(TDBXJSonStreamWriter(&channel, 32768).CalcRowBufferSize(), 30720);
    EXPECT_EQ(TDBXJSonStreamWriter(&channel, 1024).CalcRowBufferSize(), 1024);
    EXPECT_EQ(TDBXJSonStreamReader(&channel, 0).BufferSize(), 8192);
}

TEST(JSonStreamWriter, CommandMessages) {
    using W = TDBXJSonStreamWriter;
    const struct {
        std::function<void(W&)> write;
        std::string expected;
    } cases[] = {
        {[](W& w) {
             w.WritePrepareStart(-1, false, u"DataSnap.ServerMethod", u"TZvServer.PropertsFile");
             w.WriteArrayEnd(), w.WriteObjectEnd();
         },
         R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.PropertsFile"]})"},
        {[](W& w) {
             w.WriteExecuteStart(), w.WriteHandleObject(7), w.WriteValueSeparator();
             w.WriteDataObject(B("\x28\xC0")), w.WriteArrayEnd(), w.WriteObjectEnd();
         },
         "{\"method\":\"execute\",\"params\":[{\"handle\":[7]},{\"data\":[2,\x28\xC0]}]}"},
        {[](W& w) { w.WriteExecuteFieldsObject(-1, false, u"Dbx.MetaData", u"GetDatabase"); },
         R"({"fields":[-1,false,"Dbx.MetaData","GetDatabase"]})"},
        {[](W& w) { w.WriteCommandCloseObject(7); }, R"({"method":"command_close","params":[7]})"},
        {[](W& w) { w.WriteNextResultObject(7); }, R"({"method":"next_result","params":[7]})"},
        {[](W& w) { w.WriteClientMoreBlobObject(7, 1, 0, 1, true, 0); },
         R"({"method":"more_blob","params":[7,1,0,1,true,0]})"},
        {[](W& w) { w.WriteClientNextObject(3, 20, 7); }, R"({"method":"next","params":[3,20,7]})"},
        {[](W& w) { w.WriteReaderCloseObject(3, 7); },
         R"({"method":"reader_close","params":[3,7]})"},
        {[](W& w) { w.WriteRpcError(u"EAccessViolation", 5, false, u"boom"); },
         R"({"error":{"name":"EAccessViolation","code":5,"message":"boom"})"},
        {[](W& w) { w.WriteRpcError(u"E", 0, true, u"m"); },
         R"({"error":{"name":"E","code":0,"message":"m","error":{}})"},
        {[](W& w) { w.WriteServerMoreBlobObject(7, 1, 0, 0, 0); }, R"({"more_blob":[7,1,0,0,0]})"},
        {[](W& w) {
             w.WriteConnectObjectStart(), w.WriteNamedString(u"DriverName", u"DataSnap");
             w.WriteObjectEnd(), w.WriteArrayEnd(), w.WriteObjectEnd();
         },
         R"({"method":"connect","params":[{"DriverName":"DataSnap"}]})"},
        {[](W& w) { w.WriteDisconnectObject(12); }, R"({"method":"disconnect","params":[12]})"},
        {[](W& w) { w.WriteVendorProperty(u"Name"); },
         R"({"method":"vendor_property","params":["Name"]})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Emit(c.write), c.expected);
}

TEST(JSonStreamWriter, ParametersObject) {
    TDBXParameterList list;
    TDBXParameter& value = list.AddParameter();
    value.SetName(u"Value");
    value.SetDataType(TDBXDataTypes::WideStringType);
    value.SetSize(10);
    TDBXParameter& ret = list.AddParameter();
    ret.SetName(u"ReturnParameter");
    ret.SetDataType(TDBXDataTypes::WideStringType);
    ret.SetParameterDirection(TDBXParameterDirections::ReturnParameter);
    ret.SetPrecision(2000);
    ret.SetValueTypeFlags(0x200);
    ret.SetLiteral(u"lit");
    EXPECT_EQ(Emit([&](TDBXJSonStreamWriter& w) { w.WriteParametersObject(list); }),
              R"({"parameters":[2,[26,0,1,0,0,"Value",0,10,0],)"
              R"([26,0,4,2000,0,"ReturnParameter",0,0,512,"lit"]]})");
}

// Segment answers: the count padded to nine characters, negative on the last block.
TEST(JSonStreamWriter, SegmentBlocks) {
    auto block = [](std::size_t sourceSize, std::size_t prefill, std::vector<std::string>* heads) {
        auto [a, b] = MakeChannelPair();
        TDBXJSonStreamWriter writer(a.get(), 32768);
        writer.Open();
        writer.WriteAscii(std::string(prefill, ' '));
        TDBXMemoryStreamReader source(
            std::make_shared<const std::vector<std::uint8_t>>(sourceSize, 0x41));
        std::vector<std::int32_t> counts;
        do {
            counts.push_back(writer.WriteDataObject(source));
        } while (counts.back() > 0);
        Bytes all(32768 * 4);
        std::size_t total = 0;
        a->Close();
        for (int n; (n = b->Read(std::span(all).subspan(total))) > 0;)
            total += n;
        all.resize(total);
        // Record each block's head.
        std::size_t at = prefill;
        for (std::int32_t c : counts) {
            heads->push_back(Str(std::span(all).subspan(at, 19)));
            at += 21 + static_cast<std::size_t>(c < 0 ? -c : c);
        }
        EXPECT_EQ(at, total);
        return a->writeSizes;
    };
    std::vector<std::string> heads;
    // Ends exactly at the block boundary: one negative block, no empty block after it.
    EXPECT_EQ(block(32747, 0, &heads), (std::vector<std::size_t>{32768}));
    EXPECT_EQ(heads, (std::vector<std::string>{"{\"data\":[-32747   ,"}));
    heads.clear();
    EXPECT_EQ(block(32748, 0, &heads), (std::vector<std::size_t>{32768, 22}));
    EXPECT_EQ(heads, (std::vector<std::string>{"{\"data\":[32747    ,", "{\"data\":[-1       ,"}));
    heads.clear();
    EXPECT_EQ(block(0, 0, &heads), (std::vector<std::size_t>{21}));
    EXPECT_EQ(heads, (std::vector<std::string>{"{\"data\":[0        ,"}));
    heads.clear();
    // A block after bytes already in the buffer takes only the room that is left.
    EXPECT_EQ(block(40000, 100, &heads), (std::vector<std::size_t>{32768, 7374}));
    EXPECT_EQ(heads, (std::vector<std::string>{"{\"data\":[32647    ,", "{\"data\":[-7353    ,"}));
}

// A segment source that cannot show its bytes: every block is copied into the buffer.
class CopiedSource : public TDBXStreamReader {
  public:
    explicit CopiedSource(std::unique_ptr<TDBXMemoryStreamReader> inner)
        : inner_(std::move(inner)) {}
    std::size_t Read(std::span<std::uint8_t> dest) override { return inner_->Read(dest); }
    bool IsEos() override { return inner_->IsEos(); }

  private:
    std::unique_ptr<TDBXMemoryStreamReader> inner_;
};

// Blocks whose large pieces leave from the value's memory carry the same bytes, in the same
// writes, as blocks copied into the buffer: the small prefix is copied in front of the shown body.
TEST(JSonStreamWriter, SegmentBlocksSentInPlaceMatchCopiedOnes) {
    auto pattern = [](std::size_t n) {
        Bytes bytes(n);
        for (std::size_t i = 0; i < n; ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        return bytes;
    };
    struct Case {
        const char* name;
        std::function<TOleVariant()> value;
        std::size_t prefill;
    };
    const Case cases[] = {
        {"one piece, below the in-place size",
         [&] { return TOleVariant::ByteArray(pattern(3000)); }, 0},
        {"one piece, three blocks", [&] { return TOleVariant::ByteArray(pattern(70000)); }, 0},
        {"after bytes in the buffer", [&] { return TOleVariant::ByteArray(pattern(70000)); },
         30000},
        {"head and shared tail",
         [&] {
             return TOleVariant::ByteArray(
                 pattern(150), std::make_shared<const std::vector<std::uint8_t>>(pattern(65600)));
         },
         0},
        {"value ending at a block boundary", [&] { return TOleVariant::ByteArray(pattern(32738)); },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto emit = [&](bool shown, std::vector<std::size_t>* writes) {
            auto [a, b] = MakeChannelPair();
            TDBXJSonStreamWriter writer(a.get(), 32768);
            writer.Open();
            writer.WriteAscii(std::string(c.prefill, ' '));
            auto source = TDBXMemoryStreamReader::ForByteArray(c.value());
            CopiedSource copied(TDBXMemoryStreamReader::ForByteArray(c.value()));
            TDBXStreamReader& from = shown ? static_cast<TDBXStreamReader&>(*source) : copied;
            while (writer.WriteDataObject(from) > 0) {
            }
            a->Close();
            Bytes all(200000);
            std::size_t total = 0;
            for (int n; (n = b->Read(std::span(all).subspan(total))) > 0;)
                total += static_cast<std::size_t>(n);
            all.resize(total);
            *writes = a->writeSizes;
            return all;
        };
        std::vector<std::size_t> shownWrites, copiedWrites;
        const Bytes shownBytes = emit(true, &shownWrites);
        EXPECT_EQ(shownBytes, emit(false, &copiedWrites));
        EXPECT_EQ(shownWrites, copiedWrites);
    }
}

// A segment source that fails after its first `good` bytes, handed out copied or shown in place.
class FailingSource : public TDBXStreamReader {
  public:
    FailingSource(std::size_t size, std::size_t good, bool show)
        : bytes_(size), good_(good), show_(show) {
        for (std::size_t i = 0; i < size; ++i)
            bytes_[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    std::size_t Read(std::span<std::uint8_t> dest) override {
        if (pos_ == good_)
            throw Exception(u"source failed");
        const std::size_t n = std::min(dest.size(), good_ - pos_);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, dest.begin());
        pos_ += n;
        return n;
    }
    bool IsEos() override { return pos_ == bytes_.size(); }
    std::span<const std::uint8_t> Peek() const override {
        return show_ ? std::span(bytes_).subspan(pos_, good_ - pos_)
                     : std::span<const std::uint8_t>();
    }
    void Skip(std::size_t count) override { pos_ += count; }

  private:
    Bytes bytes_;
    std::size_t good_;
    bool show_;
    std::size_t pos_ = 0;
};

// A source failing part way through a segment block: no byte of that block leaves, nor anything
// else still in the buffer; the channel is closed, so nothing can follow on it; the error goes on.
// Blocks completed before it went out whole.
TEST(JSonStreamWriter, SegmentSourceFailingMidBlockSendsNothingOfItAndEndsTheLink) {
    struct Case {
        const char* name;
        std::size_t good;
        bool show;
        std::size_t prefill;
        std::size_t blocksSent;
    } cases[] = {
        {"at its first byte", 0, false, 0, 0},
        {"after bytes copied into the block", 20000, false, 0, 0},
        {"after a piece shown in place", 20000, true, 0, 0},
        {"behind bytes already buffered", 100, false, 300, 0},
        {"in the second block", 40000, false, 0, 1},
        {"in the second block, shown in place", 40000, true, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto [a, b] = MakeChannelPair();
        TDBXJSonStreamWriter writer(a.get(), 32768);
        writer.Open();
        writer.WriteAscii(std::string(c.prefill, ' '));
        FailingSource source(100000, c.good, c.show);
        std::size_t blocks = 0;
        try {
            while (writer.WriteDataObject(source) > 0)
                ++blocks;
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), u"source failed");
        }
        EXPECT_EQ(blocks, c.blocksSent);
        EXPECT_EQ(writer.BufferedCount(), 0);
        writer.WriteAscii("{}");
        writer.Flush();
        EXPECT_EQ(a->Write(B("x")), -1);
        a->Close();  // (already closed by the writer; a hang here would hide the failure)

        Bytes got(100000);
        std::size_t total = 0;
        for (int n; (n = b->Read(std::span(got).subspan(total))) > 0;)
            total += static_cast<std::size_t>(n);
        got.resize(total);
        ASSERT_EQ(got.size(), 32768 * c.blocksSent);
        if (c.blocksSent == 1) {
            EXPECT_EQ(Str(std::span(got).first(19)), "{\"data\":[32747    ,");
        }
    }
}

}  // namespace
}  // namespace ab::test
