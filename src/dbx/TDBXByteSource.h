// TDBXByteSource: the tail of a byte array that does not lie in memory, known by its size and read
// on demand. Each execution that sends the array opens a fresh reader, which serves the bytes
// from the first one again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace ab {

class TDBXStreamReader;

class TDBXByteSource {
  public:
    virtual ~TDBXByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // A reader over `prefix` followed by the source's Size() bytes. A source that cannot serve
    // them as they were (a file that changed) makes the reader raise instead of handing out
    // different bytes.
    virtual std::unique_ptr<TDBXStreamReader> OpenReader(
        std::vector<std::uint8_t> prefix) const = 0;
};

}  // namespace ab
