// Base error type.
#include "platform/Exception.h"

#include "platform/Text.h"

namespace ab {

Exception::Exception(std::u16string message)
    : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

}  // namespace ab
