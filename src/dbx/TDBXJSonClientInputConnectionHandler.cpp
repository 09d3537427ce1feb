// TDBXJSonClientInputConnectionHandler: prepare, execute and next-result replies, and the
// server's interleaved requests.
#include "dbx/TDBXJSonClientInputConnectionHandler.h"

#include <string>
#include <vector>

#include "dbx/DbxConstants.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXExecuteMessage.h"
#include "dbx/TDBXJSonReader.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TDBXNextResultMessage.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXPrepareMessage.h"
#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXWritableValue.h"

namespace ab {

namespace {

using Tok = TDBXTokens;
using Codes = TDBXStringCodes;

struct ParameterEntry {
    int dataType = 0;
    int subType = 0;
    int direction = 0;
    std::int64_t precision = 0;
    int scale = 0;
    std::u16string name;
    int childPosition = 0;
    std::int64_t size = 0;
    int flags = 0;
    std::u16string literal;
};

// {"parameters":[n,e1,...]} after the member's ':'; entries are kept as they arrive.
std::vector<ParameterEntry> ReadParametersMember(TDBXJSonStreamReader& r) {
    std::vector<ParameterEntry> entries;
    r.Next(Tok::TokenArrayStart);
    const std::int32_t count = r.ReadInt();
    for (std::int32_t i = 0; i < count; ++i) {
        r.NextValueSeparator();
        r.Next(Tok::TokenArrayStart);
        ParameterEntry e;
        e.dataType = r.ReadInt();
        r.NextValueSeparator();
        e.subType = r.ReadInt();
        r.NextValueSeparator();
        e.direction = r.ReadInt();
        r.NextValueSeparator();
        e.precision = r.ReadLong();
        r.NextValueSeparator();
        e.scale = r.ReadInt();
        r.NextValueSeparator();
        e.name = r.ReadString();
        r.NextValueSeparator();
        e.childPosition = r.ReadInt();
        r.NextValueSeparator();
        e.size = r.ReadLong();
        int token = r.Next();
        if (token == Tok::TokenValueSeparator) {
            e.flags = r.ReadInt();
            token = r.Next();
            if (token == Tok::TokenValueSeparator && (e.flags & TDBXValueTypeFlags::Literal)) {
                e.literal = r.ReadString();
                token = r.Next();
            }
        }
        if (token != Tok::TokenArrayEnd)
            r.FailUnexpectedToken(Tok::TokenArrayEnd, token);
        entries.push_back(std::move(e));
    }
    r.Next(Tok::TokenArrayEnd);
    r.Next(Tok::TokenObjectEnd);
    return entries;
}

// Builds the list from the entries when it is empty; values are created on the row buffer.
void ApplyParameters(TDBXPrepareMessage& message, const std::vector<ParameterEntry>& entries) {
    TDBXParameterList* list = message.Parameters;
    if (!list || list->Count() > 0)
        return;
    list->SetRowBuffer(message.ParameterBuffer);
    for (const ParameterEntry& e : entries) {
        TDBXParameter& p = list->AddParameter();
        p.SetName(e.name);
        p.SetDataType(e.dataType);
        p.SetSubType(e.subType);
        p.SetParameterDirection(e.direction);
        p.SetPrecision(e.precision);
        p.SetScale(e.scale);
        p.SetChildPosition(e.childPosition);
        std::int64_t size = e.size;
        const bool text = e.dataType == TDBXDataTypes::AnsiStringType ||
                          e.dataType == TDBXDataTypes::WideStringType;
        const bool output = e.direction == TDBXParameterDirections::OutParameter ||
                            e.direction == TDBXParameterDirections::InOutParameter ||
                            e.direction == TDBXParameterDirections::ReturnParameter;
        if (text && output && size == 0)
            size = e.precision;
        p.SetSize(size);
        p.SetValueTypeFlags(e.flags | TDBXValueTypeFlags::ExtendedType);
        p.SetLiteral(e.literal);
        p.ClearModified();
    }
    for (int i = 0; i < list->Count(); ++i)
        list->GetParameterByOrdinal(i).GetValue();
    list->SetParameterTypesChanged(false);
}

// Output values need a parameter row to land in.
bool HasOutputValues(const TDBXParameterList* list) {
    if (!list)
        return false;
    for (int i = 0; i < list->Count(); ++i) {
        const TDBXParameter& p = list->GetParameterByOrdinal(i);
        const int direction = p.GetParameterDirection();
        if (direction == TDBXParameterDirections::OutParameter)
            return true;
        if (direction == TDBXParameterDirections::ReturnParameter &&
            p.GetDataType() != TDBXDataTypes::TableType)
            return true;
    }
    return false;
}

void ReadHandleMember(TDBXJSonStreamReader& r, TDBXPrepareMessage& message) {
    r.Next(Tok::TokenArrayStart);
    message.CommandHandle = r.ReadInt();
    r.Next(Tok::TokenArrayEnd);
    r.Next(Tok::TokenObjectEnd);
    if (message.ParameterBuffer)
        message.ParameterBuffer->SetCommandHandle(message.CommandHandle);
}

// After a member: ',' and the next member's '{' (returns true), or ']' (returns false).
bool NextMember(TDBXJSonStreamReader& r) {
    const int token = r.Next();
    if (token == Tok::TokenArrayEnd)
        return false;
    if (token != Tok::TokenValueSeparator)
        r.FailUnexpectedToken(Tok::TokenArrayEnd, token);
    r.Next(Tok::TokenObjectStart);
    return true;
}

// [n,<n bytes>] of a callback or metadata request, after its ':'.
std::vector<std::uint8_t> ReadSizedBytes(TDBXJSonStreamReader& r) {
    r.Next(Tok::TokenArrayStart);
    const std::int32_t count = r.ReadInt();
    r.NextValueSeparator();
    const std::int64_t size = count < 0 ? -static_cast<std::int64_t>(count) : count;
    if (size > TDBXJSonStreamReader::MaxDataBlockSize)
        throw TDBXError(TDBXErrorCodes::InvalidLength);
    std::vector<std::uint8_t> bytes;
    r.AppendDataBytes(bytes, size);
    r.Next(Tok::TokenArrayEnd);
    r.Next(Tok::TokenObjectEnd);
    return bytes;
}

}  // namespace

TDBXJSonClientInputConnectionHandler::TDBXJSonClientInputConnectionHandler(
    TDBXJSonStreamReader& reader, TDBXJSonStreamWriter& writer)
    : reader_(reader), writer_(writer) {}

void TDBXJSonClientInputConnectionHandler::DbxPrepare(TDBXPrepareMessage& message) {
    TDBXJSonStreamReader& r = reader_;
    r.NextResultObjectStart();
    r.Next(Tok::TokenArrayStart);
    r.Next(Tok::TokenObjectStart);
    std::vector<ParameterEntry> entries;
    bool gotParameters = false;
    do {
        const int key = r.ReadStringCode();
        r.Next(Tok::TokenNameSeparator);
        switch (key) {
            case Codes::Handle:
                ReadHandleMember(r, message);
                break;
            case Codes::Fields:
                r.Next(Tok::TokenArrayStart);
                r.SkipToEndOfArray();
                r.Next(Tok::TokenObjectEnd);
                break;
            case Codes::Parameters:
                entries = ReadParametersMember(r);
                gotParameters = true;
                break;
            default:
                r.SkipToEndOfObject();
                break;
        }
    } while (NextMember(r));
    r.Next(Tok::TokenObjectEnd);
    if (gotParameters)
        ApplyParameters(message, entries);
}

void TDBXJSonClientInputConnectionHandler::DbxExecute(TDBXExecuteMessage& message) {
    TDBXJSonStreamReader& r = reader_;
    // Requests the server interleaves come first; each is answered at once.
    std::optional<TDBXError> deferred;
    for (bool result = false; !result;) {
        const int key = r.NextObjectKey();
        if (key == Codes::Error)
            r.ReadErrorBody();
        r.Next(Tok::TokenNameSeparator);
        switch (key) {
            case Codes::Result:
                result = true;
                break;
            case Codes::MoreBlob:
                HandleParameterMoreBlobRequest(message);
                break;
            case Codes::Next:
                HandleParameterNextRequest();
                break;
            case Codes::Callback:
                HandleCallbackRequest();
                break;
            case Codes::Metadata:
                try {
                    HandleMetadataRequest();
                } catch (const TDBXError& e) {
                    // The reply still follows; read it to its end before failing.
                    if (!deferred)
                        deferred = e;
                }
                break;
            default:
                r.SkipToEndOfObject();
                break;
        }
    }

    std::vector<ParameterEntry> entries;
    bool gotParameters = false;
    bool gotRow = false;
    bool unpreparedOutput = false;
    bool extraTable = false;
    r.Next(Tok::TokenArrayStart);
    int token = r.Next();
    if (token != Tok::TokenArrayEnd) {
        if (token != Tok::TokenObjectStart)
            r.FailUnexpectedToken(Tok::TokenObjectStart, token);
        do {
            const int key = r.ReadStringCode();
            r.Next(Tok::TokenNameSeparator);
            switch (key) {
                case Codes::Handle:
                    ReadHandleMember(r, message);
                    break;
                case Codes::Rows:
                    r.Next(Tok::TokenArrayStart);
                    message.RowsAffected = r.ReadLong();
                    r.Next(Tok::TokenArrayEnd);
                    r.Next(Tok::TokenObjectEnd);
                    break;
                case Codes::Data: {
                    r.Next(Tok::TokenArrayStart);
                    const std::int32_t count = r.ReadInt();
                    r.NextValueSeparator();
                    if (message.ParameterBuffer) {
                        message.ParameterBuffer->ReadDataBytes(r, count);
                        gotRow = true;
                    } else {
                        const std::int64_t size =
                            count < 0 ? -static_cast<std::int64_t>(count) : count;
                        r.SkipDataBytes(size);
                        if (HasOutputValues(message.Parameters))
                            unpreparedOutput = true;
                    }
                    r.Next(Tok::TokenArrayEnd);
                    r.Next(Tok::TokenObjectEnd);
                    break;
                }
                case Codes::Parameters:
                    entries = ReadParametersMember(r);
                    gotParameters = true;
                    break;
                case Codes::Session:
                    r.Next(Tok::TokenArrayStart);
                    r.ReadBoolean();
                    r.NextValueSeparator();
                    message.IsolationLevel = r.ReadInt();
                    r.NextValueSeparator();
                    r.ReadString();
                    r.Next(Tok::TokenArrayEnd);
                    r.Next(Tok::TokenObjectEnd);
                    break;
                case Codes::Table: {
                    auto table = TDBXJSonReader::ReadTable(writer_, r);
                    r.Next(Tok::TokenObjectEnd);
                    if (!message.Reader)
                        message.Reader = std::move(table);
                    else
                        extraTable = true;
                    break;
                }
                default:
                    r.SkipToEndOfObject();
                    break;
            }
        } while (NextMember(r));
    }
    r.Next(Tok::TokenObjectEnd);

    if (message.Reader)
        message.Reader->ReadFirstBlock();
    if (gotParameters)
        ApplyParameters(message, entries);
    if (gotRow)
        message.ParameterBuffer->IncrementGeneration();
    if (deferred)
        throw *deferred;
    if (unpreparedOutput)
        throw TDBXError(TDBXErrorCodes::InvalidOperation,
                        u"Commands with output values must be prepared");
    if (extraTable)
        throw TDBXError(TDBXErrorCodes::InvalidOperation,
                        u"Command needs more DBXReader parameters");
}

void TDBXJSonClientInputConnectionHandler::DbxNextResult(TDBXNextResultMessage& message) {
    TDBXJSonStreamReader& r = reader_;
    message.Reader.reset();
    r.NextResultObjectStart();
    r.Next(Tok::TokenArrayStart);
    message.HasResult = r.ReadBoolean();
    r.NextValueSeparator();
    message.RowsAffected = r.ReadLong();
    r.NextValueSeparator();
    message.Updateable = r.ReadBoolean();
    r.NextValueSeparator();
    const std::int32_t index = r.ReadInt();
    r.Next(Tok::TokenArrayEnd);
    r.Next(Tok::TokenObjectEnd);
    if (!message.HasResult || index < 0)
        return;
    const int key = r.NextObjectKey();
    if (key == Codes::Error)
        r.ReadErrorBody();
    if (key != Codes::Table)
        r.FailExpectedWord(u"\"table\"");
    r.Next(Tok::TokenNameSeparator);
    message.Reader = TDBXJSonReader::ReadTable(writer_, r);
    r.Next(Tok::TokenObjectEnd);
    message.Reader->ReadFirstBlock();
}

void TDBXJSonClientInputConnectionHandler::HandleParameterMoreBlobRequest(
    TDBXExecuteMessage& message) {
    TDBXJSonStreamReader& r = reader_;
    r.Next(Tok::TokenArrayStart);
    r.ReadInt();  // command handle
    r.NextValueSeparator();
    r.ReadInt();  // blob handle
    r.NextValueSeparator();
    r.ReadLong();  // row
    r.NextValueSeparator();
    const std::int32_t ordinal = r.ReadInt();
    int token = r.Next();
    if (token == Tok::TokenValueSeparator) {
        r.ReadInt();  // row handle: only input table parameters use it
        token = r.Next();
    }
    if (token != Tok::TokenArrayEnd)
        r.FailUnexpectedToken(Tok::TokenArrayEnd, token);
    r.Next(Tok::TokenObjectEnd);

    TDBXStreamReader* source = nullptr;
    TDBXParameterList* list = message.Parameters;
    if (list && ordinal >= 0 && ordinal < list->Count()) {
        TDBXParameter& parameter = list->GetParameterByOrdinal(ordinal);
        if (parameter.HasValue())
            source = parameter.GetValue().GetSegmentSource();
    }
    if (source) {
        writer_.WriteDataObject(*source);
    } else {
        // Nothing left to serve for that ordinal: an empty last block keeps both sides in step.
        TDBXMemoryStreamReader empty(nullptr);
        writer_.WriteDataObject(empty);
    }
}

void TDBXJSonClientInputConnectionHandler::HandleParameterNextRequest() {
    TDBXJSonStreamReader& r = reader_;
    r.Next(Tok::TokenArrayStart);
    r.ReadInt();
    r.NextValueSeparator();
    r.ReadLong();
    r.NextValueSeparator();
    r.ReadInt();
    r.Next(Tok::TokenArrayEnd);
    r.Next(Tok::TokenObjectEnd);
    writer_.WriteDataObject(std::span<const std::uint8_t>());
    writer_.Flush();
}

void TDBXJSonClientInputConnectionHandler::HandleCallbackRequest() {
    const std::vector<std::uint8_t> bytes = ReadSizedBytes(reader_);
    const bool parsed = TJSONValue::Parse(bytes).has_value();
    // Errors while answering a callback go back to the server instead of failing the execute.
    writer_.WriteRpcError(u"TDBXError", 0, false,
                          parsed ? u"A callback parameter cannot be found at the provided index"
                                 : u"Callback input argument cannot be parsed properly. This is "
                                   u"due to a parser error or the server side-serialization");
    writer_.Flush();
}

void TDBXJSonClientInputConnectionHandler::HandleMetadataRequest() {
    const std::vector<std::uint8_t> bytes = ReadSizedBytes(reader_);
    auto parsed = TJSONValue::Parse(bytes);
    if (!parsed || !parsed->IsObject())
        throw TDBXError(TDBXErrorCodes::InvalidArgument,
                        u"Cannot parse properly the metadata value");
    invocationMetadata_ = std::move(*parsed);
}

}  // namespace ab
