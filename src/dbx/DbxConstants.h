// Wire constants of the message codec: token and key codes, the writer's fixed byte sequences,
// data types, parameter directions, value-type flags, row field headers and command types.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ab {

// Token codes returned by TDBXJSonStreamReader::Next.
struct TDBXTokens {
    static constexpr int TokenObjectStart = 2;
    static constexpr int TokenObjectEnd = 3;
    static constexpr int TokenArrayStart = 4;
    static constexpr int TokenArrayEnd = 5;
    static constexpr int TokenTrue = 6;
    static constexpr int TokenFalse = 7;
    static constexpr int TokenNull = 8;
    static constexpr int TokenNumber = 9;
    static constexpr int TokenStringStart = 10;
    static constexpr int TokenStringEnd = 11;
    static constexpr int TokenNameSeparator = 12;
    static constexpr int TokenValueSeparator = 13;

    // The text used in error messages; "Unknown" for any other code.
    static std::u16string_view TokenText(int token);
};

// Key codes returned by TDBXJSonStreamReader::ReadStringCode (exact, case-sensitive keys).
struct TDBXStringCodes {
    static constexpr int Unknown = 1;
    static constexpr int Result = 2;
    static constexpr int Error = 3;
    static constexpr int Connect = 4;
    static constexpr int Disconnect = 5;
    static constexpr int Prepare = 7;
    static constexpr int Execute = 8;
    static constexpr int CommandClose = 9;
    static constexpr int ReaderClose = 10;
    static constexpr int Rows = 11;
    static constexpr int Table = 12;
    static constexpr int Columns = 13;
    static constexpr int Session = 14;
    static constexpr int Data = 15;
    static constexpr int Next = 16;
    static constexpr int Handle = 17;
    static constexpr int Fields = 18;
    static constexpr int Parameters = 19;
    static constexpr int Txbegin = 20;
    static constexpr int Txend = 21;
    static constexpr int MoreBlob = 22;
    static constexpr int NextResult = 23;
    static constexpr int VendorProperty = 24;
    static constexpr int Callback = 25;
    static constexpr int Metadata = 26;

    static int CodeOf(std::u16string_view key);
};

// The writer's fixed byte sequences (plain ASCII). Write them with
// TDBXJSonStreamWriter::WriteAscii.
struct TDBXJSonBytes {
    static constexpr std::string_view Hex = "0123456789ABCDEF";
    static constexpr std::string_view MethodStart = "{\"method\":";
    static constexpr std::string_view ParamsStart = "\"params\":[";
    static constexpr std::string_view Connect = "\"connect\",";
    static constexpr std::string_view Disconnect = "\"disconnect\",";
    static constexpr std::string_view Prepare = "\"prepare\",";
    static constexpr std::string_view Parameters = "{\"parameters\":[";
    static constexpr std::string_view Execute = "\"execute\",";
    static constexpr std::string_view CommandClose = "\"command_close\",";
    static constexpr std::string_view ReaderClose = "\"reader_close\",";
    static constexpr std::string_view ResultStart = "{\"result\":[";
    static constexpr std::string_view ErrorStart = "{\"error\":{\"name\":";
    static constexpr std::string_view CodeLabel = "\"code\":";
    static constexpr std::string_view MessageLabel = "\"message\":";
    static constexpr std::string_view MoreBlob = "\"more_blob\",";
    static constexpr std::string_view NextResult = "\"next_result\",";
    static constexpr std::string_view CallbackStart = "\"callback\":[";
    static constexpr std::string_view NullValue = "null";
    static constexpr std::string_view TrueValue = "true";
    static constexpr std::string_view FalseValue = "false";
    static constexpr std::string_view ColumnsStart = "{\"columns\":[";
    static constexpr std::string_view TableStart = "{\"table\":[";
    static constexpr std::string_view SessionStart = "{\"session\":[";
    static constexpr std::string_view RowsStart = "{\"rows\":[";
    static constexpr std::string_view DataStart = "{\"data\":[";
    static constexpr std::string_view Next = "\"next\",";
    static constexpr std::string_view NextStart = "\"next\":[";
    static constexpr std::string_view HandleStart = "{\"handle\":[";
    static constexpr std::string_view FieldsStart = "{\"fields\":[";
    static constexpr std::string_view Txbegin = "\"txbegin\",";
    static constexpr std::string_view Txend = "\"txend\",";
    static constexpr std::string_view MoreBlobStart = "\"more_blob\":[";
    static constexpr std::string_view VendorProperty = "\"vendor_property\",";
    static constexpr std::string_view MetadataStart = "\"metadata\":[";
    // Declared beside the others but never built: writing it emits nothing.
    static constexpr std::string_view ParameterMetadataStart = "";

    static constexpr int ProtocolVersion = 2;
    static constexpr int ProtocolVersion2 = 2;
};

// DBX data types.
struct TDBXDataTypes {
    static constexpr int UnknownType = 0;
    static constexpr int AnsiStringType = 1;  // ZSTRING
    static constexpr int DateType = 2;
    static constexpr int BlobType = 3;
    static constexpr int BooleanType = 4;
    static constexpr int Int16Type = 5;
    static constexpr int Int32Type = 6;
    static constexpr int DoubleType = 7;
    static constexpr int BcdType = 8;
    static constexpr int BytesType = 9;
    static constexpr int TimeType = 10;
    static constexpr int DateTimeType = 11;
    static constexpr int UInt16Type = 12;
    static constexpr int UInt32Type = 13;
    static constexpr int VarBytesType = 15;
    static constexpr int CursorType = 17;
    static constexpr int Int64Type = 18;
    static constexpr int UInt64Type = 19;
    static constexpr int AdtType = 20;
    static constexpr int ArrayType = 21;
    static constexpr int RefType = 22;
    static constexpr int TableType = 23;
    static constexpr int TimeStampType = 24;
    static constexpr int CurrencyType = 25;
    static constexpr int WideStringType = 26;
    static constexpr int SingleType = 27;
    static constexpr int Int8Type = 28;
    static constexpr int UInt8Type = 29;
    static constexpr int BinaryBlobType = 33;
    static constexpr int DBXConnectionType = 34;
    static constexpr int VariantType = 35;
    static constexpr int TimeStampOffsetType = 36;
    static constexpr int JsonValueType = 37;
    static constexpr int CallbackType = 38;

    // Sub types.
    static constexpr int MemoSubType = 22;
    static constexpr int HMemoSubType = 33;
    static constexpr int WideMemoSubType = 32;
    static constexpr int SingleSubType = 27;

    // "TDBXTypes.<name>", or "TDBXTypes.UNKNOWN(<code>)" for a code without a name.
    static std::u16string TypeName(int dataType);
};

struct TDBXParameterDirections {
    static constexpr int Unknown = 0;
    static constexpr int InParameter = 1;
    static constexpr int OutParameter = 2;
    static constexpr int InOutParameter = 3;
    static constexpr int ReturnParameter = 4;
};

struct TDBXValueTypeFlags {
    static constexpr int Nullable = 0x01;
    static constexpr int ReadOnly = 0x02;
    static constexpr int Searchable = 0x04;
    static constexpr int AutoIncrement = 0x08;
    static constexpr int Hidden = 0x40;
    static constexpr int ExtendedType = 0x80;
    static constexpr int Literal = 0x200;
};

// Header bytes of row fields.
struct TDBXRowHeaders {
    static constexpr std::uint8_t Null = 0xC0;
    static constexpr std::uint8_t NullBit = 0x80;
    static constexpr std::uint8_t ShortBit = 0x20;
    static constexpr std::uint8_t FlagBit = 0x40;  // sign/truth of short fields; more segments
    static constexpr std::uint8_t Length2Bit = 0x10;
    static constexpr std::uint8_t BlobBit = 0x08;
    static constexpr std::uint8_t Callback = 0x02;
    static constexpr std::uint8_t Length2 = 0x10;
    static constexpr std::uint8_t FirstSegment = 0x50;
    static constexpr std::uint8_t Json = 0x40;
    static constexpr std::uint8_t BlobHeader = 0x08;
    static constexpr std::uint8_t Utf16Switch = 0xFF;
};

// Command types the connection knows.
struct TDBXCommandTypes {
    static constexpr std::u16string_view DbxSQL = u"Dbx.SQL";
    static constexpr std::u16string_view DbxStoredProcedure = u"Dbx.StoredProcedure";
    static constexpr std::u16string_view DbxTable = u"Dbx.Table";
    static constexpr std::u16string_view DbxMetaData = u"Dbx.MetaData";
    static constexpr std::u16string_view DSServerMethod = u"DataSnap.ServerMethod";
};

}  // namespace ab
