// TOleVariant: the variant the program hands to a stream value -- null, or a one-dimensional array
// of bytes with lower bound 0 (type 0x2011). The bytes are moved in once and held as shared
// immutable buffers: copies of the variant and the stream readers serving it share them. An array
// may be held as a head followed by a tail: a shared buffer, so a packet whose content already
// sits in a store is sent without copying that content, or a byte source (a file) read only while
// the array is sent.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ab {

class TDBXByteSource;

class TOleVariant {
  public:
    static constexpr std::uint16_t varEmpty = 0x0000;
    static constexpr std::uint16_t varNull = 0x0001;
    static constexpr std::uint16_t varByte = 0x0011;
    static constexpr std::uint16_t varArray = 0x2000;
    static constexpr std::uint16_t varByteArray = varArray | varByte;
    // First byte of a byte array's stream form.
    static constexpr std::uint8_t StreamByteArray = 0x03;

    TOleVariant() = default;  // null
    // Array of bytes; the vector is moved in, never copied.
    static TOleVariant ByteArray(std::vector<std::uint8_t>&& bytes);
    // Array of the head's bytes followed by the tail's (the tail may be null).
    static TOleVariant ByteArray(std::vector<std::uint8_t>&& head,
                                 std::shared_ptr<const std::vector<std::uint8_t>> tail);
    // Array of the head's bytes followed by the source's, read when the array is sent.
    static TOleVariant ByteArray(std::vector<std::uint8_t>&& head,
                                 std::shared_ptr<const TDBXByteSource> tail);

    std::uint16_t VarType() const { return type_; }
    bool IsNull() const { return type_ == varNull; }
    bool IsByteArray() const { return type_ == varByteArray; }
    // The number of elements (0 for null).
    std::size_t Size() const;
    // The elements of an array held in one piece (empty for null); a two-part array gives its
    // head here and its tail from Tail() or TailSource().
    std::span<const std::uint8_t> Bytes() const;
    const std::shared_ptr<const std::vector<std::uint8_t>>& Buffer() const { return bytes_; }
    const std::shared_ptr<const std::vector<std::uint8_t>>& Tail() const { return tail_; }
    const std::shared_ptr<const TDBXByteSource>& TailSource() const { return tailSource_; }
    // What a stream value serves of an array before the tail or, for an array in one piece,
    // before its elements: 03, the element count as 8 bytes little-endian, then a two-part
    // array's head.
    std::vector<std::uint8_t> StreamPrefix() const;

  private:
    std::uint16_t type_ = varNull;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
    std::shared_ptr<const std::vector<std::uint8_t>> tail_;
    std::shared_ptr<const TDBXByteSource> tailSource_;
};

}  // namespace ab
