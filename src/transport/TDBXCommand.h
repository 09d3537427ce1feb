// The abstract DBX command: command type and text, the open / prepared / connection-closed states
// and the order of operations (open before use, prepare once, prepare before the first execution
// with parameters, close the last reader before executing again). Derived classes do the work.
//
// Errors (TDBXError code 30): "Command can only be prepared once", "No statement to execute",
// "Operation failed.  Connection was closed" for any use after the connection closed the command,
// and for a prepare taken apart "No prepare request awaits its reply" (FinishPrepare without
// BeginPrepare) and "The prepare's reply has not been read" (an execution in between).
// Destroying a command closes it (errors swallowed) and removes it from its connection's list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ab {

class TDBXConnection;
class TDBXParameterList;
class TDBXJSonReader;

class TDBXCommand {
  public:
    explicit TDBXCommand(TDBXConnection* connection);
    virtual ~TDBXCommand();
    TDBXCommand(const TDBXCommand&) = delete;
    TDBXCommand& operator=(const TDBXCommand&) = delete;

    const std::u16string& GetCommandType() const { return commandType_; }
    // A different type closes an open command and stores the type.
    virtual void SetCommandType(std::u16string_view type);
    const std::u16string& GetText() const { return text_; }
    // Closes an open, prepared command with parameters when the text differs; always unprepares.
    virtual void SetText(std::u16string_view text);
    std::int64_t GetRowSetSize() const { return rowSetSize_; }
    virtual void SetRowSetSize(std::int64_t size) { rowSetSize_ = size; }
    std::int64_t GetMaxBlobSize() const { return maxBlobSize_; }
    virtual void SetMaxBlobSize(std::int64_t size) { maxBlobSize_ = size; }

    void Open();
    // BeginPrepare(true) then FinishPrepare().
    void Prepare();
    // Prepare taken apart, for several prepares in one write: BeginPrepare writes the request
    // (with `flush` false it waits in the connection's buffer for the requests after it),
    // FinishPrepare reads its reply, adopting the handle and building the parameters as Prepare
    // does. Replies are read in the order the requests left, whichever commands wrote them (as
    // for BeginExecuteUpdate); FinishPrepare, and any request that waits for its answer, sends
    // what waits first. Between the two the command is neither prepared nor executable, and a
    // second BeginPrepare fails as a second Prepare does. A server error reply is raised by
    // FinishPrepare and leaves the command unprepared, with the reply read in full. A command
    // closed between the two leaves its reply unread on the connection, which the caller must
    // then close, as with an execute whose reply is owed.
    void BeginPrepare(bool flush = true);
    void FinishPrepare();
    // True between BeginPrepare and the FinishPrepare that reads its reply.
    bool IsPreparing() const { return preparing_; }
    // Opens; the list is empty before the prepare.
    TDBXParameterList& GetParameters();
    void ExecuteUpdate();
    // ExecuteUpdate taken apart, for requests in flight: BeginExecuteUpdate writes the request,
    // FinishExecuteUpdate reads its reply. The requests of several commands of one connection may
    // be written before their replies are read, each reply then read in the order the requests
    // left; the parameters' output values are those of the reply read last. Only for requests
    // whose parameters travel whole (see FirstParameterInlineLimit): a parameter the server must
    // pull in segments is served from the command's current values.
    // With `flush` false the request may wait in the connection's buffer for the ones after it;
    // FinishExecuteUpdate, and any request that waits for its answer, sends what waits first.
    void BeginExecuteUpdate(bool flush = true);
    void FinishExecuteUpdate();
    // Bytes below which the first parameter's value (its stream form, for a byte array)
    // travels whole inside the request; 0 when not known (not prepared).
    virtual std::size_t FirstParameterInlineLimit() const { return 0; }
    // The table of the reply, or nullptr; owned by the command, valid until the next execution
    // or close.
    TDBXJSonReader* ExecuteQuery();
    // ExecuteQuery taken apart, under the rules of BeginExecuteUpdate; FinishExecuteQuery returns
    // the table as ExecuteQuery does.
    void BeginExecuteQuery(bool flush = true);
    TDBXJSonReader* FinishExecuteQuery();
    virtual std::int64_t GetRowsAffected() = 0;
    // Closes the last reader, then (when open) the command itself.
    void Close();
    // Closes the last reader only.
    void CloseReader() { CloseLastReader(); }

    bool IsOpen() const { return open_; }
    bool IsPrepared() const { return prepared_; }
    bool IsConnectionClosed() const { return connectionClosed_; }
    TDBXConnection* GetConnection() const { return connection_; }

    // Called by the connection: when it closes (the command closes and refuses further use) and
    // when it is destroyed.
    virtual void ConnectionClosed();
    virtual void DetachConnection();

  protected:
    virtual void DerivedOpen() = 0;
    // Must not raise for write failures (a close message is best effort).
    virtual void DerivedClose() = 0;
    virtual void DerivedBeginPrepare(bool flush) = 0;
    virtual void DerivedFinishPrepare() = 0;
    virtual void DerivedExecuteUpdate() = 0;
    // The request of an execution, whether an update or a query.
    virtual void DerivedBeginExecute(bool flush) = 0;
    virtual void DerivedFinishExecuteUpdate() = 0;
    virtual TDBXJSonReader* DerivedExecuteQuery() = 0;
    virtual TDBXJSonReader* DerivedFinishExecuteQuery() = 0;
    virtual TDBXParameterList& DerivedGetParameters() = 0;
    virtual void CloseLastReader() = 0;

    void CheckConnection() const;
    TDBXConnection* connection_;

  private:
    void BeforeExecution();

    std::u16string commandType_;
    std::u16string text_;
    std::int64_t rowSetSize_;
    std::int64_t maxBlobSize_ = -1;
    bool open_ = false;
    bool prepared_ = false;
    bool preparing_ = false;
    bool connectionClosed_ = false;
};

}  // namespace ab
