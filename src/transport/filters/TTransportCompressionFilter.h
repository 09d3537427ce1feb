// The "ZLibCompression" transport filter: messages larger than a threshold travel as a zlib
// stream behind the marker 01, the others unchanged behind the marker 02.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "transport/TTransportFilter.h"
#include "transport/filters/FilterConstants.h"

namespace ab {

class TTransportCompressionFilter : public TTransportFilter {
  public:
    TTransportCompressionFilter() = default;
    // maxInflatedSize caps what ProcessOutput may produce from one received payload.
    explicit TTransportCompressionFilter(std::size_t maxInflatedSize)
        : maxInflatedSize_(std::min(maxInflatedSize, std::numeric_limits<std::size_t>::max() - 1)) {
    }

    std::u16string Id() const override;
    std::u16string GetParameterValue(const std::u16string& name) override;
    // "CompressMoreThan" raises EConvertError for text that is not an integer.
    bool SetParameterValue(const std::u16string& name, const std::u16string& value) override;
    bool SetConfederateParameter(const std::u16string& name, const std::u16string& value) override;
    std::vector<std::uint8_t> ProcessInput(std::span<const std::uint8_t> data) override;
    // Raises TDBXError for a corrupt or truncated stream and for one that inflates past the cap.
    std::vector<std::uint8_t> ProcessOutput(std::span<const std::uint8_t> data) override;
    std::vector<std::u16string> GetParameters() override;
    std::vector<std::u16string> GetUserParameters() override;

    std::int32_t MinThreshold() const { return FMinThreshold; }

  private:
    std::int32_t FMinThreshold = FilterConstants::DefaultCompressMoreThan;
    std::size_t maxInflatedSize_ = FilterConstants::DefaultMaxInflatedSize;
};

}  // namespace ab
