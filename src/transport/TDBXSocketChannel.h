// The socket channel: picks the communication layer named by "CommunicationProtocol" (empty
// means "tcp/ip") and forwards every read and write to it. After Close, Read and Write return -1.
#pragma once

#include <memory>

#include "dbx/TDbxChannel.h"
#include "transport/TDBXCommunicationLayer.h"
#include "transport/TDBXSocketChannelInfo.h"

namespace ab {

class TDBXSocketChannel : public TDbxChannel {
  public:
    TDBXSocketChannel() = default;
    ~TDBXSocketChannel() override;

    // Closes first, then creates and opens a new layer. TDBXError code 0 for an unknown protocol;
    // the layer's errors otherwise.
    void Open() override;
    void Close() override;
    int Read(std::span<std::uint8_t> dest) override;
    int Write(std::span<const std::uint8_t> src) override;
    int WriteParts(std::span<const std::span<const std::uint8_t>> parts) override;
    TDBXChannelInfo* GetChannelInfo() override { return info_.get(); }

    // Releases the info, terminates and frees the layer, swallowing errors.
    void Terminate();
    TDBXCommunicationLayer* GetLayer() const { return layer_.get(); }

  private:
    std::unique_ptr<TDBXCommunicationLayer> layer_;
    std::unique_ptr<TDBXSocketChannelInfo> info_;
};

}  // namespace ab
