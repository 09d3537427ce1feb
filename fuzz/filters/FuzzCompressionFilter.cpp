// Fuzzes the compression filter's decoding of a received payload. The cap is lowered so that a
// bomb is found quickly; the cap itself is exercised by the tests.
#include <cstdint>
#include <span>

#include "dbx/TDBXError.h"
#include "transport/filters/TTransportCompressionFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ab::TTransportCompressionFilter filter(std::size_t{1} << 20);
    try {
        auto out = filter.ProcessOutput(std::span(data, size));
        // What was inflated compresses and inflates back to itself.
        if (filter.ProcessOutput(filter.ProcessInput(out)) != out) {
            __builtin_trap();
        }
    } catch (const ab::TDBXError&) {
    }
    return 0;
}
