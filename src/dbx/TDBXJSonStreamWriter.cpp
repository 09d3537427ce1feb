// TDBXJSonStreamWriter: buffered message composition.
#include "dbx/TDBXJSonStreamWriter.h"

#include <algorithm>
#include <cstring>

#include "dbx/DbxConstants.h"
#include "dbx/TDBXParameter.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXStreamReader.h"

namespace ab {

namespace {

// Decimal digits of a magnitude into the end of a scratch buffer; returns the first digit's index.
int FormatMagnitude(std::uint64_t magnitude, char (&digits)[20]) {
    int i = 20;
    do {
        digits[--i] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    return i;
}

}  // namespace

TDBXJSonStreamWriter::TDBXJSonStreamWriter(TDbxChannel* channel, int bufferSize)
    : channel_(channel), bufferSize_(bufferSize > 0 ? bufferSize : DefaultBufferSize) {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
}

void TDBXJSonStreamWriter::Open() {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
    used_ = 0;
}

int TDBXJSonStreamWriter::CalcRowBufferSize() const {
    return bufferSize_ >= 2048 ? bufferSize_ - 2048 : bufferSize_;
}

void TDBXJSonStreamWriter::Send(std::size_t count) {
    // A channel that can no longer write answers -1; the reply read that follows reports it.
    if (count > 0 && channel_)
        channel_->Write(std::span<const std::uint8_t>(buffer_.data(), count));
}

void TDBXJSonStreamWriter::FlushFullBuffer() {
    Send(buffer_.size());
    used_ = 0;
}

void TDBXJSonStreamWriter::Flush() {
    Send(used_);
    used_ = 0;
}

void TDBXJSonStreamWriter::WriteDataBytes(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (used_ == buffer_.size())
            FlushFullBuffer();
        const std::size_t n = std::min(bytes.size(), buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, bytes.data(), n);
        used_ += n;
        bytes = bytes.subspan(n);
    }
}

void TDBXJSonStreamWriter::WriteAscii(std::string_view ascii) {
    WriteDataBytes(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(ascii.data()), ascii.size()));
}

void TDBXJSonStreamWriter::WriteParamsStart() {
    WriteAscii(TDBXJSonBytes::ParamsStart);
}

void TDBXJSonStreamWriter::WriteInt(std::int32_t value) {
    WriteLong(value);
}

void TDBXJSonStreamWriter::WriteLong(std::int64_t value) {
    char digits[20];
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        Put('-');
        magnitude = 0 - magnitude;
    }
    const int first = FormatMagnitude(magnitude, digits);
    WriteAscii(std::string_view(digits + first, static_cast<std::size_t>(20 - first)));
}

void TDBXJSonStreamWriter::WriteBoolean(bool value) {
    WriteAscii(value ? TDBXJSonBytes::TrueValue : TDBXJSonBytes::FalseValue);
}

void TDBXJSonStreamWriter::WriteNull() {
    WriteAscii(TDBXJSonBytes::NullValue);
}

void TDBXJSonStreamWriter::WriteString(std::u16string_view text) {
    Put('"');
    for (const char16_t c : text) {
        switch (c) {
            case 8:
                Put('\\'), Put('b');
                break;
            case 9:
                Put('\\'), Put('t');
                break;
            case 10:
                Put('\\'), Put('n');
                break;
            case 12:
                Put('\\'), Put('f');
                break;
            case 13:
                Put('\\'), Put('r');
                break;
            case u'"':
                Put('\\'), Put('"');
                break;
            case u'\\':
                Put('\\'), Put('\\');
                break;
            default:
                if (c < 32 || c > 255) {
                    Put('\\');
                    Put('u');
                    Put(static_cast<std::uint8_t>(TDBXJSonBytes::Hex[(c >> 12) & 15]));
                    Put(static_cast<std::uint8_t>(TDBXJSonBytes::Hex[(c >> 8) & 15]));
                    Put(static_cast<std::uint8_t>(TDBXJSonBytes::Hex[(c >> 4) & 15]));
                    Put(static_cast<std::uint8_t>(TDBXJSonBytes::Hex[c & 15]));
                } else {
                    Put(static_cast<std::uint8_t>(c));
                }
        }
    }
    Put('"');
}

void TDBXJSonStreamWriter::WriteNamedString(std::u16string_view name, std::u16string_view value) {
    WriteString(name);
    WriteNameSeparator();
    WriteString(value);
}

void TDBXJSonStreamWriter::WriteMethodStart(std::string_view method) {
    WriteAscii(TDBXJSonBytes::MethodStart);
    WriteAscii(method);
    WriteAscii(TDBXJSonBytes::ParamsStart);
}

void TDBXJSonStreamWriter::WritePrepareStart(std::int32_t handle, bool updateable,
                                             std::u16string_view type, std::u16string_view text) {
    WriteMethodStart(TDBXJSonBytes::Prepare);
    WriteInt(handle);
    WriteValueSeparator();
    WriteBoolean(updateable);
    WriteValueSeparator();
    WriteString(type);
    WriteValueSeparator();
    WriteString(text);
}

void TDBXJSonStreamWriter::WriteParametersObjectStart(int count) {
    WriteAscii(TDBXJSonBytes::Parameters);
    WriteInt(count);
}

void TDBXJSonStreamWriter::WriteParameterMetadata(const TDBXParameter& p) {
    WriteArrayStart();
    WriteInt(p.GetDataType());
    WriteValueSeparator();
    WriteInt(p.GetSubType());
    WriteValueSeparator();
    WriteInt(p.GetParameterDirection());
    WriteValueSeparator();
    WriteLong(p.GetPrecision());
    WriteValueSeparator();
    WriteInt(p.GetScale());
    WriteValueSeparator();
    WriteString(p.GetName());
    WriteValueSeparator();
    WriteInt(p.GetChildPosition());
    WriteValueSeparator();
    WriteLong(p.GetSize());
    WriteValueSeparator();
    WriteInt(p.GetValueTypeFlags());
    if (p.GetValueTypeFlags() & TDBXValueTypeFlags::Literal) {
        WriteValueSeparator();
        WriteString(p.GetLiteral());
    }
    WriteArrayEnd();
}

void TDBXJSonStreamWriter::WriteParametersObject(const TDBXParameterList& parameters) {
    WriteParametersObjectStart(parameters.Count());
    for (int i = 0; i < parameters.Count(); ++i) {
        WriteValueSeparator();
        WriteParameterMetadata(parameters.GetParameterByOrdinal(i));
    }
    WriteArrayEnd();
    WriteObjectEnd();
}

void TDBXJSonStreamWriter::WriteExecuteStart() {
    WriteMethodStart(TDBXJSonBytes::Execute);
}

void TDBXJSonStreamWriter::WriteHandleObject(std::int32_t handle) {
    WriteAscii(TDBXJSonBytes::HandleStart);
    WriteInt(handle);
    WriteArrayEnd();
    WriteObjectEnd();
}

void TDBXJSonStreamWriter::WriteExecuteFieldsObject(std::int32_t handle, bool updateable,
                                                    std::u16string_view type,
                                                    std::u16string_view text) {
    WriteAscii(TDBXJSonBytes::FieldsStart);
    WriteInt(handle);
    WriteValueSeparator();
    WriteBoolean(updateable);
    WriteValueSeparator();
    WriteString(type);
    WriteValueSeparator();
    WriteString(text);
    WriteArrayEnd();
    WriteObjectEnd();
}

void TDBXJSonStreamWriter::WriteDataObject(std::span<const std::uint8_t> bytes) {
    WriteAscii(TDBXJSonBytes::DataStart);
    WriteInt(static_cast<std::int32_t>(bytes.size()));
    WriteValueSeparator();
    WriteDataBytes(bytes);
    WriteArrayEnd();
    WriteObjectEnd();
}

std::int32_t TDBXJSonStreamWriter::WriteDataObject(TDBXStreamReader& reader) {
    constexpr std::size_t kCountWidth = 9;
    constexpr std::size_t kOverhead = TDBXJSonBytes::DataStart.size() + kCountWidth + 1 + 2;
    // Pieces at least this large are sent from where they lie; smaller ones are cheaper to copy.
    constexpr std::size_t kMinSentInPlace = 4096;
    constexpr std::size_t kMaxParts = 8;
    if (buffer_.size() - used_ <= kOverhead)
        Flush();
    WriteAscii(TDBXJSonBytes::DataStart);
    const std::size_t countAt = used_;
    used_ += kCountWidth;
    buffer_[used_++] = ',';
    // The block is the buffer's pieces (copied bytes) interleaved with pieces shown by the reader.
    // Every byte copied takes one buffer byte and a piece shown takes none, so the room left after
    // the header (less two for "]}") bounds the bytes of the block either way.
    std::span<const std::uint8_t> parts[kMaxParts];
    std::size_t partCount = 0;
    std::size_t pieceStart = 0;  // where the buffer piece being filled starts
    auto endBufferPiece = [&] {
        if (used_ > pieceStart)
            parts[partCount++] =
                std::span<const std::uint8_t>(buffer_.data() + pieceStart, used_ - pieceStart);
        pieceStart = used_;
    };
    const std::size_t room = buffer_.size() - used_ - 2;
    std::size_t count = 0;
    bool last;
    try {
        while (count < room) {
            const std::span<const std::uint8_t> shown = reader.Peek();
            if (shown.size() >= kMinSentInPlace && partCount + 3 <= kMaxParts) {
                const std::size_t n = std::min(shown.size(), room - count);
                endBufferPiece();
                parts[partCount++] = shown.first(n);
                reader.Skip(n);
                count += n;
                continue;
            }
            const std::size_t n =
                reader.Read(std::span<std::uint8_t>(buffer_.data() + used_, room - count));
            if (n == 0)
                break;
            used_ += n;
            count += n;
        }
        last = reader.IsEos();
    } catch (...) {
        used_ = 0;
        if (channel_)
            channel_->Close();
        throw;
    }
    const std::int64_t signedCount =
        last ? -static_cast<std::int64_t>(count) : static_cast<std::int64_t>(count);
    char digits[20];
    const int first =
        FormatMagnitude(static_cast<std::uint64_t>(last ? -signedCount : signedCount), digits);
    std::size_t at = countAt;
    if (signedCount < 0)
        buffer_[at++] = '-';
    for (int i = first; i < 20; ++i)
        buffer_[at++] = static_cast<std::uint8_t>(digits[i]);
    while (at < countAt + kCountWidth)
        buffer_[at++] = ' ';
    buffer_[used_++] = ']';
    buffer_[used_++] = '}';
    endBufferPiece();
    // A channel that can no longer write answers -1; the reply read that follows reports it.
    if (channel_)
        channel_->WriteParts(std::span(parts, partCount));
    used_ = 0;
    return static_cast<std::int32_t>(signedCount);
}

void TDBXJSonStreamWriter::WriteCommandCloseObject(std::int32_t handle) {
    WriteMethodStart(TDBXJSonBytes::CommandClose);
    WriteInt(handle);
    WriteArrayEnd();
    WriteObjectEnd();
    Flush();
}

void TDBXJSonStreamWriter::WriteNextResultObject(std::int32_t handle) {
    WriteMethodStart(TDBXJSonBytes::NextResult);
    WriteInt(handle);
    WriteArrayEnd();
    WriteObjectEnd();
}

void TDBXJSonStreamWriter::WriteClientMoreBlobObject(std::int32_t commandHandle,
                                                     std::int32_t blobHandle, std::int64_t row,
                                                     std::int32_t ordinal, bool parameterRow,
                                                     std::int32_t rowHandle) {
    WriteMethodStart(TDBXJSonBytes::MoreBlob);
    WriteInt(commandHandle);
    WriteValueSeparator();
    WriteInt(blobHandle);
    WriteValueSeparator();
    WriteLong(row);
    WriteValueSeparator();
    WriteInt(ordinal);
    WriteValueSeparator();
    WriteBoolean(parameterRow);
    WriteValueSeparator();
    WriteInt(rowHandle);
    WriteArrayEnd();
    WriteObjectEnd();
    Flush();
}

void TDBXJSonStreamWriter::WriteClientNextObject(std::int32_t rowHandle, std::int64_t position,
                                                 std::int32_t commandHandle) {
    WriteMethodStart(TDBXJSonBytes::Next);
    WriteInt(rowHandle);
    WriteValueSeparator();
    WriteLong(position);
    WriteValueSeparator();
    WriteInt(commandHandle);
    WriteArrayEnd();
    WriteObjectEnd();
}

void TDBXJSonStreamWriter::WriteReaderCloseObject(std::int32_t rowHandle,
                                                  std::int32_t commandHandle) {
    WriteMethodStart(TDBXJSonBytes::ReaderClose);
    WriteInt(rowHandle);
    WriteValueSeparator();
    WriteInt(commandHandle);
    WriteArrayEnd();
    WriteObjectEnd();
    Flush();
}

void TDBXJSonStreamWriter::WriteRpcError(std::u16string_view name, std::int32_t code, bool pairs,
                                         std::u16string_view message) {
    WriteAscii(TDBXJSonBytes::ErrorStart);
    WriteString(name);
    WriteValueSeparator();
    WriteAscii(TDBXJSonBytes::CodeLabel);
    WriteInt(code);
    WriteValueSeparator();
    WriteAscii(TDBXJSonBytes::MessageLabel);
    WriteString(message);
    if (pairs)
        WriteAscii(",\"error\":{}");
    WriteObjectEnd();
}

void TDBXJSonStreamWriter::WriteServerMoreBlobObject(std::int32_t commandHandle,
                                                     std::int32_t blobHandle, std::int64_t row,
                                                     std::int32_t ordinal, std::int32_t rowHandle) {
    WriteObjectStart();
    WriteAscii(TDBXJSonBytes::MoreBlobStart);
    WriteInt(commandHandle);
    WriteValueSeparator();
    WriteInt(blobHandle);
    WriteValueSeparator();
    WriteLong(row);
    WriteValueSeparator();
    WriteInt(ordinal);
    WriteValueSeparator();
    WriteInt(rowHandle);
    WriteArrayEnd();
    WriteObjectEnd();
    Flush();
}

void TDBXJSonStreamWriter::WriteConnectObjectStart() {
    WriteMethodStart(TDBXJSonBytes::Connect);
    WriteObjectStart();
}

void TDBXJSonStreamWriter::WriteDisconnectObject(std::int32_t connectionHandle) {
    WriteMethodStart(TDBXJSonBytes::Disconnect);
    WriteInt(connectionHandle);
    WriteArrayEnd();
    WriteObjectEnd();
    Flush();
}

void TDBXJSonStreamWriter::WriteVendorProperty(std::u16string_view name) {
    WriteMethodStart(TDBXJSonBytes::VendorProperty);
    WriteString(name);
    WriteArrayEnd();
    WriteObjectEnd();
    Flush();
}

}  // namespace ab
