// TDBXStreamReader: a forward-only byte source for large values. Row fields read their inline
// part from it, segment answers take the rest straight from it (into the write buffer, or sent
// from where it lies when it can show it), and output values that arrive in segments are read
// through one.
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
    // The bytes that come next, as far as they lie in one piece in memory, for sending without a
    // copy; Skip then moves past those sent. Empty when the source cannot show its bytes.
    virtual std::span<const std::uint8_t> Peek() const { return {}; }
    virtual void Skip(std::size_t count) { static_cast<void>(count); }

    // Reads everything that is left.
    std::vector<std::uint8_t> ReadAll();
};

}  // namespace ab
