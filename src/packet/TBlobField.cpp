// Binary blob column: whole-file loads straight into the blob store.
#include "packet/TBlobField.h"

#include "packet/EDatabaseError.h"
#include "packet/PacketConstants.h"
#include "packet/TClientDataSet.h"
#include "platform/TLocalFile.h"
#include "platform/Text.h"

namespace ab {

void TBlobField::LoadFromFile(std::u16string_view path) {
    TLocalFile file(path);  // EFOpenError first, as opening precedes the load buffer
    auto& set = DataSet();
    auto* slot = &set.PendingValue(*this);
    // A 4-byte length prefix cannot carry 2 GiB or more; such a file would go out empty.
    if (file.Size() > dsMaxBlobLength)
        set.Raise(Format(SFileTooLarge,
                         {file.FullPath(), IntToStr(static_cast<long long>(file.Size()))}));
    std::vector<std::uint8_t> content;
    file.ReadAll(content);
    if (content.empty()) {
        slot->Mark = BLANK_NULL;
        set.MarkAssigned();
        return;
    }
    const std::uint32_t ref = set.StoreBlob(std::move(content));
    if (ref == 0)
        return;  // refused and reported; the column keeps its mark
    slot = &set.PendingValue(*this);
    slot->BlobRef = ref;
    slot->Mark = BLANK_NONE;
    set.MarkAssigned();
}

std::shared_ptr<const std::vector<std::uint8_t>> TBlobField::Content() const {
    const auto* v = DataSet().CurrentValue(*this);
    if (v == nullptr || v->Mark != BLANK_NONE)
        return nullptr;
    return DataSet().BlobAt(v->BlobRef);
}

}  // namespace ab
