// TDBXAnsiCharsValue: an 8-bit text value (ZSTRING, memo). Travels as a byte field.
#pragma once

#include <memory>

#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TDBXWritableValue.h"

namespace ab {

class TDBXAnsiCharsValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;

    std::string GetAnsiString() override;
    void SetAnsiString(std::string_view value) override;
    std::unique_ptr<TDBXStreamReader> GetStreamReader() override;
    TDBXStreamReader* GetSegmentSource() override { return source_.get(); }

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;
    void ReadNullField() override { value_.clear(); }

  private:
    std::string value_;
    std::unique_ptr<TDBXMemoryStreamReader> source_;
};

}  // namespace ab
