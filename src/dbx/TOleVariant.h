// TOleVariant: the variant the program hands to a stream value -- null, or a one-dimensional array
// of bytes with lower bound 0 (type 0x2011). The bytes are moved in once and held as a shared
// immutable buffer: copies of the variant and the stream readers serving it share that buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ab {

class TOleVariant {
  public:
    static constexpr std::uint16_t varEmpty = 0x0000;
    static constexpr std::uint16_t varNull = 0x0001;
    static constexpr std::uint16_t varByte = 0x0011;
    static constexpr std::uint16_t varArray = 0x2000;
    static constexpr std::uint16_t varByteArray = varArray | varByte;

    TOleVariant() = default;  // null
    // Array of bytes; the vector is moved in, never copied.
    static TOleVariant ByteArray(std::vector<std::uint8_t>&& bytes);

    std::uint16_t VarType() const { return type_; }
    bool IsNull() const { return type_ == varNull; }
    bool IsByteArray() const { return type_ == varByteArray; }
    // The array's elements (empty for null).
    std::span<const std::uint8_t> Bytes() const;
    const std::shared_ptr<const std::vector<std::uint8_t>>& Buffer() const { return bytes_; }

  private:
    std::uint16_t type_ = varNull;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
};

}  // namespace ab
