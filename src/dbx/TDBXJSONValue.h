// TDBXJSONValue: a JSON parameter value, carried as a JSON block field (40, length, ASCII text).
#pragma once

#include "dbx/TDBXWritableValue.h"

namespace ab {

class TDBXJSONValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;

    TJSONValue GetJSONValue() override;
    void SetJSONValue(TJSONValue value) override;

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;
    void ReadNullField() override { value_ = TJSONValue(); }

  private:
    TJSONValue value_;
};

}  // namespace ab
