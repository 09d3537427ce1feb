// TDBXMemoryStreamReader: a TDBXStreamReader over bytes in memory -- a short prefix followed by a
// shared immutable body. Serves a byte-array variant as 03, the 8-byte little-endian count and the
// elements without copying the elements (a two-part array's small head joins the prefix), and the
// overflow part of values that did not fit inline.
#pragma once

#include <memory>
#include <vector>

#include "dbx/TDBXStreamReader.h"

namespace ab {

class TOleVariant;

class TDBXMemoryStreamReader : public TDBXStreamReader {
  public:
    explicit TDBXMemoryStreamReader(std::shared_ptr<const std::vector<std::uint8_t>> body,
                                    std::size_t bodyOffset = 0);
    // The stream bytes of a byte-array variant held in memory: 03, count (8 bytes LE), elements.
    // EInvalidOperation for an array whose tail is a byte source.
    static std::unique_ptr<TDBXMemoryStreamReader> ForByteArray(const TOleVariant& variant);

    std::size_t Read(std::span<std::uint8_t> dest) override;
    bool IsEos() override { return Remaining() == 0; }
    std::int64_t Size() const override;
    std::size_t Remaining() const;
    std::span<const std::uint8_t> Peek() const override;
    void Skip(std::size_t count) override;

  private:
    std::vector<std::uint8_t> prefix_;
    std::size_t prefixPos_ = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> body_;
    std::size_t bodyStart_ = 0;
    std::size_t bodyPos_ = 0;
};

}  // namespace ab
