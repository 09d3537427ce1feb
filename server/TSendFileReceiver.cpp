// Receives SendFile's argument into the store as it arrives (see the header).
#include "server/TSendFileReceiver.h"

#include <algorithm>

#include "platform/Text.h"
#include "server/ServerConstants.h"

namespace ab::server {

namespace {

[[noreturn]] void Fail(const char16_t* what) {
    throw EPacketError(std::u16string(u"Invalid Dados: ") + what);
}

}  // namespace

TSendFileReceiver::TSendFileReceiver(TFileStore& store, std::uint64_t maxValueBytes)
    : store_(store), maxValueBytes_(maxValueBytes) {}

void TSendFileReceiver::Append(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return;
    if (!head_) {
        constexpr std::size_t kLimit = kPrefix + TDataPacketDecoder::kMaxPacketHead;
        const std::size_t take = std::min(bytes.size(), kLimit - start_.size());
        start_.insert(start_.end(), bytes.begin(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(take));
        received_ += take;
        bytes = bytes.subspan(take);
        if (start_[0] != kVariantByteArray)
            Fail(u"not a byte array");
        if (start_.size() < kPrefix)
            return;
        std::uint64_t announced = 0;
        for (int i = 8; i >= 1; --i)
            announced = (announced << 8) | start_[static_cast<std::size_t>(i)];
        if (announced > maxValueBytes_ - std::min<std::uint64_t>(maxValueBytes_, kPrefix))
            throw EValueTooLarge(u"Value too large (limit " +
                                 FromUtf8(std::to_string(maxValueBytes_)) + u" bytes)");
        const auto packet = std::span(start_).subspan(kPrefix);
        head_ = TDataPacketDecoder::DecodeHead(packet);
        if (!head_) {
            if (start_.size() >= kLimit)
                Fail(u"packet head too long");
            return;  // every byte was taken; the head needs more
        }
        total_ = kPrefix + head_->contentOffset + head_->contentLength;
        if (announced + kPrefix != total_)
            Fail(u"length does not match its count");
        writer_ = store_.BeginStore(head_->name);
        // Bytes past the head that came with it belong to the content.
        const std::size_t headEnd = kPrefix + head_->contentOffset;
        if (start_.size() > total_)
            Fail(u"bytes past the packet");
        writer_->Write(std::span(start_).subspan(headEnd));
        start_.resize(headEnd);
    }
    if (bytes.empty())
        return;
    if (bytes.size() > total_ - received_)
        Fail(u"bytes past the packet");
    writer_->Write(bytes);
    received_ += bytes.size();
}

bool TSendFileReceiver::Finish(bool checkNewer) {
    if (!head_)
        Fail(u"packet cut short");
    if (received_ != total_)
        Fail(u"packet cut short");
    const TStampFields stamp = TDataPacketDecoder::StampFields(head_->dataHora);
    const bool stored = writer_->Commit(stamp, checkNewer);
    writer_.reset();
    return stored;
}

}  // namespace ab::server
