// The PC1 stream cipher with a 128-bit key: a keystream from the key bytes, which evolve with
// every plaintext byte, so both directions stay in step only when they start from the same key.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace ab {

class TPC1Cypher {
  public:
    // A cipher with a new random key.
    TPC1Cypher();
    // Raises TDBXError "Encryption key expected to be not null" for an empty key.
    explicit TPC1Cypher(const std::u16string& key);

    const std::u16string& Key() const { return key_; }

    std::uint8_t Cypher(std::uint8_t plain);
    std::uint8_t Decypher(std::uint8_t cyphered);
    // In place, byte after byte, continuing the cipher's state.
    void Cypher(std::span<std::uint8_t> bytes);
    void Decypher(std::span<std::uint8_t> bytes);

    // 16 characters drawn uniformly from the key alphabet.
    static std::u16string RandomKey();

  private:
    void SetUp();
    std::uint16_t Step(int k);
    std::uint8_t KeystreamByte();
    void Feedback(std::uint8_t plain);

    std::u16string key_;
    std::array<std::uint8_t, 16> FCle{};
    std::array<std::uint16_t, 8> FX1a0{};
    std::uint16_t FSi = 0;
    std::uint16_t FX1a2 = 0;
};

}  // namespace ab
