// TDBXWideCharsValue: a text value (WideString, wide memo). A text longer than the inline
// allowance leaves its remaining encoded bytes as the overflow stream the server pulls.
#pragma once

#include <memory>

#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TDBXWritableValue.h"

namespace ab {

class TDBXWideCharsValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;

    // A null field reads as the empty text.
    std::u16string GetWideString() override;
    void SetWideString(std::u16string_view value) override;
    std::unique_ptr<TDBXStreamReader> GetStreamReader() override;
    TDBXStreamReader* GetSegmentSource() override { return overflow_.get(); }

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;
    void ReadNullField() override { value_.clear(); }

  private:
    std::u16string value_;
    std::unique_ptr<TDBXMemoryStreamReader> overflow_;
};

}  // namespace ab
