// Wire constants of the transport filters: ids, parameter names and values, and the error texts
// the filters raise. The filter channel and the bundled server use the same names.
#pragma once

#include <cstddef>

namespace ab::FilterConstants {

// Filter ids, as announced in the filter parameter block.
inline constexpr char16_t CompressionFilterId[] = u"ZLibCompression";
inline constexpr char16_t PC1FilterId[] = u"PC1";
inline constexpr char16_t RSAFilterId[] = u"RSA";

// Shared parameter name.
inline constexpr char16_t FilterUnit[] = u"FilterUnit";

// Compression filter.
inline constexpr char16_t CompressMoreThan[] = u"CompressMoreThan";
inline constexpr char16_t CompressionFilterUnit[] = u"DbxCompressionFilter";
inline constexpr int DefaultCompressMoreThan = 1024;
inline constexpr unsigned char CompressedMarker = 0x01;
inline constexpr unsigned char PlainMarker = 0x02;
// Cap on what one received frame may inflate to; a larger result is refused as a bomb.
inline constexpr std::size_t DefaultMaxInflatedSize = std::size_t{256} * 1024 * 1024;

// PC1 cipher filter.
inline constexpr char16_t Key[] = u"Key";
inline constexpr char16_t Code[] = u"CODE";
inline constexpr char16_t PC1FilterUnit[] = u"DbxSocketChannelNative";
inline constexpr char16_t PC1KeyAlphabet[] =
    u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!";
inline constexpr std::size_t PC1KeyLength = 16;
inline constexpr std::size_t PC1CheckBlockSize = 256;

// RSA key-exchange filter.
inline constexpr char16_t PublicKey[] = u"PublicKey";
inline constexpr char16_t UseGlobalKey[] = u"UseGlobalKey";
inline constexpr char16_t KeyLength[] = u"KeyLength";
inline constexpr char16_t KeyExponent[] = u"KeyExponent";
inline constexpr int DefaultKeyLength = 1024;
inline constexpr long long DefaultKeyExponent = 3;
inline constexpr std::size_t PKCS1PaddingSize = 11;

// Error texts.
inline constexpr char16_t ErrEmptyCypherKey[] = u"Encryption key expected to be not null";
inline constexpr char16_t ErrDecompression[] = u"Decompression error: %s";
inline constexpr char16_t ErrInflatedTooLarge[] =
    u"Decompressed data exceeds the limit of %s bytes";
inline constexpr char16_t ErrSSLLoad[] =
    u"Loading SSL module failed. One or more mapped methods are not available.";
inline constexpr char16_t ErrSSLNotLoaded[] =
    u"SSL module was not loaded or it was not loaded successful. Use LoadSSL method to load the "
    u"module";
inline constexpr char16_t ErrKeyGeneration[] = u"RSA key generation failed";
inline constexpr char16_t ErrPublicKeyDecode[] = u"RSA public key could not be decoded";
inline constexpr char16_t ErrNoConfederateKey[] = u"RSA public key of the other side is not set";
inline constexpr char16_t ErrNoKeyPair[] = u"RSA key pair is not available";
inline constexpr char16_t ErrRSAOperation[] = u"RSA operation failed";
inline constexpr char16_t ErrRSABlockLength[] =
    u"RSA encrypted data of %s bytes is not a whole number of %s-byte blocks";
inline constexpr char16_t ErrRSAKeyTooSmall[] =
    u"RSA key of %s bytes is too small for PKCS #1 padding";

}  // namespace ab::FilterConstants
