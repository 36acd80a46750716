#include "EncryptedCopy.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace EncryptedCopy {

namespace {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kVersionOffset = 0x14;
constexpr std::size_t kMaskOffset = 0x18;
constexpr std::size_t kMaskedBytes = 128;
constexpr std::size_t kEncodingKeyOffset = 0x3E;
constexpr std::size_t kInfoOffset = 0x299;
constexpr std::size_t kChunkPages = 256;

// The fixed block keys under which an Agile password protects its three values.
constexpr std::array<std::uint8_t, 8> kVerifierInputBlock = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr std::array<std::uint8_t, 8> kVerifierValueBlock = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr std::array<std::uint8_t, 8> kKeyValueBlock = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error("cannot make the encrypted copy: " + what);
}

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

std::array<std::uint8_t, 4> littleEndian(std::uint32_t value)
{
    return {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
}

Bytes sha512(std::initializer_list<ByteView> parts)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    Bytes out(64);
    bool ok = ctx && EVP_DigestInit_ex2(ctx.get(), EVP_sha512(), nullptr) == 1;
    for (const ByteView part : parts)
        ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
    if (!ok || EVP_DigestFinal_ex(ctx.get(), out.data(), nullptr) != 1)
        fail("SHA-512 failed");
    return out;
}

Bytes fitToLength(ByteView bytes, std::size_t length, std::uint8_t pad)
{
    Bytes out(length, pad);
    std::copy_n(bytes.begin(), std::min(length, bytes.size()), out.begin());
    return out;
}

// AES-256-CBC without padding, one call per page or value.
class Aes
{
public:
    Aes(ByteView key, bool encrypt) : m_ctx(EVP_CIPHER_CTX_new()), m_encrypt(encrypt)
    {
        if (key.size() != 32 || !m_ctx ||
            EVP_CipherInit_ex2(m_ctx.get(), EVP_aes_256_cbc(), key.data(), nullptr, encrypt, nullptr) != 1)
            fail("AES-256-CBC initialisation failed");
    }
    void apply(std::span<std::uint8_t> data, ByteView iv)
    {
        int written = 0;
        if (EVP_CipherInit_ex2(m_ctx.get(), nullptr, nullptr, iv.data(), m_encrypt, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(m_ctx.get(), 0) != 1 ||
            EVP_CipherUpdate(m_ctx.get(), data.data(), &written, data.data(), int(data.size())) != 1 ||
            std::size_t(written) != data.size())
            fail("AES-256-CBC failed");
    }

private:
    CipherContext m_ctx;
    int m_encrypt;
};

// The header from 0x18 is XORed with the RC4 keystream of a constant key (OpenSSL's legacy
// provider has RC4; its own library context leaves the process's defaults alone).
std::array<std::uint8_t, kMaskedBytes> headerMask()
{
    std::unique_ptr<OSSL_LIB_CTX, decltype(&OSSL_LIB_CTX_free)> library(OSSL_LIB_CTX_new(), OSSL_LIB_CTX_free);
    OSSL_PROVIDER *legacy = library ? OSSL_PROVIDER_load(library.get(), "legacy") : nullptr;
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> rc4(
        legacy ? EVP_CIPHER_fetch(library.get(), "RC4", nullptr) : nullptr, EVP_CIPHER_free);
    static constexpr std::array<std::uint8_t, 4> key = {0xC7, 0xDA, 0x39, 0x6B};
    std::array<std::uint8_t, kMaskedBytes> stream{};
    CipherContext ctx(EVP_CIPHER_CTX_new());
    int written = 0;
    const bool ok = rc4 && ctx && EVP_EncryptInit_ex2(ctx.get(), rc4.get(), nullptr, nullptr, nullptr) == 1 &&
                    EVP_CIPHER_CTX_set_key_length(ctx.get(), int(key.size())) == 1 &&
                    EVP_EncryptInit_ex2(ctx.get(), nullptr, key.data(), nullptr, nullptr) == 1 &&
                    EVP_EncryptUpdate(ctx.get(), stream.data(), &written, stream.data(), int(stream.size())) == 1;
    ctx.reset();
    rc4.reset();
    if (legacy)
        OSSL_PROVIDER_unload(legacy);
    if (!ok)
        fail("RC4 from OpenSSL's legacy provider is unavailable");
    return stream;
}

std::uint32_t encodingKey(ByteView page, const std::array<std::uint8_t, kMaskedBytes> &mask)
{
    std::uint32_t key = 0;
    for (std::size_t i = 0; i < 4; ++i)
        key |= std::uint32_t(page[kEncodingKeyOffset + i] ^ mask[kEncodingKeyOffset - kMaskOffset + i]) << (8 * i);
    return key;
}

Bytes readPageZero(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    Bytes page(kPageSize);
    if (!in.read(reinterpret_cast<char *>(page.data()), std::streamsize(page.size())))
        fail("cannot read the first page of " + file.string());
    if (std::string_view(reinterpret_cast<const char *>(page.data()) + 4, 15) != "Standard ACE DB" ||
        page[kVersionOffset] < 2)
        fail(file.string() + " is not an Access 2007+ database");
    return page;
}

// The value of an attribute of the first element of that name in the descriptor. The descriptor
// is machine-written, flat and known; a full XML parser would add nothing here.
std::string attribute(std::string_view xml, std::string_view element, std::string_view name)
{
    std::string open = "<";
    open.append(element).append(" ");
    const std::size_t start = xml.find(open);
    const std::size_t end = start == std::string_view::npos ? start : xml.find('>', start);
    const std::string_view tag = end == std::string_view::npos ? std::string_view() : xml.substr(start, end - start);
    std::string key = " ";
    key.append(name).append("=\"");
    const std::size_t at = tag.find(key);
    const std::size_t close = at == std::string_view::npos ? at : tag.find('"', at + key.size());
    if (close == std::string_view::npos)
        fail("the donor's descriptor has no " + std::string(element) + " " + std::string(name));
    return std::string(tag.substr(at + key.size(), close - at - key.size()));
}

Bytes base64(const std::string &text)
{
    Bytes out(text.size() / 4 * 3 + 3);
    const int length =
        EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()), int(text.size()));
    if (length < 0 || text.size() % 4 != 0)
        fail("bad base64 in the donor's descriptor");
    out.resize(std::size_t(length) -
               std::size_t(std::count(text.end() - std::min<std::size_t>(2, text.size()), text.end(), '=')));
    return out;
}

// The donor's secret page key: the password opens (with 100,000-odd rounds of SHA-512) the key
// that encrypts the secret; the verifier pair first proves the password right.
struct AgileKeys
{
    Bytes pageSalt;
    Bytes secret;
};

AgileKeys agileKeys(std::string_view xml, const std::string &password)
{
    for (const char *element : {"keyData", "p:encryptedKey"}) {
        if (attribute(xml, element, "cipherAlgorithm") != "AES" ||
            attribute(xml, element, "cipherChaining") != "ChainingModeCBC" ||
            attribute(xml, element, "hashAlgorithm") != "SHA512" || attribute(xml, element, "keyBits") != "256")
            fail("the donor is not encrypted with AES-256-CBC and SHA-512");
    }
    Bytes utf16;
    for (const char c : password) {
        if (static_cast<unsigned char>(c) >= 0x80)
            fail("the donor's password must be ASCII");
        utf16.insert(utf16.end(), {std::uint8_t(c), 0});
    }
    const Bytes salt = base64(attribute(xml, "p:encryptedKey", "saltValue"));
    const std::string spin = attribute(xml, "p:encryptedKey", "spinCount");
    if (spin.empty() || spin.size() > 8 || spin.find_first_not_of("0123456789") != std::string::npos)
        fail("the donor's spinCount is not a number");
    const unsigned long spinCount = std::stoul(spin);
    Bytes iterated = sha512({salt, utf16});
    for (std::uint32_t i = 0; i < spinCount; ++i)
        iterated = sha512({littleEndian(i), iterated});
    const Bytes iv = fitToLength(salt, 16, 0x36);
    const auto open = [&](ByteView block, const char *name) {
        Bytes value = base64(attribute(xml, "p:encryptedKey", name));
        if (value.empty() || value.size() % 16 != 0)
            fail(std::string("the donor's ") + name + " is not whole AES blocks");
        Aes(ByteView(sha512({iterated, block})).first(32), false).apply(value, iv);
        return value;
    };
    const Bytes input = open(kVerifierInputBlock, "encryptedVerifierHashInput");
    const Bytes value = open(kVerifierValueBlock, "encryptedVerifierHashValue");
    if (input.size() < salt.size() || value.size() < 64 ||
        !std::equal(value.begin(), value.begin() + 64, sha512({ByteView(input).first(salt.size())}).begin()))
        fail("the password does not open the donor");
    Bytes secret = open(kKeyValueBlock, "encryptedKeyValue");
    if (secret.size() < 32)
        fail("the donor's encryptedKeyValue is too short");
    secret.resize(32);
    return {base64(attribute(xml, "keyData", "saltValue")), secret};
}

} // namespace

void make(const std::filesystem::path &plain, const Donor &donor, const std::filesystem::path &target)
{
    const auto mask = headerMask();
    Bytes pageZero = readPageZero(plain);
    const Bytes donorPage = readPageZero(donor.file);
    if (encodingKey(pageZero, mask) != 0)
        fail(plain.string() + " is already encrypted");
    const std::uint32_t key = encodingKey(donorPage, mask);
    if (key == 0)
        fail(donor.file.string() + " is not encrypted");

    // The donor's encryption header: a uint16 length, then version 4.4, the value 0x40, the XML.
    const std::size_t infoLength = donorPage[kInfoOffset] | donorPage[kInfoOffset + 1] << 8;
    const std::size_t infoEnd = kInfoOffset + 2 + infoLength;
    if (infoLength < 8 || infoEnd > kPageSize)
        fail("the donor's encryption header does not fit its first page");
    const ByteView info = ByteView(donorPage).subspan(kInfoOffset + 2, infoLength);
    if (!std::equal(info.begin(), info.begin() + 8, std::array<std::uint8_t, 8>{4, 0, 4, 0, 0x40, 0, 0, 0}.begin()))
        fail("the donor is not Agile-encrypted");
    const AgileKeys keys =
        agileKeys(std::string_view(reinterpret_cast<const char *>(info.data()) + 8, info.size() - 8), donor.password);

    // An unencrypted database leaves that area of its first page empty; anything there would be
    // lost under the header.
    if (std::any_of(pageZero.begin() + kInfoOffset, pageZero.begin() + infoEnd, [](std::uint8_t b) { return b != 0; }))
        fail(plain.string() + " uses the first-page area of the encryption header");
    std::copy(donorPage.begin() + kInfoOffset, donorPage.begin() + infoEnd, pageZero.begin() + kInfoOffset);
    // The field is masked; the copy's key is zero, so the masked key is the mask XOR the key.
    const auto keyBytes = littleEndian(key);
    for (std::size_t i = 0; i < 4; ++i)
        pageZero[kEncodingKeyOffset + i] = mask[kEncodingKeyOffset - kMaskOffset + i] ^ keyBytes[i];

    std::ifstream in(plain, std::ios::binary);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    const std::uintmax_t size = std::filesystem::file_size(plain);
    if (!in || !out || size % kPageSize != 0)
        fail("cannot read " + plain.string() + " as whole pages, or cannot write " + target.string());
    out.write(reinterpret_cast<const char *>(pageZero.data()), std::streamsize(kPageSize));
    in.seekg(std::streamoff(kPageSize));

    // Page n: AES-CBC under the secret key, its IV SHA-512(keyData salt + LE32(key XOR n)) cut to
    // one block.
    Aes aes(keys.secret, true);
    Bytes chunk(kChunkPages * kPageSize);
    const auto pages = std::uint32_t(size / kPageSize);
    for (std::uint32_t first = 1; first < pages; first += kChunkPages) {
        const std::uint32_t count = std::min<std::uint32_t>(kChunkPages, pages - first);
        const std::span<std::uint8_t> block = std::span(chunk).first(std::size_t(count) * kPageSize);
        if (!in.read(reinterpret_cast<char *>(block.data()), std::streamsize(block.size())))
            fail("cannot read " + plain.string());
        for (std::uint32_t i = 0; i < count; ++i) {
            const Bytes iv = fitToLength(sha512({keys.pageSalt, littleEndian(key ^ (first + i))}), 16, 0x36);
            aes.apply(block.subspan(std::size_t(i) * kPageSize, kPageSize), iv);
        }
        out.write(reinterpret_cast<const char *>(block.data()), std::streamsize(block.size()));
    }
    if (!out.flush())
        fail("cannot write " + target.string());
}

} // namespace EncryptedCopy
