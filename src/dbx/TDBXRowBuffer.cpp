// TDBXRowBuffer: field encodings, inline allowance, bounded field stepping and the execution state.
#include "dbx/TDBXRowBuffer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "dbx/TDBXClientBlobReader.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TDBXStreamReader.h"
#include "dbx/TDBXStringDecoder.h"
#include "dbx/TDBXStringEncoder.h"

namespace ab {

namespace {

constexpr std::size_t kByteFieldReserve = 1027;
constexpr std::size_t kStringFieldReserve = 1038;
constexpr std::size_t kDecodeChunk = 32768;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

int MagnitudeBytes(std::uint64_t magnitude) {
    int k = 0;
    while (magnitude != 0) {
        ++k;
        magnitude >>= 8;
    }
    return k;
}

// A packed integer (short header with sign bit) at p with n bytes available; returns the value
// and stores the length used. Fails on any other form.
std::int64_t DecodePacked(const std::uint8_t* p, std::size_t n, std::size_t& used) {
    if (n == 0)
        throw TDBXError(TDBXErrorCodes::None, u"Unexpected header");
    const std::uint8_t h = p[0];
    const std::size_t k = h & 0x1F;
    if ((h & 0xA0) != 0x20 || k > 8 || 1 + k > n)
        throw TDBXError(TDBXErrorCodes::None, u"Unexpected header");
    std::uint64_t magnitude = 0;
    for (std::size_t i = 0; i < k; ++i)
        magnitude = (magnitude << 8) | p[1 + i];
    used = 1 + k;
    if ((h & 0x40) == 0)
        magnitude = 0 - magnitude;
    return static_cast<std::int64_t>(magnitude);
}

}  // namespace

TDBXRowBuffer::TDBXRowBuffer(int minBufSize) : minBufSize_(std::max(minBufSize, 0)) {
    buf_.resize(static_cast<std::size_t>(minBufSize_));
}

void TDBXRowBuffer::SetClient(TDBXJSonStreamWriter* writer, TDBXJSonStreamReader* reader,
                              bool parameterRow, std::int32_t rowHandle) {
    writer_ = writer;
    reader_ = reader;
    parameterRow_ = parameterRow;
    rowHandle_ = rowHandle;
}

void TDBXRowBuffer::FailLength() {
    throw TDBXError(TDBXErrorCodes::InvalidLength);
}
void TDBXRowBuffer::FailHeader() {
    throw TDBXError(TDBXErrorCodes::None, u"Unexpected header");
}

// ---- writing ----

void TDBXRowBuffer::EnsureFree(std::size_t bytes) {
    if (buf_.size() - off_ < bytes)
        buf_.resize(buf_.size() + bytes);
}

int TDBXRowBuffer::InlineAllowance() const {
    std::size_t allowance;
    if (off_ + MaxInline + 3 > static_cast<std::size_t>(minBufSize_)) {
        allowance = MaxInline;
    } else {
        allowance = buf_.size() - off_ - 3;
    }
    return static_cast<int>(std::min<std::size_t>(allowance, MaxInlineLength));
}

void TDBXRowBuffer::WriteNull() {
    EnsureFree(1);
    Put(0xC0);
}

void TDBXRowBuffer::WriteBoolean(bool value) {
    EnsureFree(1);
    Put(value ? 0x60 : 0x20);
}

void TDBXRowBuffer::WritePacked(std::int64_t value) {
    const bool negative = value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const int k = MagnitudeBytes(magnitude);
    EnsureFree(static_cast<std::size_t>(1 + k));
    Put(static_cast<std::uint8_t>((negative ? 0x20 : 0x60) + k));
    for (int i = k - 1; i >= 0; --i)
        Put(static_cast<std::uint8_t>(magnitude >> (8 * i)));
}

void TDBXRowBuffer::WriteInt32(std::int32_t value) {
    WritePacked(value);
}
void TDBXRowBuffer::WriteInt64(std::int64_t value) {
    WritePacked(value);
}

void TDBXRowBuffer::WriteDouble(double value) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const std::uint64_t pattern = bits & ~(std::uint64_t{1} << 63);
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(pattern >> (56 - 8 * i));
    int k = 8;
    while (k > 0 && bytes[k - 1] == 0)
        --k;
    EnsureFree(static_cast<std::size_t>(1 + k));
    Put(static_cast<std::uint8_t>((negative ? 0x20 : 0x60) + k));
    for (int i = 0; i < k; ++i)
        Put(bytes[i]);
}

void TDBXRowBuffer::WriteSingle(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const bool negative = (bits >> 31) != 0;
    const std::uint32_t pattern = bits & 0x7FFFFFFFu;
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(pattern >> (24 - 8 * i));
    int k = 4;
    while (k > 0 && bytes[k - 1] == 0)
        --k;
    EnsureFree(static_cast<std::size_t>(1 + k));
    Put(static_cast<std::uint8_t>((negative ? 0x20 : 0x60) + k));
    for (int i = 0; i < k; ++i)
        Put(bytes[i]);
}

void TDBXRowBuffer::WriteDate(int year, int month, int day) {
    WritePacked(static_cast<std::int64_t>(year) * 512 + month * 32 + day);
}

void TDBXRowBuffer::WriteTime(std::int32_t millisecondsOfDay) {
    WritePacked(millisecondsOfDay);
}

void TDBXRowBuffer::WriteTimestamp(const TDBXTimeStamp& v) {
    const std::int64_t days =
        DaysFromCivil(v.year, static_cast<unsigned>(v.month), static_cast<unsigned>(v.day));
    const std::int64_t ms = days * 86400000 + static_cast<std::int64_t>(v.hour) * 3600000 +
                            static_cast<std::int64_t>(v.minute) * 60000 +
                            static_cast<std::int64_t>(v.second) * 1000;
    // Header placeholder, then the packed milliseconds and the optional nanoseconds.
    EnsureFree(1);
    const std::size_t headerAt = off_;
    Put(0x20);
    WritePacked(ms);
    if (v.fraction != 0) {
        const std::uint32_t ns = static_cast<std::uint32_t>(v.fraction) * 1000000u;
        EnsureFree(4);
        for (int i = 3; i >= 0; --i)
            Put(static_cast<std::uint8_t>(ns >> (8 * i)));
    }
    buf_[headerAt] = static_cast<std::uint8_t>(0x20 + (off_ - headerAt - 1));
}

void TDBXRowBuffer::WriteCallback(bool set) {
    EnsureFree(1);
    Put(set ? 0x02 : 0xC0);
}

bool TDBXRowBuffer::WriteString(std::u16string_view text, std::vector<std::uint8_t>* overflow) {
    const std::size_t allowance = static_cast<std::size_t>(InlineAllowance());
    EnsureFree(kStringFieldReserve);
    const std::vector<std::uint8_t> encoded = TDBXStringEncoder::Encode(text);
    const std::size_t n = encoded.size();
    if (n <= allowance) {
        if (n <= 31) {
            Put(static_cast<std::uint8_t>(0x20 + n));
        } else {
            Put(0x10);
            Put(static_cast<std::uint8_t>(n >> 8));
            Put(static_cast<std::uint8_t>(n & 0xFF));
        }
        if (n > 0)
            std::memcpy(buf_.data() + off_, encoded.data(), n);
        off_ += n;
        lastInlineCount_ = static_cast<int>(n);
        if (overflow)
            overflow->clear();
        return true;
    }
    Put(0x50);
    Put(static_cast<std::uint8_t>(allowance >> 8));
    Put(static_cast<std::uint8_t>(allowance & 0xFF));
    std::memcpy(buf_.data() + off_, encoded.data(), allowance);
    off_ += allowance;
    lastInlineCount_ = static_cast<int>(allowance);
    if (overflow)
        overflow->assign(encoded.begin() + static_cast<std::ptrdiff_t>(allowance), encoded.end());
    return false;
}

std::size_t TDBXRowBuffer::WriteBytes(TDBXStreamReader& reader) {
    const std::size_t allowance = static_cast<std::size_t>(InlineAllowance());
    EnsureFree(kByteFieldReserve);
    const std::size_t start = off_;
    std::size_t count = 0;
    while (count < allowance) {
        const std::size_t n = reader.Read(
            std::span<std::uint8_t>(buf_.data() + start + 3 + count, allowance - count));
        if (n == 0)
            break;
        count += n;
    }
    lastInlineCount_ = static_cast<int>(count);
    if (count == 0) {
        Put(0x20);
        return 0;
    }
    buf_[start] = reader.IsEos() ? 0x10 : 0x50;
    buf_[start + 1] = static_cast<std::uint8_t>(count >> 8);
    buf_[start + 2] = static_cast<std::uint8_t>(count & 0xFF);
    off_ = start + 3 + count;
    return count;
}

void TDBXRowBuffer::WriteJSON(std::string_view ascii) {
    const std::size_t n = ascii.size();
    EnsureFree(5 + n);
    Put(0x40);
    for (int i = 3; i >= 0; --i)
        Put(static_cast<std::uint8_t>(n >> (8 * i)));
    std::memcpy(buf_.data() + off_, ascii.data(), n);
    off_ += n;
}

// ---- reading ----

void TDBXRowBuffer::ReadDataBytes(TDBXJSonStreamReader& reader, std::int64_t count) {
    if (count < 0)
        count = -count;
    if (count > TDBXJSonStreamReader::MaxDataBlockSize)
        FailLength();
    const std::size_t n = static_cast<std::size_t>(count);
    const std::size_t direct = std::min(n, buf_.size());
    reader.ReadDataBytes(std::span<std::uint8_t>(buf_.data(), direct));
    if (n > direct) {
        // Grows only as the bytes arrive.
        buf_.resize(direct);
        reader.AppendDataBytes(buf_, static_cast<std::int64_t>(n - direct));
    }
    length_ = n;
    SetRowStart(0, 0);
}

void TDBXRowBuffer::SetRowBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > buf_.size())
        buf_.resize(bytes.size());
    if (!bytes.empty())
        std::memmove(buf_.data(), bytes.data(), bytes.size());
    length_ = bytes.size();
    SetRowStart(0, 0);
}

void TDBXRowBuffer::SetRowStart(std::size_t rowStart, std::int64_t rowNumber) {
    rowStart_ = std::min(rowStart, length_);
    rowNumber_ = rowNumber;
    readOff_ = rowStart_;
    curOrdinal_ = 0;
}

std::size_t TDBXRowBuffer::FieldLength(std::size_t at) const {
    if (at >= length_)
        FailLength();
    const std::uint8_t* p = buf_.data() + at;
    const std::size_t avail = length_ - at;
    const std::uint8_t h = p[0];
    std::size_t len;
    if (h & 0x80) {
        len = 1;
    } else if (h & 0x20) {
        len = 1 + (h & 0x1F);
    } else if (h == 0x02) {
        len = 1;
    } else if (h & 0x10) {
        if (avail < 3)
            FailLength();
        len = 3 + ((static_cast<std::size_t>(p[1]) << 8) | p[2]);
    } else if (h & 0x40) {
        if (avail < 5)
            FailLength();
        const std::uint32_t l = (static_cast<std::uint32_t>(p[1]) << 24) |
                                (static_cast<std::uint32_t>(p[2]) << 16) |
                                (static_cast<std::uint32_t>(p[3]) << 8) | p[4];
        if (l > avail)
            FailLength();
        len = 5 + static_cast<std::size_t>(l);
    } else if (h & 0x08) {
        if (h == 0x08) {
            len = 5;
        } else {
            if (avail < 6)
                FailLength();
            len = 6 + (p[5] & 0x1F);
        }
    } else if (h == 0x00) {
        const std::uint8_t* end =
            static_cast<const std::uint8_t*>(std::memchr(p + 1, 0, avail - 1));
        if (!end)
            FailLength();
        len = static_cast<std::size_t>(end - p) + 1;
    } else {
        len = 0;  // a header the stepping does not know takes no room
    }
    if (len > avail)
        FailLength();
    return len;
}

void TDBXRowBuffer::GoToField(int ordinal) {
    if (ordinal < 0)
        FailLength();
    if (ordinal < curOrdinal_) {
        readOff_ = rowStart_;
        curOrdinal_ = 0;
    }
    while (curOrdinal_ < ordinal) {
        readOff_ += FieldLength(readOff_);
        ++curOrdinal_;
    }
    FieldLength(readOff_);  // the field itself must lie inside the row
}

std::size_t TDBXRowBuffer::RowEnd(int fieldCount) {
    std::size_t at = rowStart_;
    for (int i = 0; i < fieldCount; ++i)
        at += FieldLength(at);
    return at;
}

std::uint8_t TDBXRowBuffer::Header() const {
    if (readOff_ >= length_)
        FailLength();
    return buf_[readOff_];
}

bool TDBXRowBuffer::IsBlobHeader() const {
    const std::uint8_t h = Header();
    return (h & 0xF8) == 0x08;
}

bool TDBXRowBuffer::IsLastParameterBlobSegment() const {
    const std::uint8_t h = Header();
    if (h & 0x80)
        return true;
    return (h & 0x40) == 0 && !IsBlobHeader();
}

std::span<const std::uint8_t> TDBXRowBuffer::ReadInlineBytes() const {
    const std::size_t len = FieldLength(readOff_);
    const std::uint8_t* p = buf_.data() + readOff_;
    const std::uint8_t h = p[0];
    if (h & 0x80)
        return {};
    if (h & 0x20)
        return {p + 1, len - 1};
    if (h == 0x02)
        return {};
    if (h & 0x10)
        return {p + 3, len - 3};
    if (h & 0x40)
        return {p + 5, len - 5};
    if (h & 0x08)
        return {};
    if (h == 0x00)
        return {p + 1, len - 2};
    return {};
}

std::int64_t TDBXRowBuffer::ReadInt64() const {
    const std::size_t len = FieldLength(readOff_);
    std::size_t used = 0;
    return DecodePacked(buf_.data() + readOff_, len, used);
}

double TDBXRowBuffer::ReadDouble() const {
    const std::size_t len = FieldLength(readOff_);
    const std::uint8_t* p = buf_.data() + readOff_;
    const std::uint8_t h = p[0];
    const std::size_t k = h & 0x1F;
    if ((h & 0xA0) != 0x20 || k > 8 || 1 + k > len)
        FailHeader();
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < k; ++i)
        bits |= static_cast<std::uint64_t>(p[1 + i]) << (56 - 8 * i);
    bits &= ~(std::uint64_t{1} << 63);
    if ((h & 0x40) == 0)
        bits |= std::uint64_t{1} << 63;
    return std::bit_cast<double>(bits);
}

float TDBXRowBuffer::ReadSingle() const {
    const std::size_t len = FieldLength(readOff_);
    const std::uint8_t* p = buf_.data() + readOff_;
    const std::uint8_t h = p[0];
    const std::size_t k = h & 0x1F;
    if ((h & 0xA0) != 0x20 || k > 4 || 1 + k > len)
        FailHeader();
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < k; ++i)
        bits |= static_cast<std::uint32_t>(p[1 + i]) << (24 - 8 * i);
    bits &= 0x7FFFFFFFu;
    if ((h & 0x40) == 0)
        bits |= 0x80000000u;
    return std::bit_cast<float>(bits);
}

TDBXTimeStamp TDBXRowBuffer::ReadTimestamp() const {
    const std::size_t len = FieldLength(readOff_);
    const std::uint8_t* p = buf_.data() + readOff_;
    if ((p[0] & 0xE0) != 0x20)
        FailHeader();
    std::size_t used = 0;
    const std::int64_t ms = DecodePacked(p + 1, len - 1, used);
    std::int64_t ns = 0;
    if (len - 1 - used >= 4) {
        const std::uint8_t* q = p + 1 + used;
        ns = (static_cast<std::int64_t>(q[0]) << 24) | (q[1] << 16) | (q[2] << 8) | q[3];
    }
    // Floor division keeps dates before 1970 on the right day.
    std::int64_t days = ms / 86400000;
    std::int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    TDBXTimeStamp v;
    CivilFromDays(days, v.year, v.month, v.day);
    v.hour = static_cast<int>(rest / 3600000);
    v.minute = static_cast<int>(rest / 60000 % 60);
    v.second = static_cast<int>(rest / 1000 % 60);
    v.fraction = static_cast<int>(ns / 1000000);
    return v;
}

std::unique_ptr<TDBXStreamReader> TDBXRowBuffer::MakeBlobReader() {
    if (!writer_ || !reader_)
        throw TDBXError(TDBXErrorCodes::NotSupported);
    const std::span<const std::uint8_t> inlineBytes = ReadInlineBytes();
    TDBXClientBlobReader::Origin origin;
    origin.commandHandle = handle_;
    origin.blobHandle = ++blobId_;
    origin.row = rowNumber_;
    origin.ordinal = curOrdinal_;
    origin.parameterRow = parameterRow_;
    origin.rowHandle = rowHandle_;
    return std::make_unique<TDBXClientBlobReader>(
        std::vector<std::uint8_t>(inlineBytes.begin(), inlineBytes.end()), *writer_, *reader_,
        std::move(origin));
}

std::u16string TDBXRowBuffer::ReadString() {
    const std::uint8_t h = Header();
    if (h & 0x80)
        return {};
    // Short, two-byte-length, blob header and the legacy zero-terminated form carry text.
    const bool known =
        (h & 0x20) || (h & 0x10) || (h != 0x02 && !(h & 0x40) && (h & 0x08)) || h == 0x00;
    if (!known)
        FailHeader();
    if (IsLastParameterBlobSegment())
        return TDBXStringDecoder::DecodeAll(ReadInlineBytes());
    auto blob = MakeBlobReader();
    TDBXStringDecoder decoder;
    std::u16string text;
    std::vector<std::uint8_t> chunk(kDecodeChunk);
    for (;;) {
        const std::size_t n = blob->Read(chunk);
        if (n == 0)
            break;
        decoder.Decode(std::span<const std::uint8_t>(chunk.data(), n), text);
    }
    return text;
}

std::unique_ptr<TDBXStreamReader> TDBXRowBuffer::ReadBytes() {
    const std::uint8_t h = Header();
    if ((h & 0x80) || IsLastParameterBlobSegment()) {
        const std::span<const std::uint8_t> bytes = ReadInlineBytes();
        return std::make_unique<TDBXMemoryStreamReader>(
            std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end()));
    }
    return MakeBlobReader();
}

TJSONValue TDBXRowBuffer::ReadJSON() const {
    const std::uint8_t h = Header();
    if (h & 0x80)
        return TJSONValue();
    if (h != 0x40)
        throw TDBXError(TDBXErrorCodes::None, u"Invalid JSON header byte encountered");
    auto parsed = TJSONValue::Parse(ReadInlineBytes());
    if (!parsed)
        throw TDBXError(TDBXErrorCodes::InvalidArgument, u"Cannot parse properly the JSON value");
    return std::move(*parsed);
}

// ---- executions ----

void TDBXRowBuffer::BeginExecution(std::int32_t commandHandle) {
    *handle_ = -1;
    handle_ = std::make_shared<std::int32_t>(commandHandle);
    Cancel();
}

}  // namespace ab
