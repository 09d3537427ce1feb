// Strict packet reader: the worked example decoded, and every damaged form refused.
#include <gtest/gtest.h>

#include <cstring>

#include "PacketTestSupport.h"
#include "packet/EDBClient.h"
#include "packet/PacketConstants.h"
#include "packet/TDSDataPacketReader.h"

namespace ab {
namespace {

using testing::Hex;
using testing::kWorkedPacket;

int CodeOf(std::span<const std::uint8_t> bytes) {
    try {
        ReadDataPacket(bytes);
    } catch (const EDBClient& e) {
        return e.ErrorCode();
    }
    return 0;
}

TEST(PacketReader, DecodesTheWorkedExample) {
    const auto p = ReadDataPacket(kWorkedPacket);
    EXPECT_EQ(p.Level, 1);
    EXPECT_EQ(p.Flags, 3u);
    EXPECT_EQ(p.RowOffset, 0x88);
    ASSERT_EQ(p.Columns.size(), 3u);
    EXPECT_EQ(p.Columns[0].Name, "Nome");
    EXPECT_EQ(p.Columns[0].TypeWord, dsTypeZStringPrefix1);
    EXPECT_EQ(p.Columns[0].FindProperty("WIDTH")->Content[0], 200);
    EXPECT_EQ(p.Columns[2].TypeWord, dsTypeBlob);
    const auto* subtype = p.Columns[2].FindProperty("SUBTYPE");
    EXPECT_EQ(std::string(subtype->Content.begin(), subtype->Content.end()),
              std::string("Binary\0", 7));
    ASSERT_EQ(p.Properties.size(), 1u);
    EXPECT_EQ(p.Properties[0].Content.size(), 12u);
    ASSERT_EQ(p.Rows.size(), 1u);
    const auto& row = p.Rows[0];
    EXPECT_EQ(row.Status, dsRecNew);
    EXPECT_EQ(std::string(row.Values[0]->begin(), row.Values[0]->end()), "S01\\a.txt");
    double stamp;
    std::memcpy(&stamp, row.Values[1]->data(), 8);
    EXPECT_EQ(stamp, 63'585'513'000'000.0);
    EXPECT_EQ(std::string(row.Values[2]->begin(), row.Values[2]->end()), "ABCDE");
}

TEST(PacketReader, EveryTruncationAndTrailingByteIsRefused) {
    for (std::size_t n = 0; n < kWorkedPacket.size(); ++n)
        EXPECT_EQ(CodeOf(std::span(kWorkedPacket).first(n)), DBERR_DATAPACKETMISMATCH) << n;
    auto longer = kWorkedPacket;
    longer.push_back(0);
    EXPECT_EQ(CodeOf(longer), DBERR_DATAPACKETMISMATCH);
}

TEST(PacketReader, DamagedFieldsAreRefused) {
    struct Case {
        const char* what;
        std::size_t at;
        std::uint8_t value;
    } cases[] = {
        {"signature", 0, 0x97},
        {"level 4", 4, 4},
        {"level 2 without extended types", 4, 2},
        {"reserved 4", 6, 4},
        {"header size", 8, 0x17},
        {"row offset", 22, 0x87},
        {"column name empty", 0x18, 0},
        {"type code above 36", 0x1F, 0x65},
        {"pseudo column", 0x20, 0x01},
        {"varying prefix 3", 0x4A, 0x03},
        {"both null bits", 0x89, 0x03},
        {"bits of a missing column", 0x89, 0x40},
        {"negative blob length", 0x9F, 0x80},
        {"column count", 12, 4},
        {"row count", 14, 2},
    };
    for (const auto& c : cases) {
        auto bytes = kWorkedPacket;
        bytes[c.at] = c.value;
        EXPECT_EQ(CodeOf(bytes), DBERR_DATAPACKETMISMATCH) << c.what;
    }
    // A huge announced row count ends at the first missing byte, with nothing allocated for it.
    auto bytes = kWorkedPacket;
    bytes[14] = bytes[15] = bytes[16] = bytes[17] = 0xFF;
    EXPECT_EQ(CodeOf(bytes), DBERR_DATAPACKETMISMATCH);
}

}  // namespace
}  // namespace ab
