// The "RSA" transport filter.
#include "transport/filters/TRSAFilter.h"

#include "dbx/TDBXError.h"
#include "platform/Convert.h"
#include "platform/Text.h"
#include "transport/filters/HexText.h"

namespace ab {

namespace fc = FilterConstants;

TRSAFilter::TRSAFilter() = default;
TRSAFilter::~TRSAFilter() = default;

std::u16string TRSAFilter::Id() const {
    return fc::RSAFilterId;
}

TRSACypher& TRSAFilter::Cypher() {
    if (FRSACypher) {
        return *FRSACypher;
    }
    TRSACypher::LoadAndGenerateGlobalKey(FKeyLength, FKeyExponent);
    if (!TRSACypher::IsSSLLoaded()) {
        throw TDBXError(TDBXErrorCodes::None, TRSACypher::SSLLoadError());
    }
    std::unique_ptr<TRSACypher> cypher;
    if (FUseGlobalKey) {
        // The first generation may have failed (a bad size, say); try again rather than run
        // without a key pair.
        TRSACypher::EnsureGlobalKey(FKeyLength, FKeyExponent);
        cypher = std::make_unique<TRSACypher>(TKeyUsagePolicy::kupUseGlobalKey);
    } else {
        cypher = std::make_unique<TRSACypher>(TKeyUsagePolicy::kupUseLocalKey);
        cypher->GenerateKey(FKeyLength, FKeyExponent);
    }
    FRSACypher = std::move(cypher);
    return *FRSACypher;
}

std::u16string TRSAFilter::GetParameterValue(const std::u16string& name) {
    if (name == fc::PublicKey) {
        return BytesToHex(Cypher().GetPublicKey());
    }
    if (name == fc::UseGlobalKey) {
        return FUseGlobalKey ? u"true" : u"false";
    }
    if (name == fc::KeyLength) {
        return IntToStr(FKeyLength);
    }
    if (name == fc::KeyExponent) {
        return IntToStr(FKeyExponent);
    }
    return {};
}

bool TRSAFilter::SetParameterValue(const std::u16string& name, const std::u16string& value) {
    if (name == fc::UseGlobalKey) {
        FUseGlobalKey = AsciiUpper(value) == u"TRUE";
        return true;
    }
    if (name == fc::KeyLength) {
        FKeyLength = StrToInt(value);
        return true;
    }
    if (name == fc::KeyExponent) {
        FKeyExponent = StrToInt64(value);
        return true;
    }
    return false;
}

bool TRSAFilter::SetConfederateParameter(const std::u16string& name, const std::u16string& value) {
    if (name != fc::PublicKey) {
        return false;
    }
    TRSACypher& cypher = Cypher();
    auto der = HexToBytes(value);
    if (!der) {
        throw TDBXError(TDBXErrorCodes::None, fc::ErrPublicKeyDecode);
    }
    cypher.SetConfederatePublicKey(*der);
    return true;
}

std::vector<std::uint8_t> TRSAFilter::ProcessInput(std::span<const std::uint8_t> data) {
    return Cypher().Encrypt(data);
}

std::vector<std::uint8_t> TRSAFilter::ProcessOutput(std::span<const std::uint8_t> data) {
    return Cypher().Decrypt(data);
}

std::vector<std::u16string> TRSAFilter::GetParameters() {
    return {fc::PublicKey};
}

std::vector<std::u16string> TRSAFilter::GetUserParameters() {
    return {fc::UseGlobalKey, fc::KeyLength, fc::KeyExponent};
}

}  // namespace ab
