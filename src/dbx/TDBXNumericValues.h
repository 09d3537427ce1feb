// The numeric value classes: the integer kinds (INT8, INT16, INT32, INT64, UINT8, UINT16) as
// packed integers, and DOUBLE / SINGLE as trimmed IEEE patterns. Each class implements only the
// getter and setter of its own type; a null field leaves the previous value.
#pragma once

#include "dbx/TDBXWritableValue.h"

namespace ab {

class TDBXIntegerValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;

  protected:
    std::int64_t Get() {
        Refresh();
        return value_;
    }
    void Set(std::int64_t value) {
        value_ = value;
        MarkSet();
    }
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;

  private:
    std::int64_t value_ = 0;
};

class TDBXInt8Value : public TDBXIntegerValue {
  public:
    using TDBXIntegerValue::TDBXIntegerValue;
    std::int8_t GetInt8() override { return static_cast<std::int8_t>(Get()); }
    void SetInt8(std::int8_t value) override { Set(value); }
};

class TDBXInt16Value : public TDBXIntegerValue {
  public:
    using TDBXIntegerValue::TDBXIntegerValue;
    std::int16_t GetInt16() override { return static_cast<std::int16_t>(Get()); }
    void SetInt16(std::int16_t value) override { Set(value); }
};

class TDBXInt32Value : public TDBXIntegerValue {
  public:
    using TDBXIntegerValue::TDBXIntegerValue;
    std::int32_t GetInt32() override { return static_cast<std::int32_t>(Get()); }
    void SetInt32(std::int32_t value) override { Set(value); }
};

class TDBXInt64Value : public TDBXIntegerValue {
  public:
    using TDBXIntegerValue::TDBXIntegerValue;
    std::int64_t GetInt64() override { return Get(); }
    void SetInt64(std::int64_t value) override { Set(value); }
};

class TDBXUInt8Value : public TDBXIntegerValue {
  public:
    using TDBXIntegerValue::TDBXIntegerValue;
    std::uint8_t GetUInt8() override { return static_cast<std::uint8_t>(Get()); }
    void SetUInt8(std::uint8_t value) override { Set(value); }
};

class TDBXUInt16Value : public TDBXIntegerValue {
  public:
    using TDBXIntegerValue::TDBXIntegerValue;
    std::uint16_t GetUInt16() override { return static_cast<std::uint16_t>(Get()); }
    void SetUInt16(std::uint16_t value) override { Set(value); }
};

class TDBXDoubleValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;
    double GetDouble() override;
    void SetDouble(double value) override;

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;

  private:
    double value_ = 0;
};

class TDBXSingleValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;
    float GetSingle() override;
    void SetSingle(float value) override;

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;

  private:
    float value_ = 0;
};

}  // namespace ab
