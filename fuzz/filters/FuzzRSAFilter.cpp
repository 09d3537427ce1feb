// Fuzzes the RSA filter's reading of the other side's "PublicKey" and of a received sealed block.
// The first byte picks the target: 0 mod 4 - the remaining bytes as DER (sent as hex), then an
// encryption with that key; 2 mod 4 - the remaining bytes as the key's text itself; odd - the
// remaining bytes decrypted with our key pair.
#include <cstdint>
#include <span>

#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/filters/HexText.h"
#include "transport/filters/TRSAFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    // One filter for the whole run: the global key pair is made once anyway.
    static ab::TRSAFilter* ours = new ab::TRSAFilter;
    try {
        if (data[0] % 2 == 0) {
            ab::TRSAFilter filter;
            std::u16string text =
                data[0] % 4 == 0 ? ab::BytesToHex(rest)
                                 : ab::FromLatin1(std::string_view(
                                       reinterpret_cast<const char*>(rest.data()), rest.size()));
            if (filter.SetConfederateParameter(u"PublicKey", text)) {
                static const std::uint8_t block[200] = {1, 2, 3};
                filter.ProcessInput(block);
            }
        } else {
            ours->ProcessOutput(rest);
        }
    } catch (const ab::TDBXError&) {
    }
    return 0;
}
