// Row buffer: every field encoding (written and read back), string bytes, the inline allowance,
// field stepping, malformed rows, and the string decoder across segments.
#include <cfloat>
#include <climits>
#include <functional>

#include "DbxTestSupport.h"
#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TDBXStringDecoder.h"
#include "dbx/TDBXStringEncoder.h"

namespace ab::test {
namespace {

using R = TDBXRowBuffer;

Bytes Row(const std::function<void(R&)>& write) {
    R row(30720);
    write(row);
    const auto bytes = row.WrittenBytes();
    return Bytes(bytes.begin(), bytes.end());
}

std::u16string Repeat(char16_t c, std::size_t n) {
    return std::u16string(n, c);
}

TEST(RowBuffer, FixedFieldEncodings) {
    const TDBXTimeStamp stamp{2015, 12, 10, 8, 30, 0, 0};
    const TDBXTimeStamp stampMs{2015, 12, 10, 8, 30, 0, 5};
    const TDBXTimeStamp before1970{1969, 12, 31, 23, 59, 59, 0};
    const struct {
        std::function<void(R&)> write;
        const char* hex;
        std::function<void(R&)> check;
    } cases[] = {
        {[](R& r) { r.WriteNull(); }, "C0", [](R& r) { EXPECT_TRUE(r.IsNull()); }},
        {[](R& r) { r.WriteBoolean(true); }, "60", [](R& r) { EXPECT_TRUE(r.ReadBoolean()); }},
        {[](R& r) { r.WriteBoolean(false); }, "20", [](R& r) { EXPECT_FALSE(r.ReadBoolean()); }},
        {[](R& r) { r.WriteInt32(0); }, "60", [](R& r) { EXPECT_EQ(r.ReadInt32(), 0); }},
        {[](R& r) { r.WriteInt32(5); }, "61 05", [](R& r) { EXPECT_EQ(r.ReadInt32(), 5); }},
        {[](R& r) { r.WriteInt32(-5); }, "21 05", [](R& r) { EXPECT_EQ(r.ReadInt32(), -5); }},
        {[](R& r) { r.WriteInt32(300); }, "62 01 2C", [](R& r) { EXPECT_EQ(r.ReadInt32(), 300); }},
        {[](R& r) { r.WriteInt32(INT_MIN); }, "24 80 00 00 00",
         [](R& r) { EXPECT_EQ(r.ReadInt32(), INT_MIN); }},
        {[](R& r) { r.WriteInt64(LLONG_MAX); }, "68 7F FF FF FF FF FF FF FF",
         [](R& r) { EXPECT_EQ(r.ReadInt64(), LLONG_MAX); }},
        {[](R& r) { r.WriteInt64(LLONG_MIN); }, "28 80 00 00 00 00 00 00 00",
         [](R& r) { EXPECT_EQ(r.ReadInt64(), LLONG_MIN); }},
        {[](R& r) { r.WriteDouble(1.0); }, "62 3F F0",
         [](R& r) { EXPECT_EQ(r.ReadDouble(), 1.0); }},
        {[](R& r) { r.WriteDouble(-2.5); }, "22 40 04",
         [](R& r) { EXPECT_EQ(r.ReadDouble(), -2.5); }},
        {[](R& r) { r.WriteDouble(0.1); }, "68 3F B9 99 99 99 99 99 9A",
         [](R& r) { EXPECT_EQ(r.ReadDouble(), 0.1); }},
        {[](R& r) { r.WriteDouble(0.0); }, "60", [](R& r) { EXPECT_EQ(r.ReadDouble(), 0.0); }},
        {[](R& r) { r.WriteDouble(-DBL_MAX); }, "28 7F EF FF FF FF FF FF FF",
         [](R& r) { EXPECT_EQ(r.ReadDouble(), -DBL_MAX); }},
        {[](R& r) { r.WriteSingle(1.0f); }, "62 3F 80",
         [](R& r) { EXPECT_EQ(r.ReadSingle(), 1.0f); }},
        {[](R& r) { r.WriteDate(2015, 12, 10); }, "63 0F BF 8A",
         [](R& r) { EXPECT_EQ(r.ReadInt64(), 2015 * 512 + 12 * 32 + 10); }},
        {[](R& r) { r.WriteTime(43200000); }, "64 02 93 2E 00",
         [](R& r) { EXPECT_EQ(r.ReadInt32(), 43200000); }},
        {[&](R& r) { r.WriteTimestamp(stamp); }, "27 66 01 51 8B 02 DF 40",
         [&](R& r) { EXPECT_EQ(r.ReadTimestamp(), stamp); }},
        {[&](R& r) { r.WriteTimestamp(stampMs); }, "2B 66 01 51 8B 02 DF 40 00 4C 4B 40",
         [&](R& r) { EXPECT_EQ(r.ReadTimestamp(), stampMs); }},
        {[&](R& r) { r.WriteTimestamp(before1970); }, "23 22 03 E8",
         [&](R& r) { EXPECT_EQ(r.ReadTimestamp(), before1970); }},
        {[](R& r) { r.WriteCallback(true); }, "02", [](R& r) { EXPECT_TRUE(r.ReadCallback()); }},
        {[](R& r) { r.WriteCallback(false); }, "C0", [](R& r) { EXPECT_TRUE(r.IsNull()); }},
        {[](R& r) { r.WriteJSON(R"({"a":1})"); }, "40 00 00 00 07 7B 22 61 22 3A 31 7D",
         [](R& r) { EXPECT_EQ(r.ReadJSON().ToAscii(), R"({"a":1})"); }},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Row(c.write);
        EXPECT_EQ(ToHex(bytes), ToHex(Hex(c.hex)));
        // Read back as the second field of a row.
        R row(0);
        row.SetRowBytes(Cat({Hex("10 00 01 FF"), bytes}));
        row.GoToField(1);
        c.check(row);
    }
}

TEST(RowBuffer, StringFields) {
    const struct {
        std::u16string text;
        Bytes expected;
    } cases[] = {
        {u"C:\\a.txt", Hex("28 43 3A 5C 61 2E 74 78 74")},
        {u"", Hex("20")},
        {Repeat(u'a', 31), Cat({Hex("3F"), Bytes(31, 'a')})},
        {Repeat(u'a', 32), Cat({Hex("10 00 20"), Bytes(32, 'a')})},
        {Repeat(u'b', 40), Cat({Hex("10 00 28"), Bytes(40, 'b')})},
        {u"Atualiza\u00e7\u00e3o", Hex("2B 41 74 75 61 6C 69 7A 61 E7 E3 6F")},
        {u"\u20ac 5", Hex("27 FF 20 AC 00 20 00 35")},
        {u"\u0100b", Hex("25 FF 01 00 00 62")},
        {u"a\u00ffb", Hex("26 61 FF 00 FF 00 62")},
        {u"\u00fe", Hex("21 FE")},
        // 16 characters in two-byte mode grow past 31 bytes: the two-byte length form.
        {Repeat(u'\u0100', 16), Cat({Hex("10 00 21 FF"), Hex(std::string(16, ' ') +
                                                             [] {
                                                                 std::string h;
                                                                 for (int i = 0; i < 16; ++i)
                                                                     h += "01 00 ";
                                                                 return h;
                                                             }())})},
    };
    for (const auto& c : cases) {
        R row(30720);
        EXPECT_TRUE(row.WriteString(c.text));
        const auto written = row.WrittenBytes();
        EXPECT_EQ(ToHex(written), ToHex(c.expected));
        R back(0);
        back.SetRowBytes(written);
        back.GoToField(0);
        EXPECT_EQ(back.ReadString(), c.text);
        EXPECT_TRUE(back.IsLastParameterBlobSegment());
    }
    EXPECT_EQ(TDBXStringEncoder::EncodedLength(u"\u20ac 5"), 7u);
}

TEST(RowBuffer, InlineAllowance) {
    R row(30720);
    EXPECT_EQ(row.InlineAllowance(), 30717);
    // A long text: the first 30717 encoded bytes inline with header 50, the rest as overflow.
    std::vector<std::uint8_t> overflow;
    EXPECT_FALSE(row.WriteString(Repeat(u'x', 40000), &overflow));
    EXPECT_EQ(ToHex(row.WrittenBytes().first(3)), "50 77 FD");
    EXPECT_EQ(row.Offset(), 30720);
    EXPECT_EQ(overflow.size(), 40000u - 30717u);
    // Past the minimum size a later large value gets 1024 bytes inline.
    EXPECT_EQ(row.InlineAllowance(), 1024);
    TDBXMemoryStreamReader bytes(std::make_shared<const std::vector<std::uint8_t>>(5000, 7));
    EXPECT_EQ(row.WriteBytes(bytes), 1024u);
    EXPECT_EQ(bytes.Remaining(), 5000u - 1024u);
    EXPECT_EQ(row.LastInlineByteCount(), 1024);
    // The grown buffer gives a first value a little more room on the next row.
    row.Cancel();
    EXPECT_GT(row.InlineAllowance(), 30717);
    EXPECT_LE(row.InlineAllowance(), 65535);

    // A later value that still fits before the minimum size gets all the room left.
    R two(30720);
    two.WriteString(u"abc");
    EXPECT_EQ(two.InlineAllowance(), 30720 - 4 - 3);
}

TEST(RowBuffer, ByteFields) {
    const struct {
        std::size_t size;
        const char* header;
    } cases[] = {
        {0, "20"}, {1, "10 00 01"}, {100, "10 00 64"}, {30717, "10 77 FD"}, {30718, "50 77 FD"}};
    for (const auto& c : cases) {
        R row(30720);
        TDBXMemoryStreamReader source(std::make_shared<const std::vector<std::uint8_t>>(c.size, 9));
        row.WriteBytes(source);
        const std::size_t headerLength = c.size == 0 ? 1 : 3;
        EXPECT_EQ(ToHex(row.WrittenBytes().first(headerLength)), ToHex(Hex(c.header))) << c.size;
        R back(0);
        back.SetRowBytes(row.WrittenBytes());
        back.GoToField(0);
        EXPECT_EQ(back.ReadInlineBytes().size(), std::min<std::size_t>(c.size, 30717));
        EXPECT_EQ(back.IsLastParameterBlobSegment(), c.size <= 30717);
    }
}

TEST(RowBuffer, GoToFieldStepsOverEveryForm) {
    // Fields: null, short, two-byte length, JSON block, blob header 08, blob header 0C with a
    // sixth byte, callback, legacy zero-terminated, 61 05, and a header the stepping does not know
    // (it takes no room, so a field after it would start on the same byte).
    const Bytes row =
        Cat({Hex("C0"), Hex("22 AA BB"), Hex("10 00 02 CC DD"), Hex("40 00 00 00 01 7B"),
             Hex("08 00 00 10 00"), Hex("0C 00 00 10 00 02 EE FF"), Hex("02"), Hex("00 41 42 00"),
             Hex("61 05"), Hex("01")});
    R r(0);
    r.SetRowBytes(row);
    r.GoToField(8);
    EXPECT_EQ(r.ReadInt32(), 5);
    r.GoToField(7);  // backwards: restarts from the row start
    EXPECT_EQ(Str(r.ReadInlineBytes()), "AB");
    EXPECT_EQ(r.ReadString(), u"AB");
    r.GoToField(4);
    EXPECT_TRUE(r.IsBlobHeader());
    EXPECT_FALSE(r.IsLastParameterBlobSegment());
    r.GoToField(2);
    EXPECT_EQ(ToHex(r.ReadInlineBytes()), "CC DD");
    r.GoToField(10);
    EXPECT_EQ(r.Header(), 0x01);
    EXPECT_EQ(r.RowEnd(10), row.size() - 1);
}

TEST(RowBuffer, MalformedRowsFail) {
    const Bytes good = Cat({Hex("22 AA BB"), Hex("10 00 02 CC DD"), Hex("40 00 00 00 01 7B"),
                            Hex("0C 00 00 10 00 02 EE FF"), Hex("00 41 00"), Hex("61 05")});
    // Every cut of the row: stepping to the last field fails cleanly.
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        R r(0);
        r.SetRowBytes(std::span(good).first(cut));
        EXPECT_EQ(CatchDbx([&] { r.GoToField(5); }).ErrorCode(), TDBXErrorCodes::InvalidLength)
            << cut;
    }
    const struct {
        const char* hex;
        std::function<void(R&)> read;
        std::u16string message;
    } cases[] = {
        {"40 FF FF FF FF", [](R& r) { r.GoToField(0); }, u"DBX Error:  Invalid length"},
        {"02", [](R& r) { r.ReadString(); }, u"Unexpected header"},
        {"40 00 00 00 00", [](R& r) { r.ReadString(); }, u"Unexpected header"},
        {"10 00 00", [](R& r) { r.ReadInt64(); }, u"Unexpected header"},
        {"69 00 00 00 00 00 00 00 00 00", [](R& r) { r.ReadInt64(); }, u"Unexpected header"},
        {"29 00 00 00 00 00 00 00 00 00", [](R& r) { r.ReadDouble(); }, u"Unexpected header"},
        {"25 00 00 00 00 00", [](R& r) { r.ReadSingle(); }, u"Unexpected header"},
        {"22 69 00", [](R& r) { r.ReadTimestamp(); }, u"Unexpected header"},
        {"20", [](R& r) { r.ReadJSON(); }, u"Invalid JSON header byte encountered"},
        {"40 00 00 00 01 7B", [](R& r) { r.ReadJSON(); }, u"Cannot parse properly the JSON value"},
        {"00 41", [](R& r) { r.GoToField(0); }, u"DBX Error:  Invalid length"},
        {"", [](R& r) { r.Header(); }, u"DBX Error:  Invalid length"},
        // A continued field on a row that cannot fetch segments.
        {"50 00 01 41", [](R& r) { r.ReadString(); }, u"DBX Error:  Not supported"},
    };
    for (const auto& c : cases) {
        R r(0);
        r.SetRowBytes(Hex(c.hex));
        EXPECT_EQ(CatchDbx([&] { c.read(r); }).Message(), c.message) << c.hex;
    }
}

TEST(StringDecoder, PairsSplitAcrossSegments) {
    const std::u16string text = u"ab\u00ff\u20ac\u0100z";
    const Bytes encoded = TDBXStringEncoder::Encode(text);
    for (std::size_t split = 0; split <= encoded.size(); ++split) {
        TDBXStringDecoder decoder;
        std::u16string out;
        decoder.Decode(std::span(encoded).first(split), out);
        decoder.Decode(std::span(encoded).subspan(split), out);
        EXPECT_EQ(out, text) << split;
    }
}

}  // namespace
}  // namespace ab::test
