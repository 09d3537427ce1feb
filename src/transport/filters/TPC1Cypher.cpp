// The PC1 stream cipher.
#include "transport/filters/TPC1Cypher.h"

#include <openssl/rand.h>

#include "dbx/TDBXError.h"
#include "transport/filters/FilterConstants.h"

namespace ab {

namespace fc = FilterConstants;

TPC1Cypher::TPC1Cypher() : key_(RandomKey()) {
    SetUp();
}

TPC1Cypher::TPC1Cypher(const std::u16string& key) : key_(key) {
    if (key_.empty()) {
        throw TDBXError(TDBXErrorCodes::None, fc::ErrEmptyCypherKey);
    }
    SetUp();
}

void TPC1Cypher::SetUp() {
    FCle.fill(' ');
    for (std::size_t i = 0; i < FCle.size() && i < key_.size(); ++i) {
        FCle[i] = static_cast<std::uint8_t>(key_[i] & 0xFF);
    }
    FX1a0.fill(0);
    FSi = 0;
    FX1a2 = 0;
}

// All arithmetic is modulo 2^16; the products are formed in 32 bits and truncated.
std::uint16_t TPC1Cypher::Step(int k) {
    std::uint32_t x = FX1a0[k];
    auto t = static_cast<std::uint16_t>(FSi + 20021u * (FX1a2 + static_cast<std::uint32_t>(k)) +
                                        346u * x);
    FSi = static_cast<std::uint16_t>(346u * x);
    FX1a2 = t;
    FX1a0[k] = static_cast<std::uint16_t>(20021u * x + 1u);
    return static_cast<std::uint16_t>(t ^ FX1a0[k]);
}

std::uint8_t TPC1Cypher::KeystreamByte() {
    FX1a0[0] = static_cast<std::uint16_t>(FCle[0] << 8 | FCle[1]);
    std::uint16_t w = Step(0);
    for (int k = 1; k < 8; ++k) {
        FX1a0[k] = static_cast<std::uint16_t>(FX1a0[k - 1] ^ (FCle[2 * k] << 8 | FCle[2 * k + 1]));
        w = static_cast<std::uint16_t>(w ^ Step(k));
    }
    return static_cast<std::uint8_t>((w >> 8) ^ w);
}

void TPC1Cypher::Feedback(std::uint8_t plain) {
    for (auto& b : FCle) {
        b ^= plain;
    }
}

std::uint8_t TPC1Cypher::Cypher(std::uint8_t plain) {
    std::uint8_t s = KeystreamByte();
    Feedback(plain);
    return static_cast<std::uint8_t>(plain ^ s);
}

std::uint8_t TPC1Cypher::Decypher(std::uint8_t cyphered) {
    auto plain = static_cast<std::uint8_t>(cyphered ^ KeystreamByte());
    Feedback(plain);
    return plain;
}

void TPC1Cypher::Cypher(std::span<std::uint8_t> bytes) {
    for (auto& b : bytes) {
        b = Cypher(b);
    }
}

void TPC1Cypher::Decypher(std::span<std::uint8_t> bytes) {
    for (auto& b : bytes) {
        b = Decypher(b);
    }
}

std::u16string TPC1Cypher::RandomKey() {
    // The keys protect the traffic, so they come from the cryptographic generator; bytes at or
    // above the largest multiple of the alphabet size are redrawn to keep the choice uniform.
    constexpr std::size_t alphabetSize = std::size(fc::PC1KeyAlphabet) - 1;
    constexpr unsigned limit = 256 - 256 % alphabetSize;
    std::u16string key;
    while (key.size() < fc::PC1KeyLength) {
        unsigned char pool[32];
        if (RAND_bytes(pool, sizeof pool) != 1) {
            throw TDBXError(TDBXErrorCodes::None, u"Random key generation failed");
        }
        for (unsigned char b : pool) {
            if (b < limit && key.size() < fc::PC1KeyLength) {
                key.push_back(fc::PC1KeyAlphabet[b % alphabetSize]);
            }
        }
    }
    return key;
}

}  // namespace ab
