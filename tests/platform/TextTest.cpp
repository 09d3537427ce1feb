// Text conversions and number parsing.
#include <gtest/gtest.h>

#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

TEST(Text, Utf8RoundTripIncludingSurrogatePairs) {
    const std::u16string text = u"a\u00E7\u20AC\U0001F600z";
    EXPECT_EQ(ToUtf8(text), "a\xC3\xA7\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("\xFF"
                       "a\xC3"),
              u"\uFFFDa\uFFFD");
}

// Text with "%XX" standing for the kept byte XX (a lone surrogate cannot be written in a literal).
std::u16string Kept(std::u16string_view marked) {
    std::u16string out;
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if (marked[i] == u'%' && i + 2 < marked.size()) {
            out.push_back(static_cast<char16_t>(0xDC00 + HexDigitValue(marked[i + 1]) * 16 +
                                                HexDigitValue(marked[i + 2])));
            i += 2;
        } else {
            out.push_back(marked[i]);
        }
    }
    return out;
}

// A file name keeps its bytes through the program whatever its encoding; only bytes that are not
// UTF-8 are kept aside, and they read as their Windows-1252 characters.
TEST(Text, FileNamesAreBytes) {
    struct Case {
        std::string bytes;
        std::u16string text;
        std::u16string readable;
    } cases[] = {
        {"plain.txt", u"plain.txt", u"plain.txt"},
        {"Relat\xC3\xB3rio", u"Relat\u00F3rio", u"Relat\u00F3rio"},
        {"Relat\xF3rios", Kept(u"Relat%F3rios"), u"Relat\u00F3rios"},
        {"n\xE3o.txt", Kept(u"n%E3o.txt"), u"n\u00E3o.txt"},
        // Windows-1252's own letters above 7F, and a byte it leaves unassigned.
        {"\x80\x8A\x81", Kept(u"%80%8A%81"), u"\u20AC\u0160\u0081"},
        // A sequence cut short, an overlong form, an encoded surrogate: each byte on its own.
        {"a\xC3", Kept(u"a%C3"), u"a\u00C3"},
        {"\xC0\xAF", Kept(u"%C0%AF"), u"\u00C0\u00AF"},
        {"\xED\xA0\x80", Kept(u"%ED%A0%80"), u"\u00ED\u00A0\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600", u"\U0001F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(FromFileName(c.bytes), c.text);
        EXPECT_EQ(ToFileName(c.text), c.bytes);
        EXPECT_EQ(ReadableName(c.text), c.readable);
    }
    // Other lone surrogates cannot be a name's bytes.
    const std::u16string lone = {u'a', 0xD800, u'b', 0xDC10};
    EXPECT_EQ(ToFileName(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    // Text that is not a file name still reads invalid UTF-8 as replacements.
    EXPECT_EQ(ToUtf8(Kept(u"%F3")), "\xEF\xBF\xBD");
}

TEST(Text, AnsiIsWindows1252WithQuestionMarks) {
    EXPECT_EQ(ToAnsi(u"a\u00E7\u20AC\u0160\u0100\U0001F600"), "a\xE7\x80\x8A??");
    EXPECT_EQ(FromAnsi("\x80\x81\xE7"), u"\u20AC\u0081\u00E7");
}

TEST(Text, TrimFormatUpper) {
    EXPECT_EQ(Trim(u"\t  a b \r\n"), u"a b");
    EXPECT_EQ(Trim(u"   "), u"");
    EXPECT_EQ(AsciiUpper(u"teste\u00E7"), u"TESTE\u00E7");
    EXPECT_EQ(Format(u"Protocol %0:s after %1:s with %2:s.", {u"x", u"y", u"z"}),
              u"Protocol x after y with z.");
    EXPECT_EQ(Format(u"Filter %s rejected %s given %s. 100%%", {u"a", u"b", u""}),
              u"Filter a rejected b given . 100%");
}

TEST(Convert, WholeNumbers) {
    struct Case {
        const char16_t* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {u"3000", 3000},
        {u"  -12", -12},
        {u"+7", 7},
        {u"$1F", 31},
        {u"0x10", 16},
        {u"abc", std::nullopt},
        {u"", std::nullopt},
        {u"12 ", std::nullopt},
        {u"1.5", std::nullopt},
        {u"2147483647", 2147483647},
        {u"2147483648", std::nullopt},
        {u"-2147483648", INT32_MIN},
        {u"$FFFFFFFF", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TryStrToInt(c.text), c.value) << ToUtf8(c.text);
    }
    try {
        StrToInt(u"x1");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"'x1' is not a valid integer value");
    }
}

}  // namespace
}  // namespace ab
