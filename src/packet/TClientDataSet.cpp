// The send-file record set: state, rows, blob store, change log and the packet it streams.
#include "packet/TClientDataSet.h"

#include <cstring>
#include <new>

#include "packet/EDBClient.h"
#include "packet/EDatabaseError.h"
#include "packet/PacketConstants.h"
#include "packet/TDSDataPacketWriter.h"
#include "platform/TLocalFile.h"
#include "platform/Text.h"

namespace ab {
namespace {

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t v, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

TClientDataSet::TClientDataSet(std::u16string name, TErrorHandler onStoreError)
    : name_(std::move(name)), onStoreError_(std::move(onStoreError)) {}

TClientDataSet::~TClientDataSet() = default;

void TClientDataSet::Raise(std::u16string_view message) const {
    throw EDatabaseError::ForComponent(name_, message);
}

void TClientDataSet::CheckActive() const {
    if (!Active())
        Raise(SDataSetClosed);
}

void TClientDataSet::CheckInactive() const {
    if (Active())
        Raise(SDataSetOpen);
}

TStringField& TClientDataSet::AddStringField(std::u16string fieldName, int size) {
    CheckInactive();
    auto field = std::make_unique<TStringField>(*this, std::move(fieldName), size, FieldCount());
    auto& ref = *field;
    fields_.push_back(std::move(field));
    return ref;
}

TDateTimeField& TClientDataSet::AddDateTimeField(std::u16string fieldName) {
    CheckInactive();
    auto field = std::make_unique<TDateTimeField>(*this, std::move(fieldName), FieldCount());
    auto& ref = *field;
    fields_.push_back(std::move(field));
    return ref;
}

TBlobField& TClientDataSet::AddBlobField(std::u16string fieldName) {
    CheckInactive();
    auto field = std::make_unique<TBlobField>(*this, std::move(fieldName), FieldCount());
    auto& ref = *field;
    fields_.push_back(std::move(field));
    return ref;
}

TField* TClientDataSet::FindField(std::u16string_view fieldName) noexcept {
    const std::u16string wanted = AsciiUpper(fieldName);
    for (auto& f : fields_)
        if (AsciiUpper(f->FieldName()) == wanted)
            return f.get();
    return nullptr;
}

TField& TClientDataSet::FieldByName(std::u16string_view fieldName) {
    TField* f = FindField(fieldName);
    if (f == nullptr)
        Raise(Format(SFieldNotFound, {fieldName}));
    return *f;
}

void TClientDataSet::CreateDataSet() {
    CheckInactive();
    if (fields_.empty())
        throw EDatabaseError(std::u16string(SNoFieldsDefined));
    defs_.clear();
    for (const auto& f : fields_)
        defs_.push_back({ToUtf8(f->FieldName()), f->DataType(), f->Size()});
    rows_.clear();
    blobs_.clear();
    changeLog_.clear();
    pending_.reset();
    nextRecNo_ = 1;
    state_ = TDataSetState::dsBrowse;
}

void TClientDataSet::CommitPending() {
    TRow row = std::move(*pending_);
    pending_.reset();
    row.RecNo = nextRecNo_++;
    row.Status = dsRecNew;
    changeLog_.push_back({row.RecNo, 0, dsRecNew});
    rows_.push_back(std::move(row));
    state_ = TDataSetState::dsBrowse;
}

void TClientDataSet::Settle() {
    if (state_ != TDataSetState::dsInsert)
        return;
    if (pendingModified_) {
        CommitPending();
    } else {
        pending_.reset();
        state_ = TDataSetState::dsBrowse;
    }
}

void TClientDataSet::EmptyDataSet() {
    CheckActive();
    Settle();
    rows_.clear();
    blobs_.clear();
    changeLog_.clear();
    nextRecNo_ = 1;
}

void TClientDataSet::Append() {
    CheckActive();
    Settle();
    pending_ = TRow{};
    pending_->Values.resize(defs_.size());
    pendingModified_ = false;
    state_ = TDataSetState::dsInsert;
}

void TClientDataSet::Post() {
    if (state_ != TDataSetState::dsInsert)
        Raise(SNotEditing);
    CommitPending();
}

void TClientDataSet::Close() {
    if (!Active())
        return;
    // Pending changes are dropped; the packet of what is stored is kept as the saved data.
    pending_.reset();
    state_ = TDataSetState::dsBrowse;
    savedData_ = BuildPacket();
    rows_.clear();
    blobs_.clear();
    changeLog_.clear();
    state_ = TDataSetState::dsInactive;
}

std::vector<std::uint8_t> TClientDataSet::Data() {
    if (!Active())
        return savedData_;
    Settle();
    return BuildPacket();
}

TClientDataSet::TValue& TClientDataSet::PendingValue(const TField& field) {
    if (state_ != TDataSetState::dsInsert)
        Raise(SNotEditing);
    return pending_->Values.at(static_cast<std::size_t>(field.Index()));
}

const TClientDataSet::TValue* TClientDataSet::CurrentValue(const TField& field) const {
    const auto index = static_cast<std::size_t>(field.Index());
    if (state_ == TDataSetState::dsInsert)
        return &pending_->Values.at(index);
    if (state_ == TDataSetState::dsBrowse && !rows_.empty())
        return &rows_.back().Values.at(index);
    return nullptr;
}

std::uint64_t TClientDataSet::TBlob::Size() const noexcept {
    return Bytes ? Bytes->size() : File ? File->Size() : 0;
}

std::uint64_t TClientDataSet::TDataPacketParts::Size() const noexcept {
    return Head.size() + (Content ? Content->size() : 0) + (File ? File->Size() : 0);
}

std::uint32_t TClientDataSet::StoreBlob(std::vector<std::uint8_t>&& content) {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    try {
        bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(content));
    } catch (const std::bad_alloc&) {
        return RefuseBlob();
    }
    return StoreBlob(TBlob{std::move(bytes), nullptr});
}

std::uint32_t TClientDataSet::StoreBlob(TBlob blob) {
    try {
        blobs_.push_back(std::move(blob));
        return static_cast<std::uint32_t>(blobs_.size());
    } catch (const std::bad_alloc&) {
        return RefuseBlob();
    }
}

std::uint32_t TClientDataSet::RefuseBlob() {
    const EDBClient error(DBERR_NOMEMORY);
    if (!onStoreError_)
        throw error;
    onStoreError_(error);
    return 0;
}

TClientDataSet::TDataPacketParts TClientDataSet::DataParts() {
    if (!Active())
        return {savedData_, nullptr, nullptr};
    Settle();
    TDataPacketParts parts;
    TBlob last;
    parts.Head = BuildPacket(&last);
    parts.Content = std::move(last.Bytes);
    parts.File = std::move(last.File);
    return parts;
}

void TClientDataSet::WriteRowValues(TDSDataPacketWriter& w, const TRow& row,
                                    TBlob* deferLast) const {
    const std::uint8_t status = row.Status;
    w.PutField(fldIsChanged, {&status, 1});
    for (std::size_t j = 0; j < defs_.size(); ++j) {
        const TValue& v = row.Values[j];
        if (v.Mark != BLANK_NONE) {
            w.PutField(v.Mark == BLANK_NULL ? fldIsNull : fldIsUnChanged, {});
            continue;
        }
        switch (defs_[j].Type) {
            case TFieldType::ftString: {
                static constexpr std::uint8_t kEmpty = 0;  // an empty string is its zero byte
                if (v.Text.empty()) {
                    w.PutField(fldIsChanged, {&kEmpty, 1});
                } else {
                    w.PutField(fldIsChanged, {reinterpret_cast<const std::uint8_t*>(v.Text.data()),
                                              v.Text.size()});
                }
                break;
            }
            case TFieldType::ftDateTime: {
                std::uint64_t bits;
                static_assert(sizeof bits == sizeof v.MSecs);
                std::memcpy(&bits, &v.MSecs, sizeof bits);
                std::uint8_t le[8];
                for (int i = 0; i < 8; ++i)
                    le[i] = static_cast<std::uint8_t>(bits >> (8 * i));
                w.PutField(fldIsChanged, le);
                break;
            }
            case TFieldType::ftBlob: {
                const TBlob& blob = BlobAt(v.BlobRef);
                if (deferLast != nullptr && j + 1 == defs_.size() && &row == &rows_.back()) {
                    w.PutFieldDeferred(blob.Size());
                    *deferLast = blob;
                } else if (blob.Bytes) {
                    w.PutField(fldIsChanged, *blob.Bytes);
                } else {
                    // Read now, as a whole-file load would have; refused if it changed since.
                    std::vector<std::uint8_t> content;
                    blob.File->ReadAll(content);
                    w.PutField(fldIsChanged, content);
                }
                break;
            }
        }
    }
}

std::vector<std::uint8_t> TClientDataSet::BuildPacket(TBlob* deferLast) const {
    if (defs_.empty())
        throw EDBClient(DBERR_NA);
    try {
        TDSDataPacketWriter w;
        w.Init_Sequential(dsPacketVersion, static_cast<std::uint16_t>(defs_.size()));
        for (const TFieldDef& def : defs_) {
            TDSDataPacketFldDesc desc{def.Name, 0, 0};
            switch (def.Type) {
                case TFieldType::ftString:
                    // Slot length: declared size plus the terminator; prefix 1 up to 254.
                    desc.TypeWord =
                        def.Size + 1 <= 254 ? dsTypeZStringPrefix1 : dsTypeZStringPrefix2;
                    break;
                case TFieldType::ftDateTime:
                    desc.TypeWord = dsTypeTimeStamp;
                    break;
                case TFieldType::ftBlob:
                    desc.TypeWord = dsTypeBlob;
                    break;
            }
            w.AddColumnDesc(desc);
            if (def.Type == TFieldType::ftBlob) {
                std::vector<std::uint8_t> subtype;
                PutLE(subtype, static_cast<std::uint32_t>(szSubtypeBinary.size() + 1), 2);
                subtype.insert(subtype.end(), szSubtypeBinary.begin(), szSubtypeBinary.end());
                subtype.push_back(0);
                w.AddAttribute(fldAttrArea, szSUBTYPE, dsTypeZStringPrefix2, subtype);
            }
            if (def.Size != 0 && def.Type != TFieldType::ftDateTime) {
                std::vector<std::uint8_t> width;
                PutLE(width, static_cast<std::uint32_t>(def.Size), 2);
                w.AddAttribute(fldAttrArea, szWIDTH, dsTypeUInt16, width);
            }
        }
        if (!changeLog_.empty()) {
            std::vector<std::uint8_t> log;
            PutLE(log, static_cast<std::uint32_t>(3 * changeLog_.size()), 4);
            for (const auto& e : changeLog_) {
                PutLE(log, e.RecNo, 4);
                PutLE(log, e.PriorRecNo, 4);
                PutLE(log, e.Status, 4);
            }
            w.AddAttribute(pcktAttrArea, szCHANGE_LOG, dsTypeUInt32Array, log);
        }
        w.AddAttribute(pcktAttrArea, {}, 0, {});
        // With a change log every stored row goes out in physical order; without one, unused
        // rows are skipped (logging is never switched off here).
        for (const TRow& row : rows_) {
            if (changeLog_.empty() && row.Status == dsUnused)
                continue;
            WriteRowValues(w, row, deferLast);
        }
        return w.GetDataPacket();
    } catch (const std::bad_alloc&) {
        throw EDBClient(DBERR_NOMEMORY);
    }
}

}  // namespace ab
