// TDBXJSonStreamWriter: composes protocol messages into a write buffer and hands whole buffers to
// the channel.
//
// Calling protocol: construct on a channel with the buffer size in bytes (0 means 8192), Open, then
// append with the primitive and message operations; nothing reaches the channel until the buffer
// is full (then exactly BufferSize() bytes go out) or Flush is called. Operations documented "and
// flush" flush themselves. Request and reply strictly alternate: a request is flushed before its
// reply is read. The writer never reports a channel failure itself (a channel write returning -1
// is ignored; the next read fails instead). Not thread-safe; one writer per connection.
//
// Used in both directions: the client writes requests, the bundled server writes replies (result
// objects, data blocks, more-blob requests, WriteRpcError).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TBufferDeBytes.h"
#include "dbx/TDbxChannel.h"

namespace ab {

class TDBXStreamReader;
class TDBXParameter;
class TDBXParameterList;

class TDBXJSonStreamWriter {
  public:
    static constexpr int DefaultBufferSize = 8192;

    TDBXJSonStreamWriter(TDbxChannel* channel, int bufferSize);

    void Open();
    void Close() {}
    bool IsClosed() const { return false; }
    bool IsConnectionLost() const { return channel_ && channel_->IsConnectionLost(); }

    int BufferSize() const { return bufferSize_; }
    // Minimum size of parameter row buffers: BufferSize() - 2048 when that leaves room, else
    // BufferSize().
    int CalcRowBufferSize() const;
    // Bytes waiting in the buffer.
    int BufferedCount() const { return static_cast<int>(used_); }

    // Primitives (append only).
    void WriteObjectStart() { Put('{'); }
    void WriteObjectEnd() { Put('}'); }
    void WriteArrayStart() { Put('['); }
    void WriteArrayEnd() { Put(']'); }
    void WriteValueSeparator() { Put(','); }
    void WriteNameSeparator() { Put(':'); }
    void WriteSpace() { Put(' '); }
    void WriteParamsStart();
    void WriteInt(std::int32_t value);
    void WriteShort(std::int16_t value) { WriteInt(value); }
    void WriteByte(std::uint8_t value) { WriteInt(value); }
    void WriteLong(std::int64_t value);
    void WriteBoolean(bool value);
    void WriteNull();
    // Quoted, one byte per character up to 255, \u with upper-case hex above, the short escapes.
    void WriteString(std::u16string_view text);
    void WriteNamedString(std::u16string_view name, std::u16string_view value);
    // Raw bytes, unchanged.
    void WriteDataBytes(std::span<const std::uint8_t> bytes);
    // Raw ASCII such as the TDBXJSonBytes sequences.
    void WriteAscii(std::string_view ascii);
    void WriteFloat(float) {}
    void WriteDouble(double) {}

    // Sends the buffered bytes (none when empty) and empties the buffer.
    void Flush();

    // Command messages.
    // {"method":"prepare","params":[handle,updateable,"type","text"  (the caller ends it)
    void WritePrepareStart(std::int32_t handle, bool updateable, std::u16string_view type,
                           std::u16string_view text);
    // {"parameters":[n   (entries follow, each after a comma; then ]})
    void WriteParametersObjectStart(int count);
    // [type,subtype,direction,precision,scale,"name",childposition,size,flags(,"literal")]
    void WriteParameterMetadata(const TDBXParameter& parameter);
    // The whole {"parameters":[n,e1,...]} object for a list.
    void WriteParametersObject(const TDBXParameterList& parameters);
    // {"method":"execute","params":[
    void WriteExecuteStart();
    // {"handle":[h]}
    void WriteHandleObject(std::int32_t handle);
    // {"fields":[h,updateable,"type","text"]}
    void WriteExecuteFieldsObject(std::int32_t handle, bool updateable, std::u16string_view type,
                                  std::u16string_view text);
    // {"data":[count,<count raw bytes>]}
    void WriteDataObject(std::span<const std::uint8_t> bytes);
    // A segment answer built in place and flushed: {"data":[<count padded to 9 chars>,<bytes>]}
    // with as many bytes as fit in the buffer, read straight from the reader into it. The count is
    // negated (0 when nothing was left) when the reader reached its end with this block. Returns
    // the count as written. Large pieces the reader can show in memory are not copied into the
    // buffer: the block leaves as one gather write of the same bytes.
    // A reader that raises leaves the block half-built and the peer waiting for it, which nothing
    // can put right: the buffer is emptied, the channel closed before any byte of the block left
    // (so nothing more goes out on it), and the error goes on to the caller.
    std::int32_t WriteDataObject(TDBXStreamReader& reader);
    // {"method":"command_close","params":[h]} and flush.
    void WriteCommandCloseObject(std::int32_t handle);
    // {"method":"next_result","params":[h]}
    void WriteNextResultObject(std::int32_t handle);
    // {"method":"more_blob","params":[cmd,blob,row,ordinal,parameterRow,rowHandle]} and flush.
    void WriteClientMoreBlobObject(std::int32_t commandHandle, std::int32_t blobHandle,
                                   std::int64_t row, std::int32_t ordinal, bool parameterRow,
                                   std::int32_t rowHandle);
    // {"method":"next","params":[rowHandle,position,commandHandle]}
    void WriteClientNextObject(std::int32_t rowHandle, std::int64_t position,
                               std::int32_t commandHandle);
    // {"method":"reader_close","params":[rowHandle,commandHandle]} and flush.
    void WriteReaderCloseObject(std::int32_t rowHandle, std::int32_t commandHandle);
    // {"error":{"name":"name","code":code,"message":"message"[,"error":{}]}  -- the outer object
    // stays open, exactly as error replies are read.
    void WriteRpcError(std::u16string_view name, std::int32_t code, bool pairs,
                       std::u16string_view message);

    // Server side: a segment request {"more_blob":[cmd,blob,row,ordinal,rowHandle]} and flush.
    void WriteServerMoreBlobObject(std::int32_t commandHandle, std::int32_t blobHandle,
                                   std::int64_t row, std::int32_t ordinal, std::int32_t rowHandle);

    // Connection messages. Connect: {"method":"connect","params":[{  then the caller writes the
    // pairs with WriteNamedString and commas, then }, ], } and flushes.
    void WriteConnectObjectStart();
    // {"method":"disconnect","params":[h]} and flush.
    void WriteDisconnectObject(std::int32_t connectionHandle);
    // {"method":"vendor_property","params":["name"]} and flush.
    void WriteVendorProperty(std::u16string_view name);

  private:
    void Put(std::uint8_t byte) {
        if (used_ == buffer_.size())
            FlushFullBuffer();
        buffer_[used_++] = byte;
    }
    void FlushFullBuffer();
    void Send(std::size_t count);
    void WriteMethodStart(std::string_view method);

    TDbxChannel* channel_;
    int bufferSize_;
    TBufferDeBytes buffer_;
    std::size_t used_ = 0;  // FWriteBufferPosition + 1
};

}  // namespace ab
