// An 8-bit text column held in the system's ANSI code page (zero-terminated in the store).
#pragma once

#include "packet/TField.h"

namespace ab {

class TStringField : public TField {
  public:
    TStringField(TClientDataSet& dataSet, std::u16string name, int size, int index)
        : TField(dataSet, std::move(name), TFieldType::ftString, size, index) {}

    // Converts to Windows-1252 ('?' for what it cannot hold), stops at a NUL, keeps at most Size()
    // bytes and drops trailing spaces. Never null: empty text is an empty value.
    void SetAsString(std::u16string_view value) override;
    // The current row's value widened back from Windows-1252; empty when null.
    std::u16string AsString() const;
};

}  // namespace ab
