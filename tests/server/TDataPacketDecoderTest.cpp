// The strict packet decoder against the worked packet, the empty-file packet and a table of
// malformed packets; time stamps split into calendar fields.
#include "server/TDataPacketDecoder.h"

#include <gtest/gtest.h>

#include <functional>

#include "ServerTestSupport.h"

namespace ab::server {
namespace {

using test::Bytes;
using test::Hex;
using test::MakePacket;
using test::WorkedPacket;

using test::kExampleStamp;

TEST(TDataPacketDecoderTest, WorkedPacket) {
    const Bytes packet = WorkedPacket();
    ASSERT_EQ(packet.size(), 165u);
    const TDecodedPacket d = TDataPacketDecoder::Decode(packet);
    EXPECT_EQ(d.nameBytes, "S01\\a.txt");
    EXPECT_EQ(d.name, u"S01\\a.txt");
    EXPECT_EQ(d.dataHora, kExampleStamp);
    EXPECT_FALSE(d.contentNull);
    EXPECT_EQ(Bytes(d.content.begin(), d.content.end()), Hex("41 42 43 44 45"));
}

TEST(TDataPacketDecoderTest, EmptyFileIsNullContent) {
    const Bytes packet = MakePacket("S01\\a.txt", kExampleStamp, {});
    ASSERT_EQ(packet.size(), 156u);
    const TDecodedPacket d = TDataPacketDecoder::Decode(packet);
    EXPECT_TRUE(d.contentNull);
    EXPECT_TRUE(d.content.empty());
}

TEST(TDataPacketDecoderTest, AnsiNameBecomesText) {
    // ç and € in Windows-1252.
    const TDecodedPacket d = TDataPacketDecoder::Decode(MakePacket("S01\\a\xE7\x80", 1e14, {1}));
    EXPECT_EQ(d.name, u"S01\\a\u00E7\u20AC");
}

TEST(TDataPacketDecoderTest, StampFields) {
    struct Case {
        double value;
        int y, mo, d, h, mi, s, ms;
    } cases[] = {
        {63585513000000.0, 2015, 12, 11, 10, 30, 0, 0},
        {63585513000250.0, 2015, 12, 11, 10, 30, 0, 250},
        {59926521600000.0, 1899, 12, 30, 0, 0, 0, 0},
        {86400000.0, 1, 1, 1, 0, 0, 0, 0},
        {63082368000000.0 + 59 * 86400000.0, 2000, 2, 29, 0, 0, 0, 0},
        {63082368000000.0 - 1000.0, 1999, 12, 31, 23, 59, 59, 0},
    };
    for (const auto& c : cases) {
        const TStampFields f = TDataPacketDecoder::StampFields(c.value);
        EXPECT_EQ(
            (std::vector<int>{f.year, f.month, f.day, f.hour, f.minute, f.second, f.millisecond}),
            (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}))
            << c.value;
    }
    for (double bad : {0.0, -1.0, 1.5 + 1e13, 1e300, std::nan("")})
        EXPECT_THROW(TDataPacketDecoder::StampFields(bad), EPacketError) << bad;
}

TEST(TDataPacketDecoderTest, MalformedPacketsAreRefused) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;
    };
    auto set = [](std::size_t at, std::uint8_t v) { return [=](Bytes& p) { p[at] = v; }; };
    const Case cases[] = {
        {"signature", set(0, 0x97)},
        {"level 2", set(4, 2)},
        {"field at 6", set(6, 1)},
        {"header size", set(8, 0x19)},
        {"two columns", set(12, 2)},
        {"no row", set(14, 0)},
        {"two rows", set(14, 2)},
        {"flags", set(18, 7)},
        {"row offset", set(22, 0x87)},
        {"column name", set(0x19, 'n')},
        {"Nome type", set(0x1F, 0x4A)},
        {"Nome attributes", set(0x21, 1)},
        {"Nome without WIDTH", set(0x23, 0)},
        {"WIDTH type", set(0x2B, 3)},
        {"DataHora type", set(0x3B, 0x09)},
        {"DataHora with property", set(0x40, 1)},
        {"Arquivo type", set(0x4C, 0x4A)},
        {"subtype text", set(0x60, 'b')},
        {"two packet properties", set(0x67, 2)},
        {"change log type", set(0x76, 0x83)},
        {"change log count", set(0x79, 6)},
        {"change log record", set(0x7D, 2)},
        {"change log status", set(0x85, 8)},
        {"row status", set(0x88, 8)},
        {"Nome null", set(0x89, 0x01)},
        {"DataHora null", set(0x89, 0x04)},
        {"Arquivo not assigned", set(0x89, 0x20)},
        {"Arquivo null with content", set(0x89, 0x10)},
        {"name longer than the packet", set(0x8A, 0xF0)},
        {"name holding a zero byte", set(0x8C, 0)},
        {"time stamp not whole", set(0x94, 0x01)},
        {"content longer than the packet", set(0x9C, 6)},
        {"content shorter than the packet", set(0x9C, 4)},
        {"negative content length", set(0x9F, 0x80)},
        {"trailing byte", [](Bytes& p) { p.push_back(0); }},
        {"empty", [](Bytes& p) { p.clear(); }},
        {"empty name",
         [](Bytes& p) { p = MakePacket(std::string_view("\0", 1), kExampleStamp, {1}); }},
        {"name past WIDTH",
         [](Bytes& p) { p = MakePacket(std::string(201, 'a'), kExampleStamp, {1}); }},
    };
    for (const auto& c : cases) {
        Bytes p = WorkedPacket();
        c.change(p);
        EXPECT_THROW(TDataPacketDecoder::Decode(p), EPacketError) << c.what;
    }
}

TEST(TDataPacketDecoderTest, HeadIsReadFromAPrefix) {
    const Bytes packet = WorkedPacket();
    for (std::size_t n = 0; n < 0xA0; ++n)
        EXPECT_FALSE(TDataPacketDecoder::DecodeHead(std::span(packet).first(n))) << n;
    for (std::size_t n = 0xA0; n <= packet.size(); ++n) {
        const auto head = TDataPacketDecoder::DecodeHead(std::span(packet).first(n));
        ASSERT_TRUE(head) << n;
        EXPECT_EQ(head->name, u"S01\\a.txt");
        EXPECT_EQ(head->contentOffset, 0xA0u);
        EXPECT_EQ(head->contentLength, 5u);
    }
    Bytes bad = packet;
    bad[0] = 0;
    EXPECT_THROW(TDataPacketDecoder::DecodeHead(std::span(bad).first(4)), EPacketError);
}

TEST(TDataPacketDecoderTest, EveryTruncationIsRefused) {
    const Bytes packet = WorkedPacket();
    for (std::size_t n = 0; n < packet.size(); ++n)
        EXPECT_THROW(TDataPacketDecoder::Decode(std::span(packet).first(n)), EPacketError) << n;
}

}  // namespace
}  // namespace ab::server
