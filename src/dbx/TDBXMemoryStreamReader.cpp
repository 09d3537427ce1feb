// TDBXMemoryStreamReader: prefix + shared body, read forward.
#include "dbx/TDBXMemoryStreamReader.h"

#include <algorithm>
#include <cstring>

#include "dbx/TOleVariant.h"

namespace ab {

TDBXMemoryStreamReader::TDBXMemoryStreamReader(
    std::shared_ptr<const std::vector<std::uint8_t>> body, std::size_t bodyOffset)
    : body_(std::move(body)) {
    const std::size_t size = body_ ? body_->size() : 0;
    bodyStart_ = std::min(bodyOffset, size);
    bodyPos_ = bodyStart_;
}

std::unique_ptr<TDBXMemoryStreamReader> TDBXMemoryStreamReader::ForByteArray(
    const TOleVariant& variant) {
    auto reader = std::make_unique<TDBXMemoryStreamReader>(variant.Buffer());
    const std::uint64_t count = variant.Bytes().size();
    reader->prefix_[0] = 0x03;
    for (int i = 0; i < 8; ++i)
        reader->prefix_[1 + i] = static_cast<std::uint8_t>(count >> (8 * i));
    reader->prefixLength_ = 9;
    return reader;
}

std::size_t TDBXMemoryStreamReader::Remaining() const {
    const std::size_t body = body_ ? body_->size() - bodyPos_ : 0;
    return (prefixLength_ - prefixPos_) + body;
}

std::int64_t TDBXMemoryStreamReader::Size() const {
    const std::size_t body = body_ ? body_->size() - bodyStart_ : 0;
    return static_cast<std::int64_t>(prefixLength_ + body);
}

std::size_t TDBXMemoryStreamReader::Read(std::span<std::uint8_t> dest) {
    std::size_t done = 0;
    if (prefixPos_ < prefixLength_) {
        const std::size_t n = std::min(dest.size(), prefixLength_ - prefixPos_);
        std::memcpy(dest.data(), prefix_.data() + prefixPos_, n);
        prefixPos_ += n;
        done = n;
    }
    if (body_ && done < dest.size() && bodyPos_ < body_->size()) {
        const std::size_t n = std::min(dest.size() - done, body_->size() - bodyPos_);
        std::memcpy(dest.data() + done, body_->data() + bodyPos_, n);
        bodyPos_ += n;
        done += n;
    }
    return done;
}

}  // namespace ab
