// The in-memory record set that carries one file to the server: fields, rows with statuses and
// null marks, a blob store, the change log, and its binary data packet.
//
// States: closed (no store) -> CreateDataSet -> browse -> Append -> insert -> Post -> browse.
// EmptyDataSet, Append and Data first settle a pending row: posted when any column was
// assigned, cancelled otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packet/TBlobField.h"
#include "packet/TDateTimeField.h"
#include "packet/TField.h"
#include "packet/TStringField.h"
#include "platform/Exception.h"

namespace ab {

class TDSDataPacketWriter;
class TLocalFile;

enum class TDataSetState { dsInactive, dsBrowse, dsInsert };

class TClientDataSet {
  public:
    // Receives store errors that are reported instead of raised (the content hand-over when
    // loading a blob). Without one, such an error is raised.
    using TErrorHandler = std::function<void(const Exception&)>;

    explicit TClientDataSet(std::u16string name, TErrorHandler onStoreError = {});
    ~TClientDataSet();
    TClientDataSet(const TClientDataSet&) = delete;
    TClientDataSet& operator=(const TClientDataSet&) = delete;

    const std::u16string& Name() const noexcept { return name_; }

    // Persistent fields, in column order; only while the set is closed.
    TStringField& AddStringField(std::u16string fieldName, int size);
    TDateTimeField& AddDateTimeField(std::u16string fieldName);
    TBlobField& AddBlobField(std::u16string fieldName);
    TField& FieldByName(std::u16string_view fieldName);  // EDatabaseError "Field '%s' not found"
    TField* FindField(std::u16string_view fieldName) noexcept;
    int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }

    void CreateDataSet();
    void EmptyDataSet();
    void Append();
    void Post();
    void Close();
    // The data packet of the current state; a new byte array on each call. Closed: the packet kept
    // when the set was last closed (empty if never).
    std::vector<std::uint8_t> Data();

    // The same packet without copying or reading the content: Head followed by the content is
    // exactly Data(). When the last row's last column is a blob, its content is left out of Head
    // and handed over instead: as Content when the store holds it (shared with the store, which
    // never changes a stored value), as File when it was loaded deferred (the open file, whose
    // first File->Size() bytes are the content as long as File->Unchanged()). Otherwise both are
    // null and Head is the whole packet. Settles a pending row as Data does. Closed: the saved
    // packet as Head.
    struct TDataPacketParts {
        std::vector<std::uint8_t> Head;
        std::shared_ptr<const std::vector<std::uint8_t>> Content;
        std::shared_ptr<const TLocalFile> File;
        std::uint64_t Size() const noexcept;
    };
    TDataPacketParts DataParts();

    TDataSetState State() const noexcept { return state_; }
    bool Active() const noexcept { return state_ != TDataSetState::dsInactive; }
    int RecordCount() const noexcept { return static_cast<int>(rows_.size()); }
    int ChangeCount() const noexcept { return static_cast<int>(changeLog_.size()); }

  private:
    friend class TField;
    friend class TStringField;
    friend class TDateTimeField;
    friend class TBlobField;

    // A blob in the store: its bytes, or the file they are read from when the packet is taken.
    struct TBlob {
        std::shared_ptr<const std::vector<std::uint8_t>> Bytes;
        std::shared_ptr<const TLocalFile> File;
        std::uint64_t Size() const noexcept;
    };

    struct TValue {
        std::uint8_t Mark = 2;      // BLANK_NOTCHANGED
        std::string Text;           // ftString: ANSI bytes
        double MSecs = 0;           // ftDateTime
        std::uint32_t BlobRef = 0;  // ftBlob: index into blobs_ + 1
    };
    struct TRow {
        std::uint32_t RecNo = 0;
        std::uint8_t Status = 0;
        std::vector<TValue> Values;
    };
    struct TChangeLogEntry {
        std::uint32_t RecNo;
        std::uint32_t PriorRecNo;
        std::uint32_t Status;
    };
    struct TFieldDef {
        std::string Name;  // UTF-8
        TFieldType Type;
        int Size;
    };

    [[noreturn]] void Raise(std::u16string_view message) const;
    void CheckActive() const;
    void CheckInactive() const;
    TValue& PendingValue(const TField& field);  // raises outside insert state
    const TValue* CurrentValue(const TField& field) const;
    void MarkAssigned() { pendingModified_ = true; }
    void Settle();
    void CommitPending();
    // 0 when refused (reported).
    std::uint32_t StoreBlob(std::vector<std::uint8_t>&& content);
    std::uint32_t StoreBlob(TBlob blob);
    std::uint32_t RefuseBlob();  // reports (or raises) the store's out-of-memory error
    const TBlob& BlobAt(std::uint32_t ref) const { return blobs_[ref - 1]; }
    // With `deferLast`, a blob as the packet's last value is left out and handed back instead.
    std::vector<std::uint8_t> BuildPacket(TBlob* deferLast = nullptr) const;
    void WriteRowValues(TDSDataPacketWriter& w, const TRow& row, TBlob* deferLast) const;

    std::u16string name_;
    TErrorHandler onStoreError_;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<TFieldDef> defs_;  // taken from the fields at CreateDataSet
    TDataSetState state_ = TDataSetState::dsInactive;
    std::vector<TRow> rows_;
    std::optional<TRow> pending_;
    bool pendingModified_ = false;
    std::vector<TBlob> blobs_;
    std::vector<TChangeLogEntry> changeLog_;
    std::uint32_t nextRecNo_ = 1;
    std::vector<std::uint8_t> savedData_;
};

}  // namespace ab
