// The abstract DBX connection.
#include "transport/TDBXConnection.h"

#include <algorithm>
#include <utility>

#include "platform/Convert.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXMorphicCommand.h"
#include "transport/TransportConstants.h"

namespace ab {

TDBXConnection::TDBXConnection(TDBXDriver& driver, std::unique_ptr<TDBXProperties> properties)
    : driver_(driver), properties_(std::move(properties)) {
    if (!properties_)
        properties_ = std::make_unique<TDBXProperties>();
}

TDBXConnection::~TDBXConnection() {
    try {
        Close();
    } catch (...) {
    }
    // Commands that outlive the connection must not reach back into it.
    for (TDBXCommand* command : commands_)
        command->DetachConnection();
    commands_.clear();
}

void TDBXConnection::Open() {
    open_ = true;
    try {
        DerivedOpen();
        metaData_ = ReadDatabaseMetaData();
    } catch (...) {
        Close();
        throw;
    }
}

void TDBXConnection::Close() {
    if (!open_)
        return;
    // Each command sends its own close before the connection's disconnect.
    const std::vector<TDBXCommand*> commands = commands_;
    for (TDBXCommand* command : commands) {
        try {
            command->ConnectionClosed();
        } catch (...) {
        }
    }
    DerivedClose();
    // Commands prepared at the open and never taken: closed above, freed now.
    for (TPreparoAoAbrir& preparo : preparos_)
        preparo.Comando.reset();
    metaData_.reset();
    open_ = false;
}

void TDBXConnection::PrepararAoAbrir(const void* dono, std::u16string metodo) {
    preparos_.push_back({dono, std::move(metodo), nullptr, nullptr});
}

std::unique_ptr<TDBXCommand> TDBXConnection::TomarPreparado(const void* dono,
                                                            std::u16string_view metodo) {
    for (TPreparoAoAbrir& preparo : preparos_) {
        if (preparo.Dono != dono || (!preparo.Comando && !preparo.Erro))
            continue;
        std::unique_ptr<TDBXCommand> command = std::move(preparo.Comando);
        const std::exception_ptr error = std::exchange(preparo.Erro, nullptr);
        if (preparo.Metodo != metodo)
            return nullptr;  // the command closes as it goes
        if (error)
            std::rethrow_exception(error);
        return command;
    }
    return nullptr;
}

std::unique_ptr<TDBXCommand> TDBXConnection::CreateCommand() {
    auto command = std::make_unique<TDBXMorphicCommand>(*this);
    if (metaData_ && metaData_->SupportsRowSetSize) {
        const std::int32_t size = TryStrToInt(properties_->GetValue(TransportConstants::RowSetSize))
                                      .value_or(TransportConstants::DefaultRowSetSize);
        command->SetRowSetSize(size);
    }
    AddCommand(command.get());
    return command;
}

void TDBXConnection::AddCommand(TDBXCommand* command) {
    commands_.push_back(command);
}

void TDBXConnection::RemoveCommand(TDBXCommand* command) {
    std::erase(commands_, command);
}

}  // namespace ab
