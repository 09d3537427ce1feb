// Fuzzes the PC1 filter with the other side's parameters and a received frame. Input layout:
// one length byte, then that many bytes of "Key" (Latin-1), then the rest, used both as the
// "CODE" text and as the frame.
#include <cstdint>
#include <span>
#include <string>

#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/filters/TTransportCypherFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::size_t keyLength = std::min<std::size_t>(data[0], size - 1);
    std::span<const std::uint8_t> key(data + 1, keyLength);
    std::span<const std::uint8_t> rest(data + 1 + keyLength, size - 1 - keyLength);
    ab::TTransportCypherFilter filter;
    try {
        filter.SetConfederateParameter(
            u"Key", ab::FromLatin1(
                        std::string_view(reinterpret_cast<const char*>(key.data()), key.size())));
        filter.SetConfederateParameter(
            u"CODE", ab::FromLatin1(std::string_view(reinterpret_cast<const char*>(rest.data()),
                                                     rest.size())));
        auto plain = filter.ProcessOutput(rest);
        if (plain.size() != rest.size()) {
            __builtin_trap();
        }
        // Enciphering with the same key gives the received bytes back.
        ab::TTransportCypherFilter sender;
        sender.SetParameterValue(
            u"Key", ab::FromLatin1(
                        std::string_view(reinterpret_cast<const char*>(key.data()), key.size())));
        if (sender.ProcessInput(plain) != std::vector<std::uint8_t>(rest.begin(), rest.end())) {
            __builtin_trap();
        }
    } catch (const ab::TDBXError&) {
    }
    return 0;
}
