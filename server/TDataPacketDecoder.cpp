// Strict reader of the send-file data packet (see the header). All integers are little-endian;
// every length is checked against the bytes that are actually there before it is used.
#include "server/TDataPacketDecoder.h"

#include <cmath>
#include <cstring>

#include "platform/Text.h"
#include "server/ServerConstants.h"

namespace ab::server {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw EPacketError(u"Invalid data packet: " + FromUtf8(what));
}

// The bytes end before the item being read.
struct Truncated {
    const char* what;
};

class Cursor {
  public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t Offset() const { return pos_; }
    std::size_t Left() const { return bytes_.size() - pos_; }
    std::span<const std::uint8_t> Take(std::size_t n, const char* what) {
        if (n > Left())
            throw Truncated{what};
        auto s = bytes_.subspan(pos_, n);
        pos_ += n;
        return s;
    }
    std::uint8_t U8(const char* what) { return Take(1, what)[0]; }
    std::uint16_t U16(const char* what) {
        auto s = Take(2, what);
        return static_cast<std::uint16_t>(s[0] | (s[1] << 8));
    }
    std::uint32_t U32(const char* what) {
        auto s = Take(4, what);
        return static_cast<std::uint32_t>(s[0]) | (static_cast<std::uint32_t>(s[1]) << 8) |
               (static_cast<std::uint32_t>(s[2]) << 16) | (static_cast<std::uint32_t>(s[3]) << 24);
    }
    double F64(const char* what) {
        auto s = Take(8, what);
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = (bits << 8) | s[static_cast<std::size_t>(i)];
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    std::string Name(const char* what) {
        const std::uint8_t n = U8(what);
        auto s = Take(n, what);
        return std::string(s.begin(), s.end());
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

void ExpectColumn(Cursor& c, const char* name, std::uint32_t type, std::uint16_t properties) {
    if (c.Name("truncated column descriptor") != name)
        Fail("unexpected column name");
    if (c.U32("truncated column descriptor") != type)
        Fail("unexpected column type");
    if (c.U16("truncated column descriptor") != 0)
        Fail("unexpected column attributes");
    if (c.U16("truncated column descriptor") != properties)
        Fail("unexpected column properties");
}

}  // namespace

TStampFields TDataPacketDecoder::StampFields(double dataHora) {
    constexpr double kMsPerDay = 86400000.0;
    // Day 1 is 0001-01-01; the last accepted day is 9999-12-31 (day 3,652,059).
    if (!std::isfinite(dataHora) || dataHora != std::floor(dataHora) || dataHora < kMsPerDay ||
        dataHora >= 3652060.0 * kMsPerDay)
        Fail("time stamp out of range");
    const auto ms = static_cast<std::int64_t>(dataHora);
    const std::int64_t dayNumber = ms / 86400000;  // 1 = 0001-01-01
    std::int64_t msOfDay = ms % 86400000;
    // Civil date from days since 0000-03-01 (Hinnant's algorithm).
    const std::int64_t z = dayNumber - 1 + 306;  // 0001-01-01 is day 306 after 0000-03-01
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    TStampFields f;
    f.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    f.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    f.year = static_cast<int>(yoe + era * 400 + (f.month <= 2 ? 1 : 0));
    f.hour = static_cast<int>(msOfDay / 3600000);
    msOfDay %= 3600000;
    f.minute = static_cast<int>(msOfDay / 60000);
    msOfDay %= 60000;
    f.second = static_cast<int>(msOfDay / 1000);
    f.millisecond = static_cast<int>(msOfDay % 1000);
    return f;
}

namespace {

TPacketHead DecodeHeadFrom(std::span<const std::uint8_t> packet) {
    Cursor c(packet);
    if (c.U32("truncated header") != kPacketSignature)
        Fail("bad signature");
    if (c.U16("truncated header") != 1)
        Fail("unexpected format level");
    if (c.U16("truncated header") != 0)
        Fail("unexpected header field");
    if (c.U32("truncated header") != 24)
        Fail("unexpected header size");
    if (c.U16("truncated header") != 3)
        Fail("unexpected column count");
    if (c.U32("truncated header") != 1)
        Fail("unexpected row count");
    const std::uint32_t flags = c.U32("truncated header");
    if (flags != 1 && flags != 3)
        Fail("unexpected header flags");
    const std::uint16_t rowOffset = c.U16("truncated header");

    ExpectColumn(c, "Nome", kTypeNome, 1);
    if (c.Name("truncated property") != "WIDTH" || c.U32("truncated property") != kTypeWidth)
        Fail("unexpected Nome property");
    const std::uint16_t width = c.U16("truncated property");
    if (width == 0 || width > 255)
        Fail("unexpected Nome width");

    ExpectColumn(c, "DataHora", kTypeDataHora, 0);

    ExpectColumn(c, "Arquivo", kTypeArquivo, 1);
    if (c.Name("truncated property") != "SUBTYPE" || c.U32("truncated property") != kTypeSubtype)
        Fail("unexpected Arquivo property");
    const std::uint16_t subtypeLength = c.U16("truncated property");
    auto subtype = c.Take(subtypeLength, "truncated property");
    static constexpr std::uint8_t kBinary[] = {'B', 'i', 'n', 'a', 'r', 'y', 0};
    if (!std::equal(subtype.begin(), subtype.end(), std::begin(kBinary), std::end(kBinary)))
        Fail("unexpected Arquivo subtype");

    if (c.U16("truncated packet properties") != 1)
        Fail("unexpected packet properties");
    if (c.Name("truncated packet properties") != "CHANGE_LOG" ||
        c.U32("truncated packet properties") != kTypeChangeLog)
        Fail("unexpected packet property");
    if (c.U32("truncated change log") != 3)
        Fail("unexpected change log");
    const std::uint32_t record = c.U32("truncated change log");
    const std::uint32_t prior = c.U32("truncated change log");
    const std::uint32_t status = c.U32("truncated change log");
    if (record != 1 || prior != 0 || status != kRowStatusNew)
        Fail("unexpected change log entry");

    if ((flags & 2) != 0 ? rowOffset != c.Offset() : rowOffset != 0)
        Fail("row offset does not match");
    if (c.U8("truncated row") != kRowStatusNew)
        Fail("unexpected row status");
    const std::uint8_t bitmap = c.U8("truncated row");
    // Only the content may be absent (an empty file); a name or time stamp left out, or content
    // flagged as never assigned (a failed load), is refused rather than stored as empty.
    if ((bitmap & ~0x10) != 0)
        Fail("unexpected null or unchanged column");

    TPacketHead out;
    const std::uint8_t nameLength = c.U8("truncated name");
    auto name = c.Take(nameLength, "truncated name");
    if (nameLength > width)
        Fail("name longer than its column");
    out.nameBytes.assign(name.begin(), name.end());
    if (out.nameBytes.empty() || out.nameBytes == std::string(1, '\0'))
        Fail("empty name");
    if (out.nameBytes.find('\0') != std::string::npos)
        Fail("name holds a zero byte");
    out.name = FromAnsi(out.nameBytes);

    out.dataHora = c.F64("truncated time stamp");
    TDataPacketDecoder::StampFields(out.dataHora);

    out.contentNull = (bitmap & 0x10) != 0;
    if (!out.contentNull) {
        const std::uint32_t length = c.U32("truncated content");
        if (length > 0x7FFFFFFF)
            Fail("negative content length");
        out.contentLength = length;
    }
    out.contentOffset = c.Offset();
    return out;
}

}  // namespace

std::optional<TPacketHead> TDataPacketDecoder::DecodeHead(std::span<const std::uint8_t> prefix) {
    try {
        return DecodeHeadFrom(prefix);
    } catch (const Truncated&) {
        return std::nullopt;
    }
}

TDecodedPacket TDataPacketDecoder::Decode(std::span<const std::uint8_t> packet) {
    TPacketHead head;
    try {
        head = DecodeHeadFrom(packet);
    } catch (const Truncated& t) {
        Fail(t.what);
    }
    const std::size_t left = packet.size() - head.contentOffset;
    if (left < head.contentLength)
        Fail("truncated content");
    if (left > head.contentLength)
        Fail("trailing bytes");
    TDecodedPacket out;
    static_cast<TPacketHead&>(out) = head;
    out.content = packet.subspan(head.contentOffset, head.contentLength);
    return out;
}

}  // namespace ab::server
