// The client connection: handshake, metadata, vendor properties, disconnect.
#include "transport/TDBXClientConnection.h"

#include <cerrno>

#include "dbx/DbxConstants.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXJSonClientInputConnectionHandler.h"
#include "dbx/TDBXJSonClientOutputConnectionHandler.h"
#include "dbx/TDBXJSonReader.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDbxChannel.h"
#include "platform/Convert.h"
#include "platform/Text.h"
#include "transport/ESocketError.h"
#include "transport/ESondaFalhou.h"
#include "transport/TDBXAbortSignal.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXFilterSocketChannel.h"
#include "transport/TDBXServerDriver.h"
#include "transport/TDBXSocketChannel.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

namespace {

// The socket channel at the bottom of the driver's channel: the channel itself, or the filter
// channel's delegate.
TDBXSocketChannel* SocketChannelOf(TDbxChannel* channel) {
    if (auto* filter = dynamic_cast<TDBXFilterSocketChannel*>(channel))
        channel = filter->GetChannel();
    return dynamic_cast<TDBXSocketChannel*>(channel);
}

// The shorter of two deadlines, 0 standing for none.
int Shorter(int a, int b) {
    return a > 0 && (b <= 0 || a < b) ? a : b;
}

// The first row of the metadata query's table; columns the answer lacks read as empty, 0 or
// false, and no row gives the defaults.
std::unique_ptr<TDBXDatabaseMetaData> MetaDataFrom(TDBXJSonReader* table) {
    if (!table || !table->Next())
        return std::make_unique<TDBXDatabaseMetaData>();
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
    return std::make_unique<TDBXDatabaseMetaData>(row);
}

}  // namespace

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
    channel_ = serverDriver_.CreateChannel(properties.GetValue(C::DriverName), GetAbortSignal(),
                                           GetLimiteDeBanda());
    socketChannel_ = SocketChannelOf(channel_.get());
    if (socketChannel_)
        socketChannel_->SetPrazoDeLeituraTemporario(prazoDeLeituraTemporario_);
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
    if (GetPedidosAdiante()) {
        OpenWithRequestsAhead();
        return;
    }
    writer_->Flush();
    ReadConnectReply();
}

void TDBXClientConnection::OpenWithRequestsAhead() {
    auto metaDataCommand = CreateMetaDataCommand();
    metaDataCommand->BeginExecuteQuery(false);
    for (TPreparoAoAbrir& preparo : PreparosAoAbrir()) {
        preparo.Comando = CreateCommand();
        preparo.Comando->SetCommandType(C::ServerMethodCommandType);
        preparo.Comando->SetText(preparo.Metodo);
        preparo.Comando->BeginPrepare(false);
    }
    writer_->Flush();
    // A link lost by now failed in the filter handshake, before any request left.
    const bool left = !IsConnectionLost();
    const int before = prazoDeLeituraTemporario_;
    SetPrazoDeLeituraTemporario(Shorter(GetPrazoDaSonda(), before));
    TDBXJSonReader* table = nullptr;
    try {
        ReadConnectReply();
        // The metadata reply comes with its first rows; the row itself is taken once nothing is
        // owed any more, since more rows would be a request of their own.
        table = metaDataCommand->FinishExecuteQuery();
        for (TPreparoAoAbrir& preparo : PreparosAoAbrir()) {
            try {
                preparo.Comando->FinishPrepare();
            } catch (...) {
                if (IsConnectionLost())
                    throw;
                // The server's answer, read in full: raised when the command is taken.
                preparo.Erro = std::current_exception();
            }
        }
    } catch (...) {
        SetPrazoDeLeituraTemporario(before);
        if (left)
            RaiseProbeFailure(std::current_exception());
        throw;
    }
    SetPrazoDeLeituraTemporario(before);
    metaDataAhead_ = MetaDataFrom(table);
    metaDataCommand->Close();  // the reader's close, then the command's
}

void TDBXClientConnection::RaiseProbeFailure(std::exception_ptr failure) {
    // An error answer leaves the link up; an abort is the user's, not the server's doing.
    const auto& signal = GetAbortSignal();
    if (!IsConnectionLost() || (signal && signal->IsAborted()))
        return;
    using TMotivo = ESondaFalhou::TMotivo;
    TMotivo motivo = TMotivo::LeituraFalhou;
    std::u16string original;
    try {
        std::rethrow_exception(failure);
    } catch (const TDBXError& e) {
        if (e.Message() == C::ErrCommunicationTimeout || e.Message() == C::ErrConnectionTimeout)
            motivo = TMotivo::PrazoEsgotado;
        original = e.Message();
    } catch (const ESocketError& e) {
        if (e.LastError() == 0 || e.LastError() == ECONNRESET)
            motivo = TMotivo::ConexaoFechada;
        original = e.Message();
    } catch (const Exception& e) {
        original = e.Message();
    } catch (const std::exception& e) {
        original = FromUtf8(e.what());
    }
    std::u16string message;
    switch (motivo) {
        case TMotivo::PrazoEsgotado: {
            const int configured =
                TryStrToInt(GetConnectionProperties().GetValue(C::CommunicationTimeout))
                    .value_or(0);
            const int ms =
                Shorter(Shorter(GetPrazoDaSonda(), prazoDeLeituraTemporario_), configured);
            message = Format(C::ErrSondaSemResposta, {IntToStr(ms), original});
            break;
        }
        case TMotivo::ConexaoFechada:
            message = Format(C::ErrSondaConexaoFechada, {original});
            break;
        case TMotivo::LeituraFalhou:
            message = Format(C::ErrSondaLeituraFalhou, {original});
            break;
    }
    throw ESondaFalhou(motivo, std::move(message), std::move(original));
}

void TDBXClientConnection::SetPrazoDeLeituraTemporario(int milliseconds) {
    prazoDeLeituraTemporario_ = milliseconds > 0 ? milliseconds : 0;
    if (socketChannel_)
        socketChannel_->SetPrazoDeLeituraTemporario(prazoDeLeituraTemporario_);
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

std::unique_ptr<TDBXCommand> TDBXClientConnection::CreateMetaDataCommand() {
    auto command = CreateCommand();
    command->SetCommandType(C::MetaDataCommandType);
    command->SetText(C::GetDatabaseCommand);
    return command;
}

std::unique_ptr<TDBXDatabaseMetaData> TDBXClientConnection::ReadDatabaseMetaData() {
    if (metaDataAhead_)
        return std::move(metaDataAhead_);
    auto command = CreateMetaDataCommand();
    std::unique_ptr<TDBXDatabaseMetaData> metaData = MetaDataFrom(command->ExecuteQuery());
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
