// Parameters and values: the rows they write, the type-access and unset errors, refresh from a
// reply row, generations, the byte-array variant and rebuilding after a type change.
#include <algorithm>
#include <memory>

#include "DbxTestSupport.h"
#include "dbx/DbxConstants.h"
#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TOleVariant.h"

namespace ab::test {
namespace {

using DT = TDBXDataTypes;
using Dir = TDBXParameterDirections;

struct Params {
    Params() { list.SetRowBuffer(&row); }
    TDBXParameter& Add(int type, int direction, int subType = 0) {
        TDBXParameter& p = list.AddParameter();
        p.SetDataType(type);
        p.SetSubType(subType);
        p.SetParameterDirection(direction);
        p.ClearModified();
        return p;
    }
    TDBXWritableValue& V(int ordinal) { return list.GetParameterByOrdinal(ordinal).GetValue(); }
    Bytes Written() {
        list.WriteValues();
        const auto bytes = row.WrittenBytes();
        return Bytes(bytes.begin(), bytes.end());
    }
    // A reply row arrives: the values read their fields on next access.
    void Reply(const Bytes& bytes) {
        row.SetRowBytes(bytes);
        row.IncrementGeneration();
    }
    TDBXRowBuffer row{30720};
    TDBXParameterList list;
};

TEST(Values, PropertsFileRow) {
    Params p;
    p.Add(DT::WideStringType, Dir::InParameter);
    p.Add(DT::WideStringType, Dir::ReturnParameter);
    p.V(0).SetWideString(u"C:\\a.txt");
    EXPECT_EQ(ToHex(p.Written()), "28 43 3A 5C 61 2E 74 78 74 C0");
}

TEST(Values, SendFileRowWithByteArray) {
    Params p;
    p.Add(DT::BlobType, Dir::InParameter);
    p.Add(DT::BooleanType, Dir::InParameter);
    p.Add(DT::BooleanType, Dir::ReturnParameter);
    Bytes packet(100);
    for (std::size_t i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes expectedPacket = packet;
    const TOleVariant variant = TOleVariant::ByteArray(std::move(packet));
    EXPECT_EQ(variant.VarType(), 0x2011);
    p.V(0).SetAsVariant(variant);
    p.V(1).SetBoolean(true);
    const Bytes expected =
        Cat({Hex("10 00 6D 03 64 00 00 00 00 00 00 00"), expectedPacket, Hex("60 C0")});
    EXPECT_EQ(ToHex(p.Written()), ToHex(expected));
    // Executing again without setting sends the same value from its start.
    EXPECT_EQ(ToHex(p.Written()), ToHex(expected));
    // The same array held as a head and a shared tail travels byte for byte the same.
    p.V(0).SetAsVariant(TOleVariant::ByteArray(
        Bytes(expectedPacket.begin(), expectedPacket.begin() + 40),
        std::make_shared<const Bytes>(expectedPacket.begin() + 40, expectedPacket.end())));
    EXPECT_EQ(ToHex(p.Written()), ToHex(expected));
    // A null variant sets null.
    p.V(0).SetAsVariant(TOleVariant());
    EXPECT_EQ(ToHex(p.Written()), "C0 60 C0");
}

TEST(Values, LargeByteArrayKeepsTheRestForSegments) {
    Params p;
    p.Add(DT::VariantType, Dir::InParameter);
    p.Add(DT::BooleanType, Dir::InParameter);
    p.Add(DT::BooleanType, Dir::ReturnParameter);
    p.V(0).SetAsVariant(TOleVariant::ByteArray(Bytes(5000000, 0x5A)));
    p.V(1).SetBoolean(true);
    const Bytes row = p.Written();
    EXPECT_EQ(row.size(), 30722u);
    EXPECT_EQ(ToHex(std::span(row).first(12)), "50 77 FD 03 40 4B 4C 00 00 00 00 00");
    EXPECT_EQ(ToHex(std::span(row).last(2)), "60 C0");
    auto* rest = static_cast<TDBXMemoryStreamReader*>(p.V(0).GetSegmentSource());
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rest->Remaining(), 5000009u - 30717u);

    // Head and shared tail: the count covers both, the inline part and the rest are unchanged.
    Params q;
    q.Add(DT::VariantType, Dir::InParameter);
    q.Add(DT::BooleanType, Dir::InParameter);
    q.Add(DT::BooleanType, Dir::ReturnParameter);
    q.V(1).SetBoolean(true);
    Bytes whole(5000000);
    for (std::size_t i = 0; i < whole.size(); ++i)
        whole[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
    q.V(0).SetAsVariant(
        TOleVariant::ByteArray(Bytes(whole.begin(), whole.begin() + 150),
                               std::make_shared<const Bytes>(whole.begin() + 150, whole.end())));
    const Bytes split = q.Written();
    EXPECT_EQ(ToHex(std::span(split).first(12)), "50 77 FD 03 40 4B 4C 00 00 00 00 00");
    EXPECT_TRUE(std::equal(split.begin() + 12, split.end() - 2, whole.begin()));
    auto* tail = static_cast<TDBXMemoryStreamReader*>(q.V(0).GetSegmentSource());
    ASSERT_NE(tail, nullptr);
    Bytes served(tail->Remaining());
    EXPECT_EQ(tail->Read(served), served.size());
    EXPECT_TRUE(std::equal(served.begin(), served.end(), whole.begin() + (30717 - 9)));
}

TEST(Values, TypeAccessErrors) {
    Params p;
    p.Add(DT::WideStringType, Dir::InParameter);
    p.Add(DT::BooleanType, Dir::InParameter);
    p.Add(DT::Int32Type, Dir::InParameter);
    const struct {
        std::function<void()> call;
        std::u16string message;
    } cases[] = {
        {[&] { p.V(0).GetBoolean(); },
         u"TDBXTypes.WideString value type cannot be accessed as TDBXTypes.BOOL value type"},
        {[&] { p.V(1).SetWideString(u"x"); },
         u"TDBXTypes.BOOL value type cannot be accessed as TDBXTypes.WideString value type"},
        {[&] { p.V(1).SetAsVariant(TOleVariant()); },
         u"TDBXTypes.BOOL value type cannot be accessed as TDBXTypes.BYTES value type"},
        {[&] { p.V(2).GetInt64(); },
         u"TDBXTypes.INT32 value type cannot be accessed as TDBXTypes.INT64 value type"},
        {[&] { p.V(0).GetJSONValue(); },
         u"TDBXTypes.WideString value type cannot be accessed as TDBXTypes.JSON value type"},
    };
    for (const auto& c : cases) {
        const TDBXError e = CatchDbx(c.call);
        EXPECT_EQ(e.ErrorCode(), TDBXErrorCodes::InvalidType);
        EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(TDBXDataTypes::TypeName(14), u"TDBXTypes.UNKNOWN(14)");
    EXPECT_EQ(CatchDbx([&] { p.list.GetParameterByOrdinal(5); }).Message(), u"Invalid Ordinal:  5");
}

TEST(Values, UnsetInputsAndUnknownTypes) {
    Params p;
    p.Add(DT::WideStringType, Dir::InParameter);
    p.Add(DT::WideStringType, Dir::InOutParameter);
    p.Add(DT::BooleanType, Dir::OutParameter);
    const TDBXError e = CatchDbx([&] { p.Written(); });
    EXPECT_EQ(e.ErrorCode(), TDBXErrorCodes::ParameterNotSet);
    EXPECT_EQ(e.Message(), u"Parameter not set for column number 0");
    p.V(0).SetNull();
    EXPECT_EQ(CatchDbx([&] { p.Written(); }).Message(), u"Parameter not set for column number 1");
    p.V(1).SetWideString(u"x");
    EXPECT_EQ(ToHex(p.Written()), "C0 21 78 C0");

    TDBXParameter& stamp = p.Add(DT::TimeStampType, Dir::InParameter);
    const TDBXError unknown = CatchDbx([&] { stamp.GetValue(); });
    EXPECT_EQ(unknown.ErrorCode(), TDBXErrorCodes::UnsupportedFieldType);
    EXPECT_EQ(unknown.Message(), u"Unexpected data type 24");
}

TEST(Values, ReadFromReplyRows) {
    Params p;
    p.Add(DT::WideStringType, Dir::InParameter);
    p.Add(DT::WideStringType, Dir::ReturnParameter);
    p.Add(DT::BooleanType, Dir::ReturnParameter);
    p.Add(DT::Int32Type, Dir::OutParameter);
    p.Add(DT::DoubleType, Dir::OutParameter);
    p.Add(DT::JsonValueType, Dir::OutParameter);
    p.Add(DT::BlobType, Dir::OutParameter, DT::MemoSubType);
    p.V(0).SetWideString(u"in");
    EXPECT_TRUE(p.V(1).IsNull());  // nothing received yet
    p.Reply(Cat({Hex("C0 2F"), B("201512100830000"), Hex("60 62 01 2C 62 3F F0"),
                 Hex("40 00 00 00 02 5B 5D 10 00 03 61 62 63")}));
    EXPECT_EQ(p.V(1).GetWideString(), u"201512100830000");
    EXPECT_TRUE(p.V(2).GetBoolean());
    EXPECT_EQ(p.V(3).GetInt32(), 300);
    EXPECT_EQ(p.V(4).GetDouble(), 1.0);
    EXPECT_EQ(p.V(5).GetJSONValue().ToAscii(), "[]");
    EXPECT_EQ(p.V(6).GetAnsiString(), "abc");
    // The in value read back from the reply row is what the server sent there.
    EXPECT_TRUE(p.V(0).IsNull());

    // Null fields: text reads empty, a boolean keeps its previous value.
    p.Reply(Hex("C0 C0 C0 C0 C0 C0 C0"));
    EXPECT_EQ(p.V(1).GetWideString(), u"");
    EXPECT_TRUE(p.V(1).IsNull());
    EXPECT_TRUE(p.V(2).GetBoolean());
    EXPECT_EQ(p.V(3).GetInt32(), 300);

    // A value set after the reply is not overwritten by that reply.
    p.V(2).SetBoolean(false);
    EXPECT_FALSE(p.V(2).GetBoolean());
    EXPECT_FALSE(p.V(2).IsNull());
    // A fresh boolean reading a null field stays false.
    Params fresh;
    fresh.Add(DT::BooleanType, Dir::ReturnParameter);
    fresh.Reply(Hex("C0"));
    EXPECT_FALSE(fresh.V(0).GetBoolean());
    // A reply row shorter than the parameters fails instead of reading past it.
    fresh.Add(DT::BooleanType, Dir::ReturnParameter);
    EXPECT_EQ(CatchDbx([&] { fresh.V(1).GetBoolean(); }).ErrorCode(),
              TDBXErrorCodes::InvalidLength);
}

TEST(Values, IntegerAndFloatKinds) {
    Params p;
    p.Add(DT::Int8Type, Dir::InParameter);
    p.Add(DT::Int16Type, Dir::InParameter);
    p.Add(DT::UInt8Type, Dir::InParameter);
    p.Add(DT::UInt16Type, Dir::InParameter);
    p.Add(DT::Int64Type, Dir::InParameter);
    p.Add(DT::SingleType, Dir::InParameter);
    p.Add(DT::DoubleType, Dir::InParameter, DT::SingleSubType);
    p.V(0).SetInt8(-5);
    p.V(1).SetInt16(300);
    p.V(2).SetUInt8(255);
    p.V(3).SetUInt16(65535);
    p.V(4).SetInt64(-1);
    p.V(5).SetSingle(1.0f);
    p.V(6).SetSingle(-1.0f);
    const Bytes row = p.Written();
    EXPECT_EQ(ToHex(row), "21 05 62 01 2C 61 FF 62 FF FF 21 01 62 3F 80 22 3F 80");
    p.Reply(row);
    EXPECT_EQ(p.V(0).GetInt8(), -5);
    EXPECT_EQ(p.V(3).GetUInt16(), 65535);
    EXPECT_EQ(p.V(6).GetSingle(), -1.0f);
}

TEST(Values, TypeChangesRebuildAndMarkTheList) {
    Params p;
    TDBXParameter& param = p.Add(DT::WideStringType, Dir::InParameter);
    p.V(0).SetWideString(u"x");
    EXPECT_FALSE(p.list.ParameterTypesChanged());
    param.SetSize(param.GetSize());  // same value: not a change
    param.SetPrecision(2000);        // not a type property
    p.V(0);
    EXPECT_FALSE(p.list.ParameterTypesChanged());
    param.SetDataType(DT::BooleanType);
    p.V(0).SetBoolean(true);
    EXPECT_TRUE(p.list.ParameterTypesChanged());
    EXPECT_EQ(ToHex(p.Written()), "60");

    TDBXValueType column;
    column.SetName(u"QuoteChar");
    column.SetReadOnly();
    const TDBXError e = CatchDbx([&] { column.SetSize(1); });
    EXPECT_EQ(e.ErrorCode(), TDBXErrorCodes::InvalidParameter);
    EXPECT_EQ(e.Message(), u"QuoteChar type cannot be modified");
}

TEST(Values, JSONAndPlainBytes) {
    Params p;
    p.Add(DT::JsonValueType, Dir::InParameter);
    p.Add(DT::VarBytesType, Dir::InParameter);
    p.Add(DT::AnsiStringType, Dir::InParameter);
    TJSONValue object = TJSONValue::Object();
    object.Add(u"k", TJSONValue::String(u"\u00e9"));
    p.V(0).SetJSONValue(object);
    p.V(1).SetDynamicBytes(Hex("01 02"));
    p.V(2).SetAnsiString("hi");
    EXPECT_EQ(Str(p.Written()), Str(Cat({Hex("40 00 00 00 0E"), B(R"({"k":"\u00E9"})"),
                                         Hex("10 00 02 01 02"), Hex("10 00 02"), B("hi")})));
    EXPECT_EQ(p.V(1).GetBytes(), Hex("01 02"));
}

}  // namespace
}  // namespace ab::test
