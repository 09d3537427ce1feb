// RSA over OpenSSL 3 (EVP, encoder and decoder interfaces).
#include "transport/filters/TRSACypher.h"

#include <algorithm>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/filters/FilterConstants.h"

namespace ab {

namespace {

namespace fc = FilterConstants;

struct GlobalState {
    std::mutex mutex;
    bool loadAttempted = false;
    bool loaded = false;
    std::u16string loadError;
    TRSACypher::KeyPtr key;
};

// Never destroyed: the library's own exit handlers may run before static destructors would.
GlobalState& Global() {
    static GlobalState* state = new GlobalState;
    return *state;
}

// Text of the last error this thread's library calls left; the queue is cleared.
std::u16string LastErrorText() {
    unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) {
        return {};
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return FromUtf8(text);
}

[[noreturn]] void ThrowLibraryError(std::u16string_view fallback) {
    std::u16string text = LastErrorText();
    throw TDBXError(TDBXErrorCodes::None, text.empty() ? std::u16string(fallback) : text);
}

TRSACypher::KeyPtr Adopt(EVP_PKEY* key) {
    return {key, EVP_PKEY_free};
}

struct CtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

TRSACypher::KeyPtr Generate(int keyLength, long long exponent) {
    CtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    std::unique_ptr<BIGNUM, decltype(&BN_free)> e(BN_new(), BN_free);
    EVP_PKEY* key = nullptr;
    if (!ctx || !e || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), keyLength) <= 0 ||
        BN_set_word(e.get(), static_cast<BN_ULONG>(TRSACypher::EffectiveExponent(exponent))) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) <= 0 ||
        EVP_PKEY_generate(ctx.get(), &key) <= 0) {
        ThrowLibraryError(fc::ErrKeyGeneration);
    }
    return Adopt(key);
}

// Caller holds the global lock.
bool LoadLocked(GlobalState& g) {
    if (g.loadAttempted) {
        return g.loaded;
    }
    g.loadAttempted = true;
    if (OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_ADD_ALL_CIPHERS |
                                OPENSSL_INIT_ADD_ALL_DIGESTS,
                            nullptr) != 1) {
        g.loadError = LastErrorText();
        if (g.loadError.empty()) {
            g.loadError = fc::ErrSSLLoad;
        }
        return false;
    }
    // Every operation below goes through the RSA key manager; without it nothing works.
    EVP_KEYMGMT* rsa = EVP_KEYMGMT_fetch(nullptr, "RSA", nullptr);
    if (rsa == nullptr) {
        ERR_clear_error();
        g.loadError = fc::ErrSSLLoad;
        return false;
    }
    EVP_KEYMGMT_free(rsa);
    g.loaded = true;
    return true;
}

void RequireLoaded() {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    if (!g.loaded) {
        throw TDBXError(TDBXErrorCodes::None, fc::ErrSSLNotLoaded);
    }
}

std::size_t ModulusBytes(EVP_PKEY* key) {
    int size = EVP_PKEY_get_size(key);
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

}  // namespace

TRSACypher::TRSACypher(TKeyUsagePolicy policy) : policy_(policy) {}

TRSACypher::~TRSACypher() = default;

long long TRSACypher::EffectiveExponent(long long exponent) {
    if (exponent <= 2) {
        return 3;
    }
    return exponent % 2 == 0 ? exponent + 1 : exponent;
}

bool TRSACypher::LoadSSL() {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    return LoadLocked(g);
}

bool TRSACypher::IsSSLLoadAttempted() {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    return g.loadAttempted;
}

bool TRSACypher::IsSSLLoaded() {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    return g.loaded;
}

std::u16string TRSACypher::SSLLoadError() {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    return g.loadError;
}

void TRSACypher::LoadAndGenerateGlobalKey(int keyLength, long long exponent) {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    if (g.loadAttempted) {
        return;
    }
    if (LoadLocked(g)) {
        g.key = Generate(keyLength, exponent);
    }
}

bool TRSACypher::HasGlobalKey() {
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    return g.key != nullptr;
}

void TRSACypher::EnsureGlobalKey(int keyLength, long long exponent) {
    RequireLoaded();
    GlobalState& g = Global();
    std::lock_guard lock(g.mutex);
    if (!g.key) {
        g.key = Generate(keyLength, exponent);
    }
}

void TRSACypher::GenerateKey(int keyLength, long long exponent) {
    RequireLoaded();
    KeyPtr key;
    if (policy_ == TKeyUsagePolicy::kupUseGlobalKey) {
        GlobalState& g = Global();
        std::lock_guard lock(g.mutex);
        g.key.reset();
        g.key = Generate(keyLength, exponent);
        key = g.key;
    } else {
        key = Generate(keyLength, exponent);
    }
    std::lock_guard lock(mutex_);
    ownKey_ = std::move(key);
}

TRSACypher::KeyPtr TRSACypher::KeyPair() const {
    std::lock_guard lock(mutex_);
    if (!ownKey_ && policy_ == TKeyUsagePolicy::kupUseGlobalKey) {
        GlobalState& g = Global();
        std::lock_guard globalLock(g.mutex);
        ownKey_ = g.key;
    }
    if (!ownKey_) {
        throw TDBXError(TDBXErrorCodes::None, fc::ErrNoKeyPair);
    }
    return ownKey_;
}

std::vector<std::uint8_t> TRSACypher::GetPublicKey() const {
    KeyPtr key = KeyPair();
    // "type-specific" is the PKCS #1 RSAPublicKey structure for a public-key selection.
    OSSL_ENCODER_CTX* ctx = OSSL_ENCODER_CTX_new_for_pkey(key.get(), EVP_PKEY_PUBLIC_KEY, "DER",
                                                          "type-specific", nullptr);
    unsigned char* data = nullptr;
    std::size_t length = 0;
    bool ok = ctx != nullptr && OSSL_ENCODER_to_data(ctx, &data, &length) == 1;
    OSSL_ENCODER_CTX_free(ctx);
    if (!ok) {
        ThrowLibraryError(fc::ErrRSAOperation);
    }
    std::vector<std::uint8_t> der(data, data + length);
    OPENSSL_free(data);
    return der;
}

void TRSACypher::SetConfederatePublicKey(std::span<const std::uint8_t> der) {
    EVP_PKEY* key = nullptr;
    OSSL_DECODER_CTX* ctx = OSSL_DECODER_CTX_new_for_pkey(&key, "DER", "type-specific", "RSA",
                                                          EVP_PKEY_PUBLIC_KEY, nullptr, nullptr);
    const unsigned char* data = der.data();
    std::size_t length = der.size();
    bool ok = ctx != nullptr && !der.empty() && OSSL_DECODER_from_data(ctx, &data, &length) == 1 &&
              key != nullptr;
    OSSL_DECODER_CTX_free(ctx);
    if (!ok) {
        EVP_PKEY_free(key);
        ThrowLibraryError(fc::ErrPublicKeyDecode);
    }
    KeyPtr adopted = Adopt(key);
    std::lock_guard lock(mutex_);
    confederateKey_ = std::move(adopted);
}

bool TRSACypher::HasConfederateKey() const {
    std::lock_guard lock(mutex_);
    return confederateKey_ != nullptr;
}

std::vector<std::uint8_t> TRSACypher::Encrypt(std::span<const std::uint8_t> data) const {
    KeyPtr key;
    {
        std::lock_guard lock(mutex_);
        key = confederateKey_;
    }
    if (!key) {
        throw TDBXError(TDBXErrorCodes::None, fc::ErrNoConfederateKey);
    }
    const std::size_t k = ModulusBytes(key.get());
    // A modulus this small leaves no room for the padding; a chunk size of zero would never end.
    if (k <= fc::PKCS1PaddingSize) {
        throw TDBXError(TDBXErrorCodes::None,
                        Format(fc::ErrRSAKeyTooSmall, {IntToStr(static_cast<long long>(k))}));
    }
    CtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
        ThrowLibraryError(fc::ErrRSAOperation);
    }
    const std::size_t chunk = k - fc::PKCS1PaddingSize;
    std::vector<std::uint8_t> out;
    out.reserve((data.size() + chunk - 1) / chunk * k);
    for (std::size_t pos = 0; pos < data.size(); pos += chunk) {
        std::size_t inLength = std::min(chunk, data.size() - pos);
        std::size_t base = out.size();
        out.resize(base + k);
        std::size_t outLength = k;
        if (EVP_PKEY_encrypt(ctx.get(), out.data() + base, &outLength, data.data() + pos,
                             inLength) <= 0) {
            ThrowLibraryError(fc::ErrRSAOperation);
        }
        out.resize(base + outLength);
    }
    return out;
}

std::vector<std::uint8_t> TRSACypher::Decrypt(std::span<const std::uint8_t> data) const {
    KeyPtr key = KeyPair();
    const std::size_t k = ModulusBytes(key.get());
    // Every block the other side produces is exactly k bytes; anything else is damaged input.
    if (k == 0 || data.size() % k != 0) {
        throw TDBXError(TDBXErrorCodes::None, Format(fc::ErrRSABlockLength,
                                                     {IntToStr(static_cast<long long>(data.size())),
                                                      IntToStr(static_cast<long long>(k))}));
    }
    CtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
        ThrowLibraryError(fc::ErrRSAOperation);
    }
    std::vector<std::uint8_t> out;
    out.reserve(data.size());
    for (std::size_t pos = 0; pos < data.size(); pos += k) {
        std::size_t base = out.size();
        out.resize(base + k);
        std::size_t outLength = k;
        if (EVP_PKEY_decrypt(ctx.get(), out.data() + base, &outLength, data.data() + pos, k) <= 0) {
            ThrowLibraryError(fc::ErrRSAOperation);
        }
        out.resize(base + outLength);
    }
    return out;
}

}  // namespace ab
