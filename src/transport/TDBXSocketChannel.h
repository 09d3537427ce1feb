// The socket channel: picks the communication layer named by "CommunicationProtocol" (empty
// means "tcp/ip") and forwards every read and write to it. After Close, Read and Write return -1.
//
// With an abort signal, the layer's Terminate is registered on it from before the layer connects
// until the layer is closed, so an abort from another thread ends a connect, read or write in
// progress. With a cap on the bytes written, every layer opened takes its writes from it. The
// channel's other operations belong to one thread.
#pragma once

#include <cstdint>
#include <memory>

#include "dbx/TDbxChannel.h"
#include "transport/TDBXAbortSignal.h"
#include "transport/TDBXCommunicationLayer.h"
#include "transport/TDBXSocketChannelInfo.h"
#include "transport/TLimiteDeBanda.h"

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
    // True once the open layer was terminated: the peer closed the connection, a read or write
    // failed, a deadline passed, or an abort or Terminate ended it. False before Open and after
    // Close.
    bool IsConnectionLost() override;
    TDBXChannelInfo* GetChannelInfo() override { return info_.get(); }

    // For the layers opened from now on.
    void SetAbortSignal(std::shared_ptr<TDBXAbortSignal> signal) {
        abortSignal_ = std::move(signal);
    }
    // For the layers opened from now on.
    void SetLimiteDeBanda(TLimiteDaConexao limite) { limiteDeBanda_ = std::move(limite); }
    // The layer's temporary read deadline (0: off); kept for layers opened later.
    void SetPrazoDeLeituraTemporario(int milliseconds);
    // Releases the info, terminates and frees the layer, swallowing errors.
    void Terminate();
    TDBXCommunicationLayer* GetLayer() const { return layer_.get(); }

  private:
    // Takes the layer's Terminate off the abort signal; after this no abort reaches the layer.
    void Unhook();

    std::unique_ptr<TDBXCommunicationLayer> layer_;
    std::unique_ptr<TDBXSocketChannelInfo> info_;
    std::shared_ptr<TDBXAbortSignal> abortSignal_;
    std::uint64_t abortHook_ = 0;
    TLimiteDaConexao limiteDeBanda_;
    int prazoDeLeituraTemporario_ = 0;
    bool terminated_ = false;
};

}  // namespace ab
