// TDBXStreamReader: the shared ReadAll helper.
#include "dbx/TDBXStreamReader.h"

namespace ab {

std::vector<std::uint8_t> TDBXStreamReader::ReadAll() {
    std::vector<std::uint8_t> out;
    std::uint8_t chunk[32768];
    for (;;) {
        const std::size_t n = Read(chunk);
        if (n == 0)
            break;
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

}  // namespace ab
