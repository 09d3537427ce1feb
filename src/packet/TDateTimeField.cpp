// Time-stamp column.
#include "packet/TDateTimeField.h"

#include "packet/PacketConstants.h"
#include "packet/TClientDataSet.h"

namespace ab {

void TDateTimeField::SetAsDateTime(TDateTime value) {
    auto& slot = DataSet().PendingValue(*this);
    slot.MSecs = DateTimeToMSecs(value);
    slot.Mark = BLANK_NONE;
    DataSet().MarkAssigned();
}

double TDateTimeField::AsMSecs() const {
    const auto* v = DataSet().CurrentValue(*this);
    return v == nullptr || v->Mark != BLANK_NONE ? 0.0 : v->MSecs;
}

}  // namespace ab
