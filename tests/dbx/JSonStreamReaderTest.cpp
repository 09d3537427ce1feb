// Reader: tokens, number quirks, strings, skipping, reply starts, error bodies, the error texts,
// channel failures and peer-announced lengths.
#include <climits>

#include "DbxTestSupport.h"
#include "dbx/DbxConstants.h"
#include "support/MemoryChannel.h"

namespace ab::test {
namespace {

using Tok = TDBXTokens;

struct Input {
    explicit Input(std::string_view text, std::size_t perRead = 0)
        : channel(B(text), perRead), reader(&channel, 32768) {
        reader.Open();
    }
    BufferChannel channel;
    TDBXJSonStreamReader reader;
};

TEST(JSonStreamReader, Tokens) {
    Input in(" {\t}\r\n[ ] : , true false null \"x5");
    std::vector<int> tokens;
    for (int i = 0; i < 11; ++i)
        tokens.push_back(in.reader.Next());
    EXPECT_EQ(tokens,
              (std::vector<int>{Tok::TokenObjectStart, Tok::TokenObjectEnd, Tok::TokenArrayStart,
                                Tok::TokenArrayEnd, Tok::TokenNameSeparator,
                                Tok::TokenValueSeparator, Tok::TokenTrue, Tok::TokenFalse,
                                Tok::TokenNull, Tok::TokenStringStart, Tok::TokenNumber}));
    EXPECT_FALSE(in.reader.GetBooleanValue());
}

TEST(JSonStreamReader, ErrorTexts) {
    {
        Input in("{}");
        in.reader.Next(Tok::TokenObjectStart);
        const TDBXError e = CatchDbx([&] { in.reader.Next(Tok::TokenArrayEnd); });
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.Message(), u"Expected:  ']' found:  '}' at position:  1\n{}");
    }
    {
        Input in("[trux]");
        in.reader.Next();
        const TDBXError e = CatchDbx([&] { in.reader.Next(); });
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.Message(), u"Expected:  'true at position:  4\n[trux]");
    }
    {
        Input in("[ 5]\x01");
        in.reader.Next();
        const TDBXError e = CatchDbx([&] { in.reader.ReadInt(); });
        EXPECT_EQ(e.Message(), u"Unexpected byte at position:  0\n[ 5]#1");
        // The rest of the buffer is discarded after a syntax error.
        EXPECT_FALSE(in.reader.HasMoreBytes());
    }
    {
        Input in("");
        const TDBXError e = CatchDbx([&] { in.reader.Next(); });
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.Message(), u"Read error");
    }
    EXPECT_EQ(TDBXTokens::TokenText(99), u"Unknown");
    EXPECT_EQ(TDBXTokens::TokenText(Tok::TokenNumber), u"-+0-9.");
}

TEST(JSonStreamReader, Numbers) {
    const struct {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"[5]", 5},
        {"[-12]", -12},
        {"[+7]", 7},
        {"[1.5]", 15},
        {"[]", 0},
        {"[0]", 0},
        {"[2147483647,", 2147483647},
        {"[-2147483648]", INT_MIN},
        {"[1e3]", 13},
        {"[32747    ,", 32747},
    };
    for (const auto& c : cases) {
        Input in(c.text);
        in.reader.Next(Tok::TokenArrayStart);
        EXPECT_EQ(in.reader.ReadInt(), c.value) << c.text;
    }
    Input big("[-9223372036854775808,9223372036854775807]");
    big.reader.Next();
    EXPECT_EQ(big.reader.ReadLong(), LLONG_MIN);
    big.reader.NextValueSeparator();
    EXPECT_EQ(big.reader.ReadLong(), LLONG_MAX);
    // Overlong numbers wrap instead of overflowing.
    Input wrap("[99999999999999999999999999]");
    wrap.reader.Next();
    wrap.reader.ReadInt();
    for (const char* bad : {"[ 5]", "[x]", "[\"5\"]"}) {
        Input in(bad);
        in.reader.Next();
        EXPECT_EQ(CatchDbx([&] { in.reader.ReadInt(); }).ErrorCode(), 2) << bad;
    }
}

TEST(JSonStreamReader, Strings) {
    const struct {
        const char* text;
        std::u16string value;
    } cases[] = {
        {R"("a\/b")", u"a/b"},
        {R"("\u00e9\u00E9")", u"\u00e9\u00e9"},
        {"\"\xE7\xE3o\"", u"\u00e7\u00e3o"},
        {R"("\b\f\n\r\t\"\\\q")", u"\b\f\n\r\t\"\\q"},
        {R"("\u20AC")", u"\u20ac"},
        {R"("")", u""},
        // A string read when the current token is not its opening quote starts after the next one.
        {R"(  :  "key")", u"key"},
    };
    for (const auto& c : cases) {
        Input in(c.text);
        EXPECT_EQ(in.reader.ReadString(), c.value) << c.text;
        EXPECT_EQ(in.reader.Token(), Tok::TokenStringEnd);
    }
    Input code(R"("more_blob" "nope")");
    EXPECT_EQ(code.reader.ReadStringCode(), TDBXStringCodes::MoreBlob);
    EXPECT_EQ(code.reader.GetStringValue(), u"more_blob");
    EXPECT_EQ(code.reader.ReadStringCode(), TDBXStringCodes::Unknown);
    Input badHex(R"("\u00G0")");
    EXPECT_EQ(CatchDbx([&] { badHex.reader.ReadString(); }).ErrorCode(), 2);
    Input open("\"abc");
    EXPECT_EQ(CatchDbx([&] { open.reader.ReadString(); }).Message(), u"Read error");
}

TEST(JSonStreamReader, BooleansRawBytesAndSkipping) {
    Input in(R"([true,false,null]{"a":{"b":"}{"},"c":[1,2]}X[1,[2,["]"]]]Y,)"
             "\x01\x02\x03");
    in.reader.Next();
    EXPECT_TRUE(in.reader.ReadBoolean());
    in.reader.NextValueSeparator();
    EXPECT_FALSE(in.reader.ReadBoolean());
    in.reader.NextValueSeparator();
    const TDBXError e = CatchDbx([&] { in.reader.ReadBoolean(); });
    EXPECT_EQ(e.Message().substr(0, 31), u"Expected:  'true' found:  'null");

    Input skip(R"({"a":{"b":"}{"},"c":[1,2]}X[1,[2,["]"]]]Y,)"
               "\x01\x02\x03");
    skip.reader.Next(Tok::TokenObjectStart);
    skip.reader.SkipToEndOfObject();
    EXPECT_EQ(skip.reader.Next(), Tok::TokenNumber);  // X
    skip.reader.Next(Tok::TokenArrayStart);
    skip.reader.SkipToEndOfArray();
    skip.reader.Next();  // Y
    skip.reader.NextValueSeparator();
    std::uint8_t raw[3];
    skip.reader.ReadDataBytes(raw);
    EXPECT_EQ(Bytes(raw, raw + 3), Hex("01 02 03"));
}

TEST(JSonStreamReader, ReplyStarts) {
    {
        Input in("  \r\n\t{ \"result\" :[42]}");
        EXPECT_EQ(in.reader.ReadIntResultObject(), 42);
    }
    {
        Input in("x{\"result\":[1]}");
        const TDBXError e = CatchDbx([&] { in.reader.NextResultObjectStart(); });
        EXPECT_EQ(e.Message().substr(0, 30), u"Expected:  '{' found:  '-+0-9.");
    }
    {
        Input in("{ 5");
        EXPECT_EQ(CatchDbx([&] { in.reader.NextResultObjectStart(); }).Message().substr(0, 30),
                  u"Unexpected byte at position:  ");
    }
    {
        Input in("{\"resulx\":");
        EXPECT_EQ(CatchDbx([&] { in.reader.NextResultObjectStart(); }).Message().substr(0, 20),
                  u"Expected:  '\"result\"");
    }
    {
        Input in("{\"other\":[]}");
        EXPECT_EQ(CatchDbx([&] { in.reader.NextResultObjectStart(); }).Message().substr(0, 20),
                  u"Expected:  '\"result\"");
    }
    {
        Input in("{\"eggs\":[]}");
        EXPECT_EQ(CatchDbx([&] { in.reader.NextResultObjectStart(); }).Message().substr(0, 19),
                  u"Expected:  '\"error\"");
    }
    // Data-store header: total length 13 from the B7 byte, flag 1, four further header bytes.
    {
        Input in(Str(Cat({Hex("B7 00 00 00 0D 00 00 00 01 AA BB CC DD"), B(" {\"result\":[3]}")})),
                 1);
        EXPECT_EQ(in.reader.ReadIntResultObject(), 3);
    }
    {
        Input in(Str(Cat({Hex("B7 00 00 00 09 00 00 00 00"), B("{\"result\":[3]}")})));
        try {
            in.reader.NextResultObjectStart();
            FAIL();
        } catch (const TDBXError&) {
            FAIL() << "a plain exception is expected";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), u"Server uses unsupported streaming protocol");
        }
    }
}

TEST(JSonStreamReader, ErrorReplies) {
    const struct {
        const char* text;
        int code;
        std::u16string message;
    } cases[] = {
        {R"({"error":{"name":"E","code":5,"message":"boom"}})", 5, u"boom"},
        {R"({"error":{"name":"E","message":"no code"}})", 2, u"no code"},
        {R"({"error":{"code":-7}})", -7, u"unknown error"},
        {R"({"error":{"message":"first","error":{"x":{"y":"}"}},"code":9}})", 9, u"first"},
        {R"({"error":{"name":"\u00e9","code":1,"message":"caf\u00e9"}})", 1, u"caf\u00e9"},
    };
    for (const auto& c : cases) {
        Input in(c.text);
        const TDBXError e = CatchDbx([&] { in.reader.NextResultObjectStart(); });
        EXPECT_EQ(e.ErrorCode(), c.code) << c.text;
        EXPECT_EQ(e.Message(), c.message) << c.text;
    }
    // The reader stands right after the inner object: the next reply follows.
    Input in(R"({"error":{"code":3,"message":"m"}{"result":[8]})");
    EXPECT_EQ(CatchDbx([&] { in.reader.NextResultObjectStart(); }).ErrorCode(), 3);
    EXPECT_EQ(in.reader.ReadIntResultObject(), 8);
    // The error's value must be an object with a member.
    Input empty(R"({"error":{}})");
    EXPECT_EQ(CatchDbx([&] { empty.reader.NextResultObjectStart(); }).ErrorCode(), 2);
}

// Every prefix of a reply ends in a TDBXError: never a crash or a hang.
TEST(JSonStreamReader, TruncatedRepliesFail) {
    const std::string reply = R"({"result":[{"handle":[7]},{"x":["a",{"b":[1]}]},{"data":[3,)"
                              "\x01\x02\x03]}]}";
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
        Input in(reply.substr(0, cut));
        EXPECT_EQ(CatchDbx([&] {
                      in.reader.NextResultObjectStart();
                      in.reader.Next(Tok::TokenArrayStart);
                      in.reader.Next(Tok::TokenObjectStart);
                      in.reader.ReadStringCode();
                      in.reader.SkipToEndOfObject();
                      in.reader.NextValueSeparator();
                      in.reader.Next(Tok::TokenObjectStart);
                      in.reader.SkipToEndOfObject();
                      in.reader.NextValueSeparator();
                      std::vector<std::uint8_t> data;
                      in.reader.ReadDataBlock(data);
                      in.reader.Next(Tok::TokenArrayEnd);
                      in.reader.Next(Tok::TokenObjectEnd);
                  }).ErrorCode(),
                  1)
            << cut;
    }
}

// A peer that announces a huge block and sends little costs what it sent.
TEST(JSonStreamReader, AnnouncedLengthsDoNotAllocate) {
    const std::string head = "{\"data\":[2147483647," + std::string(10, 'z');
    {
        Input in(head);
        std::vector<std::uint8_t> dest;
        EXPECT_EQ(CatchDbx([&] { in.reader.ReadDataBlock(dest, INT64_MAX); }).Message(),
                  u"Read error");
        EXPECT_EQ(dest.size(), 10u);
        EXPECT_LT(dest.capacity(), 1u << 20);
    }
    {
        Input in(head);
        std::vector<std::uint8_t> dest;
        EXPECT_EQ(CatchDbx([&] { in.reader.ReadDataBlock(dest); }).ErrorCode(),
                  TDBXErrorCodes::InvalidLength);
        EXPECT_TRUE(dest.empty());
    }
    {
        // A reply row announced at 60 MB.
        Input in("{\"data\":[60000000," + std::string(10, 'z'));
        in.reader.ReadDataObjectStart();
        TDBXRowBuffer row(30720);
        EXPECT_EQ(CatchDbx([&] { row.ReadDataBytes(in.reader, 60000000); }).Message(),
                  u"Read error");
        EXPECT_LT(row.BufLength(), 1 << 20);
    }
}

}  // namespace
}  // namespace ab::test
