// TDBXMemoryStreamReader: prefix + shared body, read forward.
#include "dbx/TDBXMemoryStreamReader.h"

#include <algorithm>
#include <cstring>

#include "dbx/TOleVariant.h"
#include "platform/Exception.h"

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
    if (variant.TailSource())
        throw EInvalidOperation(u"The byte array's tail does not lie in memory");
    // One piece: the prefix is 03 and the count, the body the shared elements. Two pieces: the
    // head joins the prefix and the tail is the body.
    auto reader = std::make_unique<TDBXMemoryStreamReader>(variant.Tail() ? variant.Tail()
                                                                          : variant.Buffer());
    reader->prefix_ = variant.StreamPrefix();
    return reader;
}

std::size_t TDBXMemoryStreamReader::Remaining() const {
    const std::size_t body = body_ ? body_->size() - bodyPos_ : 0;
    return (prefix_.size() - prefixPos_) + body;
}

std::int64_t TDBXMemoryStreamReader::Size() const {
    const std::size_t body = body_ ? body_->size() - bodyStart_ : 0;
    return static_cast<std::int64_t>(prefix_.size() + body);
}

std::size_t TDBXMemoryStreamReader::Read(std::span<std::uint8_t> dest) {
    std::size_t done = 0;
    for (auto shown = Peek(); done < dest.size() && !shown.empty(); shown = Peek()) {
        const std::size_t n = std::min(dest.size() - done, shown.size());
        std::memcpy(dest.data() + done, shown.data(), n);
        Skip(n);
        done += n;
    }
    return done;
}

std::span<const std::uint8_t> TDBXMemoryStreamReader::Peek() const {
    if (prefixPos_ < prefix_.size())
        return std::span(prefix_).subspan(prefixPos_);
    if (body_ && bodyPos_ < body_->size())
        return std::span(*body_).subspan(bodyPos_);
    return {};
}

void TDBXMemoryStreamReader::Skip(std::size_t count) {
    const std::size_t fromPrefix = std::min(count, prefix_.size() - prefixPos_);
    prefixPos_ += fromPrefix;
    count -= fromPrefix;
    if (body_)
        bodyPos_ += std::min(count, body_->size() - bodyPos_);
}

}  // namespace ab
