// Test-side JPEG encoding over libjpeg's memory destination.
#include "JpegWriter.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <stdexcept>

namespace ab::test {

std::vector<std::uint8_t> EncodeJpeg(const QImage& source, JpegKind kind, int quality) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);  // test pictures are well-formed; errors end the test run
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = kind == JpegKind::Rgb ? 3 : kind == JpegKind::Gray ? 1 : 4;
    cinfo.in_color_space = kind == JpegKind::Rgb    ? JCS_RGB
                           : kind == JpegKind::Gray ? JCS_GRAYSCALE
                                                    : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width()) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* src = image.constScanLine(static_cast<int>(cinfo.next_scanline));
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t r = src[3 * x], g = src[3 * x + 1], b = src[3 * x + 2];
            switch (kind) {
                case JpegKind::Rgb:
                    row[3 * x] = r;
                    row[3 * x + 1] = g;
                    row[3 * x + 2] = b;
                    break;
                case JpegKind::Gray:
                    row[x] = static_cast<std::uint8_t>((r * 299 + g * 587 + b * 114) / 1000);
                    break;
                case JpegKind::Cmyk:
                    // Adobe-inverted CMYK with no black: stored bytes are the RGB values.
                    row[4 * x] = r;
                    row[4 * x + 1] = g;
                    row[4 * x + 2] = b;
                    row[4 * x + 3] = 255;
                    break;
            }
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

}  // namespace ab::test
