#pragma once

// Thin RAII wrappers over OpenSSL's libcrypto, just the operations the Office methods need. All
// ciphers and hashes are OpenSSL's; nothing here implements one.
//
// Internal to the crypto module (the tests use it for known-answer checks).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

struct evp_md_ctx_st;
struct evp_cipher_ctx_st;
struct evp_md_st;
struct evp_cipher_st;

namespace Engine::OfficeCryptoDetail {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

enum class HashAlgorithm { Sha1, Sha256, Sha384, Sha512 };

std::size_t hashLength(HashAlgorithm algorithm);
std::string_view hashName(HashAlgorithm algorithm);

// One reusable digest context.
class Hasher
{
public:
    explicit Hasher(HashAlgorithm algorithm);
    ~Hasher();
    Hasher(const Hasher &) = delete;
    Hasher &operator=(const Hasher &) = delete;

    std::size_t length() const { return m_length; }
    // Hash of the concatenated parts into out (at least length() bytes).
    void hash(std::initializer_list<ByteView> parts, std::uint8_t *out);
    Bytes hash(std::initializer_list<ByteView> parts);

private:
    evp_md_ctx_st *m_ctx = nullptr;
    evp_md_st *m_md = nullptr;
    std::size_t m_length = 0;
};

// AES decryption without padding, CBC or ECB, with a key schedule kept between calls.
class AesDecryptor
{
public:
    enum class Mode { Cbc, Ecb };

    explicit AesDecryptor(Mode mode);
    ~AesDecryptor();
    AesDecryptor(const AesDecryptor &) = delete;
    AesDecryptor &operator=(const AesDecryptor &) = delete;

    // Key of 16, 24 or 32 bytes; the cipher is chosen by its size.
    void setKey(ByteView key);
    // Decrypts in place; data.size() must be a multiple of 16. CBC needs a 16-byte IV.
    void decrypt(std::span<std::uint8_t> data, ByteView iv = {});

private:
    Mode m_mode;
    evp_cipher_ctx_st *m_ctx = nullptr;
    evp_cipher_st *m_cipher = nullptr;
    std::size_t m_keyLength = 0;
};

// RC4 from OpenSSL's legacy provider (loaded on first use; System error if it is missing).
class Rc4
{
public:
    Rc4();
    ~Rc4();
    Rc4(const Rc4 &) = delete;
    Rc4 &operator=(const Rc4 &) = delete;

    // Starts a new keystream (key of 1 to 64 bytes).
    void setKey(ByteView key);
    // Continues the keystream over data, in place.
    void apply(std::span<std::uint8_t> data);

private:
    evp_cipher_ctx_st *m_ctx = nullptr;
    evp_cipher_st *m_cipher = nullptr;
};

// Comparison in constant time (the lengths are not secret).
bool equalBytes(ByteView a, ByteView b);
// Overwrites secrets before their memory is released.
void cleanse(std::span<std::uint8_t> bytes);

} // namespace Engine::OfficeCryptoDetail
