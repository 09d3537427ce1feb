// TDBXError and its code texts.
#include "dbx/TDBXError.h"

#include "platform/Text.h"

namespace ab {

TDBXError::TDBXError(int errorCode, std::u16string message)
    : Exception(std::move(message)), errorCode_(errorCode) {}

TDBXError::TDBXError(int errorCode)
    : Exception(u"DBX Error:  " + ErrorCodeText(errorCode)), errorCode_(errorCode) {}

std::u16string TDBXError::ErrorCodeText(int errorCode) {
    switch (errorCode) {
        case 0:
            return u"None";
        case 1:
            return u"Warning";
        case 2:
            return u"Insufficient memory to complete the operation";
        case 3:
            return u"Unsupported field type";
        case 4:
            return u"Unexpected internal error. DBX Object such as a connection, command, or "
                   u"reader may already be closed.";
        case 5:
            return u"Not supported";
        case 6:
            return u"Invalid time";
        case 7:
            return u"Invalid type";
        case 8:
            return u"Invalid ordinal";
        case 9:
            return u"Invalid parameter";
        case 10:
            return u"No more rows";
        case 11:
            return u"Parameter not set";
        case 12:
            return u"Invalid username or password";
        case 13:
            return u"Invalid precision";
        case 14:
            return u"Invalid length";
        case 15:
            return u"Invalid isolation level";
        case 16:
            return u"Invalid transaction id";
        case 17:
            return u"Duplicate transaction id";
        case 18:
            return u"Driver restricted";
        case 19:
            return u"Transaction active";
        case 20:
            return u"Multiple transaction not enabled";
        case 21:
            return u"Connection failed";
        case 22:
            return u"Driver could not be properly initialized.  Client library may be "
                   u"missing, not installed properly, of the wrong version, or the driver "
                   u"may be missing from the system path.";
        case 23:
            return u"Optimistic lock failed";
        case 24:
            return u"Invalid reference";
        case 25:
            return u"No table";
        case 26:
            return u"Missing parameter marker";
        case 27:
            return u"Not implemented";
        case 28:
            return u"Driver incompatible";
        case 29:
            return u"Invalid argument";
        case 31:
            return u"Unrecognized command type.";
        case 33:
            return u"Schema or user name separated by a '.' must be specified.";
        case 34:
            return u"Database must be specified.";
        case 35:
            return u"LibraryName must be specified.";
        case 36:
            return u"GetDriverFunc must be specified.";
        case 37:
            return u"VendorLib must be specified";
        case 100:
            return u"No data";
        case 101:
            return u"Vendor error";
        default:
            return u"Error Code:  " + IntToStr(errorCode);
    }
}

}  // namespace ab
