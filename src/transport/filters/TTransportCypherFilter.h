// The "PC1" transport filter: each side enciphers what it sends with its own key and deciphers
// what it receives with the other side's key, both exchanged in the parameter blocks together
// with a check block that proves the key arrived intact.
#pragma once

#include <string>

#include "transport/TTransportFilter.h"

namespace ab {

class TTransportCypherFilter : public TTransportFilter {
  public:
    TTransportCypherFilter() = default;

    std::u16string Id() const override;
    // "Key" and "CODE" make this side's random key first when it has none.
    std::u16string GetParameterValue(const std::u16string& name) override;
    // "Key" sets this side's key; every name is accepted.
    bool SetParameterValue(const std::u16string& name, const std::u16string& value) override;
    // "Key" takes the other side's key; "CODE" is refused unless it is the check block of that
    // key (raises TDBXError when no key has arrived); other names are accepted.
    bool SetConfederateParameter(const std::u16string& name, const std::u16string& value) override;
    // Every call starts a fresh cipher from the key, so each frame stands alone.
    std::vector<std::uint8_t> ProcessInput(std::span<const std::uint8_t> data) override;
    // Raises TDBXError "Encryption key expected to be not null" when no key has arrived.
    std::vector<std::uint8_t> ProcessOutput(std::span<const std::uint8_t> data) override;
    std::vector<std::u16string> GetParameters() override;
    std::vector<std::u16string> GetUserParameters() override;

    // The check block of a key: the bytes 0..255 enciphered, as 512 upper-case hex digits.
    static std::u16string CheckBlock(const std::u16string& key);

  private:
    const std::u16string& CypherKey();

    std::u16string FCypherKey;
    std::u16string FConfederateKey;
};

}  // namespace ab
