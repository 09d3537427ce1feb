// The filter channel: wraps another channel (the socket channel on a client, an accepted socket on
// the bundled server), agrees on transport filters with the other side in a five-byte handshake,
// and then frames and transforms every message.
//
// Calling protocol (TDbxChannel.h), plus:
// - The side that writes first (the client) sends the filter query 05 05 05 05 05 before its first
//   non-empty write and reads the answer: 06 00 00 00 00 (no filters, bytes pass unchanged from
//   then on), or a public-key / data-length header that starts the negotiation.
// - The answering side (the server) just reads: its first read takes five bytes; a query is
//   answered (no-filter header without filters, negotiation with them); other bytes on a channel
//   without filters are ordinary data and are handed out by that read.
// - Filtered frames are 0D + 32-bit big-endian length + payload. A frame or parameter block longer
//   than the frame limit is refused; payload memory grows only as its bytes arrive.
// - A failed handshake (a -1 from Write or Read, or a raised TDBXError) or a filtered frame that
//   cannot be read or decoded leaves the channel broken: every later Read and Write returns -1, and
//   IsConnectionLost is true (as it is when the delegate's connection is lost).
// - The three negotiation errors are TDBXError code 0: "The Server has no matching %s filter.",
//   the "not registered" text and the "rejected setup parameter" text.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "dbx/TDbxChannel.h"
#include "transport/TTransportFilterCollection.h"
#include "transport/TTransportFilterFactory.h"
#include "transport/TransportConstants.h"

namespace ab {

class TDBXFilterSocketChannel : public TDbxChannel {
  public:
    static constexpr int Pendant = 0;
    static constexpr int Filtered = 1;
    static constexpr int Regular = -1;

    explicit TDBXFilterSocketChannel(
        std::unique_ptr<TDbxChannel> delegate = nullptr,
        TTransportFilterFactory& factory = TTransportFilterFactory::Instance(),
        std::uint32_t maxFrameLength = TransportConstants::DefaultMaxFrameLength);
    // Frees the filters (last to first), then the delegate.
    ~TDBXFilterSocketChannel() override;

    void Open() override;
    void Close() override;
    int Read(std::span<std::uint8_t> dest) override;
    int Write(std::span<const std::uint8_t> src) override { return WriteParts(std::span(&src, 1)); }
    int WriteParts(std::span<const std::span<const std::uint8_t>> parts) override;
    bool IsConnectionLost() override;
    TDBXChannelInfo* GetChannelInfo() override;
    TDBXProperties* GetDBXProperties() override;
    // Hands the list to the delegate, then reads "Filters": a non-empty value becomes a new
    // filter list ("{}" an empty one; text that does not parse, none); empty leaves it unchanged.
    void SetDBXProperties(TDBXProperties* properties) override;

    bool HasLeftover() const { return leftoverPos_ < leftover_.size(); }
    bool HasFilters() const { return filters_ && filters_->Count() > 0; }
    int GetFlag() const { return state_; }
    void SetChannel(std::unique_ptr<TDbxChannel> delegate) { delegate_ = std::move(delegate); }
    TDbxChannel* GetChannel() const { return delegate_.get(); }
    // Replaces the list by an owned list holding a new instance of each given filter (created by
    // id through the registry) with its user parameters copied; nullptr removes the list.
    void SetFilterList(const TTransportFilterCollection* filters);
    TTransportFilterCollection* GetFilterList() const { return filters_.get(); }

  private:
    using Bytes = std::vector<std::uint8_t>;

    bool ReadExactly(std::span<std::uint8_t> dest);
    std::optional<Bytes> ReadBlock(std::uint32_t length);
    std::optional<Bytes> ReadHeaderAndBlock(std::uint8_t expectedKind);
    bool WriteFrame(std::uint8_t kind, std::span<const std::uint8_t> payload);
    std::uint32_t HeaderLength() const;
    bool HasPublicKeyFilter() const;
    Bytes ThroughPublicKeyFilters(Bytes data, bool input);
    bool ApplyParameterBlock(std::span<const std::uint8_t> block, bool asServer);

    bool ClientHandshake();
    bool NegotiateAsClient();
    bool AnswerFirstRead();
    bool NegotiateAsServer();
    int ReadFiltered(std::span<std::uint8_t> dest);
    int WriteFiltered(std::span<const std::uint8_t> src);
    int HandOutLeftover(std::span<std::uint8_t> dest);

    std::unique_ptr<TDbxChannel> delegate_;
    TTransportFilterFactory& factory_;
    std::uint32_t maxFrameLength_;
    std::unique_ptr<TTransportFilterCollection> filters_;
    std::array<std::uint8_t, TransportConstants::FilterHeaderSize> header_{};
    int state_ = Pendant;
    bool broken_ = false;
    Bytes leftover_;
    std::size_t leftoverPos_ = 0;
};

}  // namespace ab
