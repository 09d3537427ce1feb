// The abstract transport layer under the socket channel. Read and Write follow the channel's
// calling protocol (TDbxChannel.h); a terminated layer answers both with -1.
//
// A layer terminates itself when its connection breaks (the peer closed it, a send or receive
// failed, a deadline passed), so IsTerminated also tells that the connection is lost: nothing can
// travel on it any more, and nothing more is written to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "dbx/TDbxChannel.h"
#include "transport/TLimiteDeBanda.h"

namespace ab {

class TDBXProperties;

class TDBXCommunicationLayer {
  public:
    TDBXCommunicationLayer() = default;
    virtual ~TDBXCommunicationLayer() = default;
    TDBXCommunicationLayer(const TDBXCommunicationLayer&) = delete;
    TDBXCommunicationLayer& operator=(const TDBXCommunicationLayer&) = delete;

    virtual void SetConnectTimeout(int milliseconds) { connectTimeout_ = milliseconds; }
    virtual int GetConnectTimeout() const { return connectTimeout_; }
    // A read deadline the owner switches on and off while the layer is open (0 or less: off).
    // While on, each read is bounded by it, or by the configured deadline when that is shorter;
    // it passes as the configured one would. Owner's thread only.
    void SetPrazoDeLeituraTemporario(int milliseconds) {
        prazoDeLeituraTemporario_ = milliseconds > 0 ? milliseconds : 0;
    }
    int GetPrazoDeLeituraTemporario() const { return prazoDeLeituraTemporario_; }
    // The cap on the bytes written, shared with other connections (none without a bucket); set
    // before Open. A layer that writes takes every byte from it before writing it, and tells its
    // AoEscrever of each slice written.
    void SetLimiteDeBanda(TLimiteDaConexao limite) { limiteDeBanda_ = std::move(limite); }
    virtual void Open(const TDBXProperties& properties) = 0;
    virtual void Close() = 0;
    virtual int Read(std::span<std::uint8_t> dest) = 0;
    virtual int Write(std::span<const std::uint8_t> src) = 0;
    // One Write of the parts' concatenation; layers that can gather them override it.
    virtual int WriteParts(std::span<const std::span<const std::uint8_t>> parts) {
        return WriteJoined(parts,
                           [this](std::span<const std::uint8_t> bytes) { return Write(bytes); });
    }
    virtual std::u16string Info() const = 0;
    // May be called from any thread: makes every later Read and Write answer -1, and a Read or
    // Write blocked in another thread return at once.
    virtual void Terminate() { terminated_ = true; }
    bool IsTerminated() const { return terminated_; }

  protected:
    std::atomic<bool> terminated_{false};
    int connectTimeout_ = 0;
    int prazoDeLeituraTemporario_ = 0;
    TLimiteDaConexao limiteDeBanda_;
};

}  // namespace ab
