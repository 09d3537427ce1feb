// Base of every error the program raises: a UTF-16 message, with the UTF-8 form for what().
#pragma once

#include <exception>
#include <string>

namespace ab {

class Exception : public std::exception {
  public:
    explicit Exception(std::u16string message);
    ~Exception() override = default;

    const std::u16string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }
    // Class name as the general error handler and the callback error object report it.
    virtual const char* ClassName() const noexcept { return "Exception"; }

  private:
    std::u16string message_;
    std::string utf8_;
};

// A text that is not a number where one is required ("'%s' is not a valid integer value").
class EConvertError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConvertError"; }
};

// An operation the object's state does not allow.
class EInvalidOperation : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EInvalidOperation"; }
};

}  // namespace ab
