// TDBXParameterList: ordinal access and writing the execute row.
#include "dbx/TDBXParameterList.h"

#include "dbx/TDBXError.h"
#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXWritableValue.h"
#include "platform/Text.h"

namespace ab {

TDBXParameter& TDBXParameterList::GetParameterByOrdinal(int ordinal) {
    if (ordinal < 0 || ordinal >= Count())
        throw TDBXError(TDBXErrorCodes::InvalidOrdinal,
                        Format(u"Invalid Ordinal:  %d", {IntToStr(ordinal)}));
    return *parameters_[static_cast<std::size_t>(ordinal)];
}

const TDBXParameter& TDBXParameterList::GetParameterByOrdinal(int ordinal) const {
    return const_cast<TDBXParameterList*>(this)->GetParameterByOrdinal(ordinal);
}

TDBXParameter& TDBXParameterList::AddParameter() {
    auto parameter = std::make_unique<TDBXParameter>();
    parameter->SetOrdinal(Count());
    parameter->ClearModified();
    parameter->Attach(this);
    parameters_.push_back(std::move(parameter));
    return *parameters_.back();
}

void TDBXParameterList::WriteValues() {
    if (!rowBuffer_)
        throw TDBXError(TDBXErrorCodes::InvalidOperation,
                        u"Commands with output values must be prepared");
    rowBuffer_->Cancel();
    for (auto& parameter : parameters_)
        parameter->GetValue().WriteToRow(*rowBuffer_);
}

}  // namespace ab
