// TDbxChannel: the joined fallback of the gather write.
#include "dbx/TDbxChannel.h"

namespace ab {

std::vector<std::uint8_t> JoinParts(std::span<const std::span<const std::uint8_t>> parts) {
    std::size_t total = 0;
    for (const auto& part : parts)
        total += part.size();
    std::vector<std::uint8_t> joined;
    joined.reserve(total);
    for (const auto& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

int TDbxChannel::WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
    return WriteJoined(parts, [this](std::span<const std::uint8_t> bytes) { return Write(bytes); });
}

}  // namespace ab
