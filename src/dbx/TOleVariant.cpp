// TOleVariant: null or a shared byte array.
#include "dbx/TOleVariant.h"

#include "dbx/TDBXByteSource.h"

namespace ab {

TOleVariant TOleVariant::ByteArray(std::vector<std::uint8_t>&& bytes) {
    TOleVariant v;
    v.type_ = varByteArray;
    v.bytes_ = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    return v;
}

TOleVariant TOleVariant::ByteArray(std::vector<std::uint8_t>&& head,
                                   std::shared_ptr<const std::vector<std::uint8_t>> tail) {
    TOleVariant v = ByteArray(std::move(head));
    v.tail_ = std::move(tail);
    return v;
}

TOleVariant TOleVariant::ByteArray(std::vector<std::uint8_t>&& head,
                                   std::shared_ptr<const TDBXByteSource> tail) {
    TOleVariant v = ByteArray(std::move(head));
    v.tailSource_ = std::move(tail);
    return v;
}

std::size_t TOleVariant::Size() const {
    return (bytes_ ? bytes_->size() : 0) + (tail_ ? tail_->size() : 0) +
           (tailSource_ ? static_cast<std::size_t>(tailSource_->Size()) : 0);
}

std::span<const std::uint8_t> TOleVariant::Bytes() const {
    if (!bytes_)
        return {};
    return std::span<const std::uint8_t>(bytes_->data(), bytes_->size());
}

std::vector<std::uint8_t> TOleVariant::StreamPrefix() const {
    const std::uint64_t count = Size();
    std::vector<std::uint8_t> prefix;
    prefix.push_back(StreamByteArray);
    for (int i = 0; i < 8; ++i)
        prefix.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    if (tail_ || tailSource_) {
        const auto head = Bytes();
        prefix.insert(prefix.end(), head.begin(), head.end());
    }
    return prefix;
}

}  // namespace ab
