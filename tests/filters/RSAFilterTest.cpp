// The RSA key-exchange filter: key generation rules, the public key as DER RSAPublicKey, block
// sizes, interplay with the openssl command-line tool, the global key pair and the errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "dbx/TDBXError.h"
#include "filters/FilterTestBytes.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "transport/filters/HexText.h"
#include "transport/filters/TRSACypher.h"
#include "transport/filters/TRSAFilter.h"

namespace ab {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

// The two integers of a DER RSAPublicKey: SEQUENCE { modulus INTEGER, publicExponent INTEGER }.
struct RsaPublicKey {
    Bytes modulus;  // without a leading zero
    std::uint64_t exponent = 0;
};

bool ReadDerItem(const Bytes& der, std::size_t& pos, std::uint8_t tag, Bytes& content) {
    if (pos + 2 > der.size() || der[pos] != tag) {
        return false;
    }
    std::size_t length = der[pos + 1];
    pos += 2;
    if (length & 0x80) {
        std::size_t count = length & 0x7F;
        length = 0;
        for (; count > 0 && pos < der.size(); --count) {
            length = length << 8 | der[pos++];
        }
    }
    if (pos + length > der.size()) {
        return false;
    }
    content.assign(der.begin() + pos, der.begin() + pos + length);
    pos += length;
    return true;
}

std::optional<RsaPublicKey> ParseRsaPublicKey(const Bytes& der) {
    std::size_t pos = 0;
    Bytes sequence, modulus, exponent;
    if (!ReadDerItem(der, pos, 0x30, sequence) || pos != der.size()) {
        return std::nullopt;
    }
    pos = 0;
    if (!ReadDerItem(sequence, pos, 0x02, modulus) || !ReadDerItem(sequence, pos, 0x02, exponent) ||
        pos != sequence.size() || exponent.size() > 8) {
        return std::nullopt;
    }
    RsaPublicKey key;
    key.modulus.assign(modulus.begin() + (modulus[0] == 0 ? 1 : 0), modulus.end());
    for (std::uint8_t b : exponent) {
        key.exponent = key.exponent << 8 | b;
    }
    return key;
}

Bytes PublicKeyDer(TRSAFilter& filter) {
    auto der = HexToBytes(filter.GetParameterValue(u"PublicKey"));
    EXPECT_TRUE(der.has_value());
    return der.value_or(Bytes{});
}

std::unique_ptr<TRSAFilter> LocalKeyFilter(const std::u16string& exponent = u"3") {
    auto filter = std::make_unique<TRSAFilter>();
    EXPECT_TRUE(filter->SetParameterValue(u"UseGlobalKey", u"false"));
    EXPECT_TRUE(filter->SetParameterValue(u"KeyExponent", exponent));
    return filter;
}

TEST(RSAFilter, PublicKeyIsUpperCaseHexOfRsaPublicKey) {
    auto filter = LocalKeyFilter();
    std::u16string hex = filter->GetParameterValue(u"PublicKey");
    EXPECT_EQ(hex, BytesToHex(*HexToBytes(hex)));  // upper-case digits only
    auto key = ParseRsaPublicKey(PublicKeyDer(*filter));
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->modulus.size(), 128u);
    EXPECT_EQ(key->exponent, 3u);
    // The key is made once per filter.
    EXPECT_EQ(filter->GetParameterValue(u"PublicKey"), hex);
}

TEST(RSAFilter, ExponentRule) {
    const std::pair<std::u16string, std::uint64_t> cases[] = {
        {u"65536", 65537}, {u"65537", 65537}, {u"1", 3},   {u"2", 3},
        {u"-5", 3},        {u"3", 3},         {u"16", 17},
    };
    for (const auto& [given, expected] : cases) {
        SCOPED_TRACE(ToUtf8(given));
        auto key = ParseRsaPublicKey(PublicKeyDer(*LocalKeyFilter(given)));
        ASSERT_TRUE(key.has_value());
        EXPECT_EQ(key->exponent, expected);
    }
    EXPECT_EQ(TRSACypher::EffectiveExponent(0), 3);
    EXPECT_EQ(TRSACypher::EffectiveExponent(4), 5);
}

TEST(RSAFilter, BlockSizes) {
    auto receiver = LocalKeyFilter();
    TRSAFilter sender;
    ASSERT_TRUE(
        sender.SetConfederateParameter(u"PublicKey", receiver->GetParameterValue(u"PublicKey")));
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 0},     {1, 128},   {117, 128},
                                                         {118, 256}, {234, 256}, {235, 384}};
    for (const auto& [plainSize, cipherSize] : cases) {
        SCOPED_TRACE(plainSize);
        Bytes plain = test::Pattern(plainSize, static_cast<std::uint32_t>(plainSize));
        Bytes sealed = sender.ProcessInput(plain);
        EXPECT_EQ(sealed.size(), cipherSize);
        EXPECT_EQ(receiver->ProcessOutput(sealed), plain);
    }
    // Random padding: the same block never encrypts to the same bytes twice.
    Bytes plain = test::Pattern(50);
    EXPECT_NE(sender.ProcessInput(plain), sender.ProcessInput(plain));
}

TEST(RSAFilter, GlobalKeyIsSharedAcrossFiltersAndThreads) {
    std::vector<std::u16string> keys(4);
    std::vector<std::thread> threads;
    for (auto& key : keys) {
        threads.emplace_back([&key] {
            TRSAFilter filter;
            key = filter.GetParameterValue(u"PublicKey");
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& key : keys) {
        EXPECT_EQ(key, keys[0]);
    }
    EXPECT_NE(LocalKeyFilter()->GetParameterValue(u"PublicKey"), keys[0]);
    EXPECT_TRUE(TRSACypher::IsSSLLoadAttempted());
    EXPECT_TRUE(TRSACypher::IsSSLLoaded());
    EXPECT_EQ(TRSACypher::SSLLoadError(), u"");

    // A block sealed for one global-key filter opens with another.
    TRSAFilter a, b, peer;
    ASSERT_TRUE(peer.SetConfederateParameter(u"PublicKey", a.GetParameterValue(u"PublicKey")));
    Bytes plain = test::Pattern(300);
    EXPECT_EQ(b.ProcessOutput(peer.ProcessInput(plain)), plain);
}

TEST(RSAFilter, NewGlobalKeyLeavesPreparedFiltersAlone) {
    TRSAFilter prepared, peer;
    std::u16string before = prepared.GetParameterValue(u"PublicKey");
    ASSERT_TRUE(peer.SetConfederateParameter(u"PublicKey", before));

    TRSACypher(TKeyUsagePolicy::kupUseGlobalKey).GenerateKey(1024, 65537);

    TRSAFilter later;
    std::u16string after = later.GetParameterValue(u"PublicKey");
    EXPECT_NE(after, before);
    EXPECT_EQ(prepared.GetParameterValue(u"PublicKey"), before);
    Bytes plain = test::Pattern(40);
    EXPECT_EQ(prepared.ProcessOutput(peer.ProcessInput(plain)), plain);
    EXPECT_EQ(TRSAFilter().GetParameterValue(u"PublicKey"), after);
}

TEST(RSAFilter, Parameters) {
    TRSAFilter filter;
    EXPECT_EQ(filter.Id(), u"RSA");
    EXPECT_TRUE(filter.IsPublicKeyCryptograph());
    EXPECT_EQ(filter.GetParameters(), std::vector<std::u16string>{u"PublicKey"});
    EXPECT_EQ(filter.GetUserParameters(),
              (std::vector<std::u16string>{u"UseGlobalKey", u"KeyLength", u"KeyExponent"}));
    EXPECT_EQ(filter.GetParameterValue(u"UseGlobalKey"), u"true");
    EXPECT_EQ(filter.GetParameterValue(u"KeyLength"), u"1024");
    EXPECT_EQ(filter.GetParameterValue(u"KeyExponent"), u"3");

    EXPECT_TRUE(filter.SetParameterValue(u"UseGlobalKey", u"yes"));
    EXPECT_EQ(filter.GetParameterValue(u"UseGlobalKey"), u"false");
    EXPECT_TRUE(filter.SetParameterValue(u"UseGlobalKey", u"TRUE"));
    EXPECT_EQ(filter.GetParameterValue(u"UseGlobalKey"), u"true");
    EXPECT_TRUE(filter.SetParameterValue(u"KeyLength", u"2048"));
    EXPECT_EQ(filter.GetParameterValue(u"KeyLength"), u"2048");
    EXPECT_TRUE(filter.SetParameterValue(u"KeyExponent", u"4294967297"));
    EXPECT_EQ(filter.GetParameterValue(u"KeyExponent"), u"4294967297");
    EXPECT_THROW(filter.SetParameterValue(u"KeyLength", u"4294967297"), EConvertError);
    EXPECT_THROW(filter.SetParameterValue(u"KeyExponent", u"e"), EConvertError);

    // Names compare exactly; the public key is only ever taken from the other side.
    EXPECT_FALSE(filter.SetParameterValue(u"keylength", u"512"));
    EXPECT_FALSE(filter.SetParameterValue(u"PublicKey", u"3000"));
    EXPECT_FALSE(filter.SetConfederateParameter(u"KeyLength", u"512"));
    EXPECT_FALSE(filter.SetConfederateParameter(u"publickey", u"3000"));
    EXPECT_EQ(filter.GetParameterValue(u"publickey"), u"");
}

TEST(RSAFilter, PeerErrors) {
    // Peer keys that are not hex, not DER, not an RSA public key, or too small for padding.
    const std::u16string badKeys[] = {u"",
                                      u"ZZ",
                                      u"300",
                                      u"3000",
                                      u"30060201000201030000",
                                      u"3006020100020103",
                                      u"300602010F020103"};
    for (const auto& hex : badKeys) {
        SCOPED_TRACE(ToUtf8(hex));
        TRSAFilter filter;
        EXPECT_THROW(
            {
                filter.SetConfederateParameter(u"PublicKey", hex);
                filter.ProcessInput(Bytes{1, 2, 3});
            },
            TDBXError);
    }
    TRSAFilter filter;
    EXPECT_THROW(filter.ProcessInput(Bytes{1}), TDBXError);  // no key from the other side yet
    EXPECT_THROW(filter.ProcessOutput(Bytes(127, 0)), TDBXError);
    EXPECT_THROW(filter.ProcessOutput(Bytes(129, 0)), TDBXError);
    EXPECT_THROW(filter.ProcessOutput(Bytes(128, 0xFF)), TDBXError);  // above the modulus
    EXPECT_THROW(filter.ProcessOutput(Bytes(128, 0x00)), TDBXError);  // bad padding
}

TEST(RSAFilter, KeyGenerationErrorCarriesTheLibraryText) {
    auto filter = LocalKeyFilter();
    ASSERT_TRUE(filter->SetParameterValue(u"KeyLength", u"100"));
    try {
        filter->GetParameterValue(u"PublicKey");
        FAIL() << "a 100-bit key was generated";
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_NE(e.Message(), u"");
    }
}

// These need a process in which the library has not been touched yet.
class RSACypherFreshProcessDeathTest : public testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(RSACypherFreshProcessDeathTest, GenerationBeforeLoadingIsAnError) {
    EXPECT_EXIT(
        {
            TRSACypher cypher;
            try {
                cypher.GenerateKey(1024, 3);
            } catch (const TDBXError& e) {
                std::exit(e.Message() ==
                                  u"SSL module was not loaded or it was not loaded successful. "
                                  u"Use LoadSSL method to load the module"
                              ? 0
                              : 2);
            }
            std::exit(1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(RSACypherFreshProcessDeathTest, FailedFirstGenerationIsRetried) {
    EXPECT_EXIT(
        {
            TRSAFilter first;
            first.SetParameterValue(u"KeyLength", u"100");
            try {
                first.GetParameterValue(u"PublicKey");
                std::exit(1);
            } catch (const TDBXError&) {
            }
            TRSAFilter second;
            std::exit(second.GetParameterValue(u"PublicKey").size() > 256 ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

// Runs the openssl command-line tool in a scratch folder.
class OpenSslTool : public testing::Test {
  protected:
    void SetUp() override {
        if (std::system("openssl version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "the openssl command-line tool is not installed";
        }
        char pattern[] = "/tmp/ab_rsa_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            fs::remove_all(dir_);
        }
    }
    void Run(const std::string& arguments) {
        std::string command = "cd '" + dir_.string() + "' && openssl " + arguments + " 2>err.txt";
        int status = std::system(command.c_str());
        Bytes error = Read("err.txt");
        ASSERT_EQ(status, 0) << command << "\n" << std::string(error.begin(), error.end());
    }
    void Write(const std::string& name, const Bytes& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir_;
};

TEST_F(OpenSslTool, ReadsOurPublicKeyAndEncryptsForUs) {
    TRSAFilter filter;
    Write("ours.der", PublicKeyDer(filter));
    Run("rsa -RSAPublicKey_in -inform DER -in ours.der -pubout -out ours.pem");
    Bytes message = test::Pattern(117);
    Write("message.bin", message);
    Run("pkeyutl -encrypt -pubin -inkey ours.pem -pkeyopt rsa_padding_mode:pkcs1 -in message.bin "
        "-out sealed.bin");
    Bytes sealed = Read("sealed.bin");
    ASSERT_EQ(sealed.size(), 128u);
    EXPECT_EQ(filter.ProcessOutput(sealed), message);
}

TEST_F(OpenSslTool, DecryptsWhatWeEncryptForItsKey) {
    Run("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out theirs.pem");
    Run("rsa -in theirs.pem -RSAPublicKey_out -outform DER -out theirs.der");
    TRSAFilter filter;
    Bytes der = Read("theirs.der");
    ASSERT_TRUE(filter.SetConfederateParameter(u"PublicKey", BytesToHex(der)));
    Bytes message = test::Pattern(200);
    Bytes sealed = filter.ProcessInput(message);
    ASSERT_EQ(sealed.size(), 256u);
    Bytes opened;
    for (int block = 0; block < 2; ++block) {
        Write("block.bin", Bytes(sealed.begin() + block * 128, sealed.begin() + (block + 1) * 128));
        Run("pkeyutl -decrypt -inkey theirs.pem -pkeyopt rsa_padding_mode:pkcs1 -in block.bin "
            "-out plain.bin");
        Bytes part = Read("plain.bin");
        opened.insert(opened.end(), part.begin(), part.end());
    }
    EXPECT_EQ(opened, message);
}

}  // namespace
}  // namespace ab
