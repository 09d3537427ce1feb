// Errors of the record store and the packet writer/reader: the store's integer code and its text.
#pragma once

#include <string>

#include "packet/EDatabaseError.h"

namespace ab {

class EDBClient : public EDatabaseError {
  public:
    EDBClient(int errorCode, std::u16string message)
        : EDatabaseError(std::move(message)), errorCode_(errorCode) {}
    // The store's text for one of its codes (9473, 9986, 10000, 10756, 16389).
    explicit EDBClient(int errorCode);

    int ErrorCode() const noexcept { return errorCode_; }
    const char* ClassName() const noexcept override { return "EDBClient"; }

  private:
    int errorCode_;
};

}  // namespace ab
