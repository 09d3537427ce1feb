// Memory exhausted while a buffer was being allocated ("Out of memory").
#pragma once

#include "platform/Exception.h"

namespace ab {

class EOutOfMemory : public Exception {
  public:
    EOutOfMemory() : Exception(u"Out of memory") {}
    const char* ClassName() const noexcept override { return "EOutOfMemory"; }
};

}  // namespace ab
