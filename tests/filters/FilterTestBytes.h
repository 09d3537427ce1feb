// Small byte helpers shared by the filter tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ab::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes FromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Bytes that do not compress to nothing: a simple deterministic generator.
inline Bytes Pattern(std::size_t n, std::uint32_t seed = 1) {
    Bytes out(n);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return out;
}

}  // namespace ab::test
