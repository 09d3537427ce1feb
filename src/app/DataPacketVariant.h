// The send-file record set's data packet as the byte-array variant handed to SendFile.
#pragma once

#include "dbx/TOleVariant.h"

namespace ab {

class TClientDataSet;

// The packet's head as the record set builds it, followed by the content without a copy: the
// store's own bytes, or, for a file loaded with LoadFromFileDeferred, the open file, read while
// the server pulls the packet (a file that changes by then fails the send instead of arriving
// torn). Settles a pending row as Data does.
TOleVariant DataPacketVariant(TClientDataSet& cdsSendFile);

}  // namespace ab
