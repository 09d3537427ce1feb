// The data packet as a byte array whose content stays where it lies until it is sent.
#include "app/DataPacketVariant.h"

#include "dbx/TDBXFileByteSource.h"
#include "packet/TClientDataSet.h"

namespace ab {

TOleVariant DataPacketVariant(TClientDataSet& cdsSendFile) {
    auto parts = cdsSendFile.DataParts();
    if (parts.File)
        return TOleVariant::ByteArray(
            std::move(parts.Head),
            std::make_shared<const TDBXFileByteSource>(std::move(parts.File)));
    return TOleVariant::ByteArray(std::move(parts.Head), std::move(parts.Content));
}

}  // namespace ab
