// The "PC1" transport filter.
#include "transport/filters/TTransportCypherFilter.h"

#include <array>

#include "transport/filters/FilterConstants.h"
#include "transport/filters/HexText.h"
#include "transport/filters/TPC1Cypher.h"

namespace ab {

namespace fc = FilterConstants;

std::u16string TTransportCypherFilter::Id() const {
    return fc::PC1FilterId;
}

const std::u16string& TTransportCypherFilter::CypherKey() {
    if (FCypherKey.empty()) {
        FCypherKey = TPC1Cypher::RandomKey();
    }
    return FCypherKey;
}

std::u16string TTransportCypherFilter::CheckBlock(const std::u16string& key) {
    std::array<std::uint8_t, fc::PC1CheckBlockSize> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i);
    }
    TPC1Cypher cypher(key);
    cypher.Cypher(block);
    return BytesToHex(block);
}

std::u16string TTransportCypherFilter::GetParameterValue(const std::u16string& name) {
    if (name == fc::Key) {
        return CypherKey();
    }
    if (name == fc::Code) {
        return CheckBlock(CypherKey());
    }
    if (name == fc::FilterUnit) {
        return fc::PC1FilterUnit;
    }
    return {};
}

bool TTransportCypherFilter::SetParameterValue(const std::u16string& name,
                                               const std::u16string& value) {
    if (name == fc::Key) {
        FCypherKey = value;
    }
    return true;
}

bool TTransportCypherFilter::SetConfederateParameter(const std::u16string& name,
                                                     const std::u16string& value) {
    if (name == fc::Key) {
        FConfederateKey = value;
        return true;
    }
    if (name != fc::Code) {
        return true;
    }
    // The whole block must be there: a short one would prove nothing about the key.
    auto block = HexToBytes(value);
    if (!block || block->size() != fc::PC1CheckBlockSize) {
        return false;
    }
    TPC1Cypher cypher(FConfederateKey);
    for (std::size_t i = 0; i < block->size(); ++i) {
        if (cypher.Decypher((*block)[i]) != static_cast<std::uint8_t>(i)) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> TTransportCypherFilter::ProcessInput(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out(data.begin(), data.end());
    TPC1Cypher(CypherKey()).Cypher(out);
    return out;
}

std::vector<std::uint8_t> TTransportCypherFilter::ProcessOutput(
    std::span<const std::uint8_t> data) {
    TPC1Cypher cypher(FConfederateKey);
    std::vector<std::uint8_t> out(data.begin(), data.end());
    cypher.Decypher(out);
    return out;
}

std::vector<std::u16string> TTransportCypherFilter::GetParameters() {
    return {fc::Key, fc::Code, fc::FilterUnit};
}

std::vector<std::u16string> TTransportCypherFilter::GetUserParameters() {
    return {fc::Key};
}

}  // namespace ab
