// The send-file record set's data packet as the byte-array variant handed to SendFile.
#pragma once

#include <cstdint>
#include <functional>

#include "dbx/TOleVariant.h"

namespace ab {

class TClientDataSet;

// Told how many bytes of the content have been read for sending so far.
using TProgressoDoEnvio = std::function<void(std::uint64_t enviados)>;

// The packet's head as the record set builds it, followed by the content without a copy: the
// store's own bytes, or, for a file loaded with LoadFromFileDeferred, the open file, read while
// the server pulls the packet (a file that changes by then fails the send instead of arriving
// torn). Settles a pending row as Data does. `progresso`, when given, follows a file's content as
// it is read, on the thread that sends it.
TOleVariant DataPacketVariant(TClientDataSet& cdsSendFile, TProgressoDoEnvio progresso = {});

}  // namespace ab
