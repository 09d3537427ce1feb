// 8-bit text column.
#include "packet/TStringField.h"

#include "packet/PacketConstants.h"
#include "packet/TClientDataSet.h"
#include "platform/Text.h"

namespace ab {

void TStringField::SetAsString(std::u16string_view value) {
    auto& slot = DataSet().PendingValue(*this);
    std::string bytes = ToAnsi(value);
    // The store holds the text zero-terminated in a slot of Size() + 1 bytes.
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.size() > static_cast<std::size_t>(Size()))
        bytes.resize(Size());
    while (!bytes.empty() && bytes.back() == ' ')
        bytes.pop_back();
    slot.Text = std::move(bytes);
    slot.Mark = BLANK_NONE;
    DataSet().MarkAssigned();
}

std::u16string TStringField::AsString() const {
    const auto* v = DataSet().CurrentValue(*this);
    return v == nullptr || v->Mark != BLANK_NONE ? std::u16string() : FromAnsi(v->Text);
}

}  // namespace ab
