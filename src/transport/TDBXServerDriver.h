// The server driver, registered under "DataSnap": its defaults are the six initial lines of the
// server property list; it creates client connections, their channels (a filter channel around a
// socket channel for "DataSnap", a bare socket channel otherwise) and client commands.
#pragma once

#include <memory>

#include "transport/TDBXDriver.h"
#include "transport/TLimiteDeBanda.h"

namespace ab {

class TDbxChannel;
class TDBXAbortSignal;

class TDBXServerDriver : public TDBXDriver {
  public:
    std::u16string GetDriverName() const override;
    TDBXProperties GetDefaultProperties() const override;
    std::unique_ptr<TDBXConnection> CreateConnection(
        std::unique_ptr<TDBXProperties> properties) override;
    std::unique_ptr<TDBXCommand> CreateCommand(TDBXConnection& connection,
                                               std::u16string_view commandType) override;
    // The channel for a connection whose "DriverName" is driverName; its socket is ended by the
    // abort signal, when there is one, and writes within the cap, when there is one.
    std::unique_ptr<TDbxChannel> CreateChannel(std::u16string_view driverName,
                                               std::shared_ptr<TDBXAbortSignal> abort = nullptr,
                                               TLimiteDaConexao limite = {});
};

}  // namespace ab
