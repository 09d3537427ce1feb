// The connection to an update server: a channel (filter channel around the socket channel), a
// JSON writer and reader on it, the message handlers, the connect handshake, the metadata query,
// vendor properties and the disconnect.
//
// Open: channel, properties, TCP connect; buffers of BufferKBSize x 1024 bytes (32768 when absent
// or not positive); the connect message with every property line in list order; the reply
// {"result":[handle,"product"(,version)...]}; then the metadata query. Close (also on a failed
// open): every command closes, the disconnect message goes out only when a handle was read and the
// link is not lost (write errors ignored, no answer awaited), then the channel is freed, closing
// the socket. A lost link is the channel's: its socket was terminated, so the commands' closes
// reach nothing either.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/TDBXConnection.h"

namespace ab {

class TDbxChannel;
class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXJSonClientInputConnectionHandler;
class TDBXJSonClientOutputConnectionHandler;
class TDBXServerDriver;

class TDBXClientConnection : public TDBXConnection {
  public:
    TDBXClientConnection(TDBXServerDriver& driver, std::unique_ptr<TDBXProperties> properties);
    ~TDBXClientConnection() override;

    std::u16string GetProductName() override { return productName_; }
    // Empty below protocol version 2 (nothing sent); otherwise cached per name.
    std::u16string GetVendorProperty(std::u16string_view name) override;
    bool IsConnectionLost() const override;

    std::int32_t GetConnectionHandle() const { return connectionHandle_; }
    std::int32_t GetProtocolVersion() const { return protocolVersion_; }
    int GetBufferSize() const { return bufferSize_; }
    TDbxChannel* GetChannel() const { return channel_.get(); }
    TDBXJSonStreamWriter* GetWriter() const { return writer_.get(); }
    TDBXJSonStreamReader* GetReader() const { return reader_.get(); }
    TDBXJSonClientOutputConnectionHandler* GetConnectionHandler() const {
        return outputHandler_.get();
    }

  protected:
    void DerivedOpen() override;
    void DerivedClose() override;
    std::vector<std::u16string> DerivedGetCommandTypes() override;
    std::unique_ptr<TDBXDatabaseMetaData> ReadDatabaseMetaData() override;

  private:
    void WriteConnectMessage();
    void ReadConnectReply();

    TDBXServerDriver& serverDriver_;
    std::unique_ptr<TDbxChannel> channel_;
    std::unique_ptr<TDBXJSonStreamReader> reader_;
    std::unique_ptr<TDBXJSonStreamWriter> writer_;
    std::unique_ptr<TDBXJSonClientInputConnectionHandler> inputHandler_;
    std::unique_ptr<TDBXJSonClientOutputConnectionHandler> outputHandler_;
    std::int32_t connectionHandle_ = -1;
    std::u16string productName_;
    std::int32_t protocolVersion_ = 0;
    int bufferSize_ = 0;
    TDBXProperties vendorProperties_;
};

}  // namespace ab
