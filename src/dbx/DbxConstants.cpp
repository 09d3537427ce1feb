// Names behind the wire constants: token texts, key codes and data type names.
#include "dbx/DbxConstants.h"

#include <array>
#include <utility>

#include "platform/Text.h"

namespace ab {

std::u16string_view TDBXTokens::TokenText(int token) {
    switch (token) {
        case TokenObjectStart:
            return u"{";
        case TokenObjectEnd:
            return u"}";
        case TokenArrayStart:
            return u"[";
        case TokenArrayEnd:
            return u"]";
        case TokenTrue:
            return u"true";
        case TokenFalse:
            return u"false";
        case TokenNull:
            return u"null";
        case TokenNumber:
            return u"-+0-9.";
        case TokenStringStart:
            return u"\"";
        case TokenStringEnd:
            return u"\"";
        case TokenNameSeparator:
            return u":";
        case TokenValueSeparator:
            return u",";
        default:
            return u"Unknown";
    }
}

int TDBXStringCodes::CodeOf(std::u16string_view key) {
    static constexpr std::array<std::pair<std::u16string_view, int>, 24> kKeys{{
        {u"result", Result},
        {u"error", Error},
        {u"connect", Connect},
        {u"disconnect", Disconnect},
        {u"prepare", Prepare},
        {u"execute", Execute},
        {u"command_close", CommandClose},
        {u"reader_close", ReaderClose},
        {u"rows", Rows},
        {u"table", Table},
        {u"columns", Columns},
        {u"session", Session},
        {u"data", Data},
        {u"next", Next},
        {u"handle", Handle},
        {u"fields", Fields},
        {u"parameters", Parameters},
        {u"txbegin", Txbegin},
        {u"txend", Txend},
        {u"more_blob", MoreBlob},
        {u"next_result", NextResult},
        {u"vendor_property", VendorProperty},
        {u"callback", Callback},
        {u"metadata", Metadata},
    }};
    for (const auto& [name, code] : kKeys) {
        if (name == key)
            return code;
    }
    return Unknown;
}

std::u16string TDBXDataTypes::TypeName(int dataType) {
    std::u16string_view name;
    switch (dataType) {
        case UnknownType:
            name = u"UNKNOWN";
            break;
        case AnsiStringType:
            name = u"ZSTRING";
            break;
        case DateType:
            name = u"DATE";
            break;
        case BlobType:
            name = u"BLOB";
            break;
        case BooleanType:
            name = u"BOOL";
            break;
        case Int16Type:
            name = u"INT16";
            break;
        case Int32Type:
            name = u"INT32";
            break;
        case DoubleType:
            name = u"DOUBLE";
            break;
        case BcdType:
            name = u"BCD";
            break;
        case BytesType:
            name = u"BYTES";
            break;
        case TimeType:
            name = u"TIME";
            break;
        case DateTimeType:
            name = u"DATETIME";
            break;
        case UInt16Type:
            name = u"UINT16";
            break;
        case UInt32Type:
            name = u"UINT32";
            break;
        case VarBytesType:
            name = u"VARBYTES";
            break;
        case CursorType:
            name = u"CURSOR";
            break;
        case Int64Type:
            name = u"INT64";
            break;
        case UInt64Type:
            name = u"UINT64";
            break;
        case AdtType:
            name = u"ADT";
            break;
        case ArrayType:
            name = u"ARRAY_TYPE";
            break;
        case RefType:
            name = u"REF";
            break;
        case TableType:
            name = u"TABLE";
            break;
        case TimeStampType:
            name = u"TIMESTAMP";
            break;
        case CurrencyType:
            name = u"Currency";
            break;
        case WideStringType:
            name = u"WideString";
            break;
        case SingleType:
            name = u"SINGLE";
            break;
        case Int8Type:
            name = u"INT8";
            break;
        case UInt8Type:
            name = u"UINT8";
            break;
        case VariantType:
            name = u"Variant";
            break;
        case TimeStampOffsetType:
            name = u"TIMESTAMPOFFSET";
            break;
        case JsonValueType:
            name = u"JSON";
            break;
        default:
            return u"TDBXTypes.UNKNOWN(" + IntToStr(dataType) + u")";
    }
    return u"TDBXTypes." + std::u16string(name);
}

}  // namespace ab
