// The error of the DBX client layers: an integer ErrorCode and a message.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Exception.h"

namespace ab {

// Error codes used by the client layers (the full table is in ErrorCodeText).
struct TDBXErrorCodes {
    static constexpr int None = 0;
    static constexpr int Warning = 1;
    static constexpr int NoMemory = 2;
    static constexpr int UnsupportedFieldType = 3;
    static constexpr int InvalidHandle = 4;
    static constexpr int NotSupported = 5;
    static constexpr int InvalidTime = 6;
    static constexpr int InvalidType = 7;
    static constexpr int InvalidOrdinal = 8;
    static constexpr int InvalidParameter = 9;
    static constexpr int EOF_ = 10;
    static constexpr int ParameterNotSet = 11;
    static constexpr int InvalidUserOrPassword = 12;
    static constexpr int InvalidPrecision = 13;
    static constexpr int InvalidLength = 14;
    static constexpr int InvalidIsolationLevel = 15;
    static constexpr int InvalidTransactionId = 16;
    static constexpr int DuplicateTransactionId = 17;
    static constexpr int DriverRestricted = 18;
    static constexpr int TransactionActive = 19;
    static constexpr int MultipleTransactionNotEnabled = 20;
    static constexpr int ConnectionFailed = 21;
    static constexpr int DriverInitFailed = 22;
    static constexpr int OptimisticLockFailed = 23;
    static constexpr int InvalidReference = 24;
    static constexpr int NoTable = 25;
    static constexpr int MissingParameterMarker = 26;
    static constexpr int NotImplemented = 27;
    static constexpr int DriverIncompatible = 28;
    static constexpr int InvalidArgument = 29;
    static constexpr int InvalidOperation = 30;
    static constexpr int UnrecognizedCommandType = 31;
    static constexpr int CallbackError = 32;
    static constexpr int SchemaNameUnspecified = 33;
    static constexpr int DatabaseUnspecified = 34;
    static constexpr int LibraryNameUnspecified = 35;
    static constexpr int GetDriverFuncUnspecified = 36;
    static constexpr int VendorLibUnspecified = 37;
    static constexpr int NoData = 100;
    static constexpr int VendorError = 101;
};

class TDBXError : public Exception {
  public:
    TDBXError(int errorCode, std::u16string message);
    // Without a message: "DBX Error:  %s" with the code's text.
    explicit TDBXError(int errorCode);

    int ErrorCode() const noexcept { return errorCode_; }
    const char* ClassName() const noexcept override { return "TDBXError"; }

    // The code's text from the table; "Error Code:  N" for codes it does not hold.
    static std::u16string ErrorCodeText(int errorCode);

  private:
    int errorCode_;
};

}  // namespace ab
