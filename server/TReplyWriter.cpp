// Reply composer (see the header).
#include "server/TReplyWriter.h"

#include <algorithm>

#include "platform/Text.h"
#include "server/TRequestReader.h"

namespace ab::server {

TReplyWriter::TReplyWriter(TDbxChannel& channel, std::size_t bufferSize)
    : channel_(channel), capacity_(std::max<std::size_t>(bufferSize, 16)) {}

void TReplyWriter::SetBufferSize(std::size_t bufferSize) {
    capacity_ = std::max<std::size_t>(bufferSize, 16);
}

void TReplyWriter::Send(std::span<const std::uint8_t> bytes) {
    if (channel_.Write(bytes) < 0)
        throw EConnectionClosed(u"Cannot write to the peer");
}

void TReplyWriter::Append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (buffer_.size() >= capacity_) {
            // Full buffers leave whole; a buffer left over-full by a smaller new size as well.
            const std::size_t full = buffer_.size() / capacity_ * capacity_;
            for (std::size_t at = 0; at < full; at += capacity_)
                Send(std::span(buffer_).subspan(at, capacity_));
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(full));
            continue;
        }
        const std::size_t n = std::min(bytes.size(), capacity_ - buffer_.size());
        buffer_.insert(buffer_.end(), bytes.begin(),
                       bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
    }
}

TReplyWriter& TReplyWriter::Raw(std::string_view text) {
    Append(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return *this;
}

TReplyWriter& TReplyWriter::Int(std::int64_t value) {
    return Raw(std::to_string(value));
}

TReplyWriter& TReplyWriter::Bool(bool value) {
    return Raw(value ? "true" : "false");
}

TReplyWriter& TReplyWriter::String(std::u16string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    Raw("\"");
    for (const char16_t ch : text) {
        switch (ch) {
            case 8:
                Raw("\\b");
                break;
            case 9:
                Raw("\\t");
                break;
            case 10:
                Raw("\\n");
                break;
            case 12:
                Raw("\\f");
                break;
            case 13:
                Raw("\\r");
                break;
            case u'"':
                Raw("\\\"");
                break;
            case u'\\':
                Raw("\\\\");
                break;
            default:
                if (ch < 32 || ch > 255) {
                    const char esc[] = {'\\',
                                        'u',
                                        kHex[(ch >> 12) & 15],
                                        kHex[(ch >> 8) & 15],
                                        kHex[(ch >> 4) & 15],
                                        kHex[ch & 15]};
                    Raw(std::string_view(esc, sizeof esc));
                } else {
                    const std::uint8_t byte = static_cast<std::uint8_t>(ch);
                    Append(std::span(&byte, 1));
                }
        }
    }
    Raw("\"");
    return *this;
}

TReplyWriter& TReplyWriter::Bytes(std::span<const std::uint8_t> bytes) {
    Append(bytes);
    return *this;
}

TReplyWriter& TReplyWriter::DataObject(std::int64_t count, std::span<const std::uint8_t> bytes) {
    return Raw("{\"data\":[").Int(count).Raw(",").Bytes(bytes).Raw("]}");
}

void TReplyWriter::Error(std::string_view name, int code, std::u16string_view message) {
    Raw("{\"error\":{\"name\":").String(FromUtf8(name)).Raw(",\"code\":").Int(code);
    Raw(",\"message\":").String(message).Raw("}");
    Flush();
}

void TReplyWriter::Flush() {
    if (buffer_.empty())
        return;
    // Emptied also when the write fails: nothing is sent twice.
    struct Clear {
        std::vector<std::uint8_t>& b;
        ~Clear() { b.clear(); }
    } clear{buffer_};
    Send(buffer_);
}

}  // namespace ab::server
