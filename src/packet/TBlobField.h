// A binary large-value column (subtype "Binary"): a file's whole content, or null.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "packet/TField.h"

namespace ab {

class TBlobField : public TField {
  public:
    TBlobField(TClientDataSet& dataSet, std::u16string name, int index)
        : TField(dataSet, std::move(name), TFieldType::ftBlob, 0, index) {}

    // Reads the whole file straight into the store (no intermediate copy). EFOpenError when it
    // cannot be opened or changes while read; EDatabaseError for a file of 2 GiB or more (refused
    // before it is read) or outside insert state. An empty file makes the column null.
    void LoadFromFile(std::u16string_view path) override;
    // The current row's content as the store holds it (shared, never copied); null when none.
    std::shared_ptr<const std::vector<std::uint8_t>> Content() const;
};

}  // namespace ab
