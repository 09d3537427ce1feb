// Packet writer mechanics: header patching, property counts, level, growth, row offset, refusals.
#include <gtest/gtest.h>

#include <functional>

#include "PacketTestSupport.h"
#include "packet/EDBClient.h"
#include "packet/PacketConstants.h"
#include "packet/TDSDataPacketReader.h"
#include "packet/TDSDataPacketWriter.h"

namespace ab {
namespace {

using testing::Bytes;
using testing::Hex;

int CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EDBClient& e) {
        return e.ErrorCode();
    }
    return 0;
}

std::uint8_t Status(std::uint8_t s) {
    return s;
}

TEST(PacketWriter, PropertiesCountsAndNullBits) {
    TDSDataPacketWriter w;
    w.Init_Sequential(3, 5);
    w.AddColumnDesc({"A", 0x00010004, fldAttrREQUIRED});
    w.AddAttribute(fldAttrArea, "P1", dsTypeUInt16, Hex("07 00"));
    w.AddAttribute(fldAttrArea, "P2", 0x00490001, Hex("02 68 69"));  // prefix in front
    for (const char* name : {"B", "C", "D", "E"})
        w.AddColumnDesc({name, 0x00010004, 0});
    w.AddAttribute(pcktAttrArea, "K", dsTypeUInt16Array, Hex("02 00 00 00 01 00 02 80"));
    w.AddAttribute(pcktAttrArea, "L", dsTypeInt32, Hex("2A 00 00 00"));
    w.AddAttribute(pcktAttrArea, {}, 0, {});
    const std::uint8_t s = Status(dsRecModified);
    w.PutField(fldIsChanged, {&s, 1});
    w.PutField(fldIsNull, {});
    w.PutField(fldIsChanged, Hex("01 02 03 04 FF"));  // fixed size: the first 4 bytes
    w.PutField(fldIsUnChanged, {});
    w.PutField(fldIsChanged, Hex("05 00 00 00"));
    w.PutField(fldIsUnChanged, {});
    const auto packet = w.GetDataPacket();
    const auto expected = Hex(R"(
        96 19 E0 BD 01 00 00 00 18 00 00 00 05 00 01 00 00 00 03 00 00 00 77 00
        01 41 04 00 01 00 04 00 02 00
           02 50 31 02 00 02 00 07 00
           02 50 32 01 00 49 00 02 68 69
        01 42 04 00 01 00 00 00 00 00
        01 43 04 00 01 00 00 00 00 00
        01 44 04 00 01 00 00 00 00 00
        01 45 04 00 01 00 00 00 00 00
        02 00
           01 4B 02 00 82 00 02 00 00 00 01 00 02 80
           01 4C 04 00 01 00 2A 00 00 00
        08 21 02 01 02 03 04 05 00 00 00)");
    EXPECT_EQ(packet, expected);
    const auto parsed = ReadDataPacket(packet);
    EXPECT_EQ(parsed.Rows[0].Marks, (std::vector<std::uint8_t>{1, 0, 2, 0, 2}));
    EXPECT_EQ(parsed.Columns[0].FindProperty("P2")->Content.size(), 2u);
}

TEST(PacketWriter, LevelAndRowOffsetRules) {
    {  // a code above 11 raises the level; no row: the offset is taken at the end
        TDSDataPacketWriter w;
        w.Init_Sequential(3, 1);
        w.AddColumnDesc({"D", 0x00110010, 0});
        const auto p = w.GetDataPacket();
        EXPECT_EQ(p, Hex("96 19 E0 BD 02 00 00 00 18 00 00 00 01 00 00 00 00 00 03 00 00 00 24 00"
                         "01 44 10 00 11 00 00 00 00 00 00 00"));
        EXPECT_EQ(ReadDataPacket(p).Level, 2);
    }
    {  // rows beyond 65,535: flag bit 1 stays clear and the field 0
        TDSDataPacketWriter w;
        w.Init_Sequential(3, 1);
        w.AddColumnDesc({"B", dsTypeBlob, 0});
        std::vector<std::uint8_t> big(4 + 70'000, 0x5A);
        big[0] = 0x70, big[1] = 0x11, big[2] = 0x01, big[3] = 0;  // prefix 70,000
        w.AddAttribute(pcktAttrArea, "BIG", dsTypeBlob, big);
        const std::uint8_t s = dsRecNew;
        w.PutField(fldIsChanged, {&s, 1});
        w.PutField(fldIsNull, {});
        const auto p = w.GetDataPacket();
        EXPECT_EQ(p[18], 1);
        EXPECT_EQ(p[22] | p[23], 0);
        EXPECT_EQ(p.size(), 24u + 1 + 1 + 4 + 2 + 2 + 2 + 1 + 3 + 4 + 4 + 70'000 + 1 + 1);
        EXPECT_EQ(ReadDataPacket(p).Rows.size(), 1u);
    }
}

// Steps alternate between 32,768 bytes and the capacity (capped at 1,024,000), never less than
// the room needed.
TEST(PacketWriter, GrowthPolicy) {
    TDSDataPacketWriter w;
    w.Init_Sequential(3, 1);
    EXPECT_EQ(w.Capacity(), 32'768u);
    w.AddColumnDesc({"B", dsTypeBlob, 0});
    w.AddAttribute(pcktAttrArea, {}, 0, {});
    const std::vector<std::uint8_t> chunk(10'000, 1);
    std::vector<std::size_t> capacities{w.Capacity()};
    const std::uint8_t s = dsRecNew;
    for (int i = 0; i < 230; ++i) {
        w.PutField(fldIsChanged, {&s, 1});
        w.PutField(fldIsChanged, chunk);
        if (w.Capacity() != capacities.back())
            capacities.push_back(w.Capacity());
    }
    EXPECT_EQ(capacities,
              (std::vector<std::size_t>{32'768, 65'536, 131'072, 163'840, 327'680, 360'448, 720'896,
                                        753'664, 1'507'328, 1'540'096, 2'564'096}));
    EXPECT_EQ(w.GetDataPacket().size(), 36u + 230 * 10'006);

    const std::vector<std::uint8_t> large(5'000'000, 2);
    TDSDataPacketWriter g;
    g.Init_Sequential(3, 1);
    g.AddColumnDesc({"B", dsTypeBlob, 0});
    g.PutField(fldIsChanged, {&s, 1});
    g.PutField(fldIsChanged, large);  // more than a step: grown to fit exactly
    EXPECT_EQ(g.Capacity(), 24u + 10 + 2 + 2 + 5'000'004);
    EXPECT_EQ(g.GetDataPacket().size(), 24u + 10 + 2 + 2 + 5'000'004);
}

TEST(PacketWriter, Refusals) {
    const std::uint8_t s = dsRecNew;
    auto begun = [](std::uint16_t columns) {
        auto w = std::make_unique<TDSDataPacketWriter>();
        w->Init_Sequential(3, columns);
        return w;
    };
    struct Case {
        const char* what;
        int code;
        std::function<void()> run;
    } cases[] = {
        {"version 4", DBERR_DATAPACKETMISMATCH,
         [] { TDSDataPacketWriter().Init_Sequential(4, 1); }},
        {"RowState", DBERR_NA,
         [&] {
             begun(1)->AddColumnDesc({"RowState", dsTypeTimeStamp, 0});
         }},
        {"code 37", DBERR_NA,
         [&] {
             begun(1)->AddColumnDesc({"X", 0x00250004, 0});
         }},
        {"extra column", DBERR_NA,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->AddColumnDesc({"Y", dsTypeTimeStamp, 0});
         }},
        {"long name", DBERR_INVALIDPARAM,
         [&] {
             begun(1)->AddColumnDesc({std::string(32, 'n'), dsTypeTimeStamp, 0});
         }},
        {"property after a row", DBERR_NA,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutField(fldIsNull, {});
             w->AddAttribute(pcktAttrArea, "P", dsTypeUInt16, Hex("01 00"));
         }},
        {"array of varying", DBERR_INVALIDFLDTYPE,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->AddAttribute(fldAttrArea, "P", 0x00C90001, Hex("00 00 00 00"));
         }},
        {"column without encoding", DBERR_INVALIDFLDTYPE,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", 0x010C0002, 0});  // structure
             w->PutField(fldIsChanged, {&s, 1});
         }},
        {"short fixed value", DBERR_INVALIDPARAM,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutField(fldIsChanged, Hex("01 02 03"));
         }},
        {"text beyond its prefix", DBERR_INVALIDPARAM,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeZStringPrefix1, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutField(fldIsChanged, std::vector<std::uint8_t>(256, 'a'));
         }},
        {"short array", DBERR_INVALIDPARAM,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->AddAttribute(pcktAttrArea, "L", dsTypeUInt32Array, Hex("02 00 00 00 01 00 00 00"));
         }},
        {"unnamed property", DBERR_INVALIDPARAM,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->AddAttribute(fldAttrArea, "", dsTypeUInt16, Hex("01 00"));
         }},
        {"value after a deferred one", DBERR_NA,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeBlob, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutFieldDeferred(10);
             w->PutField(fldIsChanged, {&s, 1});
         }},
        {"deferred fixed value", DBERR_INVALIDPARAM,
         [&] {
             auto w = begun(1);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutFieldDeferred(8);
         }},
        {"deferred before the last column", DBERR_NA,
         [&] {
             auto w = begun(2);
             w->AddColumnDesc({"X", dsTypeBlob, 0});
             w->AddColumnDesc({"Y", dsTypeBlob, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutFieldDeferred(1);
         }},
        {"missing columns", DBERR_NA, [&] { begun(2)->GetDataPacket(); }},
        {"unfinished row", DBERR_NA,
         [&] {
             auto w = begun(2);
             w->AddColumnDesc({"X", dsTypeTimeStamp, 0});
             w->AddColumnDesc({"Y", dsTypeTimeStamp, 0});
             w->PutField(fldIsChanged, {&s, 1});
             w->PutField(fldIsNull, {});
             w->GetDataPacket();
         }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeOf(c.run), c.code) << c.what;
    try {
        TDSDataPacketWriter().Init_Sequential(4, 1);
    } catch (const EDBClient& e) {
        EXPECT_EQ(e.Message(), u"Mismatch in datapacket.");
    }
}

}  // namespace
}  // namespace ab
