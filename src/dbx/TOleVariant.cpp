// TOleVariant: null or a shared byte array.
#include "dbx/TOleVariant.h"

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

std::size_t TOleVariant::Size() const {
    return (bytes_ ? bytes_->size() : 0) + (tail_ ? tail_->size() : 0);
}

std::span<const std::uint8_t> TOleVariant::Bytes() const {
    if (!bytes_)
        return {};
    return std::span<const std::uint8_t>(bytes_->data(), bytes_->size());
}

}  // namespace ab
