// The connection factory.
#include "transport/TDBXConnectionFactory.h"

#include "transport/TDBXConnection.h"
#include "transport/TDBXDriverRegistry.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

TDBXConnectionFactory::TDBXConnectionFactory(TDBXDriverRegistry& registry) : registry_(registry) {}

TDBXConnectionFactory& TDBXConnectionFactory::Instance() {
    static TDBXConnectionFactory instance(TDBXDriverRegistry::Instance());
    return instance;
}

TDBXProperties TDBXConnectionFactory::GetDriverProperties(std::u16string_view driverName) {
    return registry_.GetDriver(driverName).GetDefaultProperties();
}

TDBXProperties TDBXConnectionFactory::CompleteProperties(const TDBXProperties& properties) {
    TDBXProperties list;
    list.AddProperties(properties);
    const std::u16string driverName = list.GetValue(C::DriverName);
    if (!driverName.empty())
        list.AddUniqueProperties(GetDriverProperties(driverName));
    return list;
}

std::unique_ptr<TDBXConnection> TDBXConnectionFactory::GetConnection(
    const TDBXProperties& properties, std::shared_ptr<TDBXAbortSignal> abort,
    const std::function<void(TDBXConnection&)>& configure) {
    auto list = std::make_unique<TDBXProperties>(CompleteProperties(properties));
    TDBXDriver& driver = registry_.GetDriver(list->GetValue(C::DriverName));
    auto connection = driver.CreateConnection(std::move(list));
    connection->SetAbortSignal(std::move(abort));
    if (configure)
        configure(*connection);
    connection->Open();  // closes itself before raising
    return connection;
}

}  // namespace ab
