// TDBXJSonClientOutputConnectionHandler: writes a command's request from its message object,
// flushes it, and hands the same message to the input handler, which reads the reply into it.
//
// How a command drives it (the transport's TDBXClientCommand does exactly this):
//   prepare:  message.CommandHandle/CommandType/CommandText, Parameters = &list,
//             ParameterBuffer = &rowBuffer; DbxPrepare(message); adopt message.CommandHandle.
//   execute:  rowBuffer.BeginExecution(handle); list.WriteValues();   (the row of this execution)
//             message fields as for prepare plus Prepared; DbxExecute(message); then read
//             RowsAffected, IsolationLevel, Reader, and the output values through the parameters.
//   The request's parameters object is sent when the list is not empty and (execute) its types
//   changed; the data block when the row is not empty, and the row is emptied right after.
//   command close and reader close are written directly with the writer (no reply).
// An execute may also be taken apart: DbxExecuteRequest writes and flushes the request only, and
// DbxExecuteReply later reads its reply into the same message; a prepare likewise, with
// DbxPrepareRequest and DbxPrepareReply. Several requests may be written before their replies are
// read, in the order they were written, as long as the server needs nothing more of them (no
// segment of a parameter left to pull).
#pragma once

namespace ab {

class TDBXExecuteMessage;
class TDBXJSonClientInputConnectionHandler;
class TDBXJSonStreamWriter;
class TDBXNextResultMessage;
class TDBXPrepareMessage;

class TDBXJSonClientOutputConnectionHandler {
  public:
    TDBXJSonClientOutputConnectionHandler(TDBXJSonStreamWriter& writer,
                                          TDBXJSonClientInputConnectionHandler& input);

    void DbxPrepare(TDBXPrepareMessage& message);
    // `flush` false leaves the request in the writer's buffer, as for DbxExecuteRequest.
    void DbxPrepareRequest(TDBXPrepareMessage& message, bool flush = true);
    void DbxPrepareReply(TDBXPrepareMessage& message);
    void DbxExecute(TDBXExecuteMessage& message);
    // `flush` false leaves the request in the writer's buffer, for several to leave in one write
    // (the writer is flushed before any reply is awaited).
    void DbxExecuteRequest(TDBXExecuteMessage& message, bool flush = true);
    void DbxExecuteReply(TDBXExecuteMessage& message);
    void DbxNextResult(TDBXNextResultMessage& message);

    TDBXJSonClientInputConnectionHandler& InputHandler() { return input_; }
    TDBXJSonStreamWriter& Writer() { return writer_; }

  private:
    TDBXJSonStreamWriter& writer_;
    TDBXJSonClientInputConnectionHandler& input_;
};

}  // namespace ab
