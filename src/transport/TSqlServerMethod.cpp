// The server-method component.
#include "transport/TSqlServerMethod.h"

#include "dbx/DbxConstants.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXWritableValue.h"
#include "platform/Convert.h"
#include "platform/Text.h"
#include "transport/EDBXComponentError.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXConnection.h"
#include "transport/TSQLConnection.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

namespace {

// The DBX type of a field type; 0 for one without.
int DbxTypeOf(TParamDataType type) {
    switch (type) {
        case TParamDataType::ftWideString:
            return TDBXDataTypes::WideStringType;
        case TParamDataType::ftBoolean:
            return TDBXDataTypes::BooleanType;
        case TParamDataType::ftVariant:
            return TDBXDataTypes::VariantType;
        case TParamDataType::ftString:
            return TDBXDataTypes::AnsiStringType;
        case TParamDataType::ftInteger:
            return TDBXDataTypes::Int32Type;
        case TParamDataType::ftBlob:
            return TDBXDataTypes::BlobType;
        default:
            return TDBXDataTypes::UnknownType;
    }
}

int DirectionOf(TParamType type) {
    switch (type) {
        case TParamType::ptOutput:
            return TDBXParameterDirections::OutParameter;
        case TParamType::ptInputOutput:
            return TDBXParameterDirections::InOutParameter;
        case TParamType::ptResult:
            return TDBXParameterDirections::ReturnParameter;
        default:
            return TDBXParameterDirections::InParameter;
    }
}

void SetValue(TParam& param, TDBXWritableValue& value) {
    if (param.IsNull()) {
        value.SetNull();
        return;
    }
    switch (param.DataType) {
        case TParamDataType::ftWideString:
            value.SetWideString(param.AsWideString());
            break;
        case TParamDataType::ftString:
            value.SetAnsiString(param.AsString());
            break;
        case TParamDataType::ftBoolean:
            value.SetBoolean(param.AsBoolean());
            break;
        case TParamDataType::ftInteger:
            value.SetInt32(param.AsInteger());
            break;
        case TParamDataType::ftBlob:
        case TParamDataType::ftVariant:
            value.SetDynamicBytes(param.AsBlob());
            break;
        default:
            throw EDBXComponentError(Format(C::ErrNoParameterValue, {param.Name}));
    }
}

void GetValue(TParam& param, TDBXWritableValue& value) {
    if (value.IsNull()) {
        param.Clear();
        return;
    }
    switch (param.DataType) {
        case TParamDataType::ftWideString:
            param.SetAsWideString(value.GetWideString());
            break;
        case TParamDataType::ftString:
            param.SetAsString(value.GetAnsiString());
            break;
        case TParamDataType::ftBoolean:
            param.SetAsBoolean(value.GetBoolean());
            break;
        case TParamDataType::ftInteger:
            param.SetAsInteger(value.GetInt32());
            break;
        case TParamDataType::ftBlob:
        case TParamDataType::ftVariant:
            param.SetAsBlob(value.GetBytes());
            break;
        default:
            break;
    }
}

}  // namespace

TSqlServerMethod::~TSqlServerMethod() {
    if (connection_)
        connection_->UnregisterClient(this);
}

void TSqlServerMethod::SetSQLConnection(TSQLConnection* connection) {
    if (connection_)
        connection_->UnregisterClient(this);
    connection_ = connection;
    if (connection_)
        connection_->RegisterClient([this] { Close(); }, this);
    SetPrepararAoConectar(prepararAoConectar_);
}

void TSqlServerMethod::SetPrepararAoConectar(bool on) {
    prepararAoConectar_ = on;
    if (!connection_)
        return;
    if (on)
        connection_->SetPreparoAoConectar(this, [this] { return serverMethodName_; });
    else
        connection_->SetPreparoAoConectar(this, nullptr);
}

void TSqlServerMethod::ExecuteMethod() {
    rowsAffected_ = -1;
    if (!connection_)
        throw EDBXComponentError(C::ErrConnectionRequired);
    connection_->SetConnected(true);
    TDBXConnection* link = connection_->GetDBXConnection();
    if (!link)
        throw EDBXComponentError(C::ErrConnectionRequired);

    // The command prepared in the open's write, when there is one; it raises that prepare's error.
    std::unique_ptr<TDBXCommand> command = link->TomarPreparado(this, serverMethodName_);
    const bool prepared = command != nullptr;
    if (!prepared) {
        command = link->CreateCommand();
        command->SetCommandType(C::ServerMethodCommandType);
    }
    const TDBXDatabaseMetaData* meta = link->GetDatabaseMetaData();
    if (meta && meta->SupportsRowSetSize) {
        const auto size = TryStrToInt(Trim(connection_->Params().GetValue(u"RowsetSize")));
        command->SetRowSetSize(size ? *size : C::DefaultRowSetSize);
    }
    if (!prepared) {
        command->SetText(serverMethodName_);
        command->Prepare();
    }

    TDBXParameterList& list = command->GetParameters();
    for (int i = 0; i < params_.Count(); ++i) {
        TParam& param = params_[i];
        TDBXParameter& p = i < list.Count() ? list.GetParameterByOrdinal(i) : list.AddParameter();
        if (param.ParamType == TParamType::ptUnknown)
            param.ParamType = TParamType::ptInput;
        const int dbxType = DbxTypeOf(param.DataType);
        if (dbxType == TDBXDataTypes::UnknownType && !param.IsNull())
            throw EDBXComponentError(Format(C::ErrNoParameterValue, {param.Name}));
        const bool input =
            param.ParamType == TParamType::ptInput || param.ParamType == TParamType::ptInputOutput;
        p.SetChildPosition(0);
        p.SetParameterDirection(DirectionOf(param.ParamType));
        p.SetDataType(dbxType);
        // The field types used here have sub type 0, so a sub type of 0 stays as it is.
        const bool sizeless =
            !input || param.IsNull() || param.DataType == TParamDataType::ftVariant;
        p.SetSize(sizeless ? 0 : param.GetDataSize());
        if (input && !param.IsNull())
            param.Size = 0;
        p.SetPrecision(param.Size);
        p.SetScale(param.NumericScale);
        if (input)
            SetValue(param, p.GetValue());
    }

    command->ExecuteQuery();
    rowsAffected_ = command->GetRowsAffected();
    for (int i = 0; i < params_.Count() && i < list.Count(); ++i) {
        TParam& param = params_[i];
        if (param.ParamType == TParamType::ptOutput ||
            param.ParamType == TParamType::ptInputOutput || param.ParamType == TParamType::ptResult)
            GetValue(param, list.GetParameterByOrdinal(i).GetValue());
    }
    // Not prepared beforehand: the command goes again (the server receives command close).
    command.reset();
}

}  // namespace ab
