// TDBXWritableValue: the value of a parameter on a command's parameter row, and the factory that
// picks the value class for a data type.
//
// Every getter and setter exists on the base and fails with "%s value type cannot be accessed as
// %s value type" (code 7); each value class implements the pair of its own type. Setters store the
// value, clear null, mark the value set and stamp it with the row's generation, so the previous
// reply does not overwrite it. Getters (and IsNull) first re-read the value's field from the row
// when the row's generation moved on (a new reply arrived).
//
// At execution TDBXParameterList::WriteValues calls WriteToRow for each value in ordinal order.
// While the execute is outstanding, GetSegmentSource gives the reader that serves the rest of a
// value that did not fit inline (the server pulls it with more-blob requests).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TJSONValue.h"

namespace ab {

class TDBXRowBuffer;
class TDBXStreamReader;
class TDBXValueType;
class TOleVariant;

class TDBXWritableValue {
  public:
    TDBXWritableValue(const TDBXValueType& valueType, TDBXRowBuffer* row);
    virtual ~TDBXWritableValue();
    TDBXWritableValue(const TDBXWritableValue&) = delete;
    TDBXWritableValue& operator=(const TDBXWritableValue&) = delete;

    // Fails with "Unexpected data type %s" (code 3) for a type without a value class.
    static std::unique_ptr<TDBXWritableValue> Create(const TDBXValueType& valueType,
                                                     TDBXRowBuffer* row);

    const TDBXValueType& GetValueType() const { return valueType_; }
    bool IsNull();
    void SetNull();
    bool IsSetPending() const { return setPending_; }

    virtual std::u16string GetWideString();
    virtual void SetWideString(std::u16string_view value);
    virtual std::string GetAnsiString();
    virtual void SetAnsiString(std::string_view value);
    virtual bool GetBoolean();
    virtual void SetBoolean(bool value);
    virtual std::int8_t GetInt8();
    virtual void SetInt8(std::int8_t value);
    virtual std::int16_t GetInt16();
    virtual void SetInt16(std::int16_t value);
    virtual std::int32_t GetInt32();
    virtual void SetInt32(std::int32_t value);
    virtual std::int64_t GetInt64();
    virtual void SetInt64(std::int64_t value);
    virtual std::uint8_t GetUInt8();
    virtual void SetUInt8(std::uint8_t value);
    virtual std::uint16_t GetUInt16();
    virtual void SetUInt16(std::uint16_t value);
    virtual double GetDouble();
    virtual void SetDouble(double value);
    virtual float GetSingle();
    virtual void SetSingle(float value);
    virtual TJSONValue GetJSONValue();
    virtual void SetJSONValue(TJSONValue value);
    // Stream values: a variant (null or byte array), or plain bytes.
    virtual void SetAsVariant(const TOleVariant& value);
    virtual void SetDynamicBytes(std::vector<std::uint8_t> value);
    // The whole value as a stream (output values fetch further segments as they are read).
    virtual std::unique_ptr<TDBXStreamReader> GetStreamReader();
    std::vector<std::uint8_t> GetBytes();

    // Writes the value's field into the row (an unset value: C0 for out and return parameters,
    // "Parameter not set for column number %s" (code 11) for the others).
    void WriteToRow(TDBXRowBuffer& row);
    // The rest of the value written at the last execution, or null when it all fit inline.
    virtual TDBXStreamReader* GetSegmentSource() { return nullptr; }

  protected:
    // Value-class hooks: write a set, non-null value; read the field the row is positioned on.
    virtual void WriteField(TDBXRowBuffer& row) = 0;
    virtual void ReadField(TDBXRowBuffer& row) = 0;
    // Called when the field is null; most classes keep their previous value.
    virtual void ReadNullField() {}

    // Re-reads from the row when a newer reply arrived.
    void Refresh();
    // Common setter bookkeeping.
    void MarkSet();
    [[noreturn]] void FailAccess(int requestedType) const;

    const TDBXValueType& valueType_;
    TDBXRowBuffer* row_;
    bool isNull_ = true;
    bool setPending_ = false;
    int generation_ = -1;
};

}  // namespace ab
