// The accepted socket as the session or the negotiating filter channel reads it, with the filter
// query counted as a message: the first five bytes are read before any is handed out, and when
// they are the query the message faults apply to it. A drop ends the connection before the query
// is answered; an error writes the error object where the five-byte answer would go and ends the
// connection, since no handshake can follow. Every other byte passes unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dbx/TDbxChannel.h"
#include "server/TServerContext.h"
#include "server/TServerSocketChannel.h"

namespace ab::server {

class TQueryCountingChannel : public TDbxChannel {
  public:
    // Does not own the socket.
    TQueryCountingChannel(TServerSocketChannel& inner, TServerContext& context,
                          int connectionNumber);

    void Open() override {}
    void Close() override {}
    // -1 for good once a fault ended the connection at the query.
    int Read(std::span<std::uint8_t> dest) override;
    int Write(std::span<const std::uint8_t> src) override;
    int WriteParts(std::span<const std::span<const std::uint8_t>> parts) override;

  private:
    // Reads the first five bytes (fewer when the peer closes) and applies a fault to a query;
    // false when the connection ends here.
    bool TakeFirst();

    TServerSocketChannel& inner_;
    TServerContext& context_;
    int number_;
    bool checked_ = false;
    bool ended_ = false;
    std::vector<std::uint8_t> first_;
    std::size_t handedOut_ = 0;
};

}  // namespace ab::server
