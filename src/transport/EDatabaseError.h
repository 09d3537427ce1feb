// The error of the database-style components (the connection component and the server-method
// component), such as "Missing DriverName property".
#pragma once

#include "platform/Exception.h"

namespace ab {

class EDatabaseError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

}  // namespace ab
