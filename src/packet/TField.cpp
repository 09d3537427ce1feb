// Column base: definition and the conversions a column does not support.
#include "packet/TField.h"

#include "packet/EDatabaseError.h"
#include "packet/PacketConstants.h"
#include "packet/TClientDataSet.h"
#include "platform/Text.h"

namespace ab {

TField::TField(TClientDataSet& dataSet, std::u16string name, TFieldType type, int size, int index)
    : dataSet_(dataSet), name_(std::move(name)), type_(type), size_(size), index_(index) {}

bool TField::IsNull() const {
    const auto* v = dataSet_.CurrentValue(*this);
    return v == nullptr || v->Mark != BLANK_NONE;
}

void TField::RaiseMismatch(std::u16string_view asType) const {
    throw EDatabaseError(Format(SFieldTypeMismatch, {name_, asType}));
}

void TField::SetAsString(std::u16string_view) {
    RaiseMismatch(u"String");
}
void TField::SetAsDateTime(TDateTime) {
    RaiseMismatch(u"DateTime");
}
void TField::LoadFromFile(std::u16string_view) {
    RaiseMismatch(u"Blob");
}
void TField::LoadFromFileDeferred(std::u16string_view) {
    RaiseMismatch(u"Blob");
}

}  // namespace ab
