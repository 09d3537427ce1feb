// TDBXJSonStreamReader: token-level reading of protocol messages from the channel.
#include "dbx/TDBXJSonStreamReader.h"

#include <algorithm>
#include <cstring>

#include "dbx/DbxConstants.h"
#include "dbx/TDBXError.h"
#include "platform/Text.h"

namespace ab {

namespace {

// Codes of the reader's own errors.
constexpr int kReadError = 1;
constexpr int kSyntaxError = 2;
// A raw block part at least this large is read straight into its destination once the buffer is
// drained; below it, one buffered read that may also bring the next message is cheaper.
constexpr std::size_t kDirectReadMin = 4096;

bool IsWhiteSpace(std::uint8_t b) {
    return b == 9 || b == 10 || b == 13 || b == 32;
}

bool IsNumberByte(std::uint8_t b) {
    return (b >= '0' && b <= '9') || b == '+' || b == '-' || b == '.' || b == 'E' || b == 'e';
}

}  // namespace

TDBXJSonStreamReader::TDBXJSonStreamReader(TDbxChannel* channel, int bufferSize)
    : channel_(channel), bufferSize_(bufferSize > 0 ? bufferSize : DefaultBufferSize) {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
}

void TDBXJSonStreamReader::Open() {
    buffer_.resize(static_cast<std::size_t>(bufferSize_));
    pos_ = -1;
    last_ = -1;
}

void TDBXJSonStreamReader::Fill() {
    const int n = channel_ ? channel_->Read(std::span<std::uint8_t>(buffer_)) : -1;
    if (n <= 0 || n > bufferSize_) {
        pos_ = last_;
        throw TDBXError(kReadError, u"Read error");
    }
    pos_ = -1;
    last_ = n - 1;
}

std::uint8_t TDBXJSonStreamReader::SkipWhiteSpace() {
    for (;;) {
        const std::uint8_t b = Peek();
        if (!IsWhiteSpace(b))
            return b;
        ++pos_;
    }
}

std::u16string TDBXJSonStreamReader::Dump() const {
    std::u16string out = u"\n";
    for (int i = 0; i <= last_; ++i) {
        const std::uint8_t b = buffer_[static_cast<std::size_t>(i)];
        if (b >= 32 && b <= 126) {
            out.push_back(static_cast<char16_t>(b));
        } else {
            out.push_back(u'#');
            out += IntToStr(b);
        }
    }
    return out;
}

void TDBXJSonStreamReader::FailUnexpectedToken(int expected, int found) {
    std::u16string message = u"Expected:  '";
    message += TDBXTokens::TokenText(expected);
    message += u"' found:  '";
    message += TDBXTokens::TokenText(found);
    message += u"' at position:  " + IntToStr(pos_) + Dump();
    pos_ = last_;
    throw TDBXError(kSyntaxError, std::move(message));
}

void TDBXJSonStreamReader::FailExpectedWord(std::u16string_view word) {
    std::u16string message = u"Expected:  '";
    message += word;
    message += u" at position:  " + IntToStr(pos_) + Dump();
    pos_ = last_;
    throw TDBXError(kSyntaxError, std::move(message));
}

void TDBXJSonStreamReader::FailUnexpectedByte() {
    std::u16string message = u"Unexpected byte at position:  " + IntToStr(pos_) + Dump();
    pos_ = last_;
    throw TDBXError(kSyntaxError, std::move(message));
}

void TDBXJSonStreamReader::ExpectWord(std::string_view rest, std::u16string_view word) {
    for (const char c : rest) {
        if (Take() != static_cast<std::uint8_t>(c))
            FailExpectedWord(word);
    }
}

int TDBXJSonStreamReader::ClassifyByte(std::uint8_t b) const {
    switch (b) {
        case '{':
            return TDBXTokens::TokenObjectStart;
        case '}':
            return TDBXTokens::TokenObjectEnd;
        case '[':
            return TDBXTokens::TokenArrayStart;
        case ']':
            return TDBXTokens::TokenArrayEnd;
        case ':':
            return TDBXTokens::TokenNameSeparator;
        case ',':
            return TDBXTokens::TokenValueSeparator;
        case '"':
            return TDBXTokens::TokenStringStart;
        case 't':
            return TDBXTokens::TokenTrue;
        case 'f':
            return TDBXTokens::TokenFalse;
        case 'n':
            return TDBXTokens::TokenNull;
        default:
            return TDBXTokens::TokenNumber;
    }
}

int TDBXJSonStreamReader::Next() {
    SkipWhiteSpace();
    const std::uint8_t b = Take();
    token_ = ClassifyByte(b);
    switch (token_) {
        case TDBXTokens::TokenTrue:
            ExpectWord("rue", u"true");
            booleanValue_ = true;
            break;
        case TDBXTokens::TokenFalse:
            ExpectWord("alse", u"false");
            booleanValue_ = false;
            break;
        case TDBXTokens::TokenNull:
            ExpectWord("ull", u"null");
            break;
        default:
            break;
    }
    return token_;
}

void TDBXJSonStreamReader::Next(int expected) {
    const int found = Next();
    if (found != expected)
        FailUnexpectedToken(expected, found);
}

void TDBXJSonStreamReader::NextValueSeparator() {
    Next(TDBXTokens::TokenValueSeparator);
}

std::uint64_t TDBXJSonStreamReader::ReadNumber(bool& negative) {
    negative = false;
    std::uint64_t value = 0;
    bool first = true;
    for (;;) {
        const std::uint8_t b = Peek();
        if (!IsNumberByte(b)) {
            if (first && b != ']')
                FailUnexpectedByte();
            return value;
        }
        ++pos_;
        if (first && (b == '-' || b == '+')) {
            negative = b == '-';
        } else if (b >= '0' && b <= '9') {
            value = value * 10 + static_cast<std::uint64_t>(b - '0');
        }
        first = false;
    }
}

std::int32_t TDBXJSonStreamReader::ReadInt() {
    bool negative = false;
    std::uint32_t value = static_cast<std::uint32_t>(ReadNumber(negative));
    if (negative)
        value = 0u - value;
    return static_cast<std::int32_t>(value);
}

std::int64_t TDBXJSonStreamReader::ReadLong() {
    bool negative = false;
    std::uint64_t value = ReadNumber(negative);
    if (negative)
        value = 0u - value;
    return static_cast<std::int64_t>(value);
}

bool TDBXJSonStreamReader::ReadBoolean() {
    const int token = Next();
    if (token == TDBXTokens::TokenTrue)
        return true;
    if (token == TDBXTokens::TokenFalse)
        return false;
    FailUnexpectedToken(TDBXTokens::TokenTrue, token);
}

void TDBXJSonStreamReader::ReadStringBody() {
    stringValue_.clear();
    for (;;) {
        const std::uint8_t b = Take();
        if (b == '"')
            break;
        if (b != '\\') {
            stringValue_.push_back(static_cast<char16_t>(b));
            continue;
        }
        const std::uint8_t e = Take();
        switch (e) {
            case 'b':
                stringValue_.push_back(8);
                break;
            case 'f':
                stringValue_.push_back(12);
                break;
            case 'n':
                stringValue_.push_back(10);
                break;
            case 'r':
                stringValue_.push_back(13);
                break;
            case 't':
                stringValue_.push_back(9);
                break;
            case 'u': {
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = HexDigitValue(Take());
                    if (digit < 0)
                        FailUnexpectedByte();
                    code = code * 16 + static_cast<unsigned>(digit);
                }
                stringValue_.push_back(static_cast<char16_t>(code));
                break;
            }
            default:
                stringValue_.push_back(static_cast<char16_t>(e));
                break;
        }
    }
    token_ = TDBXTokens::TokenStringEnd;
}

const std::u16string& TDBXJSonStreamReader::ReadString() {
    if (token_ != TDBXTokens::TokenStringStart) {
        while (Take() != '"') {
        }
    }
    ReadStringBody();
    return stringValue_;
}

int TDBXJSonStreamReader::ReadStringCode() {
    // The key stays readable through GetStringValue, so callers can report or branch on it.
    return TDBXStringCodes::CodeOf(ReadString());
}

void TDBXJSonStreamReader::ReadDataBytes(std::span<std::uint8_t> dest) {
    std::size_t done = 0;
    while (done < dest.size()) {
        if (pos_ >= last_ && dest.size() - done >= kDirectReadMin) {
            // A large raw block goes straight from the channel to its destination: the read
            // buffer would only add a copy. What is read never exceeds the block.
            const std::size_t want =
                std::min(dest.size() - done, static_cast<std::size_t>(bufferSize_));
            const int n = channel_ ? channel_->Read(dest.subspan(done, want)) : -1;
            if (n <= 0 || static_cast<std::size_t>(n) > want) {
                pos_ = last_;
                throw TDBXError(kReadError, u"Read error");
            }
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (pos_ >= last_)
            Fill();
        const std::size_t n = std::min(dest.size() - done, static_cast<std::size_t>(last_ - pos_));
        std::memcpy(dest.data() + done, buffer_.data() + pos_ + 1, n);
        pos_ += static_cast<int>(n);
        done += n;
    }
}

void TDBXJSonStreamReader::SkipDataBytes(std::int64_t count) {
    while (count > 0) {
        if (pos_ >= last_)
            Fill();
        const std::int64_t n = std::min<std::int64_t>(count, last_ - pos_);
        pos_ += static_cast<int>(n);
        count -= n;
    }
}

void TDBXJSonStreamReader::AppendDataBytes(std::vector<std::uint8_t>& dest, std::int64_t count) {
    AppendTo(dest, count);
}

void TDBXJSonStreamReader::AppendDataBytes(TBufferDeBytes& dest, std::int64_t count) {
    AppendTo(dest, count);
}

template <class Bytes>
void TDBXJSonStreamReader::AppendTo(Bytes& dest, std::int64_t count) {
    // Grow with what has actually arrived, never by the announced count.
    while (count > 0) {
        if (pos_ >= last_)
            Fill();
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(count, last_ - pos_));
        const std::uint8_t* from = buffer_.data() + pos_ + 1;
        dest.insert(dest.end(), from, from + n);
        pos_ += static_cast<int>(n);
        count -= static_cast<std::int64_t>(n);
    }
}

// Skips to the close token matching an open one already read; strings are passed over whole
// so brackets inside them do not count.
void TDBXJSonStreamReader::SkipToClose(int open, int close) {
    int depth = 1;
    while (depth > 0) {
        const int token = Next();
        if (token == open) {
            ++depth;
        } else if (token == close) {
            --depth;
        } else if (token == TDBXTokens::TokenStringStart) {
            while (Take() != '"') {
            }
        }
    }
}

void TDBXJSonStreamReader::SkipToEndOfObject() {
    SkipToClose(TDBXTokens::TokenObjectStart, TDBXTokens::TokenObjectEnd);
}

void TDBXJSonStreamReader::SkipToEndOfArray() {
    SkipToClose(TDBXTokens::TokenArrayStart, TDBXTokens::TokenArrayEnd);
}

void TDBXJSonStreamReader::SkipToObjectStart() {
    for (;;) {
        const std::uint8_t b = SkipWhiteSpace();
        if (b == 0xB7) {
            // Data-store header: total length from the B7 byte, then a flag that must not be 0.
            ++pos_;
            std::uint32_t length = 0;
            std::uint32_t flag = 0;
            for (int i = 0; i < 4; ++i)
                length = (length << 8) | Take();
            for (int i = 0; i < 4; ++i)
                flag = (flag << 8) | Take();
            if (flag == 0)
                throw Exception(u"Server uses unsupported streaming protocol");
            const std::int64_t signedLength = static_cast<std::int32_t>(length);
            SkipDataBytes(signedLength - 9);
            continue;
        }
        ++pos_;
        if (b != '{')
            FailUnexpectedToken(TDBXTokens::TokenObjectStart, ClassifyByte(b));
        token_ = TDBXTokens::TokenObjectStart;
        return;
    }
}

int TDBXJSonStreamReader::NextObjectKey() {
    SkipToObjectStart();
    if (SkipWhiteSpace() != '"')
        FailUnexpectedByte();
    ++pos_;
    ReadStringBody();
    return TDBXStringCodes::CodeOf(stringValue_);
}

void TDBXJSonStreamReader::NextResultObjectStart() {
    SkipToObjectStart();
    if (SkipWhiteSpace() != '"')
        FailUnexpectedByte();
    ++pos_;
    const std::uint8_t first = Take();
    if (first == 'e') {
        ExpectWord("rror\"", u"\"error\"");
        ReadErrorBody();
    }
    if (first != 'r')
        FailExpectedWord(u"\"result\"");
    ExpectWord("esult\"", u"\"result\"");
    SkipWhiteSpace();
    if (Take() != ':')
        FailExpectedWord(u":");
    token_ = TDBXTokens::TokenNameSeparator;
}

void TDBXJSonStreamReader::ReadErrorBody() {
    Next(TDBXTokens::TokenNameSeparator);
    Next(TDBXTokens::TokenObjectStart);
    Next(TDBXTokens::TokenStringStart);
    std::int32_t code = kSyntaxError;  // the code when the peer sends none
    std::u16string message = u"unknown error";
    for (;;) {
        const std::u16string key = ReadString();
        Next(TDBXTokens::TokenNameSeparator);
        if (key == u"code") {
            code = ReadInt();
        } else if (key == u"error") {
            Next(TDBXTokens::TokenObjectStart);
            SkipToEndOfObject();
        } else {
            const std::u16string& value = ReadString();
            if (key == u"message")
                message = value;
        }
        const int token = Next();
        if (token == TDBXTokens::TokenObjectEnd)
            break;
        if (token != TDBXTokens::TokenValueSeparator)
            FailUnexpectedToken(TDBXTokens::TokenObjectEnd, token);
        Next(TDBXTokens::TokenStringStart);
    }
    throw TDBXError(code, std::move(message));
}

std::int32_t TDBXJSonStreamReader::ReadIntResultObject() {
    NextResultObjectStart();
    Next(TDBXTokens::TokenArrayStart);
    const std::int32_t value = ReadInt();
    SkipToEndOfObject();
    return value;
}

std::int32_t TDBXJSonStreamReader::ReadDataObjectStart() {
    Next(TDBXTokens::TokenObjectStart);
    Next(TDBXTokens::TokenStringStart);
    const int code = ReadStringCode();
    if (code == TDBXStringCodes::Error)
        ReadErrorBody();
    if (code != TDBXStringCodes::Data)
        FailExpectedWord(u"\"data\"");
    Next(TDBXTokens::TokenNameSeparator);
    Next(TDBXTokens::TokenArrayStart);
    const std::int32_t count = ReadInt();
    NextValueSeparator();
    return count;
}

void TDBXJSonStreamReader::ReadDataObjectEnd() {
    Next(TDBXTokens::TokenArrayEnd);
    Next(TDBXTokens::TokenObjectEnd);
}

std::int32_t TDBXJSonStreamReader::ReadDataBlock(std::vector<std::uint8_t>& dest,
                                                 std::int64_t maxBytes) {
    const std::int32_t count = ReadDataObjectStart();
    const std::int64_t size = count < 0 ? -static_cast<std::int64_t>(count) : count;
    if (size > maxBytes)
        throw TDBXError(TDBXErrorCodes::InvalidLength);
    AppendDataBytes(dest, size);
    ReadDataObjectEnd();
    return count;
}

}  // namespace ab
