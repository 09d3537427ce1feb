// Binary blob column: whole-file loads straight into the blob store, or deferred to the file.
#include "packet/TBlobField.h"

#include "packet/EDatabaseError.h"
#include "packet/PacketConstants.h"
#include "packet/TClientDataSet.h"
#include "platform/TLocalFile.h"
#include "platform/Text.h"

namespace ab {

std::shared_ptr<const TLocalFile> TBlobField::OpenForLoad(std::u16string_view path) {
    // EFOpenError first, as opening precedes the load buffer.
    auto file = std::make_shared<const TLocalFile>(path);
    auto& set = DataSet();
    set.PendingValue(*this);
    // A 4-byte length prefix cannot carry 2 GiB or more; such a file would go out empty.
    if (file->Size() > dsMaxBlobLength)
        set.Raise(Format(SFileTooLarge,
                         {file->FullPath(), IntToStr(static_cast<long long>(file->Size()))}));
    return file;
}

void TBlobField::LoadFromFile(std::u16string_view path) {
    const auto file = OpenForLoad(path);
    std::vector<std::uint8_t> content;
    file->ReadAll(content);
    if (content.empty())
        return AssignNull();
    AssignStored(DataSet().StoreBlob(std::move(content)));
}

void TBlobField::LoadFromFileDeferred(std::u16string_view path) {
    auto file = OpenForLoad(path);
    if (file->Size() == 0)
        return AssignNull();
    AssignStored(DataSet().StoreBlob(TClientDataSet::TBlob{nullptr, std::move(file)}));
}

void TBlobField::AssignNull() {
    auto& set = DataSet();
    set.PendingValue(*this).Mark = BLANK_NULL;
    set.MarkAssigned();
}

void TBlobField::AssignStored(std::uint32_t ref) {
    if (ref == 0)
        return;  // refused and reported; the column keeps its mark
    auto& set = DataSet();
    auto& slot = set.PendingValue(*this);
    slot.BlobRef = ref;
    slot.Mark = BLANK_NONE;
    set.MarkAssigned();
}

std::shared_ptr<const std::vector<std::uint8_t>> TBlobField::Content() const {
    const auto* v = DataSet().CurrentValue(*this);
    if (v == nullptr || v->Mark != BLANK_NONE)
        return nullptr;
    return DataSet().BlobAt(v->BlobRef).Bytes;
}

}  // namespace ab
