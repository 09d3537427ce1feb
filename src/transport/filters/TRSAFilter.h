// The "RSA" transport filter: the public-key filter of the handshake. Each side announces its
// public key in clear; the parameter block of the other filters then travels RSA-encrypted with
// the receiving side's key. It never takes part in the framing of messages.
#pragma once

#include <cstdint>
#include <memory>

#include "transport/TTransportFilter.h"
#include "transport/filters/FilterConstants.h"
#include "transport/filters/TRSACypher.h"

namespace ab {

class TRSAFilter : public TTransportFilter {
  public:
    TRSAFilter();
    ~TRSAFilter() override;

    std::u16string Id() const override;
    // "PublicKey" prepares the cipher and reports this side's key as upper-case hex DER.
    std::u16string GetParameterValue(const std::u16string& name) override;
    // "UseGlobalKey", "KeyLength", "KeyExponent"; the two numbers raise EConvertError for text
    // that is not an integer. Other names, "PublicKey" among them, are refused.
    bool SetParameterValue(const std::u16string& name, const std::u16string& value) override;
    // Only "PublicKey" is accepted; a key that does not decode raises TDBXError.
    bool SetConfederateParameter(const std::u16string& name, const std::u16string& value) override;
    // Encrypts with the other side's public key.
    std::vector<std::uint8_t> ProcessInput(std::span<const std::uint8_t> data) override;
    // Decrypts with this side's private key.
    std::vector<std::uint8_t> ProcessOutput(std::span<const std::uint8_t> data) override;
    std::vector<std::u16string> GetParameters() override;
    std::vector<std::u16string> GetUserParameters() override;
    bool IsPublicKeyCryptograph() const override { return true; }

    bool UseGlobalKey() const { return FUseGlobalKey; }
    std::int32_t KeyLength() const { return FKeyLength; }
    std::int64_t KeyExponent() const { return FKeyExponent; }

  private:
    // Once per filter: loads the library (making the global key pair on the first load of the
    // process) and sets up the cipher with the global or a new local key pair.
    TRSACypher& Cypher();

    bool FUseGlobalKey = true;
    std::int32_t FKeyLength = FilterConstants::DefaultKeyLength;
    std::int64_t FKeyExponent = FilterConstants::DefaultKeyExponent;
    std::unique_ptr<TRSACypher> FRSACypher;
};

}  // namespace ab
