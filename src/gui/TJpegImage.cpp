// JPEG decoding over libjpeg. The library reports fatal errors through a callback that must not
// return; it long-jumps back into the small stage functions below, which hold no C++ objects, so
// no destructor is ever skipped. Everything owning memory lives in the caller.
#include "gui/TJpegImage.h"

// clang-format off
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <vector>

#include "platform/TLocalFile.h"
#include "platform/Text.h"

namespace ab {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnFatalError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (a truncated file, for one) are not fatal; the picture shows what could be decoded.
void OnMessage(j_common_ptr) {}

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
};

bool ReadHeader(Decoder& d, const std::uint8_t* data, std::size_t size) {
    if (setjmp(d.err.jump))
        return false;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

bool Start(Decoder& d) {
    if (setjmp(d.err.jump))
        return false;
    const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
    d.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBX;
    jpeg_start_decompress(&d.cinfo);
    return true;
}

// Scan lines go straight into the image, four bytes per pixel (RGBX or CMYK).
bool ReadLines(Decoder& d, std::uint8_t* bits, std::size_t stride) {
    if (setjmp(d.err.jump))
        return false;
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = bits + d.cinfo.output_scanline * stride;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

// Four-byte CMYK pixels to RGBX in place. Pictures written with an Adobe marker store the
// channels inverted, which is what almost every CMYK JPEG does.
void CmykToRgb(QImage& image, bool inverted) {
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x, p += 4) {
            int c = p[0], m = p[1], yl = p[2], k = p[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yl = 255 - yl;
                k = 255 - k;
            }
            p[0] = static_cast<std::uint8_t>(c * k / 255);
            p[1] = static_cast<std::uint8_t>(m * k / 255);
            p[2] = static_cast<std::uint8_t>(yl * k / 255);
            p[3] = 255;
        }
    }
}

class DecoderGuard {
  public:
    explicit DecoderGuard(Decoder& d) : d_(d) {}
    ~DecoderGuard() { jpeg_destroy_decompress(&d_.cinfo); }
    DecoderGuard(const DecoderGuard&) = delete;
    DecoderGuard& operator=(const DecoderGuard&) = delete;

  private:
    Decoder& d_;
};

[[noreturn]] void Fail(const Decoder& d) {
    throw EJPEG(FromLatin1(d.err.message));
}

}  // namespace

QImage TJpegImage::Decode(std::span<const std::uint8_t> bytes) {
    Decoder d{};
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = OnFatalError;
    d.err.pub.output_message = OnMessage;
    jpeg_create_decompress(&d.cinfo);
    DecoderGuard guard(d);

    if (!ReadHeader(d, bytes.data(), bytes.size()))
        Fail(d);
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(d.cinfo.image_width) * d.cinfo.image_height;
    if (pixels == 0 || pixels > kMaxPixels) {
        throw EJPEG(u"JPEG image is too large (" + IntToStr(d.cinfo.image_width) + u" x " +
                    IntToStr(d.cinfo.image_height) + u")");
    }
    if (!Start(d))
        Fail(d);

    QImage image(static_cast<int>(d.cinfo.output_width), static_cast<int>(d.cinfo.output_height),
                 QImage::Format_RGBX8888);
    if (image.isNull())
        throw EJPEG(u"Not enough memory for the JPEG image");
    if (!ReadLines(d, image.bits(), static_cast<std::size_t>(image.bytesPerLine())))
        Fail(d);
    if (d.cinfo.out_color_space == JCS_CMYK)
        CmykToRgb(image, d.cinfo.saw_Adobe_marker != 0);
    return image;
}

QImage TJpegImage::LoadFromFile(const std::u16string& path) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    return Decode(bytes);
}

}  // namespace ab
