// The text the application's general error handler shows for an error that escaped a handler.
#pragma once

#include <exception>
#include <string>

namespace ab {

// The message of the innermost error (following std::nested_exception links), with a full stop
// appended when the text's last character has a code above that of '.'.
std::u16string ApplicationErrorText(std::exception_ptr error);

}  // namespace ab
