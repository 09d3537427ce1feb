// Wire constants of the binary data packet and the record store: header layout, type words,
// column attributes, statuses, property names, subtype names and the store's error codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ab {

// Header.
constexpr std::uint32_t dsPacketSignature = 0xBDE01996;
constexpr std::uint32_t dsPacketVersion = 3;  // the only version written; above it is refused
constexpr std::size_t dsHeaderSize = 24;
constexpr std::size_t dsHdrSignature = 0;
constexpr std::size_t dsHdrLevel = 4;
constexpr std::size_t dsHdrReserved = 6;
constexpr std::size_t dsHdrHeaderSize = 8;
constexpr std::size_t dsHdrColumnCount = 12;
constexpr std::size_t dsHdrRowCount = 14;
constexpr std::size_t dsHdrFlags = 18;
constexpr std::size_t dsHdrRowOffset = 22;
constexpr std::uint16_t dsLevelBasic = 1;
constexpr std::uint16_t dsLevelExtendedTypes = 2;  // some column type code is above 11
constexpr std::uint32_t dsFlagSequential = 0x1;    // begun column by column, with properties
constexpr std::uint32_t dsFlagRowOffset = 0x2;     // the field at offset 22 holds the row offset
constexpr std::size_t dsMaxColumnNameLength = 31;

// Type word.
constexpr std::uint32_t dsSizeBitsMask = 0x0000FFFF;
constexpr std::uint32_t dsTypeBitsMask = 0x003F0000;
constexpr int dsTypeBitsShift = 16;
constexpr std::uint32_t dsVaryingFldType = 0x00400000;
constexpr std::uint32_t dsArrayFldType = 0x00800000;
constexpr std::uint32_t dsPseudoFldType = 0x01000000;
constexpr std::uint32_t dsCompArrayFldType = 0x02000000;
constexpr std::uint32_t dsEmbeddedFldType = 0x04000000;
constexpr std::uint32_t dsIncInDelta = 0x80000000;

// Type codes.
constexpr std::uint32_t dsfldINT = 1;
constexpr std::uint32_t dsfldUINT = 2;
constexpr std::uint32_t dsfldBOOL = 3;
constexpr std::uint32_t dsfldFLOATIEEE = 4;
constexpr std::uint32_t dsfldBCD = 5;
constexpr std::uint32_t dsfldDATE = 6;
constexpr std::uint32_t dsfldTIME = 7;
constexpr std::uint32_t dsfldTIMESTAMP = 8;
constexpr std::uint32_t dsfldZSTRING = 9;
constexpr std::uint32_t dsfldUNICODE = 10;
constexpr std::uint32_t dsfldBYTES = 11;
constexpr std::uint32_t dsfldADT = 12;
constexpr std::uint32_t dsfldARRAY = 13;
constexpr std::uint32_t dsfldEMBEDDEDTBL = 14;
constexpr std::uint32_t dsfldREF = 15;
constexpr std::uint32_t dsfldDATETIME = 17;
constexpr std::uint32_t dsfldFMTBCD = 18;
constexpr std::uint32_t dsfldSINGLE = 27;
constexpr std::uint32_t dsfldDATETIMEOFFSET = 36;
constexpr std::uint32_t dsfldMaxCode = 36;
constexpr std::uint32_t dsfldMaxBasicCode = 11;

constexpr std::uint32_t TypeCodeOf(std::uint32_t typeWord) {
    return (typeWord & dsTypeBitsMask) >> dsTypeBitsShift;
}

// How a value of a type word is laid out: fixed size, length prefix width, or element size.
struct TFieldLayout {
    enum Kind { Fixed, Varying, Array } kind;
    std::uint32_t size;
};

// The layout of a type word; nullopt when the word has no encoding.
constexpr std::optional<TFieldLayout> LayoutOf(std::uint32_t typeWord) {
    const std::uint32_t size = typeWord & dsSizeBitsMask;
    const bool varying = (typeWord & dsVaryingFldType) != 0;
    const bool array = (typeWord & dsArrayFldType) != 0;
    const std::uint32_t code = TypeCodeOf(typeWord);
    if ((typeWord & (dsPseudoFldType | dsCompArrayFldType | dsEmbeddedFldType)) != 0 || code == 0 ||
        code > dsfldMaxCode || (varying && array))
        return std::nullopt;
    if (varying) {
        if (size != 1 && size != 2 && size != 4)
            return std::nullopt;
        return TFieldLayout{TFieldLayout::Varying, size};
    }
    if (size == 0)
        return std::nullopt;
    return TFieldLayout{array ? TFieldLayout::Array : TFieldLayout::Fixed, size};
}

// Type words of this program's columns and properties.
constexpr std::uint32_t dsTypeZStringPrefix1 = 0x00490001;  // Nome: 8-bit text, 1-byte prefix
constexpr std::uint32_t dsTypeZStringPrefix2 = 0x00490002;  // 8-bit text, 2-byte prefix
constexpr std::uint32_t dsTypeTimeStamp = 0x00080008;       // DataHora
constexpr std::uint32_t dsTypeBlob = 0x004B0004;            // Arquivo: bytes, 4-byte prefix
constexpr std::uint32_t dsTypeUInt16 = 0x00020002;          // WIDTH, DECIMALS, CALCULATED
constexpr std::uint32_t dsTypeInt32 = 0x00010004;           // AUTOINCVALUE
constexpr std::uint32_t dsTypeUInt16Array = 0x00820002;     // DEFAULT_ORDER, keys
constexpr std::uint32_t dsTypeUInt32Array = 0x00820004;     // CHANGE_LOG

// Column attribute bits.
constexpr std::uint16_t fldAttrHIDDEN = 0x1;
constexpr std::uint16_t fldAttrREADONLY = 0x2;
constexpr std::uint16_t fldAttrREQUIRED = 0x4;
constexpr std::uint16_t fldAttrLINK = 0x8;

// Where AddAttribute puts a property.
enum TPcktAttrArea : int { fldAttrArea = 0, pcktAttrArea = 1 };

// PutField statuses of a column value.
enum TPcktFldStatus : int { fldIsChanged = 0, fldIsNull = 1, fldIsUnChanged = 2 };

// Row statuses.
constexpr std::uint8_t dsRecUnmodified = 0;
constexpr std::uint8_t dsRecOrg = 1;
constexpr std::uint8_t dsRecDeleted = 2;
constexpr std::uint8_t dsRecNew = 4;
constexpr std::uint8_t dsRecModified = 8;
constexpr std::uint8_t dsUnused = 0x20;

// Null marks held per column of a row.
constexpr std::uint8_t BLANK_NONE = 0;
constexpr std::uint8_t BLANK_NULL = 1;
constexpr std::uint8_t BLANK_NOTCHANGED = 2;

// Property names.
constexpr std::string_view szSUBTYPE = "SUBTYPE";
constexpr std::string_view szDECIMALS = "DECIMALS";
constexpr std::string_view szWIDTH = "WIDTH";
constexpr std::string_view szCALCULATED = "CALCULATED";
constexpr std::string_view szDEFAULT_ORDER = "DEFAULT_ORDER";
constexpr std::string_view szPRIMARY_KEY = "PRIMARY_KEY";
constexpr std::string_view szUNIQUE_KEY = "UNIQUE_KEY";
constexpr std::string_view szCHANGE_LOG = "CHANGE_LOG";
constexpr std::string_view szAUTOINCVALUE = "AUTOINCVALUE";
constexpr std::string_view szMD_FIELDLINKS = "MD_FIELDLINKS";
// A column may not carry this name.
constexpr std::string_view szROWSTATE = "RowState";

// Blob subtype of Arquivo and its name.
constexpr int fldstBINARY = 23;
constexpr std::string_view szSubtypeBinary = "Binary";

// Store error codes and their texts.
constexpr int DBERR_NOMEMORY = 9473;
constexpr int DBERR_INVALIDPARAM = 9986;
constexpr int DBERR_INVALIDFLDTYPE = 10000;
constexpr int DBERR_NA = 10756;
constexpr int DBERR_DATAPACKETMISMATCH = 16389;
constexpr std::u16string_view szDBERR_NOMEMORY = u"Insufficient memory for this operation.";
constexpr std::u16string_view szDBERR_INVALIDPARAM = u"Invalid parameter.";
constexpr std::u16string_view szDBERR_INVALIDFLDTYPE = u"Invalid field type.";
constexpr std::u16string_view szDBERR_NA = u"Operation not applicable.";
constexpr std::u16string_view szDBERR_DATAPACKETMISMATCH = u"Mismatch in datapacket.";

// Record-set texts (prefixed with the component's name where the set raises them).
constexpr std::u16string_view SDataSetClosed = u"Cannot perform this operation on a closed dataset";
constexpr std::u16string_view SDataSetOpen = u"Cannot perform this operation on an open dataset";
constexpr std::u16string_view SNotEditing = u"Dataset not in edit or insert mode";
constexpr std::u16string_view SNoFieldsDefined = u"No fields defined.  Cannot create dataset";
constexpr std::u16string_view SFieldNotFound = u"Field '%s' not found";
constexpr std::u16string_view SFieldTypeMismatch = u"Field '%s' cannot be assigned as %s";
constexpr std::u16string_view SInvalidDateTime = u"'%s' is not a valid date and time";
constexpr std::u16string_view SFileTooLarge =
    u"File \"%s\" has %s bytes; a file of 2 GiB (2147483648 bytes) or more cannot be sent";

// The largest content a 4-byte length prefix can carry.
constexpr std::uint64_t dsMaxBlobLength = 0x7FFFFFFF;

}  // namespace ab
