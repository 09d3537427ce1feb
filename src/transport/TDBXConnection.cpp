// The abstract DBX connection.
#include "transport/TDBXConnection.h"

#include <algorithm>

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
    metaData_.reset();
    open_ = false;
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
