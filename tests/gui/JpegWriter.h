// JPEG encoding with libjpeg for test pictures (the program itself only decodes).
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

namespace ab::test {

// Encodes as three-channel colour, one-channel grey, or four-channel CMYK (the complement of the
// RGB colour with no black; libjpeg writes the usual inverted Adobe form).
enum class JpegKind { Rgb, Gray, Cmyk };
std::vector<std::uint8_t> EncodeJpeg(const QImage& image, JpegKind kind = JpegKind::Rgb,
                                     int quality = 95);

}  // namespace ab::test
