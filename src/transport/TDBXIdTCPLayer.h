// The "tcp/ip" communication layer over a POSIX TCP client socket: IPv4 or IPv6 by property, the
// port's low 16 bits, Nagle off, a blocking connect, reads that return what has arrived.
//
// Deadlines: "ConnectTimeout" bounds the first read of the connection and "CommunicationTimeout"
// every later one. A deadline is waited for with poll() on the calling thread; when it passes the
// layer terminates itself (every later Read and Write answers -1). Any failure of a timed read, a
// peer closing the connection included, raises TDBXError code 0 with "Connection timeout error"
// (first read) or "Communication timeout error" (later reads). Untimed reads raise ESocketError.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "transport/TDBXCommunicationLayer.h"

namespace ab {

class TDBXIdTCPLayer : public TDBXCommunicationLayer {
  public:
    TDBXIdTCPLayer() = default;
    ~TDBXIdTCPLayer() override;

    // Resolves and connects; ESocketError on failure, EConvertError for a non-integer "Port",
    // "ConnectTimeout" or "CommunicationTimeout".
    void Open(const TDBXProperties& properties) override;
    void Close() override;
    int Read(std::span<std::uint8_t> dest) override;
    int Write(std::span<const std::uint8_t> src) override;
    int WriteParts(std::span<const std::span<const std::uint8_t>> parts) override;
    // The configured local bind address: none is configured, so empty.
    std::u16string Info() const override { return {}; }
    void Terminate() override;

    int GetCommunicationTimeout() const { return communicationTimeout_; }
    // True once a read has returned.
    bool IsConnected() const { return connected_; }

  protected:
    // Checks the socket implementation id: empty selects the only (default) implementation.
    virtual void CreateClientSocket();

  private:
    int PlainRead(std::span<std::uint8_t> dest);
    int TimedRead(std::span<std::uint8_t> dest, int timeoutMs, const char16_t* message);

    int communicationTimeout_ = 0;
    std::atomic<int> socket_{-1};
    bool connected_ = false;
    std::u16string implementationId_;
};

}  // namespace ab
