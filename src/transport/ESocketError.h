// The platform's socket error: resolution, connect, send and receive failures, with the system's
// error number (0 when there is none, as for a peer that closed the connection).
#pragma once

#include <string>

#include "platform/Exception.h"

namespace ab {

class ESocketError : public Exception {
  public:
    ESocketError(int lastError, std::u16string message)
        : Exception(std::move(message)), lastError_(lastError) {}
    int LastError() const noexcept { return lastError_; }
    const char* ClassName() const noexcept override { return "ESocketError"; }

  private:
    int lastError_;
};

}  // namespace ab
