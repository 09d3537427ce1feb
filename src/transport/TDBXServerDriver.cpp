// The server driver.
#include "transport/TDBXServerDriver.h"

#include "transport/TDBXClientCommand.h"
#include "transport/TDBXClientConnection.h"
#include "transport/TDBXFilterSocketChannel.h"
#include "transport/TDBXServerProperties.h"
#include "transport/TDBXSocketChannel.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

std::u16string TDBXServerDriver::GetDriverName() const {
    return C::ServerDriverName;
}

TDBXProperties TDBXServerDriver::GetDefaultProperties() const {
    return TDBXServerProperties::DefaultLines();
}

std::unique_ptr<TDBXConnection> TDBXServerDriver::CreateConnection(
    std::unique_ptr<TDBXProperties> properties) {
    auto connection = std::make_unique<TDBXClientConnection>(*this, std::move(properties));
    connection->GetConnectionProperties().AddUniqueProperties(GetDefaultProperties());
    return connection;
}

std::unique_ptr<TDBXCommand> TDBXServerDriver::CreateCommand(TDBXConnection& connection,
                                                             std::u16string_view) {
    return std::make_unique<TDBXClientCommand>(static_cast<TDBXClientConnection&>(connection));
}

std::unique_ptr<TDbxChannel> TDBXServerDriver::CreateChannel(std::u16string_view driverName,
                                                             std::shared_ptr<TDBXAbortSignal> abort,
                                                             TLimiteDaConexao limite) {
    auto socket = std::make_unique<TDBXSocketChannel>();
    socket->SetAbortSignal(std::move(abort));
    socket->SetLimiteDeBanda(std::move(limite));
    if (TDBXProperties::SameName(driverName, C::ServerDriverName))
        return std::make_unique<TDBXFilterSocketChannel>(std::move(socket));
    return socket;
}

}  // namespace ab
