// A file that cannot be opened or read whole: "Cannot open file "%s". %s" with the full path and
// the system's message.
#pragma once

#include "platform/Exception.h"

namespace ab {

class EFOpenError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EFOpenError"; }
};

}  // namespace ab
