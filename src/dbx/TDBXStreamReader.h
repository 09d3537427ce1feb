// TDBXStreamReader: a forward-only byte source for large values. Row fields read their inline
// part from it, segment answers read the rest straight into the write buffer, and output values
// that arrive in segments are read through one.
//
// Calling protocol: Read until IsEos. Read fills at most dest.size() bytes and returns how many;
// it returns 0 only at the end. IsEos is true once nothing is left (it may have to fetch to know).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ab {

class TDBXStreamReader {
  public:
    virtual ~TDBXStreamReader() = default;
    virtual std::size_t Read(std::span<std::uint8_t> dest) = 0;
    virtual bool IsEos() = 0;
    // Total byte count when the source knows it, else -1.
    virtual std::int64_t Size() const { return -1; }

    // Reads everything that is left.
    std::vector<std::uint8_t> ReadAll();
};

}  // namespace ab
