// TDBXJSonClientInputConnectionHandler: reads the server's replies into the message objects, and
// answers the requests the server interleaves while an execute is outstanding.
//
// DbxPrepare / DbxExecute / DbxNextResult run right after the output handler flushed the request
// and return once the reply is consumed completely (so the next request can be written). Applied
// from the replies:
//   handle      -> message CommandHandle and the row buffer's handle array
//   parameters  -> when the message's list is empty: one TDBXParameter per entry (flags | 0x80; a
//                  text out/in-out/return parameter of size 0 gets its precision as size), each
//                  value created on ParameterBuffer, the types-changed flag cleared; otherwise read
//                  and discarded. A type without a value class raises "Unexpected data type %s"
//                  after the reply has been read.
//   data        -> replaces ParameterBuffer's row and increments its generation (the values re-read
//                  their fields on next access); the command must not increment it again.
//   rows, session -> RowsAffected, IsolationLevel
//   table       -> Reader, with its first block of rows read after the reply
// Interleaved during an execute: more_blob (answered with one segment block from the parameter's
// segment source, an empty last block when it has none), next (an empty last block: this client
// sends no table parameters), callback (an error object: this client has no callback parameters),
// metadata (kept as InvocationMetadata; one that does not parse fails with "Cannot parse properly
// the metadata value", code 29, once the reply has been read to its end).
// An error reply raises TDBXError with the server's code and message; the reader then stands right
// after the error's inner object.
#pragma once

#include <optional>

#include "dbx/TJSONValue.h"

namespace ab {

class TDBXExecuteMessage;
class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXNextResultMessage;
class TDBXPrepareMessage;

class TDBXJSonClientInputConnectionHandler {
  public:
    TDBXJSonClientInputConnectionHandler(TDBXJSonStreamReader& reader,
                                         TDBXJSonStreamWriter& writer);

    void DbxPrepare(TDBXPrepareMessage& message);
    void DbxExecute(TDBXExecuteMessage& message);
    void DbxNextResult(TDBXNextResultMessage& message);

    // The requests a server may interleave, each positioned after its key's ':'.
    void HandleParameterMoreBlobRequest(TDBXExecuteMessage& message);
    void HandleParameterNextRequest();
    void HandleCallbackRequest();
    void HandleMetadataRequest();

    const std::optional<TJSONValue>& InvocationMetadata() const { return invocationMetadata_; }
    TDBXJSonStreamReader& Reader() { return reader_; }
    TDBXJSonStreamWriter& Writer() { return writer_; }

  private:
    TDBXJSonStreamReader& reader_;
    TDBXJSonStreamWriter& writer_;
    std::optional<TJSONValue> invocationMetadata_;
};

}  // namespace ab
