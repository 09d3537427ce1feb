// TDBXJSonClientOutputConnectionHandler: prepare, execute and next-result requests.
#include "dbx/TDBXJSonClientOutputConnectionHandler.h"

#include "dbx/TDBXExecuteMessage.h"
#include "dbx/TDBXJSonClientInputConnectionHandler.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDBXNextResultMessage.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXPrepareMessage.h"
#include "dbx/TDBXRowBuffer.h"

namespace ab {

TDBXJSonClientOutputConnectionHandler::TDBXJSonClientOutputConnectionHandler(
    TDBXJSonStreamWriter& writer, TDBXJSonClientInputConnectionHandler& input)
    : writer_(writer), input_(input) {}

void TDBXJSonClientOutputConnectionHandler::DbxPrepare(TDBXPrepareMessage& message) {
    DbxPrepareRequest(message);
    input_.DbxPrepare(message);
}

void TDBXJSonClientOutputConnectionHandler::DbxPrepareRequest(TDBXPrepareMessage& message,
                                                              bool flush) {
    writer_.WritePrepareStart(message.CommandHandle, false, message.CommandType,
                              message.CommandText);
    if (message.Parameters && message.Parameters->Count() > 0) {
        writer_.WriteValueSeparator();
        writer_.WriteParametersObject(*message.Parameters);
        message.Parameters->SetParameterTypesChanged(false);
    }
    writer_.WriteArrayEnd();
    writer_.WriteObjectEnd();
    if (flush)
        writer_.Flush();
}

void TDBXJSonClientOutputConnectionHandler::DbxPrepareReply(TDBXPrepareMessage& message) {
    // Never wait for the answer to a request still in the buffer.
    writer_.Flush();
    input_.DbxPrepare(message);
}

void TDBXJSonClientOutputConnectionHandler::DbxExecute(TDBXExecuteMessage& message) {
    DbxExecuteRequest(message);
    input_.DbxExecute(message);
}

void TDBXJSonClientOutputConnectionHandler::DbxExecuteReply(TDBXExecuteMessage& message) {
    // Never wait for the answer to a request still in the buffer.
    writer_.Flush();
    message.ResetResults();
    input_.DbxExecute(message);
}

void TDBXJSonClientOutputConnectionHandler::DbxExecuteRequest(TDBXExecuteMessage& message,
                                                              bool flush) {
    message.ResetResults();
    writer_.WriteExecuteStart();
    if (message.Prepared) {
        writer_.WriteHandleObject(message.CommandHandle);
        TDBXParameterList* list = message.Parameters;
        if (list && list->ParameterTypesChanged() && list->Count() > 0) {
            writer_.WriteValueSeparator();
            writer_.WriteParametersObject(*list);
            list->SetParameterTypesChanged(false);
        }
    } else {
        writer_.WriteExecuteFieldsObject(message.CommandHandle, false, message.CommandType,
                                         message.CommandText);
    }
    TDBXRowBuffer* row = message.ParameterBuffer;
    if (row && !row->IsEmpty()) {
        writer_.WriteValueSeparator();
        writer_.WriteDataObject(row->WrittenBytes());
        row->Cancel();
    }
    writer_.WriteArrayEnd();
    writer_.WriteObjectEnd();
    if (flush)
        writer_.Flush();
}

void TDBXJSonClientOutputConnectionHandler::DbxNextResult(TDBXNextResultMessage& message) {
    writer_.WriteNextResultObject(message.CommandHandle);
    writer_.Flush();
    input_.DbxNextResult(message);
}

}  // namespace ab
