// The client command: the prepare, execute and close messages of one server command.
#include "transport/TDBXClientCommand.h"

#include "dbx/TDBXJSonClientOutputConnectionHandler.h"
#include "dbx/TDBXJSonReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "transport/TDBXClientConnection.h"

namespace ab {

TDBXClientCommand::TDBXClientCommand(TDBXClientConnection& connection) : TDBXCommand(&connection) {}

TDBXClientCommand::~TDBXClientCommand() {
    try {
        Close();
    } catch (...) {
    }
}

TDBXClientConnection& TDBXClientCommand::Connection() const {
    CheckConnection();
    return static_cast<TDBXClientConnection&>(*connection_);
}

void TDBXClientCommand::SetText(std::u16string_view text) {
    TDBXCommand::SetText(text.substr(0, text.find(u'\0')));
}

TDBXRowBuffer& TDBXClientCommand::RowBuffer() {
    if (!rowBuffer_) {
        rowBuffer_ = std::make_unique<TDBXRowBuffer>(writer_->CalcRowBufferSize());
        rowBuffer_->SetClient(writer_, reader_);
        rowBuffer_->SetCommandHandle(commandHandle_);
        parameters_.SetRowBuffer(rowBuffer_.get());
    }
    return *rowBuffer_;
}

void TDBXClientCommand::DerivedOpen() {
    TDBXClientConnection& connection = Connection();
    writer_ = connection.GetWriter();
    reader_ = connection.GetReader();
    connectionHandle_ = connection.GetConnectionHandle();
    commandHandle_ = -1;
}

void TDBXClientCommand::DerivedBeginPrepare(bool flush) {
    message_.ResetResults();
    message_.CommandHandle = commandHandle_;
    message_.CommandType = GetCommandType();
    message_.CommandText = GetText();
    message_.Parameters = &parameters_;
    message_.ParameterBuffer = &RowBuffer();
    Connection().GetConnectionHandler()->DbxPrepareRequest(message_, flush);
}

void TDBXClientCommand::DerivedFinishPrepare() {
    Connection().GetConnectionHandler()->DbxPrepareReply(message_);
    commandHandle_ = message_.CommandHandle;
}

void TDBXClientCommand::WriteExecute(bool flush) {
    TDBXClientConnection& connection = Connection();
    TDBXRowBuffer& row = RowBuffer();
    row.BeginExecution(commandHandle_);
    if (parameters_.Count() > 0)
        parameters_.WriteValues();
    message_.ResetResults();
    message_.Prepared = IsPrepared();
    message_.CommandHandle = commandHandle_;
    message_.CommandType = GetCommandType();
    message_.CommandText = GetText();
    message_.Parameters = &parameters_;
    message_.ParameterBuffer = &row;
    connection.GetConnectionHandler()->DbxExecuteRequest(message_, flush);
}

void TDBXClientCommand::ReadExecuteReply() {
    TDBXClientConnection& connection = Connection();
    connection.GetConnectionHandler()->DbxExecuteReply(message_);
    commandHandle_ = message_.CommandHandle;
    rowsAffected_ = message_.RowsAffected;
    if (message_.IsolationLevel >= 0)
        connection.SetIsolationLevel(message_.IsolationLevel);
}

void TDBXClientCommand::DerivedExecuteUpdate() {
    WriteExecute();
    DerivedFinishExecuteUpdate();
}

void TDBXClientCommand::DerivedBeginExecute(bool flush) {
    WriteExecute(flush);
}

void TDBXClientCommand::DerivedFinishExecuteUpdate() {
    ReadExecuteReply();
    lastReader_ = std::move(message_.Reader);
    CloseLastReader();
}

std::size_t TDBXClientCommand::FirstParameterInlineLimit() const {
    return rowBuffer_ ? static_cast<std::size_t>(rowBuffer_->FirstFieldAllowance()) : 0;
}

TDBXJSonReader* TDBXClientCommand::DerivedExecuteQuery() {
    WriteExecute();
    return DerivedFinishExecuteQuery();
}

TDBXJSonReader* TDBXClientCommand::DerivedFinishExecuteQuery() {
    ReadExecuteReply();
    lastReader_ = std::move(message_.Reader);
    return lastReader_.get();
}

void TDBXClientCommand::CloseLastReader() {
    if (!lastReader_)
        return;
    auto reader = std::move(lastReader_);
    if (!reader->IsClosed() && connection_ && connection_->IsOpen()) {
        try {
            reader->Close();
        } catch (...) {
            // Best effort, like the command close.
        }
    }
}

void TDBXClientCommand::DerivedClose() {
    CloseLastReader();
    if (commandHandle_ >= 0 && writer_ && connection_ && connection_->IsOpen()) {
        try {
            writer_->WriteCommandCloseObject(commandHandle_);
        } catch (...) {
            // Write failures while closing are ignored.
        }
    }
    if (rowBuffer_)
        rowBuffer_->InvalidateHandle();
    commandHandle_ = -1;
    rowsAffected_ = -1;
    parameters_.Clear();
    parameters_.SetRowBuffer(nullptr);
    rowBuffer_.reset();
    message_.Parameters = nullptr;
    message_.ParameterBuffer = nullptr;
}

}  // namespace ab
