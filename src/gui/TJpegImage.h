// JPEG pictures decoded with libjpeg(-turbo) into Qt images (the picture box shows them).
#pragma once

#include <QImage>
#include <cstdint>
#include <span>
#include <string>

#include "platform/Exception.h"

namespace ab {

// A picture that is not a readable JPEG, with the decoder's message.
class EJPEG : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EJPEG"; }
};

class TJpegImage {
  public:
    // Largest picture accepted, in pixels: a few bytes of header can announce gigapixels, and the
    // image is allocated before any scan line arrives.
    static constexpr std::uint64_t kMaxPixels = 40'000'000;

    // Decodes a whole JPEG file held in memory into a 32-bit RGB image; raises EJPEG.
    static QImage Decode(std::span<const std::uint8_t> bytes);
    // Reads and decodes a file; raises EFOpenError when it cannot be read, EJPEG when it does not
    // decode.
    static QImage LoadFromFile(const std::u16string& path);
};

}  // namespace ab
