// RSA over OpenSSL for the key-exchange filter: key pair generation, the other side's public key
// as DER RSAPublicKey, and PKCS #1 v1.5 encryption and decryption in whole blocks.
//
// The process holds one global key pair, shared by every cipher with the global policy; a cipher
// with the local policy owns a key pair of its own. Key pairs are held by reference count and
// taken under their lock. A global-policy cipher keeps the global pair it first used, so a later
// generation of the global pair never changes the key of a handshake under way; the cipher's own
// GenerateKey replaces the global pair and takes the new one. All members may be called from
// several threads; one cipher object is meant for one connection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

struct evp_pkey_st;

namespace ab {

enum class TKeyUsagePolicy { kupUseGlobalKey, kupUseLocalKey };

class TRSACypher {
  public:
    using KeyPtr = std::shared_ptr<evp_pkey_st>;

    explicit TRSACypher(TKeyUsagePolicy policy = TKeyUsagePolicy::kupUseGlobalKey);
    ~TRSACypher();
    TRSACypher(const TRSACypher&) = delete;
    TRSACypher& operator=(const TRSACypher&) = delete;

    TKeyUsagePolicy KeyUsagePolicy() const { return policy_; }

    // Replaces the key pair this cipher uses (the global one under the global policy) with a new
    // one of keyLength bits and the public exponent EffectiveExponent(exponent). Raises TDBXError
    // when the library is not loaded or the generation fails.
    void GenerateKey(int keyLength, long long exponent);
    // DER RSAPublicKey (PKCS #1) of the key pair in use.
    std::vector<std::uint8_t> GetPublicKey() const;
    // Reads a DER RSAPublicKey as the other side's key, replacing a previous one.
    void SetConfederatePublicKey(std::span<const std::uint8_t> der);
    bool HasConfederateKey() const;
    // With the other side's key of k bytes: chunks of k - 11 bytes, each into k bytes.
    std::vector<std::uint8_t> Encrypt(std::span<const std::uint8_t> data) const;
    // With this side's private key of k bytes: chunks of exactly k bytes.
    std::vector<std::uint8_t> Decrypt(std::span<const std::uint8_t> data) const;

    // Process-wide library state. LoadSSL runs the loading once; later calls report its outcome.
    static bool LoadSSL();
    static bool IsSSLLoadAttempted();
    static bool IsSSLLoaded();
    static std::u16string SSLLoadError();
    // On the first call of the process: loads the library and, when that succeeds, generates the
    // global key pair with the given size and exponent. Later calls do nothing.
    static void LoadAndGenerateGlobalKey(int keyLength, long long exponent);
    static bool HasGlobalKey();
    // Generates the global key pair unless one exists (a failed first generation leaves none).
    static void EnsureGlobalKey(int keyLength, long long exponent);
    // 3 for exponents up to 2, an even exponent plus one, an odd one unchanged.
    static long long EffectiveExponent(long long exponent);

  private:
    KeyPtr KeyPair() const;

    TKeyUsagePolicy policy_;
    mutable std::mutex mutex_;  // guards ownKey_ and confederateKey_
    // The local pair, or the global pair this cipher uses once it has used one.
    mutable KeyPtr ownKey_;
    KeyPtr confederateKey_;
};

}  // namespace ab
