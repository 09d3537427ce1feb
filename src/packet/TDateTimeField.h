// A time-stamp column, held as the store's millisecond count.
#pragma once

#include "packet/TField.h"

namespace ab {

class TDateTimeField : public TField {
  public:
    TDateTimeField(TClientDataSet& dataSet, std::u16string name, int index)
        : TField(dataSet, std::move(name), TFieldType::ftDateTime, 0, index) {}

    // Stores DateTimeToMSecs(value); EConvertError for a value that is no valid date-time.
    void SetAsDateTime(TDateTime value) override;
    // The current row's millisecond count; 0 when null.
    double AsMSecs() const;
};

}  // namespace ab
