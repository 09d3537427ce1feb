// Parameter rows on the server side: splitting the rows a client sends, decoding and encoding
// text fields, and the reply fields.
#include "server/TParameterRow.h"

#include <gtest/gtest.h>

#include "ServerTestSupport.h"

namespace ab::server {
namespace {

using test::Bytes;
using test::Hex;

TEST(TParameterRowTest, SplitsTheRowsOfTheRun) {
    // C:\a.txt and an unset return.
    const Bytes run = Hex("28 43 3A 5C 61 2E 74 78 74 C0");
    auto fields = TParameterRow::Split(run);
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), 2u);
    EXPECT_EQ(TParameterRow::DecodeString((*fields)[0].payload), u"C:\\a.txt");
    EXPECT_TRUE((*fields)[1].isNull);
    // A 2-byte-length value, a boolean, a null; and a first segment.
    const Bytes mixed = Hex("10 00 02 AA BB 60 C0 50 00 01 CC 20");
    fields = TParameterRow::Split(mixed);
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), 5u);
    EXPECT_EQ(Bytes((*fields)[0].payload.begin(), (*fields)[0].payload.end()), Hex("AA BB"));
    EXPECT_TRUE((*fields)[1].truth);
    EXPECT_TRUE((*fields)[3].firstSegment);
    EXPECT_FALSE((*fields)[4].truth);
    EXPECT_TRUE((*fields)[4].payload.empty());
    for (const char* bad :
         {"29 41", "10 00", "10 00 03 41 42", "08 00 00 00 01", "40 00 00 00 00", "00", "80", "02"})
        EXPECT_FALSE(TParameterRow::Split(Hex(bad))) << bad;
}

TEST(TParameterRowTest, StringBytes) {
    EXPECT_EQ(TParameterRow::EncodeString(u"Atualiza\u00E7\u00E3o"),
              Hex("41 74 75 61 6C 69 7A 61 E7 E3 6F"));
    EXPECT_EQ(TParameterRow::EncodeString(u"\u20AC 5"), Hex("FF 20 AC 00 20 00 35"));
    EXPECT_EQ(TParameterRow::EncodeString(u"a\u00FFb"), Hex("61 FF 00 FF 00 62"));
    EXPECT_EQ(TParameterRow::DecodeString(Hex("FF 20 AC 00 20 00 35")), u"\u20AC 5");
    EXPECT_EQ(TParameterRow::DecodeString(Hex("61 FF 00 FF 00 62")), u"a\u00FFb");
    EXPECT_FALSE(TParameterRow::DecodeString(Hex("FF 20")));
}

TEST(TParameterRowTest, ReplyFields) {
    Bytes row;
    TParameterRow::AppendNull(row);
    TParameterRow::AppendBool(row, true);
    TParameterRow::AppendBool(row, false);
    TParameterRow::AppendInt32(row, 0);
    TParameterRow::AppendInt32(row, 5);
    TParameterRow::AppendInt32(row, -5);
    TParameterRow::AppendInt32(row, 300);
    EXPECT_EQ(row, Hex("C0 60 20 60 61 05 21 05 62 01 2C"));
    row.clear();
    EXPECT_TRUE(TParameterRow::AppendString(row, std::u16string(31, u'a')));
    EXPECT_EQ(row[0], 0x3F);
    row.clear();
    EXPECT_TRUE(TParameterRow::AppendString(row, std::u16string(40, u'a')));
    EXPECT_EQ(Bytes(row.begin(), row.begin() + 3), Hex("10 00 28"));
    row.clear();
    EXPECT_TRUE(TParameterRow::AppendString(row, u""));
    EXPECT_EQ(row, Hex("20"));
    EXPECT_FALSE(TParameterRow::AppendString(row, std::u16string(70000, u'a')));
}

}  // namespace
}  // namespace ab::server
