// The "tcp/ip" communication layer over a POSIX TCP client socket: IPv4 or IPv6 by property, the
// port's low 16 bits, Nagle off, a connect, reads that return what has arrived.
//
// Deadlines: "ConnectTimeout" bounds the TCP connect and the first read of the connection, each on
// its own, and "CommunicationTimeout" every later read. Without "ConnectTimeout" the connect waits
// as long as the system lets it (it is polled all the same, so that Terminate can end it). A
// deadline is waited for with poll() on the calling thread. A connect
// whose deadline passes raises TDBXError code 0 "Connection timeout error". When a read's deadline
// passes the layer terminates itself; any failure of a timed read, a peer closing the connection
// included, raises TDBXError code 0 with "Connection timeout error" (first read) or "Communication
// timeout error" (later reads). Untimed reads raise ESocketError.
//
// A read that finds the connection closed or broken, and a failed send, terminate the layer before
// raising: the connection is lost (IsTerminated) and every later Read and Write answers -1.
//
// Thread safety: Terminate may be called from any thread at any time, Open and Close included. It
// shuts the socket down (the descriptor stays open until Close, on the owner's thread), so a Read,
// Write or connect blocked in the owner's thread returns at once: a Read or Write then answers -1,
// and Open raises ESocketError for ECONNABORTED. Everything else belongs to one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "transport/TDBXCommunicationLayer.h"

namespace ab {

class TDBXIdTCPLayer : public TDBXCommunicationLayer {
  public:
    TDBXIdTCPLayer() = default;
    ~TDBXIdTCPLayer() override;

    // Resolves and connects; ESocketError on failure, TDBXError "Connection timeout error" when
    // "ConnectTimeout" passes first, EConvertError for a non-integer "Port", "ConnectTimeout" or
    // "CommunicationTimeout". A layer is opened once; one terminated before or during Open fails.
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
    // Makes fd the layer's socket, unless the layer was terminated meanwhile.
    bool AdoptSocket(int fd);
    // Forgets and closes the socket.
    void ReleaseSocket();
    int PlainRead(std::span<std::uint8_t> dest);
    int TimedRead(std::span<std::uint8_t> dest, int timeoutMs, const char16_t* message);
    // Sets the socket's receive timeout (0: none) when it differs from the one set; false when
    // the system refuses.
    bool SetReceiveTimeout(int ms);

    int communicationTimeout_ = 0;
    // The receive timeout set on the socket (0: none), so it is changed only when it differs.
    int receiveTimeoutMs_ = 0;
    std::atomic<int> socket_{-1};
    // Orders Terminate's shutdown against publishing and closing the descriptor, so a terminating
    // thread never touches a descriptor number that was closed and reused.
    std::mutex socketMutex_;
    bool connected_ = false;
    std::u16string implementationId_;
};

}  // namespace ab
