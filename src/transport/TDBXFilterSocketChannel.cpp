// The filter channel: handshake, negotiation in both directions, framing.
#include "transport/TDBXFilterSocketChannel.h"

#include <algorithm>
#include <cstring>

#include "dbx/TDBXError.h"
#include "dbx/TJSONValue.h"
#include "platform/Text.h"
#include "transport/TDBXProperties.h"

namespace ab {
namespace C = TransportConstants;

namespace {

constexpr std::array<std::uint8_t, 5> kQuery{C::FilterQueryByte, C::FilterQueryByte,
                                             C::FilterQueryByte, C::FilterQueryByte,
                                             C::FilterQueryByte};
constexpr std::array<std::uint8_t, 5> kNoFilter{C::NoFilterByte, 0, 0, 0, 0};
// Block bytes are gathered in steps of this size, so memory follows what has arrived.
constexpr std::size_t kReadStep = 64 * 1024;

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A parameter's JSON value as the text a filter is offered: null is empty.
std::u16string ParameterText(const TJSONValue& value) {
    switch (value.GetKind()) {
        case TJSONValue::Kind::Null:
            return {};
        case TJSONValue::Kind::String:
        case TJSONValue::Kind::Number:
            return value.Text();
        default:
            return value.ToString();
    }
}

}  // namespace

TDBXFilterSocketChannel::TDBXFilterSocketChannel(std::unique_ptr<TDbxChannel> delegate,
                                                 TTransportFilterFactory& factory,
                                                 std::uint32_t maxFrameLength)
    : delegate_(std::move(delegate)), factory_(factory), maxFrameLength_(maxFrameLength) {}

TDBXFilterSocketChannel::~TDBXFilterSocketChannel() {
    filters_.reset();
    delegate_.reset();
}

void TDBXFilterSocketChannel::Open() {
    if (delegate_)
        delegate_->Open();
}

void TDBXFilterSocketChannel::Close() {
    if (delegate_)
        delegate_->Close();
}

bool TDBXFilterSocketChannel::IsConnectionLost() {
    return broken_ || (delegate_ && delegate_->IsConnectionLost());
}

TDBXChannelInfo* TDBXFilterSocketChannel::GetChannelInfo() {
    return delegate_ ? delegate_->GetChannelInfo() : nullptr;
}

TDBXProperties* TDBXFilterSocketChannel::GetDBXProperties() {
    return delegate_ ? delegate_->GetDBXProperties() : properties_;
}

void TDBXFilterSocketChannel::SetDBXProperties(TDBXProperties* properties) {
    properties_ = properties;
    if (delegate_)
        delegate_->SetDBXProperties(properties);
    if (!properties)
        return;
    const std::u16string value = properties->GetValue(C::Filters);
    if (value.empty())
        return;
    filters_ = TTransportFilterCollection::FromJSON(value, factory_);
}

void TDBXFilterSocketChannel::SetFilterList(const TTransportFilterCollection* filters) {
    filters_ = filters ? filters->Clone(factory_) : nullptr;
}

// ---- byte helpers ----

bool TDBXFilterSocketChannel::ReadExactly(std::span<std::uint8_t> dest) {
    std::size_t got = 0;
    while (got < dest.size()) {
        const int n = delegate_->Read(dest.subspan(got));
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<TDBXFilterSocketChannel::Bytes> TDBXFilterSocketChannel::ReadBlock(
    std::uint32_t length) {
    if (length > maxFrameLength_)
        return std::nullopt;
    Bytes block;
    block.reserve(std::min<std::size_t>(length, kReadStep));
    while (block.size() < length) {
        const std::size_t start = block.size();
        const std::size_t step = std::min<std::size_t>(length - start, kReadStep);
        block.resize(start + step);
        if (!ReadExactly(std::span(block).subspan(start, step)))
            return std::nullopt;
    }
    return block;
}

std::uint32_t TDBXFilterSocketChannel::HeaderLength() const {
    return (std::uint32_t{header_[1]} << 24) | (std::uint32_t{header_[2]} << 16) |
           (std::uint32_t{header_[3]} << 8) | std::uint32_t{header_[4]};
}

std::optional<TDBXFilterSocketChannel::Bytes> TDBXFilterSocketChannel::ReadHeaderAndBlock(
    std::uint8_t expectedKind) {
    if (!ReadExactly(header_) || header_[0] != expectedKind)
        return std::nullopt;
    return ReadBlock(HeaderLength());
}

bool TDBXFilterSocketChannel::WriteFrame(std::uint8_t kind, std::span<const std::uint8_t> payload) {
    // One delegate write per frame: with Nagle off the header and payload leave together.
    Bytes frame(C::FilterHeaderSize + payload.size());
    const auto n = static_cast<std::uint32_t>(payload.size());
    frame[0] = kind;
    frame[1] = static_cast<std::uint8_t>(n >> 24);
    frame[2] = static_cast<std::uint8_t>(n >> 16);
    frame[3] = static_cast<std::uint8_t>(n >> 8);
    frame[4] = static_cast<std::uint8_t>(n);
    if (!payload.empty())
        std::memcpy(frame.data() + C::FilterHeaderSize, payload.data(), payload.size());
    return delegate_->Write(frame) >= 0;
}

bool TDBXFilterSocketChannel::HasPublicKeyFilter() const {
    if (!filters_)
        return false;
    for (const auto& f : *filters_) {
        if (f->IsPublicKeyCryptograph())
            return true;
    }
    return false;
}

TDBXFilterSocketChannel::Bytes TDBXFilterSocketChannel::ThroughPublicKeyFilters(Bytes data,
                                                                                bool input) {
    for (const auto& f : *filters_) {
        if (f->IsPublicKeyCryptograph())
            data = input ? f->ProcessInput(data) : f->ProcessOutput(data);
    }
    return data;
}

bool TDBXFilterSocketChannel::ApplyParameterBlock(std::span<const std::uint8_t> block,
                                                  bool asServer) {
    if (!filters_)
        filters_ = std::make_unique<TTransportFilterCollection>();
    const auto root = TJSONValue::Parse(block);
    if (!root || !root->IsObject())
        return false;
    const auto& members = root->Members();
    for (auto it = members.rbegin(); it != members.rend(); ++it) {
        const auto& [id, params] = *it;
        if (!params.IsObject() && !params.IsNull())
            return false;
        TTransportFilter* filter = filters_->GetFilter(id);
        std::unique_ptr<TTransportFilter> created;
        if (!filter) {
            created = factory_.CreateFilter(id);
            if (!created)
                throw TDBXError(TDBXErrorCodes::None, Format(C::ErrFilterNotRegistered, {id}));
            filter = created.get();
        }
        filter->SetServerInstance(asServer);
        filter->SetFilterCollection(filters_.get());
        filter->StartHandshake();
        for (const auto& [name, value] : params.Members()) {
            const std::u16string text = ParameterText(value);
            if (!filter->SetConfederateParameter(name, text)) {
                throw TDBXError(TDBXErrorCodes::None,
                                Format(C::ErrFilterRejectedParameter, {id, name, text}));
            }
        }
        if (created)
            filters_->AddFilter(std::move(created));
    }
    return true;
}

// ---- the side that writes first ----

bool TDBXFilterSocketChannel::ClientHandshake() {
    if (delegate_->Write(kQuery) < 0)
        return false;
    if (!ReadExactly(header_))
        return false;
    if (header_[0] != C::PublicKeyLengthByte && filters_) {
        for (int i = filters_->Count() - 1; i >= 0; --i) {
            TTransportFilter* f = filters_->GetFilter(i);
            if (f->IsPublicKeyCryptograph())
                throw TDBXError(TDBXErrorCodes::None, Format(C::ErrNoMatchingFilter, {f->Id()}));
        }
    }
    if (header_ == kNoFilter) {
        state_ = Regular;
        return true;
    }
    state_ = Filtered;
    return NegotiateAsClient();
}

bool TDBXFilterSocketChannel::NegotiateAsClient() {
    if (header_[0] == C::DataLengthByte) {
        const auto block = ReadBlock(HeaderLength());
        if (!block || !ApplyParameterBlock(*block, false))
            return false;
        if (!WriteFrame(C::DataLengthByte, AsBytes(filters_->ParameterBlock(false))))
            return false;
    } else if (header_[0] == C::PublicKeyLengthByte) {
        const auto keyBlock = ReadBlock(HeaderLength());
        if (!keyBlock || !ApplyParameterBlock(*keyBlock, false))
            return false;
        if (!WriteFrame(C::PublicKeyLengthByte, AsBytes(filters_->ParameterBlock(true))))
            return false;
        auto block = ReadHeaderAndBlock(C::DataLengthByte);
        if (!block)
            return false;
        const Bytes plain = ThroughPublicKeyFilters(std::move(*block), false);
        if (!ApplyParameterBlock(plain, false))
            return false;
        const std::string own = filters_->ParameterBlock(false);
        const Bytes sealed = ThroughPublicKeyFilters(Bytes(own.begin(), own.end()), true);
        if (!WriteFrame(C::DataLengthByte, sealed))
            return false;
    } else {
        return false;
    }
    return filters_->HandshakeComplete();
}

// ---- the answering side ----

bool TDBXFilterSocketChannel::AnswerFirstRead() {
    if (!ReadExactly(header_))
        return false;
    if (header_ == kQuery) {
        if (!HasFilters()) {
            state_ = Regular;
            return delegate_->Write(kNoFilter) >= 0;
        }
        state_ = Filtered;
        return NegotiateAsServer();
    }
    if (HasFilters())
        return false;
    // Not a query: ordinary data of a peer that does not filter.
    state_ = Regular;
    leftover_.assign(header_.begin(), header_.end());
    leftoverPos_ = 0;
    return true;
}

bool TDBXFilterSocketChannel::NegotiateAsServer() {
    for (const auto& f : *filters_) {
        f->SetServerInstance(true);
        f->StartHandshake();
    }
    if (HasPublicKeyFilter()) {
        if (!WriteFrame(C::PublicKeyLengthByte, AsBytes(filters_->ParameterBlock(true))))
            return false;
        const auto keyBlock = ReadHeaderAndBlock(C::PublicKeyLengthByte);
        if (!keyBlock || !ApplyParameterBlock(*keyBlock, true))
            return false;
        const std::string own = filters_->ParameterBlock(false);
        const Bytes sealed = ThroughPublicKeyFilters(Bytes(own.begin(), own.end()), true);
        if (!WriteFrame(C::DataLengthByte, sealed))
            return false;
        auto block = ReadHeaderAndBlock(C::DataLengthByte);
        if (!block)
            return false;
        const Bytes plain = ThroughPublicKeyFilters(std::move(*block), false);
        if (!ApplyParameterBlock(plain, true))
            return false;
    } else {
        if (!WriteFrame(C::DataLengthByte, AsBytes(filters_->ParameterBlock(false))))
            return false;
        const auto block = ReadHeaderAndBlock(C::DataLengthByte);
        if (!block || !ApplyParameterBlock(*block, true))
            return false;
    }
    return filters_->HandshakeComplete();
}

// ---- reading and writing ----

int TDBXFilterSocketChannel::HandOutLeftover(std::span<std::uint8_t> dest) {
    const std::size_t n = std::min(dest.size(), leftover_.size() - leftoverPos_);
    std::memcpy(dest.data(), leftover_.data() + leftoverPos_, n);
    leftoverPos_ += n;
    if (leftoverPos_ >= leftover_.size()) {
        leftover_.clear();
        leftoverPos_ = 0;
    }
    return static_cast<int>(n);
}

int TDBXFilterSocketChannel::ReadFiltered(std::span<std::uint8_t> dest) {
    // An empty frame decodes to nothing; keep reading until a frame carries bytes.
    while (!HasLeftover()) {
        if (!ReadExactly(header_))
            return -1;
        if (header_[0] != C::DataLengthByte && header_[0] != C::PublicKeyLengthByte)
            return -1;
        auto block = ReadBlock(HeaderLength());
        if (!block)
            return -1;
        Bytes data = std::move(*block);
        for (const auto& f : *filters_) {
            if (!f->IsPublicKeyCryptograph())
                data = f->ProcessOutput(data);
        }
        leftover_ = std::move(data);
        leftoverPos_ = 0;
    }
    return HandOutLeftover(dest);
}

int TDBXFilterSocketChannel::WriteFiltered(std::span<const std::uint8_t> src) {
    Bytes data(src.begin(), src.end());
    for (const auto& f : *filters_) {
        if (!f->IsPublicKeyCryptograph())
            data = f->ProcessInput(data);
    }
    if (data.size() > 0xFFFFFFFFu)
        return -1;
    if (!WriteFrame(C::DataLengthByte, data))
        return -1;
    return static_cast<int>(data.size());
}

int TDBXFilterSocketChannel::Read(std::span<std::uint8_t> dest) {
    if (broken_ || !delegate_)
        return -1;
    if (dest.empty())
        return 0;
    if (HasLeftover())
        return HandOutLeftover(dest);
    if (state_ == Pendant) {
        try {
            if (!AnswerFirstRead()) {
                broken_ = true;
                return -1;
            }
        } catch (...) {
            broken_ = true;
            throw;
        }
        if (HasLeftover())
            return HandOutLeftover(dest);
    }
    if (state_ == Regular)
        return delegate_->Read(dest);
    // A frame that could not be read leaves the stream out of step: nothing after it is trusted.
    try {
        const int n = ReadFiltered(dest);
        if (n < 0)
            broken_ = true;
        return n;
    } catch (...) {
        broken_ = true;
        throw;
    }
}

int TDBXFilterSocketChannel::WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
    if (broken_ || !delegate_)
        return -1;
    std::size_t size = 0;
    for (const auto& part : parts)
        size += part.size();
    if (size == 0)
        return 0;
    if (state_ == Pendant) {
        try {
            if (!ClientHandshake()) {
                broken_ = true;
                return -1;
            }
        } catch (...) {
            broken_ = true;
            throw;
        }
    }
    if (state_ == Regular)
        return delegate_->WriteParts(parts);
    // Filters work on a whole frame: the parts are joined into one.
    return WriteJoined(
        parts, [this](std::span<const std::uint8_t> bytes) { return WriteFiltered(bytes); });
}

}  // namespace ab
