// The connection factory: completes a property list with its driver's defaults, has the driver
// create the connection and opens it. A connection that fails to open is closed and freed, and
// the error passes on unchanged.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "transport/TDBXProperties.h"

namespace ab {

class TDBXAbortSignal;
class TDBXConnection;
class TDBXDriverRegistry;

class TDBXConnectionFactory {
  public:
    explicit TDBXConnectionFactory(TDBXDriverRegistry& registry);
    static TDBXConnectionFactory& Instance();

    // A copy of the driver's default lines (TDBXError code 22 for an unknown driver).
    TDBXProperties GetDriverProperties(std::u16string_view driverName);
    // The connection's own list: an exact copy of `properties`, then the driver's defaults for
    // names still absent (when "DriverName" is not empty).
    TDBXProperties CompleteProperties(const TDBXProperties& properties);
    // An open connection for the list; the abort signal, when given, ends it (or its opening)
    // from another thread. `configure`, when given, sees the connection before it opens.
    std::unique_ptr<TDBXConnection> GetConnection(
        const TDBXProperties& properties, std::shared_ptr<TDBXAbortSignal> abort = nullptr,
        const std::function<void(TDBXConnection&)>& configure = {});

  private:
    TDBXDriverRegistry& registry_;
};

}  // namespace ab
