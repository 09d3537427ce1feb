// Reply composer (see the header).
#include "server/TReplyWriter.h"

#include "platform/Text.h"
#include "server/TRequestReader.h"

namespace ab::server {

TReplyWriter& TReplyWriter::Raw(std::string_view text) {
    buffer_.insert(buffer_.end(), text.begin(), text.end());
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
    buffer_.push_back('"');
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
                    buffer_.push_back(static_cast<std::uint8_t>(ch));
                }
        }
    }
    buffer_.push_back('"');
    return *this;
}

TReplyWriter& TReplyWriter::Bytes(std::span<const std::uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
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
    std::vector<std::uint8_t> out;
    out.swap(buffer_);
    if (channel_.Write(out) < 0)
        throw EConnectionClosed(u"Cannot write to the peer");
}

}  // namespace ab::server
