// JSON document value: parsing, member order, ASCII serialisation with the protocol's escapes.
#include <gtest/gtest.h>

#include "dbx/TJSONValue.h"

namespace ab {
namespace {

TEST(TJSONValue, ParsesAndKeepsMemberOrder) {
    auto v = TJSONValue::Parse(
        u" {\"RSA\":{\"PublicKey\":\"30\"},\"PC1\":{\"Key\":null},\"n\":[1,-2.5e3,true]} ");
    ASSERT_TRUE(v);
    ASSERT_EQ(v->Members().size(), 3u);
    EXPECT_EQ(v->Members()[0].first, u"RSA");
    EXPECT_EQ(v->Members()[1].first, u"PC1");
    EXPECT_EQ(v->Get(u"RSA")->Get(u"PublicKey")->Text(), u"30");
    EXPECT_TRUE(v->Get(u"PC1")->Get(u"Key")->IsNull());
    EXPECT_EQ(v->Get(u"n")->Items()[1].Text(), u"-2.5e3");
    EXPECT_EQ(v->ToAscii(),
              "{\"RSA\":{\"PublicKey\":\"30\"},\"PC1\":{\"Key\":null},\"n\":[1,-2.5e3,true]}");
}

TEST(TJSONValue, EscapesAsAscii) {
    auto o = TJSONValue::Object();
    o.Add(u"k", TJSONValue::String(u"a\"b\\c/d\b\t\n\f\r\x01\u00E9\u20AC"));
    EXPECT_EQ(o.ToAscii(), "{\"k\":\"a\\\"b\\\\c\\/d\\b\\t\\n\\f\\r\\u0001\\u00E9\\u20AC\"}");
    auto back = TJSONValue::Parse(o.ToString());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, o);
    EXPECT_EQ(TJSONValue::Parse(u"\"\\u00e9\\u00E9\"")->Text(), u"\u00E9\u00E9");
}

TEST(TJSONValue, RejectsMalformedText) {
    const char16_t* bad[] = {u"",          u"{",     u"{\"a\"}", u"{\"a\":}", u"[1,]",
                             u"tru",       u"\"abc", u"\"\\x\"", u"{} x",     u"01x",
                             u"\"\\u12\"", u"{a:1}", u"-",       u"1."};
    for (auto text : bad) {
        EXPECT_FALSE(TJSONValue::Parse(std::u16string_view(text)));
    }
    std::u16string deep(100000, u'[');
    EXPECT_FALSE(TJSONValue::Parse(deep));
}

}  // namespace
}  // namespace ab
