// Store errors and their texts.
#include "packet/EDBClient.h"

#include "packet/PacketConstants.h"
#include "platform/Text.h"

namespace ab {
namespace {

std::u16string TextOf(int code) {
    switch (code) {
        case DBERR_NOMEMORY:
            return std::u16string(szDBERR_NOMEMORY);
        case DBERR_INVALIDPARAM:
            return std::u16string(szDBERR_INVALIDPARAM);
        case DBERR_INVALIDFLDTYPE:
            return std::u16string(szDBERR_INVALIDFLDTYPE);
        case DBERR_NA:
            return std::u16string(szDBERR_NA);
        case DBERR_DATAPACKETMISMATCH:
            return std::u16string(szDBERR_DATAPACKETMISMATCH);
        default:
            return u"Error " + IntToStr(code);
    }
}

}  // namespace

EDBClient::EDBClient(int errorCode) : EDBClient(errorCode, TextOf(errorCode)) {}

}  // namespace ab
