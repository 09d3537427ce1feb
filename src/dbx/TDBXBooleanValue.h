// TDBXBooleanValue: a BOOL value; a null field leaves the previous value (false for a new one).
#pragma once

#include "dbx/TDBXWritableValue.h"

namespace ab {

class TDBXBooleanValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;

    bool GetBoolean() override;
    void SetBoolean(bool value) override;

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;

  private:
    bool value_ = false;
};

}  // namespace ab
