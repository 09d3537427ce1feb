// The "tcp/ip" communication layer over a POSIX TCP client socket: IPv4 or IPv6 by property, the
// port's low 16 bits, Nagle off, TCP keepalive on (TransportConstants: 60 s idle, then 6 probes
// 10 s apart, and the same two minutes for sent data left unacknowledged), a connect, reads that
// return what has arrived.
//
// Deadlines. "ConnectTimeout" bounds the TCP connect, and every read and write until the first
// read has returned (the handshake and the login answer); "CommunicationTimeout" bounds every read
// and write after it. 0 or empty means no deadline: the connect then waits as long as the system
// lets it (it is polled all the same, so that Terminate can end it), reads and writes as long as
// the peer keeps the connection up. Each is waited for on the calling thread. A temporary read
// deadline (SetPrazoDeLeituraTemporario) bounds reads of either phase as well, the shorter one
// applying; it passes with the phase's error.
// - A connect whose deadline passes raises TDBXError code 0 "Connection timeout error".
// - A read that receives nothing for its deadline raises TDBXError code 0 "Connection timeout
//   error" (before the first read returned) or "Communication timeout error" (after).
// - A write that makes no progress for its deadline (the socket buffers stay full and the peer
//   acknowledges none of the bytes in them) raises TDBXError code 0 "Write timeout error", in
//   either phase; a write that keeps moving, however slowly, may take longer in all. Progress is
//   looked at eight times per deadline, so the error may come up to an eighth late.
// Only a deadline gives these errors. The peer closing the connection gives ESocketError code 0
// "Connection closed by the peer", and a socket error ESocketError with the system's code and
// text, whether the read was timed or not.
//
// A cap on the bytes written (SetLimiteDeBanda): a write leaves in the slices the cap grants, each
// waited for before it is sent, and the cap's AoEscrever is told of each slice sent. The write
// deadline counts from the end of each such wait: time spent on the cap is no time the peer failed
// to take bytes. Terminate ends the wait at once.
//
// Every failure of a read or write (a deadline included) terminates the layer before raising: the
// connection is lost (IsTerminated) and every later Read and Write answers -1. A failed write may
// have sent part of a message, so the connection could not carry another one anyway.
//
// Thread safety: Terminate may be called from any thread at any time, Open and Close included. It
// shuts the socket down (the descriptor stays open until Close, on the owner's thread), so a Read,
// Write or connect blocked in the owner's thread returns at once: a Read or Write then answers -1,
// and Open raises ESocketError for ECONNABORTED. Everything else belongs to one thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
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
    // Terminates the layer and raises for a read or write that failed with `err` (0: the peer
    // closed the connection, EAGAIN with a `timeoutMessage`: the deadline passed).
    [[noreturn]] void Fail(int err, const char16_t* timeoutMessage);
    // A timed write found the send buffer full: waits for room, moving the deadline on while the
    // peer acknowledges bytes. 0 when the send may be tried again, EAGAIN when the deadline
    // passed without progress, or a socket error.
    int WaitForRoom(std::chrono::steady_clock::time_point& deadline, int timeoutMs);
    // Takes `bytes` from the cap and waits for their turn; false when the layer was terminated
    // meanwhile (the bytes are given back).
    bool EsperarAVez(std::size_t bytes);
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
