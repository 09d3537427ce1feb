// Logo decoding: colour, grey and CMYK pictures, broken and oversized files.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>

#include "JpegWriter.h"
#include "gui/TJpegImage.h"

namespace ab {
namespace {

using test::EncodeJpeg;
using test::JpegKind;

// Left half red, right half blue: colours survive compression well away from the edge.
QImage TwoColours() {
    QImage image(64, 32, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, 32, 32, QColor(220, 30, 30));
    p.fillRect(32, 0, 32, 32, QColor(30, 40, 210));
    return image;
}

void ExpectNear(QColor actual, QColor expected) {
    EXPECT_NEAR(actual.red(), expected.red(), 12);
    EXPECT_NEAR(actual.green(), expected.green(), 12);
    EXPECT_NEAR(actual.blue(), expected.blue(), 12);
}

TEST(TJpegImage, DecodesColourGreyAndCmyk) {
    for (JpegKind kind : {JpegKind::Rgb, JpegKind::Cmyk}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const QImage image = TJpegImage::Decode(EncodeJpeg(TwoColours(), kind));
        ASSERT_EQ(image.size(), QSize(64, 32));
        ExpectNear(image.pixelColor(8, 16), QColor(220, 30, 30));
        ExpectNear(image.pixelColor(56, 16), QColor(30, 40, 210));
    }
    const QImage grey = TJpegImage::Decode(EncodeJpeg(TwoColours(), JpegKind::Gray));
    const int level = (220 * 299 + 30 * 587 + 30 * 114) / 1000;
    ExpectNear(grey.pixelColor(8, 16), QColor(level, level, level));
}

TEST(TJpegImage, BrokenInputRaisesInsteadOfExiting) {
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    EXPECT_THROW(TJpegImage::Decode(png), EJPEG);
    EXPECT_THROW(TJpegImage::Decode({}), EJPEG);
    try {
        TJpegImage::Decode(png);
    } catch (const EJPEG& e) {
        EXPECT_NE(e.Message().find(u"JPEG"), std::u16string::npos);
    }
    // Cut before any scan data: the header is incomplete.
    const std::vector<std::uint8_t> full = EncodeJpeg(TwoColours());
    EXPECT_THROW(TJpegImage::Decode(std::span(full).first(20)), EJPEG);
    // Cut inside the scan data: the library pads the rest; the picture still shows.
    EXPECT_EQ(TJpegImage::Decode(std::span(full).first(full.size() - 40)).size(), QSize(64, 32));
}

TEST(TJpegImage, RefusesAnnouncedSizesAboveTheLimitBeforeAllocating) {
    std::vector<std::uint8_t> bytes = EncodeJpeg(TwoColours());
    // Frame header: FF C0, length, precision, height, width.
    std::size_t sof = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    }
    ASSERT_NE(sof, 0u);
    bytes[sof + 5] = 0xEA;  // height 60000
    bytes[sof + 6] = 0x60;
    bytes[sof + 7] = 0xEA;  // width 60000
    bytes[sof + 8] = 0x60;
    try {
        TJpegImage::Decode(bytes);
        FAIL() << "accepted a 60000 x 60000 picture";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), u"JPEG image is too large (60000 x 60000)");
    }
}

}  // namespace
}  // namespace ab
