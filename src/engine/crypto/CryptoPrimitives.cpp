#include "engine/crypto/CryptoPrimitives.h"

#include "engine/crypto/OfficeCrypto.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <mutex>
#include <string>

namespace Engine::OfficeCryptoDetail {

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::string message = "OpenSSL: " + what;
    if (const unsigned long code = ERR_get_error()) {
        char text[256] = {};
        ERR_error_string_n(code, text, sizeof text);
        message += " (" + std::string(text) + ")";
    }
    ERR_clear_error();
    throw OfficeCryptoError(OfficeCryptoError::Kind::System, message);
}

// A library context of our own, so that loading the legacy provider for RC4 changes nothing for
// any other user of OpenSSL in the process. Created on first use and kept for the process.
class Library
{
public:
    static Library &instance()
    {
        static Library library;
        return library;
    }

    OSSL_LIB_CTX *context() const { return m_context; }

    // RC4 lives in the legacy provider since OpenSSL 3.
    void requireLegacy()
    {
        std::call_once(m_legacyOnce, [this] {
            m_legacy = OSSL_PROVIDER_load(m_context, "legacy");
            if (!m_legacy) {
                m_legacyError = "RC4 is unavailable because OpenSSL's legacy provider could not be loaded";
                if (const unsigned long code = ERR_get_error()) {
                    char text[256] = {};
                    ERR_error_string_n(code, text, sizeof text);
                    m_legacyError += std::string(" (") + text + ")";
                }
                ERR_clear_error();
            }
        });
        if (!m_legacy)
            throw OfficeCryptoError(OfficeCryptoError::Kind::System, m_legacyError);
    }

private:
    Library()
    {
        m_context = OSSL_LIB_CTX_new();
        if (!m_context)
            fail("cannot create a library context");
        m_default = OSSL_PROVIDER_load(m_context, "default");
        if (!m_default) {
            OSSL_LIB_CTX_free(m_context);
            fail("cannot load the default provider");
        }
    }
    // Kept until the process ends: providers may still be referenced by static objects.
    ~Library() = default;

    OSSL_LIB_CTX *m_context = nullptr;
    OSSL_PROVIDER *m_default = nullptr;
    OSSL_PROVIDER *m_legacy = nullptr;
    std::once_flag m_legacyOnce;
    std::string m_legacyError;
};

const char *opensslName(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Sha1:
        return "SHA1";
    case HashAlgorithm::Sha256:
        return "SHA2-256";
    case HashAlgorithm::Sha384:
        return "SHA2-384";
    case HashAlgorithm::Sha512:
        return "SHA2-512";
    }
    return "SHA1";
}

} // namespace

std::size_t hashLength(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Sha1:
        return 20;
    case HashAlgorithm::Sha256:
        return 32;
    case HashAlgorithm::Sha384:
        return 48;
    case HashAlgorithm::Sha512:
        return 64;
    }
    return 0;
}

std::string_view hashName(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Sha1:
        return "SHA-1";
    case HashAlgorithm::Sha256:
        return "SHA-256";
    case HashAlgorithm::Sha384:
        return "SHA-384";
    case HashAlgorithm::Sha512:
        return "SHA-512";
    }
    return "?";
}

Hasher::Hasher(HashAlgorithm algorithm)
{
    m_md = EVP_MD_fetch(Library::instance().context(), opensslName(algorithm), nullptr);
    if (!m_md)
        fail(std::string("the hash ") + opensslName(algorithm) + " is unavailable");
    m_ctx = EVP_MD_CTX_new();
    if (!m_ctx) {
        EVP_MD_free(m_md);
        fail("out of memory");
    }
    m_length = static_cast<std::size_t>(EVP_MD_get_size(m_md));
}

Hasher::~Hasher()
{
    EVP_MD_CTX_free(m_ctx);
    EVP_MD_free(m_md);
}

void Hasher::hash(std::initializer_list<ByteView> parts, std::uint8_t *out)
{
    if (EVP_DigestInit_ex2(m_ctx, m_md, nullptr) != 1)
        fail("digest initialisation failed");
    for (const ByteView part : parts) {
        if (!part.empty() && EVP_DigestUpdate(m_ctx, part.data(), part.size()) != 1)
            fail("digest update failed");
    }
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(m_ctx, out, &written) != 1 || written != m_length)
        fail("digest finalisation failed");
}

Bytes Hasher::hash(std::initializer_list<ByteView> parts)
{
    Bytes out(m_length);
    hash(parts, out.data());
    return out;
}

AesDecryptor::AesDecryptor(Mode mode) : m_mode(mode)
{
    m_ctx = EVP_CIPHER_CTX_new();
    if (!m_ctx)
        fail("out of memory");
}

AesDecryptor::~AesDecryptor()
{
    EVP_CIPHER_CTX_free(m_ctx); // also cleanses the key schedule
    EVP_CIPHER_free(m_cipher);
}

void AesDecryptor::setKey(ByteView key)
{
    if (key.size() != 16 && key.size() != 24 && key.size() != 32)
        throw OfficeCryptoError(OfficeCryptoError::Kind::Damaged, "an AES key must have 128, 192 or 256 bits");
    if (!m_cipher || key.size() != m_keyLength) {
        const std::string name = "AES-" + std::to_string(key.size() * 8) + (m_mode == Mode::Cbc ? "-CBC" : "-ECB");
        EVP_CIPHER_free(m_cipher);
        m_cipher = EVP_CIPHER_fetch(Library::instance().context(), name.c_str(), nullptr);
        if (!m_cipher)
            fail("the cipher " + name + " is unavailable");
        m_keyLength = key.size();
        if (EVP_DecryptInit_ex2(m_ctx, m_cipher, key.data(), nullptr, nullptr) != 1)
            fail("cipher initialisation failed");
    } else if (EVP_DecryptInit_ex2(m_ctx, nullptr, key.data(), nullptr, nullptr) != 1) {
        fail("cipher initialisation failed");
    }
    EVP_CIPHER_CTX_set_padding(m_ctx, 0);
}

void AesDecryptor::decrypt(std::span<std::uint8_t> data, ByteView iv)
{
    if (!m_cipher)
        fail("no key set");
    if (data.size() % 16 != 0 || data.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::invalid_argument("AES decryption needs whole 16-byte blocks");
    if (m_mode == Mode::Cbc) {
        if (iv.size() != 16)
            throw std::invalid_argument("AES-CBC needs a 16-byte IV");
        if (EVP_DecryptInit_ex2(m_ctx, nullptr, nullptr, iv.data(), nullptr) != 1)
            fail("cipher initialisation failed");
        EVP_CIPHER_CTX_set_padding(m_ctx, 0);
    }
    if (data.empty())
        return;
    int written = 0;
    if (EVP_DecryptUpdate(m_ctx, data.data(), &written, data.data(), static_cast<int>(data.size())) != 1 ||
        static_cast<std::size_t>(written) != data.size())
        fail("decryption failed");
}

Rc4::Rc4()
{
    Library::instance().requireLegacy();
    m_cipher = EVP_CIPHER_fetch(Library::instance().context(), "RC4", nullptr);
    if (!m_cipher)
        fail("the cipher RC4 is unavailable");
    m_ctx = EVP_CIPHER_CTX_new();
    if (!m_ctx) {
        EVP_CIPHER_free(m_cipher);
        fail("out of memory");
    }
}

Rc4::~Rc4()
{
    EVP_CIPHER_CTX_free(m_ctx);
    EVP_CIPHER_free(m_cipher);
}

void Rc4::setKey(ByteView key)
{
    if (key.empty() || key.size() > 64)
        throw OfficeCryptoError(OfficeCryptoError::Kind::Damaged, "an RC4 key must have 8 to 512 bits");
    if (EVP_DecryptInit_ex2(m_ctx, m_cipher, nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_key_length(m_ctx, static_cast<int>(key.size())) != 1 ||
        EVP_DecryptInit_ex2(m_ctx, nullptr, key.data(), nullptr, nullptr) != 1)
        fail("RC4 initialisation failed");
}

void Rc4::apply(std::span<std::uint8_t> data)
{
    if (data.size() > static_cast<std::size_t>(INT32_MAX))
        throw std::invalid_argument("RC4 input too large");
    if (data.empty())
        return;
    int written = 0;
    if (EVP_DecryptUpdate(m_ctx, data.data(), &written, data.data(), static_cast<int>(data.size())) != 1 ||
        static_cast<std::size_t>(written) != data.size())
        fail("RC4 failed");
}

bool equalBytes(ByteView a, ByteView b)
{
    return a.size() == b.size() && (a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0);
}

void cleanse(std::span<std::uint8_t> bytes)
{
    if (!bytes.empty())
        OPENSSL_cleanse(bytes.data(), bytes.size());
}

} // namespace Engine::OfficeCryptoDetail
