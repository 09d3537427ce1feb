// Errors the record set raises itself; the text is "<component>: <message>" where the set names
// itself.
#pragma once

#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace ab {

class EDatabaseError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EDatabaseError"; }

    // "<component>: <message>".
    static EDatabaseError ForComponent(std::u16string_view component, std::u16string_view message);
};

}  // namespace ab
