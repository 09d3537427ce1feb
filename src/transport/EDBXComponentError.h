// The error of the connection and server-method components ("Missing DriverName property",
// "SQLConnection property required for this operation", ...). It reports the class name the
// components' errors carry; the record set's own EDBXComponentError lives with the record set.
#pragma once

#include "platform/Exception.h"

namespace ab {

class EDBXComponentError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

}  // namespace ab
