// TDBXParameter: lazy value creation and rebuild after a type change.
#include "dbx/TDBXParameter.h"

#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXWritableValue.h"

namespace ab {

TDBXParameter::TDBXParameter() = default;
TDBXParameter::~TDBXParameter() = default;

TDBXWritableValue& TDBXParameter::GetValue() {
    if (!value_ || IsModified()) {
        const bool changed = IsModified();
        value_ = TDBXWritableValue::Create(*this, list_ ? list_->GetRowBuffer() : nullptr);
        ClearModified();
        if (changed && list_)
            list_->SetParameterTypesChanged(true);
    }
    return *value_;
}

}  // namespace ab
