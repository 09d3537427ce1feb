// Fuzzes the filter channel with the other side's bytes: the answer to the filter query, the
// parameter blocks of the negotiation and the filtered frames that follow. Input layout: one
// byte of options (bit 0: answering side; bits 1-2: our "Filters"; bits 4-7: bytes per delegate
// read, 0 meaning unlimited), then the peer's bytes. Small test filters stand in for the real
// ones, whose decoders have their own targets.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/Exception.h"
#include "support/MemoryChannel.h"
#include "transport/FakeFilters.h"
#include "transport/TDBXFilterSocketChannel.h"
#include "transport/TDBXProperties.h"

namespace {

const char16_t* const kFilters[] = {u"{}", uR"({"XOR":{"Key":"k"}})",
                                    uR"({"RSA":{"Key":"p"},"ADD":{}})", u"not json"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t options = data[0];
    std::vector<std::uint8_t> peer(data + 1, data + size);
    ab::TTransportFilterFactory factory;
    ab::test::RegisterFakeFilters(factory);
    ab::TDBXProperties props;
    props.Add(u"Filters", kFilters[(options >> 1) & 3]);
    // A small frame limit keeps refused lengths cheap to find.
    ab::TDBXFilterSocketChannel channel(
        std::make_unique<ab::test::BufferChannel>(std::move(peer), options >> 4), factory,
        64 * 1024);
    std::vector<std::uint8_t> buf(37);
    try {
        channel.SetDBXProperties(&props);
        if ((options & 1) == 0) {
            const std::uint8_t message[] = {'{', '}'};
            if (channel.Write(message) < 0)
                return 0;
        }
        for (int i = 0; i < 4096; ++i) {
            const int n = channel.Read(buf);
            if (n <= 0)
                break;
            if (n > static_cast<int>(buf.size()))
                __builtin_trap();
        }
        channel.Write(std::span<const std::uint8_t>(buf.data(), 3));
    } catch (const ab::Exception&) {
        // Negotiation errors are the channel's documented refusals.
    }
    return 0;
}
