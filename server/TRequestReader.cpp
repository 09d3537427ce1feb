// Token reader for client requests (see the header).
#include "server/TRequestReader.h"

#include <algorithm>
#include <cstring>

#include "platform/Text.h"
#include "server/ServerConstants.h"

namespace ab::server {

TRequestReader::TRequestReader(TDbxChannel& channel, std::size_t bufferSize)
    : channel_(channel), capacity_(std::max<std::size_t>(bufferSize, 16)), buffer_(capacity_) {}

void TRequestReader::SetBufferSize(std::size_t bufferSize) {
    capacity_ = std::max<std::size_t>(bufferSize, 16);
    // The unread bytes move to the front of a buffer of the new size (or of their own size).
    std::vector<std::uint8_t> next(std::max(capacity_, end_ - pos_));
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_),
              buffer_.begin() + static_cast<std::ptrdiff_t>(end_), next.begin());
    end_ -= pos_;
    pos_ = 0;
    buffer_.swap(next);
}

void TRequestReader::Unread(std::span<const std::uint8_t> bytes) {
    // Only used before the first read: the buffer is empty then.
    std::vector<std::uint8_t> rest(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                   buffer_.begin() + static_cast<std::ptrdiff_t>(end_));
    std::vector<std::uint8_t> joined(bytes.begin(), bytes.end());
    joined.insert(joined.end(), rest.begin(), rest.end());
    if (joined.size() > buffer_.size())
        buffer_.resize(joined.size());
    std::copy(joined.begin(), joined.end(), buffer_.begin());
    pos_ = 0;
    end_ = joined.size();
}

void TRequestReader::Fill() {
    // A buffer grown to hold unread bytes returns to its size once they are consumed.
    if (buffer_.size() != capacity_)
        buffer_.assign(capacity_, 0);
    const int n = channel_.Read(std::span<std::uint8_t>(buffer_.data(), capacity_));
    if (n <= 0)
        throw EConnectionClosed(u"Connection closed by the peer");
    pos_ = 0;
    end_ = std::min(static_cast<std::size_t>(n), capacity_);
}

std::uint8_t TRequestReader::Peek() {
    if (pos_ == end_)
        Fill();
    return buffer_[pos_];
}

void TRequestReader::SetLimit(std::uint64_t total, std::u16string why) {
    limit_ = total;
    limitWhy_ = std::move(why);
}

void TRequestReader::Allow(std::size_t count) {
    if (limit_ > 0 && consumed_ + count > limit_)
        throw EProtocolError(limitWhy_);
}

std::size_t TRequestReader::DiscardBuffered() {
    const std::size_t n = end_ - pos_;
    pos_ = end_;
    return n;
}

std::uint8_t TRequestReader::Get() {
    Allow(1);
    const std::uint8_t b = Peek();
    ++pos_;
    ++consumed_;
    return b;
}

void TRequestReader::Fail(const std::string& what) {
    throw EProtocolError(FromUtf8(what + " at position " + std::to_string(consumed_)));
}

void TRequestReader::SkipWhiteSpace() {
    for (;;) {
        const std::uint8_t b = Peek();
        if (b != 9 && b != 10 && b != 13 && b != 32)
            return;
        Get();
    }
}

bool TRequestReader::WaitForMessage() {
    try {
        SkipWhiteSpace();
        return true;
    } catch (const EConnectionClosed&) {
        return false;
    }
}

char TRequestReader::PeekToken() {
    SkipWhiteSpace();
    return static_cast<char>(Peek());
}

void TRequestReader::Expect(char token) {
    if (PeekToken() != token)
        Fail(std::string("expected '") + token + "'");
    Get();
}

bool TRequestReader::Accept(char token) {
    if (PeekToken() != token)
        return false;
    Get();
    return true;
}

std::u16string TRequestReader::ReadString() {
    Expect('"');
    std::u16string out;
    for (;;) {
        if (out.size() > kMaxStringBytes)
            Fail("string too long");
        const std::uint8_t b = Get();
        if (b == '"')
            return out;
        if (b != '\\') {
            out += static_cast<char16_t>(b);
            continue;
        }
        const std::uint8_t e = Get();
        switch (e) {
            case 'b':
                out += u'\b';
                break;
            case 'f':
                out += u'\f';
                break;
            case 'n':
                out += u'\n';
                break;
            case 'r':
                out += u'\r';
                break;
            case 't':
                out += u'\t';
                break;
            case 'u': {
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const std::uint8_t h = Get();
                    unsigned digit;
                    if (h >= '0' && h <= '9')
                        digit = h - '0';
                    else if (h >= 'a' && h <= 'f')
                        digit = h - 'a' + 10;
                    else if (h >= 'A' && h <= 'F')
                        digit = h - 'A' + 10;
                    else
                        Fail("bad \\u escape");
                    code = code * 16 + digit;
                }
                out += static_cast<char16_t>(code);
                break;
            }
            default:
                out += static_cast<char16_t>(e);
                break;
        }
    }
}

std::u16string TRequestReader::ReadKey() {
    std::u16string key = ReadString();
    Expect(':');
    return key;
}

std::int64_t TRequestReader::ReadInt() {
    SkipWhiteSpace();
    bool negative = false;
    if (Peek() == '-' || Peek() == '+')
        negative = Get() == '-';
    if (Peek() < '0' || Peek() > '9')
        Fail("expected a number");
    std::uint64_t value = 0;
    while (Peek() >= '0' && Peek() <= '9') {
        value = value * 10 + (Get() - '0');
        if (value > (1ULL << 62))
            Fail("number too large");
    }
    const auto v = static_cast<std::int64_t>(value);
    return negative ? -v : v;
}

bool TRequestReader::ReadBool() {
    const char first = PeekToken();
    const char* word = first == 't' ? "true" : first == 'f' ? "false" : nullptr;
    if (!word)
        Fail("expected true or false");
    for (const char* p = word; *p; ++p)
        if (Get() != static_cast<std::uint8_t>(*p))
            Fail(std::string("expected ") + word);
    return first == 't';
}

void TRequestReader::ReadRaw(std::size_t count, std::vector<std::uint8_t>& out) {
    while (count > 0) {
        if (pos_ == end_)
            Fill();
        const std::size_t n = std::min(count, end_ - pos_);
        Allow(n);
        out.insert(out.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_),
                   buffer_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        consumed_ += n;
        count -= n;
    }
}

std::span<const std::uint8_t> TRequestReader::ReadSome(std::size_t max) {
    if (pos_ == end_)
        Fill();
    const std::size_t n = std::min(max, end_ - pos_);
    Allow(n);
    const std::span<const std::uint8_t> piece(buffer_.data() + pos_, n);
    pos_ += n;
    consumed_ += n;
    return piece;
}

void TRequestReader::SkipValue() {
    SkipValue(0);
}

void TRequestReader::SkipValue(std::size_t depth) {
    if (depth > kMaxSkipDepth)
        Fail("nesting too deep");
    const char c = PeekToken();
    if (c == '"') {
        ReadString();
    } else if (c == '{' || c == '[') {
        const char close = c == '{' ? '}' : ']';
        Get();
        if (Accept(close))
            return;
        do {
            if (c == '{')
                ReadKey();
            SkipValue(depth + 1);
        } while (Accept(','));
        Expect(close);
    } else if (c == 't' || c == 'f') {
        ReadBool();
    } else if (c == 'n') {
        for (const char* p = "null"; *p; ++p)
            if (Get() != static_cast<std::uint8_t>(*p))
                Fail("expected null");
    } else {
        ReadInt();
    }
}

}  // namespace ab::server
