// The client connection: handshake, metadata, vendor properties, disconnect.
#include "transport/TDBXClientConnection.h"

#include "dbx/DbxConstants.h"
#include "dbx/TDBXJSonClientInputConnectionHandler.h"
#include "dbx/TDBXJSonClientOutputConnectionHandler.h"
#include "dbx/TDBXJSonReader.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDbxChannel.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXServerDriver.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

TDBXClientConnection::TDBXClientConnection(TDBXServerDriver& driver,
                                           std::unique_ptr<TDBXProperties> properties)
    : TDBXConnection(driver, std::move(properties)), serverDriver_(driver) {}

TDBXClientConnection::~TDBXClientConnection() {
    try {
        Close();
    } catch (...) {
    }
}

std::vector<std::u16string> TDBXClientConnection::DerivedGetCommandTypes() {
    return {C::SQLCommandType, C::StoredProcedureCommandType, C::TableCommandType,
            C::MetaDataCommandType, C::ServerMethodCommandType};
}

void TDBXClientConnection::DerivedOpen() {
    TDBXProperties& properties = GetConnectionProperties();
    channel_ = serverDriver_.CreateChannel(properties.GetValue(C::DriverName), GetAbortSignal());
    channel_->SetDBXProperties(&properties);
    channel_->Open();

    const std::int32_t kb = properties.GetInteger(C::BufferKBSize);
    bufferSize_ = (kb > 0 ? kb : C::DefaultBufferKBSize) * 1024;
    reader_ = std::make_unique<TDBXJSonStreamReader>(channel_.get(), bufferSize_);
    reader_->Open();
    writer_ = std::make_unique<TDBXJSonStreamWriter>(channel_.get(), bufferSize_);
    writer_->Open();
    inputHandler_ = std::make_unique<TDBXJSonClientInputConnectionHandler>(*reader_, *writer_);
    outputHandler_ =
        std::make_unique<TDBXJSonClientOutputConnectionHandler>(*writer_, *inputHandler_);

    WriteConnectMessage();
    ReadConnectReply();
}

void TDBXClientConnection::WriteConnectMessage() {
    std::vector<std::u16string> names, values;
    GetConnectionProperties().GetLists(names, values);
    writer_->WriteConnectObjectStart();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            writer_->WriteValueSeparator();
        writer_->WriteNamedString(names[i], values[i]);
    }
    writer_->WriteObjectEnd();
    writer_->WriteArrayEnd();
    writer_->WriteObjectEnd();
    writer_->Flush();
}

void TDBXClientConnection::ReadConnectReply() {
    reader_->NextResultObjectStart();
    reader_->Next(TDBXTokens::TokenArrayStart);
    connectionHandle_ = reader_->ReadInt();
    reader_->NextValueSeparator();
    productName_ = reader_->ReadString();
    if (reader_->Next() == TDBXTokens::TokenValueSeparator)
        protocolVersion_ = reader_->ReadInt();
    reader_->SkipToEndOfObject();
}

std::unique_ptr<TDBXDatabaseMetaData> TDBXClientConnection::ReadDatabaseMetaData() {
    auto command = CreateCommand();
    command->SetCommandType(C::MetaDataCommandType);
    command->SetText(C::GetDatabaseCommand);
    TDBXJSonReader* table = command->ExecuteQuery();
    std::unique_ptr<TDBXDatabaseMetaData> metaData;
    if (table && table->Next()) {
        // Columns the answer lacks read as empty, 0 or false.
        TDBXDatabaseMetaData::Row row;
        row.columnCount = table->ColumnCount();
        row.hasColumn = [&](std::u16string_view c) { return table->GetOrdinal(c) >= 0; };
        row.getString = [&](std::u16string_view c) {
            const int i = table->GetOrdinal(c);
            return i < 0 || table->IsNull(i) ? std::u16string() : table->GetWideString(i);
        };
        row.getInt32 = [&](std::u16string_view c) {
            const int i = table->GetOrdinal(c);
            return i < 0 || table->IsNull(i) ? 0 : table->GetInt32(i);
        };
        row.getBoolean = [&](std::u16string_view c) {
            const int i = table->GetOrdinal(c);
            return i >= 0 && !table->IsNull(i) && table->GetBoolean(i);
        };
        metaData = std::make_unique<TDBXDatabaseMetaData>(row);
    } else {
        metaData = std::make_unique<TDBXDatabaseMetaData>();
    }
    command->Close();  // the reader's close, then the command's
    return metaData;
}

std::u16string TDBXClientConnection::GetVendorProperty(std::u16string_view name) {
    if (protocolVersion_ < TDBXJSonBytes::ProtocolVersion)
        return {};
    const int cached = vendorProperties_.IndexOfName(name);
    if (cached >= 0)
        return std::u16string(TDBXProperties::ValueOf(vendorProperties_.Lines()[cached]));
    writer_->WriteVendorProperty(name);
    reader_->NextResultObjectStart();
    reader_->Next(TDBXTokens::TokenArrayStart);
    std::u16string value = reader_->ReadString();
    reader_->SkipToEndOfObject();
    vendorProperties_.Add(name, value);
    return value;
}

bool TDBXClientConnection::IsConnectionLost() const {
    return channel_ && channel_->IsConnectionLost();
}

void TDBXClientConnection::DerivedClose() {
    // A lost link gets no disconnect: its socket is dead or ended on purpose.
    if (connectionHandle_ >= 0 && writer_ && !IsConnectionLost()) {
        try {
            writer_->WriteDisconnectObject(connectionHandle_);
            writer_->Flush();
        } catch (...) {
            // The server may already be gone; the close completes regardless.
        }
    }
    connectionHandle_ = -1;
    outputHandler_.reset();
    inputHandler_.reset();
    writer_.reset();
    reader_.reset();
    channel_.reset();  // closes the TCP connection
}

}  // namespace ab
