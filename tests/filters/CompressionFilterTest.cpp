// The compression filter: threshold, payload markers, zlib settings, bounded decompression and
// its parameters.
#include <gtest/gtest.h>
#include <zlib.h>

#include "dbx/TDBXError.h"
#include "filters/FilterTestBytes.h"
#include "platform/Exception.h"
#include "transport/filters/TTransportCompressionFilter.h"

namespace ab {
namespace {

using test::Bytes;
using test::Pattern;

// What any zlib peer makes of the stream after the marker.
Bytes ZlibInflate(const Bytes& stream, std::size_t expected) {
    Bytes out(expected + 1);
    uLongf length = out.size();
    EXPECT_EQ(uncompress(out.data(), &length, stream.data(), stream.size()), Z_OK);
    out.resize(length);
    return out;
}

// A zlib stream of n zero bytes, made piecewise so the test never holds the plain bytes.
Bytes DeflateZeros(std::size_t n) {
    z_stream s{};
    EXPECT_EQ(deflateInit(&s, 9), Z_OK);
    Bytes zeros(1 << 20), out, buf(1 << 16);
    while (true) {
        std::size_t take = std::min(n, zeros.size());
        n -= take;
        s.next_in = zeros.data();
        s.avail_in = static_cast<uInt>(take);
        int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        int ret;
        do {
            s.next_out = buf.data();
            s.avail_out = static_cast<uInt>(buf.size());
            ret = deflate(&s, flush);
            out.insert(out.end(), buf.begin(), buf.end() - s.avail_out);
        } while (s.avail_out == 0);
        if (ret == Z_STREAM_END) {
            break;
        }
    }
    deflateEnd(&s);
    return out;
}

Bytes Framed(std::uint8_t marker, const Bytes& rest) {
    Bytes out(rest.size() + 1);
    out[0] = marker;
    std::copy(rest.begin(), rest.end(), out.begin() + 1);
    return out;
}

TEST(CompressionFilter, ThresholdBoundary) {
    struct Case {
        std::u16string threshold;
        std::size_t size;
        bool compressed;
    };
    const Case cases[] = {
        {u"1024", 1024, false}, {u"1024", 1025, true}, {u"1024", 0, false},
        {u"0", 0, false},       {u"0", 1, true},       {u"-1", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        TTransportCompressionFilter filter;
        ASSERT_TRUE(filter.SetParameterValue(u"CompressMoreThan", c.threshold));
        Bytes message = Pattern(c.size);
        Bytes payload = filter.ProcessInput(message);
        ASSERT_FALSE(payload.empty());
        if (!c.compressed) {
            EXPECT_EQ(payload, Framed(0x02, message));
            continue;
        }
        ASSERT_GE(payload.size(), 3u);
        EXPECT_EQ(payload[0], 0x01);
        // Level 1 with a 32 KiB window gives the header 78 01.
        EXPECT_EQ(payload[1], 0x78);
        EXPECT_EQ(payload[2], 0x01);
        EXPECT_EQ(ZlibInflate(Bytes(payload.begin() + 1, payload.end()), c.size), message);
        EXPECT_EQ(filter.ProcessOutput(payload), message);
    }
}

TEST(CompressionFilter, RoundTripOfLargeMessage) {
    TTransportCompressionFilter filter;
    Bytes message(5'000'000);
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i % 251);
    }
    Bytes payload = filter.ProcessInput(message);
    EXPECT_LT(payload.size(), message.size());
    EXPECT_EQ(filter.ProcessOutput(payload), message);
}

TEST(CompressionFilter, OutputOfPlainAndUnknownMarkers) {
    TTransportCompressionFilter filter;
    EXPECT_EQ(filter.ProcessOutput(Bytes{0x02, 'a', 'b'}), (Bytes{'a', 'b'}));
    EXPECT_EQ(filter.ProcessOutput(Bytes{0x07, 'a', 'b'}), (Bytes{'a', 'b'}));
    EXPECT_EQ(filter.ProcessOutput(Bytes{0x00}), Bytes{});
    EXPECT_EQ(filter.ProcessOutput(Bytes{}), Bytes{});
}

TEST(CompressionFilter, DamagedStreamsAreErrors) {
    TTransportCompressionFilter filter;
    Bytes good = filter.ProcessInput(Pattern(4000));
    Bytes truncated(good.begin(), good.end() - 5);
    Bytes badHeader = good;
    badHeader[1] = 0x00;
    Bytes badChecksum = good;
    badChecksum.back() ^= 0xFF;
    const Bytes cases[] = {Bytes{0x01}, Bytes{0x01, 0x78},
                           truncated,   badHeader,
                           badChecksum, Framed(0x01, test::ToBytes("not a zlib stream"))};
    for (const auto& payload : cases) {
        SCOPED_TRACE(testing::Message() << "payload of " << payload.size() << " bytes");
        EXPECT_THROW(filter.ProcessOutput(payload), TDBXError);
    }
}

TEST(CompressionFilter, InflatedSizeIsCapped) {
    constexpr std::size_t cap = 1 << 20;
    TTransportCompressionFilter filter(cap);
    EXPECT_EQ(filter.ProcessOutput(Framed(0x01, DeflateZeros(cap))).size(), cap);
    EXPECT_THROW(filter.ProcessOutput(Framed(0x01, DeflateZeros(cap + 1))), TDBXError);
}

TEST(CompressionFilter, DefaultCapStopsABomb) {
    // About 260 KB that would inflate to 256 MiB + 1.
    Bytes bomb = Framed(0x01, DeflateZeros(std::size_t{256} * 1024 * 1024 + 1));
    ASSERT_LT(bomb.size(), 1u << 20);
    TTransportCompressionFilter filter;
    try {
        filter.ProcessOutput(bomb);
        FAIL() << "a bomb was inflated";
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.Message(), u"Decompressed data exceeds the limit of 268435456 bytes");
    }
}

TEST(CompressionFilter, Parameters) {
    TTransportCompressionFilter filter;
    EXPECT_EQ(filter.Id(), u"ZLibCompression");
    EXPECT_FALSE(filter.IsPublicKeyCryptograph());
    EXPECT_EQ(filter.GetParameters(),
              (std::vector<std::u16string>{u"FilterUnit", u"CompressMoreThan"}));
    EXPECT_EQ(filter.GetUserParameters(), (std::vector<std::u16string>{u"CompressMoreThan"}));
    EXPECT_EQ(filter.GetParameterValue(u"FilterUnit"), u"DbxCompressionFilter");
    EXPECT_EQ(filter.GetParameterValue(u"CompressMoreThan"), u"1024");
    EXPECT_EQ(filter.GetParameterValue(u"Other"), u"");

    // The server's threshold is taken over and reported back; names ignore letter case.
    EXPECT_TRUE(filter.SetConfederateParameter(u"compressmorethan", u"0"));
    EXPECT_EQ(filter.GetParameterValue(u"COMPRESSMORETHAN"), u"0");
    EXPECT_TRUE(filter.SetConfederateParameter(u"filterunit", u"dbxcompressionFILTER"));
    EXPECT_FALSE(filter.SetConfederateParameter(u"FilterUnit", u"DbxSocketChannelNative"));
    EXPECT_FALSE(filter.SetConfederateParameter(u"Level", u"9"));
    EXPECT_THROW(filter.SetConfederateParameter(u"CompressMoreThan", u"lots"), EConvertError);
    EXPECT_EQ(filter.GetParameterValue(u"CompressMoreThan"), u"0");
}

}  // namespace
}  // namespace ab
