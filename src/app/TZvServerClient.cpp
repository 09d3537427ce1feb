// The update server's proxy.
#include "app/TZvServerClient.h"

#include "app/AppConstants.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXWritableValue.h"
#include "dbx/TJSONValue.h"
#include "dbx/TOleVariant.h"
#include "platform/Exception.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXConnection.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = AppConstants;

bool ConectadoServidorBrevant = false;

namespace {

TDBXWritableValue& Value(TDBXCommand& command, int ordinal) {
    return command.GetParameters().GetParameterByOrdinal(ordinal).GetValue();
}

}  // namespace

TZvServerClient::TZvServerClient(TDBXConnection* dbxConnection, bool instanceOwner)
    : FDBXConnection(dbxConnection), FInstanceOwner(instanceOwner) {
    if (!dbxConnection)
        throw EInvalidOperation(std::u16string(C::ErrConnectionNil));
}

TZvServerClient::~TZvServerClient() {
    // Each reference is cleared before its command goes, in the order the commands are declared.
    for (auto* slot : {&FDSServerModuleCreateCommand, &FDSServerModuleDestroyCommand,
                       &FAlertarZvClientesCommand, &FDataHoraBrevantCommand, &FRemoveFileCommand,
                       &FSendFileCommand, &FPropertsFileCommand}) {
        std::unique_ptr<TDBXCommand> command = std::move(*slot);
        command.reset();
    }
}

std::unique_ptr<TDBXCommand> TZvServerClient::NewCommand(std::u16string_view method) const {
    auto command = FDBXConnection->CreateCommand();
    command->SetCommandType(TransportConstants::ServerMethodCommandType);
    const std::u16string_view prefix =
        ConectadoServidorBrevant ? C::ParentServerPrefix : C::ClientServerPrefix;
    command->SetText(std::u16string(prefix) + std::u16string(method));
    return command;
}

TDBXCommand& TZvServerClient::Command(std::unique_ptr<TDBXCommand>& slot,
                                      std::u16string_view method) {
    if (!slot) {
        auto command = NewCommand(method);
        command->Prepare();
        slot = std::move(command);
    }
    return *slot;
}

void TZvServerClient::PrepararJuntos(const std::vector<std::u16string_view>& methods) {
    std::vector<std::pair<std::unique_ptr<TDBXCommand>*, std::unique_ptr<TDBXCommand>>> novos;
    for (const std::u16string_view method : methods) {
        auto* slot = const_cast<std::unique_ptr<TDBXCommand>*>(Slot(method));
        if (slot && !*slot)
            novos.emplace_back(slot, NewCommand(method));
    }
    for (std::size_t i = 0; i < novos.size(); ++i)
        novos[i].second->BeginPrepare(i + 1 == novos.size());
    // Every reply is read, in order. A method the server refused to prepare stays unprepared:
    // its first call prepares it again and raises the server's answer there, where a call one at
    // a time would have met it.
    std::exception_ptr falha;
    for (auto& [slot, command] : novos) {
        try {
            command->FinishPrepare();
            *slot = std::move(command);
        } catch (const TDBXError&) {
            if (FDBXConnection->IsConnectionLost()) {
                falha = std::current_exception();
                break;
            }
        } catch (...) {
            // The link failed: no later reply can be read either.
            falha = std::current_exception();
            break;
        }
    }
    if (falha)
        std::rethrow_exception(falha);
}

std::u16string TZvServerClient::PropertsFile(std::u16string_view arquivo) {
    TDBXCommand& command = Command(FPropertsFileCommand, C::PropertsFileMethod);
    Value(command, 0).SetWideString(arquivo);
    command.ExecuteUpdate();
    return Value(command, 1).GetWideString();
}

void TZvServerClient::PropertsFileBegin(std::u16string_view arquivo, bool enviar) {
    TDBXCommand& command = Command(FPropertsFileCommand, C::PropertsFileMethod);
    Value(command, 0).SetWideString(arquivo);
    command.BeginExecuteUpdate(enviar);
}

std::u16string TZvServerClient::PropertsFileEnd() {
    TDBXCommand& command = *FPropertsFileCommand;
    command.FinishExecuteUpdate();
    return Value(command, 1).GetWideString();
}

bool TZvServerClient::SendFile(const TOleVariant& dados, bool checarMaisAtual) {
    TDBXCommand& command = Command(FSendFileCommand, C::SendFileMethod);
    Value(command, 0).SetAsVariant(dados);
    Value(command, 1).SetBoolean(checarMaisAtual);
    command.ExecuteUpdate();
    return Value(command, 2).GetBoolean();
}

void TZvServerClient::SendFileBegin(const TOleVariant& dados, bool checarMaisAtual, bool enviar) {
    TDBXCommand& command = Command(FSendFileCommand, C::SendFileMethod);
    Value(command, 0).SetAsVariant(dados);
    Value(command, 1).SetBoolean(checarMaisAtual);
    command.BeginExecuteUpdate(enviar);
}

bool TZvServerClient::SendFileEnd() {
    TDBXCommand& command = *FSendFileCommand;
    command.FinishExecuteUpdate();
    return Value(command, 2).GetBoolean();
}

bool TZvServerClient::RemoveFile(std::u16string_view arquivo) {
    TDBXCommand& command = Command(FRemoveFileCommand, C::RemoveFileMethod);
    Value(command, 0).SetWideString(arquivo);
    command.ExecuteUpdate();
    return Value(command, 1).GetBoolean();
}

void TZvServerClient::RemoveFileBegin(std::u16string_view arquivo, bool enviar) {
    TDBXCommand& command = Command(FRemoveFileCommand, C::RemoveFileMethod);
    Value(command, 0).SetWideString(arquivo);
    command.BeginExecuteUpdate(enviar);
}

bool TZvServerClient::RemoveFileEnd() {
    TDBXCommand& command = *FRemoveFileCommand;
    command.FinishExecuteUpdate();
    return Value(command, 1).GetBoolean();
}

const std::unique_ptr<TDBXCommand>* TZvServerClient::Slot(std::u16string_view method) const {
    if (method == C::PropertsFileMethod)
        return &FPropertsFileCommand;
    if (method == C::SendFileMethod)
        return &FSendFileCommand;
    if (method == C::RemoveFileMethod)
        return &FRemoveFileCommand;
    if (method == C::AlertarZvClientesMethod)
        return &FAlertarZvClientesCommand;
    if (method == C::DataHoraBrevantMethod)
        return &FDataHoraBrevantCommand;
    return nullptr;
}

bool TZvServerClient::Prepared(std::u16string_view method) const {
    const auto* slot = Slot(method);
    return slot && *slot;
}

bool TZvServerClient::SendFileTravelsInline(const TOleVariant& dados) const {
    if (!FSendFileCommand)
        return false;
    // The array goes as its stream form: a type byte and an 8-byte count before its elements.
    constexpr std::size_t kPrefixo = 1 + 8;
    const std::size_t limite = FSendFileCommand->FirstParameterInlineLimit();
    return dados.IsByteArray() && kPrefixo + dados.Size() < limite;
}

bool TZvServerClient::AlertarZvClientes(std::u16string_view alerta) {
    TDBXCommand& command = Command(FAlertarZvClientesCommand, C::AlertarZvClientesMethod);
    Value(command, 0).SetWideString(alerta);
    command.ExecuteUpdate();
    return Value(command, 1).GetBoolean();
}

std::u16string TZvServerClient::DataHoraBrevant() {
    TDBXCommand& command = Command(FDataHoraBrevantCommand, C::DataHoraBrevantMethod);
    command.ExecuteUpdate();
    return Value(command, 0).GetWideString();
}

void TZvServerClient::ModuleCall(std::unique_ptr<TDBXCommand>& slot, std::u16string_view method,
                                 const TJSONValue* sender) {
    TDBXCommand& command = Command(slot, method);
    if (sender)
        Value(command, 0).SetJSONValue(*sender);
    else
        Value(command, 0).SetNull();
    command.ExecuteUpdate();
}

void TZvServerClient::DSServerModuleCreate(const TJSONValue* sender) {
    ModuleCall(FDSServerModuleCreateCommand, C::DSServerModuleCreateMethod, sender);
}

void TZvServerClient::DSServerModuleDestroy(const TJSONValue* sender) {
    ModuleCall(FDSServerModuleDestroyCommand, C::DSServerModuleDestroyMethod, sender);
}

}  // namespace ab
