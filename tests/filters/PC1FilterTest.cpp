// The PC1 cipher and its filter: key set-up, keystream with plaintext feedback, the check block
// and the per-frame restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "dbx/TDBXError.h"
#include "filters/FilterTestBytes.h"
#include "transport/filters/TPC1Cypher.h"
#include "transport/filters/TTransportCypherFilter.h"

namespace ab {
namespace {

using test::Bytes;
using test::FromHex;
using test::ToBytes;

Bytes Encipher(const std::u16string& key, Bytes data) {
    TPC1Cypher(key).Cypher(data);
    return data;
}

Bytes Decipher(const std::u16string& key, Bytes data) {
    TPC1Cypher(key).Decypher(data);
    return data;
}

TEST(PC1Cypher, GoldenVectors) {
    EXPECT_EQ(Encipher(u"abcdefghijklmnop", ToBytes("Hello, PC1 world")),
              FromHex("16AB8BB9C685CD27C972C8E874744C4F"));
    std::u16string check = TTransportCypherFilter::CheckBlock(u"abcdefghijklmnop");
    ASSERT_EQ(check.size(), 512u);
    EXPECT_EQ(check.substr(0, 64),
              u"5E11540E30AA7BCBE596821E6776DC03B0B6C1E7ED632B731B04D02E6402EDA8");
    EXPECT_TRUE(std::all_of(check.begin(), check.end(), [](char16_t c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
    }));
}

TEST(PC1Cypher, KeySetUp) {
    const Bytes plain = test::Pattern(300);
    // Short keys are padded with spaces, characters past the sixteenth are ignored, and only the
    // low 8 bits of a character count.
    EXPECT_EQ(Encipher(u"abc", plain), Encipher(u"abc             ", plain));
    EXPECT_EQ(Encipher(u"0123456789abcdefXYZ", plain), Encipher(u"0123456789abcdef", plain));
    EXPECT_EQ(Encipher(u"\u0161\u4142c", plain), Encipher(u"aBc", plain));
    EXPECT_NE(Encipher(u"abc", plain), Encipher(u"abd", plain));
    EXPECT_NE(Encipher(u"abc", plain), Encipher(u"abc!", plain));
}

TEST(PC1Cypher, PlaintextFeedsTheKey) {
    // A keystream that ignored the plaintext would leave the later bytes unchanged.
    Bytes a = test::Pattern(64), b = a;
    b[10] ^= 1;
    Bytes ea = Encipher(u"key", a), eb = Encipher(u"key", b);
    EXPECT_TRUE(std::equal(ea.begin(), ea.begin() + 10, eb.begin()));
    EXPECT_NE(ea[10], eb[10]);
    EXPECT_NE(Bytes(ea.begin() + 11, ea.end()), Bytes(eb.begin() + 11, eb.end()));
    EXPECT_EQ(Decipher(u"key", eb), b);
}

TEST(PC1Cypher, EmptyKeyIsAnError) {
    try {
        TPC1Cypher cypher(u"");
        FAIL();
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.Message(), u"Encryption key expected to be not null");
    }
}

TEST(PC1Cypher, RandomKeys) {
    const std::u16string alphabet =
        u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!";
    std::set<std::u16string> keys;
    std::set<char16_t> seen;
    for (int i = 0; i < 200; ++i) {
        std::u16string key = TPC1Cypher::RandomKey();
        ASSERT_EQ(key.size(), 16u);
        for (char16_t c : key) {
            ASSERT_NE(alphabet.find(c), std::u16string::npos);
            seen.insert(c);
        }
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 200u);
    EXPECT_EQ(seen.size(), alphabet.size());
    EXPECT_EQ(TPC1Cypher().Key().size(), 16u);
}

TEST(PC1Filter, FramesRestartFromTheKey) {
    TTransportCypherFilter sender, receiver;
    sender.SetParameterValue(u"Key", u"shared secret");
    receiver.SetConfederateParameter(u"Key", u"shared secret");
    const Bytes frame = test::Pattern(1000);
    Bytes first = sender.ProcessInput(frame);
    EXPECT_EQ(sender.ProcessInput(frame), first);
    EXPECT_EQ(first, Encipher(u"shared secret", frame));
    EXPECT_NE(first, frame);
    EXPECT_EQ(receiver.ProcessOutput(first), frame);
    EXPECT_EQ(receiver.ProcessOutput(first), frame);
    EXPECT_EQ(sender.ProcessInput(Bytes{}), Bytes{});
}

TEST(PC1Filter, Parameters) {
    TTransportCypherFilter filter;
    EXPECT_EQ(filter.Id(), u"PC1");
    EXPECT_FALSE(filter.IsPublicKeyCryptograph());
    EXPECT_EQ(filter.GetParameters(),
              (std::vector<std::u16string>{u"Key", u"CODE", u"FilterUnit"}));
    EXPECT_EQ(filter.GetUserParameters(), (std::vector<std::u16string>{u"Key"}));
    EXPECT_EQ(filter.GetParameterValue(u"FilterUnit"), u"DbxSocketChannelNative");
    // The random key is made on first need and kept.
    std::u16string key = filter.GetParameterValue(u"Key");
    EXPECT_EQ(key.size(), 16u);
    EXPECT_EQ(filter.GetParameterValue(u"Key"), key);
    EXPECT_EQ(filter.GetParameterValue(u"CODE"), TTransportCypherFilter::CheckBlock(key));
    // Names compare exactly.
    EXPECT_EQ(filter.GetParameterValue(u"key"), u"");
    EXPECT_TRUE(filter.SetParameterValue(u"Anything", u"x"));
    EXPECT_TRUE(filter.SetParameterValue(u"Key", u"mine"));
    EXPECT_EQ(filter.GetParameterValue(u"Key"), u"mine");
    EXPECT_EQ(filter.GetParameterValue(u"CODE"), TTransportCypherFilter::CheckBlock(u"mine"));
}

TEST(PC1Filter, CheckBlockVerification) {
    const std::u16string key = u"abcdefghijklmnop";
    const std::u16string good = TTransportCypherFilter::CheckBlock(key);
    std::u16string lower = good;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'F' ? c + 32 : c; });
    std::u16string flipped = good;
    flipped[300] = flipped[300] == u'0' ? u'1' : u'0';
    std::u16string nonHex = good;
    nonHex[7] = u'G';

    struct Case {
        const char* what;
        std::u16string code;
        bool accepted;
    };
    const Case cases[] = {
        {"own block", good, true},
        {"lower-case digits", lower, true},
        {"block of another key", TTransportCypherFilter::CheckBlock(u"abcdefghijklmnoq"), false},
        {"one digit changed", flipped, false},
        {"truncated", good.substr(0, 510), false},
        {"empty", u"", false},
        {"odd digit count", good + u"0", false},
        {"too long", good + u"00", false},
        {"not hex", nonHex, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TTransportCypherFilter filter;
        ASSERT_TRUE(filter.SetConfederateParameter(u"Key", key));
        EXPECT_EQ(filter.SetConfederateParameter(u"CODE", c.code), c.accepted);
    }
    TTransportCypherFilter filter;
    EXPECT_TRUE(filter.SetConfederateParameter(u"FilterUnit", u"whatever"));
}

TEST(PC1Filter, MissingConfederateKeyIsAnError) {
    TTransportCypherFilter filter;
    EXPECT_THROW(filter.ProcessOutput(Bytes{1, 2, 3}), TDBXError);
    EXPECT_THROW(filter.SetConfederateParameter(u"CODE", TTransportCypherFilter::CheckBlock(u"k")),
                 TDBXError);
    ASSERT_TRUE(filter.SetConfederateParameter(u"Key", u""));
    EXPECT_THROW(filter.ProcessOutput(Bytes{1, 2, 3}), TDBXError);
}

}  // namespace
}  // namespace ab
