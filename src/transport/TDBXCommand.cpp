// The abstract DBX command's states and order of operations.
#include "transport/TDBXCommand.h"

#include "dbx/TDBXError.h"
#include "dbx/TDBXParameterList.h"
#include "transport/TDBXConnection.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

TDBXCommand::TDBXCommand(TDBXConnection* connection)
    : connection_(connection), commandType_(C::SQLCommandType), rowSetSize_(C::DefaultRowSetSize) {}

TDBXCommand::~TDBXCommand() {
    if (connection_)
        connection_->RemoveCommand(this);
}

void TDBXCommand::SetCommandType(std::u16string_view type) {
    if (type == commandType_)
        return;
    if (open_)
        Close();
    commandType_ = type;
}

void TDBXCommand::SetText(std::u16string_view text) {
    if (open_ && prepared_ && text != text_ && DerivedGetParameters().Count() > 0)
        Close();
    prepared_ = false;
    text_ = text;
}

void TDBXCommand::CheckConnection() const {
    if (connectionClosed_ || !connection_)
        throw TDBXError(TDBXErrorCodes::InvalidOperation, C::ErrConnectionClosed);
}

void TDBXCommand::Open() {
    CheckConnection();
    if (open_)
        return;
    DerivedOpen();
    open_ = true;
}

void TDBXCommand::Prepare() {
    BeginPrepare(true);
    FinishPrepare();
}

void TDBXCommand::BeginPrepare(bool flush) {
    Open();
    if (prepared_ || preparing_)
        throw TDBXError(TDBXErrorCodes::InvalidOperation, C::ErrPreparedOnce);
    DerivedBeginPrepare(flush);
    preparing_ = true;
}

void TDBXCommand::FinishPrepare() {
    CheckConnection();
    if (!preparing_)
        throw TDBXError(TDBXErrorCodes::InvalidOperation, C::ErrNoPrepareOwed);
    // The reply is consumed whether it prepares the command or raises the server's error.
    preparing_ = false;
    DerivedFinishPrepare();
    prepared_ = true;
}

TDBXParameterList& TDBXCommand::GetParameters() {
    Open();
    return DerivedGetParameters();
}

void TDBXCommand::BeforeExecution() {
    if (text_.empty())
        throw TDBXError(TDBXErrorCodes::InvalidOperation, C::ErrNoStatement);
    Open();
    if (preparing_)
        throw TDBXError(TDBXErrorCodes::InvalidOperation, C::ErrPrepareReplyOwed);
    CloseLastReader();
    if (!prepared_ && DerivedGetParameters().Count() > 0)
        Prepare();
}

void TDBXCommand::ExecuteUpdate() {
    BeforeExecution();
    DerivedExecuteUpdate();
}

void TDBXCommand::BeginExecuteUpdate(bool flush) {
    BeforeExecution();
    DerivedBeginExecute(flush);
}

void TDBXCommand::FinishExecuteUpdate() {
    CheckConnection();
    DerivedFinishExecuteUpdate();
}

TDBXJSonReader* TDBXCommand::ExecuteQuery() {
    BeforeExecution();
    return DerivedExecuteQuery();
}

void TDBXCommand::BeginExecuteQuery(bool flush) {
    BeforeExecution();
    DerivedBeginExecute(flush);
}

TDBXJSonReader* TDBXCommand::FinishExecuteQuery() {
    CheckConnection();
    return DerivedFinishExecuteQuery();
}

void TDBXCommand::Close() {
    CloseLastReader();
    if (open_)
        DerivedClose();
    open_ = false;
    prepared_ = false;
    preparing_ = false;
}

void TDBXCommand::ConnectionClosed() {
    if (connectionClosed_)
        return;
    try {
        Close();
    } catch (...) {
    }
    connectionClosed_ = true;
}

void TDBXCommand::DetachConnection() {
    connectionClosed_ = true;
    connection_ = nullptr;
}

}  // namespace ab
