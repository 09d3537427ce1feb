// The abstract DBX driver: its default property lines, the connections it creates and the
// delegate commands behind those connections' morphic commands.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "transport/TDBXProperties.h"

namespace ab {

class TDBXCommand;
class TDBXConnection;

class TDBXDriver {
  public:
    TDBXDriver() = default;
    virtual ~TDBXDriver() = default;
    TDBXDriver(const TDBXDriver&) = delete;
    TDBXDriver& operator=(const TDBXDriver&) = delete;

    virtual std::u16string GetDriverName() const = 0;
    // Lines appended to a connection's list when their names are absent.
    virtual TDBXProperties GetDefaultProperties() const = 0;
    // A new, unopened connection that owns the list.
    virtual std::unique_ptr<TDBXConnection> CreateConnection(
        std::unique_ptr<TDBXProperties> properties) = 0;
    // The command that does the work of a morphic command of that type.
    virtual std::unique_ptr<TDBXCommand> CreateCommand(TDBXConnection& connection,
                                                       std::u16string_view commandType) = 0;
};

}  // namespace ab
