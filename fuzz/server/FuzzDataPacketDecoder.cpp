// Fuzz target: the strict data packet decoder, with and without the variant prefix the server
// strips first. Any input either decodes or raises EPacketError.
#include <cstddef>
#include <cstdint>
#include <span>

#include "server/TDataPacketDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ab::server;
    try {
        const TDecodedPacket p = TDataPacketDecoder::Decode(std::span(data, size));
        TDataPacketDecoder::StampFields(p.dataHora);
        if (p.content.data() &&
            (p.content.data() < data || p.content.data() + p.content.size() > data + size))
            __builtin_trap();
    } catch (const EPacketError&) {
    }
    return 0;
}
