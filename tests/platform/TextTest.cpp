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
