// A file that was opened but could not be read as it was when opened: the system refused a read,
// or the file changed since it was opened. The message names the full path.
#pragma once

#include "platform/Exception.h"

namespace ab {

class EReadError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EReadError"; }
};

}  // namespace ab
