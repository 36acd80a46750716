#pragma once

// The building blocks of OfficeCrypto.cpp: password encoding, the key derivations of each method
// and the reading of the Agile descriptor. Internal to the crypto module; declared here so that
// the tests can check them against independently computed values.

#include "engine/crypto/CryptoPrimitives.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace Engine::OfficeCryptoDetail {

// Access counts at most 255 UTF-16 units of a password.
inline constexpr std::size_t kMaxPasswordUnits = 255;
// No legitimate file hashes its password more often (Office writes 100,000); a damaged or hostile
// header must not keep the worker busy for hours.
inline constexpr std::uint32_t kMaxSpinCount = 10'000'000;
// The CryptoAPI AES method hashes its password this often; the "non-standard" one does not.
inline constexpr std::uint32_t kStandardAesSpinCount = 50'000;

// The password as Access hashes it: UTF-16LE of the UTF-8 text (invalid sequences become U+FFFD),
// cut to kMaxPasswordUnits units without splitting a surrogate pair.
Bytes passwordBytes(std::string_view utf8);

// Strict base64 (RFC 4648 alphabet, '=' padding, no whitespace). Throws OfficeCryptoError(Damaged).
Bytes decodeBase64(std::string_view text);

// The block key of page n: the encoding key XOR n, little-endian.
std::array<std::uint8_t, 4> pageBlockKey(std::uint32_t encodingKey, std::uint32_t pageNumber);

// Copy of bytes cut or padded (with pad) to length.
Bytes fitToLength(ByteView bytes, std::size_t length, std::uint8_t pad);

// H0 = H(salt + password); Hn = H(LE32(n - 1) + Hn-1) for n = 1 .. iterations. Used by Agile (any
// hash, spinCount rounds) and by the CryptoAPI methods (SHA-1; 50,000 rounds for Standard AES,
// none for RC4 and for the non-standard AES method).
Bytes iteratedHash(Hasher &hasher, ByteView salt, ByteView password, std::uint32_t iterations);

// Agile: the key for one of the fixed block keys: H(iterated + blockKey) cut or padded with 0x36.
Bytes agileKey(Hasher &hasher, ByteView iterated, ByteView blockKey, std::size_t keyBytes);
// Agile: the IV of a page: H(keyDataSalt + blockKey) cut or padded with 0x36 to the block size.
Bytes agileIv(Hasher &hasher, ByteView keyDataSalt, ByteView blockKey, std::size_t blockSize);

// CryptoAPI AES (SHA-1 hasher): Hfinal = H(iterated + blockKey); X1 = H(0x36 * 64 XOR Hfinal),
// X2 = H(0x5C * 64 XOR Hfinal); the key is the first keyBytes of X1 + X2.
Bytes cryptoApiAesKey(Hasher &hasher, ByteView iterated, ByteView blockKey, std::size_t keyBytes);
// RC4 CryptoAPI (SHA-1 hasher): the first keyBits / 8 bytes of H(baseHash + blockKey); a 40-bit
// key is padded with zero bytes to 128 bits, as the CryptoAPI does.
Bytes rc4CryptoApiKey(Hasher &hasher, ByteView baseHash, ByteView blockKey, std::size_t keyBits);

// The fixed block keys of the three values an Agile password key encryptor protects.
inline constexpr std::array<std::uint8_t, 8> kAgileVerifierInputBlock = {0xfe, 0xa7, 0xd2, 0x76,
                                                                         0x3b, 0x4b, 0x9e, 0x79};
inline constexpr std::array<std::uint8_t, 8> kAgileVerifierValueBlock = {0xd7, 0xaa, 0x0f, 0x6d,
                                                                         0x30, 0x61, 0x34, 0x4e};
inline constexpr std::array<std::uint8_t, 8> kAgileKeyValueBlock = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

struct AgileCipherParams
{
    HashAlgorithm hash = HashAlgorithm::Sha1;
    std::size_t keyBytes = 0;  // of the AES key
    std::size_t blockSize = 0; // always 16 (AES)
    std::size_t hashSize = 0;  // equals hashLength(hash)
    Bytes salt;
};

struct AgilePasswordKey : AgileCipherParams
{
    std::uint32_t spinCount = 0;
    Bytes encryptedVerifierHashInput;
    Bytes encryptedVerifierHashValue;
    Bytes encryptedKeyValue;
};

struct AgileDescriptor
{
    AgileCipherParams keyData;
    AgilePasswordKey passwordKey;
};

// Reads the XML of an Agile header (the bytes after the version and the reserved field). Throws
// OfficeCryptoError: Damaged (malformed XML, missing or inconsistent attributes, bad base64,
// sizes that do not match, spinCount above kMaxSpinCount) or UnsupportedScheme (a cipher,
// chaining or hash it cannot use, or no password key encryptor).
AgileDescriptor parseAgileDescriptor(std::string_view xml);

} // namespace Engine::OfficeCryptoDetail
