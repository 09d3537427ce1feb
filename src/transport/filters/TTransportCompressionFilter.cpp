// The "ZLibCompression" transport filter over zlib.
#include "transport/filters/TTransportCompressionFilter.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "dbx/TDBXError.h"
#include "platform/Convert.h"
#include "platform/Text.h"

namespace ab {

namespace {

namespace fc = FilterConstants;

bool SameText(std::u16string_view a, std::u16string_view b) {
    return AsciiUpper(a) == AsciiUpper(b);
}

constexpr std::size_t kMaxZlibChunk = std::numeric_limits<uInt>::max();

[[noreturn]] void ThrowZlib(const z_stream& stream, int code) {
    const char* text = stream.msg != nullptr ? stream.msg : zError(code);
    throw TDBXError(TDBXErrorCodes::None, Format(fc::ErrDecompression, {FromUtf8(text)}));
}

std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> data) {
    z_stream stream{};
    // Fastest level, zlib wrapper with a 32 KiB window, default memory level and strategy.
    if (deflateInit2(&stream, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw TDBXError(TDBXErrorCodes::NoMemory, u"Compression could not be initialised");
    }
    std::vector<std::uint8_t> out(1 + deflateBound(&stream, data.size()));
    out[0] = fc::CompressedMarker;
    stream.next_out = out.data() + 1;
    std::size_t outLeft = out.size() - 1;
    std::size_t inPos = 0;
    int ret = Z_OK;
    while (ret != Z_STREAM_END) {
        std::size_t inChunk = std::min(data.size() - inPos, kMaxZlibChunk);
        stream.next_in = const_cast<Bytef*>(data.data() + inPos);
        stream.avail_in = static_cast<uInt>(inChunk);
        std::size_t outChunk = std::min(outLeft, kMaxZlibChunk);
        stream.avail_out = static_cast<uInt>(outChunk);
        bool last = inPos + inChunk == data.size();
        ret = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
        inPos += inChunk - stream.avail_in;
        outLeft -= outChunk - stream.avail_out;
        if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) {
            deflateEnd(&stream);
            throw TDBXError(TDBXErrorCodes::None, u"Compression failed");
        }
    }
    out.resize(out.size() - outLeft);
    deflateEnd(&stream);
    return out;
}

// Inflates one zlib stream; bytes after its end are ignored.
std::vector<std::uint8_t> Decompress(std::span<const std::uint8_t> data, std::size_t limit) {
    z_stream stream{};
    if (inflateInit2(&stream, 15) != Z_OK) {
        throw TDBXError(TDBXErrorCodes::NoMemory, u"Decompression could not be initialised");
    }
    struct Guard {
        z_stream* s;
        ~Guard() { inflateEnd(s); }
    } guard{&stream};

    std::vector<std::uint8_t> out;
    std::size_t produced = 0;
    std::size_t inPos = 0;
    for (;;) {
        if (produced == out.size()) {
            // Grow with what has actually been inflated, never beyond one byte past the cap.
            if (produced > limit) {
                throw TDBXError(
                    TDBXErrorCodes::None,
                    Format(fc::ErrInflatedTooLarge, {IntToStr(static_cast<long long>(limit))}));
            }
            std::size_t grow = std::max<std::size_t>(produced, 64 * 1024);
            grow = std::min(grow, limit + 1 - produced);
            out.resize(produced + grow);
        }
        std::size_t inChunk = std::min(data.size() - inPos, kMaxZlibChunk);
        std::size_t outChunk = std::min(out.size() - produced, kMaxZlibChunk);
        stream.next_in = const_cast<Bytef*>(data.data() + inPos);
        stream.avail_in = static_cast<uInt>(inChunk);
        stream.next_out = out.data() + produced;
        stream.avail_out = static_cast<uInt>(outChunk);
        int ret = inflate(&stream, Z_NO_FLUSH);
        inPos += inChunk - stream.avail_in;
        produced += outChunk - stream.avail_out;
        if (ret == Z_STREAM_END) {
            break;
        }
        if (ret == Z_NEED_DICT) {
            ThrowZlib(stream, Z_DATA_ERROR);
        }
        if (ret == Z_BUF_ERROR && inPos == data.size()) {
            // No progress with room to write and nothing left to read: the stream is cut short.
            throw TDBXError(TDBXErrorCodes::None,
                            Format(fc::ErrDecompression, {u"unexpected end of stream"}));
        }
        if (ret != Z_OK && ret != Z_BUF_ERROR) {
            ThrowZlib(stream, ret);
        }
    }
    if (produced > limit) {
        throw TDBXError(TDBXErrorCodes::None,
                        Format(fc::ErrInflatedTooLarge, {IntToStr(static_cast<long long>(limit))}));
    }
    out.resize(produced);
    return out;
}

}  // namespace

std::u16string TTransportCompressionFilter::Id() const {
    return fc::CompressionFilterId;
}

std::u16string TTransportCompressionFilter::GetParameterValue(const std::u16string& name) {
    if (SameText(name, fc::FilterUnit)) {
        return fc::CompressionFilterUnit;
    }
    if (SameText(name, fc::CompressMoreThan)) {
        return IntToStr(FMinThreshold);
    }
    return {};
}

bool TTransportCompressionFilter::SetParameterValue(const std::u16string& name,
                                                    const std::u16string& value) {
    if (SameText(name, fc::CompressMoreThan)) {
        FMinThreshold = StrToInt(value);
        return true;
    }
    if (SameText(name, fc::FilterUnit)) {
        return SameText(value, fc::CompressionFilterUnit);
    }
    return false;
}

bool TTransportCompressionFilter::SetConfederateParameter(const std::u16string& name,
                                                          const std::u16string& value) {
    return SetParameterValue(name, value);
}

std::vector<std::uint8_t> TTransportCompressionFilter::ProcessInput(
    std::span<const std::uint8_t> data) {
    // Compare in 64 bits so that a negative threshold compresses everything.
    if (static_cast<long long>(data.size()) > static_cast<long long>(FMinThreshold)) {
        return Compress(data);
    }
    std::vector<std::uint8_t> out;
    out.reserve(data.size() + 1);
    out.push_back(fc::PlainMarker);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<std::uint8_t> TTransportCompressionFilter::ProcessOutput(
    std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return {};
    }
    if (data[0] == fc::CompressedMarker) {
        return Decompress(data.subspan(1), maxInflatedSize_);
    }
    return {data.begin() + 1, data.end()};
}

std::vector<std::u16string> TTransportCompressionFilter::GetParameters() {
    return {fc::FilterUnit, fc::CompressMoreThan};
}

std::vector<std::u16string> TTransportCompressionFilter::GetUserParameters() {
    return {fc::CompressMoreThan};
}

}  // namespace ab
