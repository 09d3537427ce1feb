// The morphic command and its delegate.
#include "transport/TDBXMorphicCommand.h"

#include "dbx/TDBXParameterList.h"
#include "transport/TDBXConnection.h"
#include "transport/TDBXDriver.h"
#include "transport/TransportConstants.h"

namespace ab {

TDBXMorphicCommand::TDBXMorphicCommand(TDBXConnection& connection) : TDBXCommand(&connection) {}

TDBXMorphicCommand::~TDBXMorphicCommand() {
    try {
        Close();
    } catch (...) {
    }
}

void TDBXMorphicCommand::SetCommandType(std::u16string_view type) {
    if (type == GetCommandType())
        return;
    TDBXCommand::SetCommandType(type);
    delegate_.reset();
}

void TDBXMorphicCommand::SetText(std::u16string_view text) {
    TDBXCommand::SetText(text);
    if (delegate_)
        delegate_->SetText(text);
}

std::int64_t TDBXMorphicCommand::GetRowsAffected() {
    return delegate_ ? delegate_->GetRowsAffected() : -1;
}

void TDBXMorphicCommand::DetachConnection() {
    TDBXCommand::DetachConnection();
    if (delegate_)
        delegate_->DetachConnection();
}

void TDBXMorphicCommand::DerivedOpen() {
    if (!delegate_) {
        auto delegate = connection_->GetDriver().CreateCommand(*connection_, GetCommandType());
        delegate->SetText(GetText());
        delegate->SetCommandType(GetCommandType());
        if (GetRowSetSize() != TransportConstants::DefaultRowSetSize)
            delegate->SetRowSetSize(GetRowSetSize());
        if (GetMaxBlobSize() != -1)
            delegate->SetMaxBlobSize(GetMaxBlobSize());
        delegate_ = std::move(delegate);
    }
    delegate_->Open();
}

void TDBXMorphicCommand::DerivedClose() {
    if (delegate_)
        delegate_->Close();
}

void TDBXMorphicCommand::DerivedBeginPrepare(bool flush) {
    delegate_->BeginPrepare(flush);
}

void TDBXMorphicCommand::DerivedFinishPrepare() {
    delegate_->FinishPrepare();
}

void TDBXMorphicCommand::DerivedExecuteUpdate() {
    delegate_->ExecuteUpdate();
}

void TDBXMorphicCommand::DerivedBeginExecute(bool flush) {
    delegate_->BeginExecuteUpdate(flush);
}

void TDBXMorphicCommand::DerivedFinishExecuteUpdate() {
    delegate_->FinishExecuteUpdate();
}

std::size_t TDBXMorphicCommand::FirstParameterInlineLimit() const {
    return delegate_ ? delegate_->FirstParameterInlineLimit() : 0;
}

TDBXJSonReader* TDBXMorphicCommand::DerivedExecuteQuery() {
    return delegate_->ExecuteQuery();
}

TDBXJSonReader* TDBXMorphicCommand::DerivedFinishExecuteQuery() {
    return delegate_->FinishExecuteQuery();
}

TDBXParameterList& TDBXMorphicCommand::DerivedGetParameters() {
    return delegate_->GetParameters();
}

void TDBXMorphicCommand::CloseLastReader() {
    if (delegate_)
        delegate_->CloseReader();
}

}  // namespace ab
