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
//
// With requests written ahead (TDBXConnection.h) the connect message, the metadata query and the
// prepares asked for leave in the write that follows the filter handshake; the connect reply, the
// metadata reply (with its first rows) and each prepare's reply are then read under the probe
// deadline, after which the metadata query's reader and command close as they do otherwise. The
// handshake itself is not part of the probe: it is one request alone, and a failure there is
// raised as it is without requests ahead.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/TDBXConnection.h"

namespace ab {

class TDbxChannel;
class TDBXJSonReader;
class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXJSonClientInputConnectionHandler;
class TDBXJSonClientOutputConnectionHandler;
class TDBXServerDriver;
class TDBXSocketChannel;

class TDBXClientConnection : public TDBXConnection {
  public:
    TDBXClientConnection(TDBXServerDriver& driver, std::unique_ptr<TDBXProperties> properties);
    ~TDBXClientConnection() override;

    std::u16string GetProductName() override { return productName_; }
    // Empty below protocol version 2 (nothing sent); otherwise cached per name.
    std::u16string GetVendorProperty(std::u16string_view name) override;
    bool IsConnectionLost() const override;
    void SetPrazoDeLeituraTemporario(int milliseconds) override;
    int GetPrazoDeLeituraTemporario() const override { return prazoDeLeituraTemporario_; }

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
    // The connect message, left in the writer's buffer.
    void WriteConnectMessage();
    void ReadConnectReply();
    std::unique_ptr<TDBXCommand> CreateMetaDataCommand();
    // The connect, the metadata query and the prepares in one write, then their replies.
    void OpenWithRequestsAhead();
    // Raises ESondaFalhou for the failure being handled when it ended the link after requests
    // left ahead; otherwise returns and the caller raises the failure as it stands.
    void RaiseProbeFailure(std::exception_ptr failure);

    TDBXServerDriver& serverDriver_;
    std::unique_ptr<TDbxChannel> channel_;
    // The socket channel under the filter channel, where read deadlines are set.
    TDBXSocketChannel* socketChannel_ = nullptr;
    std::unique_ptr<TDBXJSonStreamReader> reader_;
    std::unique_ptr<TDBXJSonStreamWriter> writer_;
    std::unique_ptr<TDBXJSonClientInputConnectionHandler> inputHandler_;
    std::unique_ptr<TDBXJSonClientOutputConnectionHandler> outputHandler_;
    std::int32_t connectionHandle_ = -1;
    std::u16string productName_;
    std::int32_t protocolVersion_ = 0;
    int bufferSize_ = 0;
    int prazoDeLeituraTemporario_ = 0;
    // Read by the open with requests ahead, handed to the base by ReadDatabaseMetaData.
    std::unique_ptr<TDBXDatabaseMetaData> metaDataAhead_;
    TDBXProperties vendorProperties_;
};

}  // namespace ab
