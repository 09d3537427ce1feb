// A binary large-value column (subtype "Binary"): a file's whole content, or null. The content is
// held in the store, or, loaded deferred, stays in its file and is read from it when the packet is
// taken.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "packet/TField.h"

namespace ab {

class TLocalFile;

class TBlobField : public TField {
  public:
    TBlobField(TClientDataSet& dataSet, std::u16string name, int index)
        : TField(dataSet, std::move(name), TFieldType::ftBlob, 0, index) {}

    // Reads the whole file straight into the store (no intermediate copy). EFOpenError when it
    // cannot be opened or changes while read; EDatabaseError for a file of 2 GiB or more (refused
    // before it is read) or outside insert state. An empty file makes the column null.
    void LoadFromFile(std::u16string_view path) override;
    // The same column value without reading the content: the file is opened (the same errors as
    // LoadFromFile) and kept open, its size and identity taken now; the content is read from it
    // when the packet is taken (Data reads it whole, DataParts hands the file over), and refused
    // then if the file changed in between. An empty file makes the column null.
    void LoadFromFileDeferred(std::u16string_view path) override;
    // The current row's content as the store holds it (shared, never copied); null when none, or
    // when the content was loaded deferred.
    std::shared_ptr<const std::vector<std::uint8_t>> Content() const;

  private:
    // Opens the file, then checks the state and the size (the order the errors come in).
    std::shared_ptr<const TLocalFile> OpenForLoad(std::u16string_view path);
    void AssignNull();
    void AssignStored(std::uint32_t ref);  // 0: the store refused (reported), nothing changes
};

}  // namespace ab
