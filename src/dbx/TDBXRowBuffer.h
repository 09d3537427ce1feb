// TDBXRowBuffer: a packed row of typed fields -- the parameter row of an execute request and its
// reply, and the rows of a returned table. One header byte per field, no row header, no padding.
//
// Writing (client building a request row, server building a reply row): Cancel (or Post) empties
// the row, then one Write* per field in ordinal order; WrittenBytes() is the row to send. String
// and byte fields get at most InlineAllowance() bytes inline; the rest of a string is handed back
// as overflow bytes, the rest of a byte stream stays in its reader, and the peer pulls both with
// segment requests.
//
// Reading: SetRowBytes / ReadDataBytes replace the content; GoToField(ordinal) positions on a
// field (stepping over the ones before it by their headers, every length checked against the
// content); the Read* / Is* calls then act on that field. A field that continues in segments is
// read through a TDBXClientBlobReader, which needs SetClient (the connection's writer and reader).
// Malformed content raises TDBXError: "DBX Error:  Invalid length" (code 14) for a field that runs
// past the row, "Unexpected header" (code 0) for a header the read does not accept.
//
// Executions: BeginExecution gives the row a fresh shared handle array and stores -1 into the
// previous one, so blob readers of a finished execution fail with "Command closed or executed
// again" (code 4). Values compare their generation with Generation() to know when to re-read.
//
// Spans returned by WrittenBytes, RowBytes and ReadInlineBytes stay valid until the next call that
// writes or replaces the content.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TBufferDeBytes.h"
#include "dbx/TJSONValue.h"

namespace ab {

class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXStreamReader;

// Calendar fields of a TIMESTAMP value; fraction in milliseconds.
struct TDBXTimeStamp {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int fraction = 0;
    bool operator==(const TDBXTimeStamp&) const = default;
};

class TDBXRowBuffer {
  public:
    static constexpr int MaxInline = 1024;  // FMaxInline
    static constexpr int MaxInlineLength = 65535;

    // minBufSize: for parameter rows the writer's CalcRowBufferSize(); the buffer starts at it.
    explicit TDBXRowBuffer(int minBufSize);
    TDBXRowBuffer(const TDBXRowBuffer&) = delete;
    TDBXRowBuffer& operator=(const TDBXRowBuffer&) = delete;

    // Segment fetching for fields read from this row (client side). parameterRow and rowHandle
    // go into the more-blob request (true and 0 for a command's parameter row).
    void SetClient(TDBXJSonStreamWriter* writer, TDBXJSonStreamReader* reader,
                   bool parameterRow = true, std::int32_t rowHandle = 0);

    int MinBufSize() const { return minBufSize_; }
    int BufLength() const { return static_cast<int>(buf_.size()); }

    // ---- writing ----
    void Post() { Cancel(); }
    void Cancel() { off_ = 0; }
    int Offset() const { return static_cast<int>(off_); }
    bool IsEmpty() const { return off_ == 0; }
    std::span<const std::uint8_t> WrittenBytes() const { return {buf_.data(), off_}; }
    // The inline allowance for the next string or byte field.
    int InlineAllowance() const;
    // The least allowance the first field of a row of this buffer ever gets (the buffer only
    // grows): a first field shorter than this always travels whole inline.
    int FirstFieldAllowance() const {
        return minBufSize_ < MaxInline + 3 ? MaxInline : std::min(minBufSize_ - 3, MaxInlineLength);
    }
    int LastInlineByteCount() const { return lastInlineCount_; }

    void WriteNull();
    void WriteBoolean(bool value);
    void WriteInt32(std::int32_t value);
    void WriteInt64(std::int64_t value);
    void WriteDouble(double value);
    void WriteSingle(float value);
    void WriteDate(int year, int month, int day);
    void WriteTime(std::int32_t millisecondsOfDay);
    void WriteTimestamp(const TDBXTimeStamp& value);
    void WriteCallback(bool set);
    // String field; returns whether the text fit inline. When not, the encoded bytes past the
    // inline part are stored into overflow (when given).
    bool WriteString(std::u16string_view text, std::vector<std::uint8_t>* overflow = nullptr);
    // Byte field read from the reader; returns the inline count. The reader keeps the rest.
    std::size_t WriteBytes(TDBXStreamReader& reader);
    // JSON field: 40, length (4 bytes BE), the ASCII text.
    void WriteJSON(std::string_view ascii);

    // ---- reading ----
    // Replaces the content with |count| raw bytes from a data block (after its comma), growing
    // the buffer only as bytes arrive; more than the reader's MaxDataBlockSize fails (code 14).
    void ReadDataBytes(TDBXJSonStreamReader& reader, std::int64_t count);
    void SetRowBytes(std::span<const std::uint8_t> bytes);
    std::span<const std::uint8_t> RowBytes() const { return {buf_.data(), length_}; }
    // Rows of a table block: fields are counted from rowStart; rowNumber goes into more-blob
    // requests.
    void SetRowStart(std::size_t rowStart, std::int64_t rowNumber);
    // Offset just past the fieldCount fields of the current row.
    std::size_t RowEnd(int fieldCount);

    void GoToField(int ordinal);
    int CurrentOrdinal() const { return curOrdinal_; }
    std::uint8_t Header() const;
    bool IsNull() const { return (Header() & 0x80) != 0; }
    // The field's data is not in the row (header 08 or 0C).
    bool IsBlobHeader() const;
    // The field holds its whole value (no further segments to fetch).
    bool IsLastParameterBlobSegment() const;
    bool ReadBoolean() const { return (Header() & 0x40) != 0; }
    std::int64_t ReadInt64() const;
    std::int32_t ReadInt32() const { return static_cast<std::int32_t>(ReadInt64()); }
    double ReadDouble() const;
    float ReadSingle() const;
    TDBXTimeStamp ReadTimestamp() const;
    bool ReadCallback() const { return Header() == 0x02; }
    // The field's bytes held in the row (the first segment of a longer value).
    std::span<const std::uint8_t> ReadInlineBytes() const;
    // Whole text; fetches further segments through a blob reader when needed.
    std::u16string ReadString();
    // Whole byte value as a stream (inline bytes first, then fetched segments).
    std::unique_ptr<TDBXStreamReader> ReadBytes();
    // JSON field (null field: null value); "Invalid JSON header byte encountered" otherwise.
    TJSONValue ReadJSON() const;

    // ---- executions ----
    int Generation() const { return generation_; }
    void IncrementGeneration() { ++generation_; }
    // Marks the previous execution finished (-1 in its handle array), starts a fresh array with
    // the handle and empties the row.
    void BeginExecution(std::int32_t commandHandle);
    void SetCommandHandle(std::int32_t commandHandle) { *handle_ = commandHandle; }
    // The command was closed: blob readers of its last execution fail from now on.
    void InvalidateHandle() { *handle_ = -1; }
    std::int32_t CommandHandle() const { return *handle_; }
    const std::shared_ptr<std::int32_t>& HandleArray() const { return handle_; }

  private:
    void EnsureFree(std::size_t bytes);
    void Put(std::uint8_t b) { buf_[off_++] = b; }
    void WritePacked(std::int64_t value);
    std::size_t FieldLength(std::size_t at) const;
    std::unique_ptr<TDBXStreamReader> MakeBlobReader();
    [[noreturn]] static void FailLength();
    [[noreturn]] static void FailHeader();

    int minBufSize_;
    TBufferDeBytes buf_;      // FBuf; size() is FBufLength
    std::size_t off_ = 0;     // write offset
    std::size_t length_ = 0;  // readable content
    std::size_t rowStart_ = 0;
    std::int64_t rowNumber_ = 0;
    std::size_t readOff_ = 0;
    int curOrdinal_ = 0;
    int lastInlineCount_ = 0;
    int generation_ = -1;
    std::int32_t blobId_ = 0;
    std::shared_ptr<std::int32_t> handle_ = std::make_shared<std::int32_t>(-1);
    TDBXJSonStreamWriter* writer_ = nullptr;
    TDBXJSonStreamReader* reader_ = nullptr;
    bool parameterRow_ = true;
    std::int32_t rowHandle_ = 0;
};

}  // namespace ab
