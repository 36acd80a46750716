#include "engine/crypto/OfficeCrypto.h"

#include "engine/Bytes.h"
#include "engine/crypto/OfficeCryptoDetail.h"

#include <algorithm>
#include <cctype>

namespace Engine {

using namespace OfficeCryptoDetail;

namespace {

constexpr std::size_t kInfoOffset = 0x299;

// Flags of the binary (x.2) header.
constexpr std::uint32_t kFlagCryptoApi = 0x04;
constexpr std::uint32_t kFlagExternal = 0x10;
constexpr std::uint32_t kFlagAes = 0x20;
// Algorithm ids of the binary header (CryptoAPI ALG_ID values).
constexpr std::uint32_t kAlgRc4 = 0x6801;
constexpr std::uint32_t kAlgAes128 = 0x660E;
constexpr std::uint32_t kAlgAes192 = 0x660F;
constexpr std::uint32_t kAlgAes256 = 0x6610;
constexpr std::uint32_t kAlgSha1 = 0x8004;
constexpr std::size_t kFixedHeaderBytes = 32; // flags .. reserved2, before the provider name
constexpr std::size_t kVerifierSaltBytes = 16;
constexpr std::size_t kVerifierBytes = 16;
constexpr std::size_t kSha1Bytes = 20;
// The value that precedes the XML of an Agile header.
constexpr std::uint32_t kAgileReserved = 0x40;

[[noreturn]] void damaged(const std::string &what)
{
    throw OfficeCryptoError(OfficeCryptoError::Kind::Damaged,
                            "The encryption header of this database is damaged: " + what + ".");
}

[[noreturn]] void wrongPassword()
{
    throw OfficeCryptoError(OfficeCryptoError::Kind::WrongPassword, "Not a valid password.");
}

// Bounds-checked little-endian reading.
class Reader
{
public:
    explicit Reader(ByteView data) : m_data(data) {}

    ByteView bytes(std::size_t count, const char *what)
    {
        if (count > m_data.size() - m_pos)
            damaged(std::string(what) + " extends beyond its length");
        const ByteView out = m_data.subspan(m_pos, count);
        m_pos += count;
        return out;
    }
    std::uint16_t u16(const char *what) { return static_cast<std::uint16_t>(Raw::u16(bytes(2, what), 0)); }
    std::uint32_t u32(const char *what) { return Raw::u32(bytes(4, what), 0); }
    ByteView rest() { return bytes(m_data.size() - m_pos, "the rest"); }

private:
    ByteView m_data;
    std::size_t m_pos = 0;
};

ByteView encryptionInfo(ByteView pageZero)
{
    if (pageZero.size() < kInfoOffset + 2)
        damaged("the first page is too short");
    const std::size_t length = static_cast<std::size_t>(Raw::u16(pageZero, kInfoOffset));
    if (length < 4)
        damaged("its length is too small");
    if (length > pageZero.size() - kInfoOffset - 2)
        damaged("it extends beyond the first page");
    return pageZero.subspan(kInfoOffset + 2, length);
}

// The binary header of the x.2 methods: EncryptionHeader then EncryptionVerifier.
struct CryptoApiHeader
{
    std::uint32_t flagsCopy = 0;
    std::uint32_t flags = 0;
    std::uint32_t algId = 0;
    std::uint32_t algIdHash = 0;
    std::uint32_t keyBits = 0;
    std::string provider; // printable ASCII, for messages
    Bytes salt;
    Bytes encryptedVerifier;
    std::uint32_t verifierHashSize = 0;
    Bytes encryptedVerifierHash;
};

bool isAesAlgorithm(std::uint32_t algId)
{
    return algId == kAlgAes128 || algId == kAlgAes192 || algId == kAlgAes256;
}

std::string providerName(ByteView utf16)
{
    std::string name;
    for (std::size_t i = 0; i + 1 < utf16.size() && name.size() < 128; i += 2) {
        const unsigned unit = Raw::u16(utf16, i);
        if (unit == 0)
            break;
        name.push_back(unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?');
    }
    return name;
}

OfficeCryptoScheme classify(const CryptoApiHeader &header)
{
    if (!(header.flagsCopy & kFlagCryptoApi))
        return OfficeCryptoScheme::Unknown;
    if ((header.flags & kFlagExternal) && header.algId == 0)
        return OfficeCryptoScheme::Extensible;
    if (header.flagsCopy & kFlagAes)
        return OfficeCryptoScheme::StandardAes;
    if (header.algId == kAlgRc4 || header.algId == 0)
        return OfficeCryptoScheme::Rc4CryptoApi;
    if (isAesAlgorithm(header.algId))
        return OfficeCryptoScheme::NonStandardAes;
    return OfficeCryptoScheme::Unknown;
}

// Reads the binary header after the version; the verifier only for the schemes that have one.
CryptoApiHeader readCryptoApiHeader(Reader &reader, OfficeCryptoScheme &scheme)
{
    CryptoApiHeader header;
    header.flagsCopy = reader.u32("the flags");
    const std::uint32_t headerSize = reader.u32("the header size");
    if (headerSize < kFixedHeaderBytes)
        damaged("the header size is too small");
    Reader fields(reader.bytes(headerSize, "the header"));
    header.flags = fields.u32("the flags");
    fields.u32("the extra size");
    header.algId = fields.u32("the algorithm");
    header.algIdHash = fields.u32("the hash algorithm");
    header.keyBits = fields.u32("the key size");
    fields.u32("the provider type");
    fields.u32("a reserved field");
    fields.u32("a reserved field");
    header.provider = providerName(fields.rest());

    scheme = classify(header);
    if (scheme != OfficeCryptoScheme::Rc4CryptoApi && scheme != OfficeCryptoScheme::StandardAes &&
        scheme != OfficeCryptoScheme::NonStandardAes)
        return header;

    if (reader.u32("the salt size") != kVerifierSaltBytes)
        damaged("the salt size is not 16");
    const ByteView salt = reader.bytes(kVerifierSaltBytes, "the salt");
    header.salt.assign(salt.begin(), salt.end());
    const ByteView verifier = reader.bytes(kVerifierBytes, "the verifier");
    header.encryptedVerifier.assign(verifier.begin(), verifier.end());
    header.verifierHashSize = reader.u32("the verifier hash size");
    if (header.verifierHashSize != kSha1Bytes)
        damaged("the verifier hash size is not 20");
    // RC4 encrypts the 20 bytes of the hash; AES pads them to two blocks.
    const std::size_t encryptedHashBytes = scheme == OfficeCryptoScheme::Rc4CryptoApi ? kSha1Bytes : 32;
    const ByteView hash = reader.bytes(encryptedHashBytes, "the verifier hash");
    header.encryptedVerifierHash.assign(hash.begin(), hash.end());
    return header;
}

class Method
{
public:
    virtual ~Method() = default;
    virtual void decrypt(std::uint32_t pageNumber, std::span<std::uint8_t> page) = 0;
};

// Version 4.4. The password unlocks an intermediate key (with three derived keys: two for the
// verifier, one for the key itself); each page is AES-CBC with that key and an IV hashed from the
// keyData salt and the page's block key.
class AgileMethod final : public Method
{
public:
    AgileMethod(const AgileDescriptor &descriptor, ByteView password, std::uint32_t encodingKey)
        : m_encodingKey(encodingKey), m_salt(descriptor.keyData.salt), m_blockSize(descriptor.keyData.blockSize),
          m_hasher(descriptor.keyData.hash), m_aes(AesDecryptor::Mode::Cbc)
    {
        const AgilePasswordKey &key = descriptor.passwordKey;
        Hasher hasher(key.hash);
        Bytes iterated = iteratedHash(hasher, key.salt, password, key.spinCount);
        const Bytes iv = fitToLength(key.salt, key.blockSize, 0x36);
        AesDecryptor aes(AesDecryptor::Mode::Cbc);
        const auto open = [&](ByteView block, const Bytes &encrypted) {
            Bytes derived = agileKey(hasher, iterated, block, key.keyBytes);
            aes.setKey(derived);
            cleanse(derived);
            Bytes value = encrypted;
            aes.decrypt(value, iv);
            return value;
        };

        Bytes input = open(kAgileVerifierInputBlock, key.encryptedVerifierHashInput);
        Bytes value = open(kAgileVerifierValueBlock, key.encryptedVerifierHashValue);
        Bytes expected = hasher.hash({ByteView(input).first(key.salt.size())});
        const bool valid = equalBytes(expected, ByteView(value).first(key.hashSize));
        cleanse(input);
        cleanse(value);
        cleanse(expected);
        if (!valid) {
            cleanse(iterated);
            wrongPassword();
        }

        Bytes secret = open(kAgileKeyValueBlock, key.encryptedKeyValue);
        cleanse(iterated);
        m_aes.setKey(ByteView(secret).first(descriptor.keyData.keyBytes));
        cleanse(secret);
    }

    void decrypt(std::uint32_t pageNumber, std::span<std::uint8_t> page) override
    {
        const auto block = pageBlockKey(m_encodingKey, pageNumber);
        const Bytes iv = agileIv(m_hasher, m_salt, block, m_blockSize);
        m_aes.decrypt(page, iv);
    }

private:
    std::uint32_t m_encodingKey;
    Bytes m_salt;
    std::size_t m_blockSize;
    Hasher m_hasher;
    AesDecryptor m_aes;
};

// x.2 with AES: every page is AES-ECB with its own key, derived from the hashed password and the
// page's block key with the CryptoAPI's key derivation. Standard hashes the password 50,000
// times; the non-standard variant not at all.
class CryptoApiAesMethod final : public Method
{
public:
    CryptoApiAesMethod(const CryptoApiHeader &header, ByteView password, std::uint32_t encodingKey,
                       std::uint32_t iterations, std::size_t keyBytes)
        : m_encodingKey(encodingKey), m_keyBytes(keyBytes), m_hasher(HashAlgorithm::Sha1),
          m_aes(AesDecryptor::Mode::Ecb)
    {
        m_iterated = iteratedHash(m_hasher, header.salt, password, iterations);
        const std::array<std::uint8_t, 4> blockZero{};
        setKey(blockZero);
        Bytes verifier = header.encryptedVerifier;
        Bytes hash = header.encryptedVerifierHash;
        m_aes.decrypt(verifier);
        m_aes.decrypt(hash);
        Bytes expected = m_hasher.hash({verifier});
        const bool valid = equalBytes(expected, ByteView(hash).first(kSha1Bytes));
        cleanse(verifier);
        cleanse(hash);
        cleanse(expected);
        if (!valid) {
            cleanse(m_iterated);
            wrongPassword();
        }
    }
    ~CryptoApiAesMethod() override { cleanse(m_iterated); }

    void decrypt(std::uint32_t pageNumber, std::span<std::uint8_t> page) override
    {
        setKey(pageBlockKey(m_encodingKey, pageNumber));
        m_aes.decrypt(page);
    }

private:
    void setKey(ByteView block)
    {
        Bytes key = cryptoApiAesKey(m_hasher, m_iterated, block, m_keyBytes);
        m_aes.setKey(key);
        cleanse(key);
    }

    std::uint32_t m_encodingKey;
    std::size_t m_keyBytes;
    Hasher m_hasher;
    AesDecryptor m_aes;
    Bytes m_iterated;
};

// x.2 with RC4: every page is RC4 with the key SHA-1(H0 + block key), cut to the key size.
class Rc4CryptoApiMethod final : public Method
{
public:
    Rc4CryptoApiMethod(const CryptoApiHeader &header, ByteView password, std::uint32_t encodingKey, std::size_t keyBits)
        : m_encodingKey(encodingKey), m_keyBits(keyBits), m_hasher(HashAlgorithm::Sha1)
    {
        m_baseHash = iteratedHash(m_hasher, header.salt, password, 0);
        const std::array<std::uint8_t, 4> blockZero{};
        setKey(blockZero);
        // One keystream over the verifier and then its hash.
        Bytes verifier = header.encryptedVerifier;
        Bytes hash = header.encryptedVerifierHash;
        m_rc4.apply(verifier);
        m_rc4.apply(hash);
        Bytes expected = m_hasher.hash({verifier});
        const bool valid = equalBytes(expected, hash);
        cleanse(verifier);
        cleanse(hash);
        cleanse(expected);
        if (!valid) {
            cleanse(m_baseHash);
            wrongPassword();
        }
    }
    ~Rc4CryptoApiMethod() override { cleanse(m_baseHash); }

    void decrypt(std::uint32_t pageNumber, std::span<std::uint8_t> page) override
    {
        setKey(pageBlockKey(m_encodingKey, pageNumber));
        m_rc4.apply(page);
    }

private:
    void setKey(ByteView block)
    {
        Bytes key = rc4CryptoApiKey(m_hasher, m_baseHash, block, m_keyBits);
        m_rc4.setKey(key);
        cleanse(key);
    }

    std::uint32_t m_encodingKey;
    std::size_t m_keyBits;
    Hasher m_hasher;
    Rc4 m_rc4;
    Bytes m_baseHash;
};

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::unique_ptr<Method> makeCryptoApiMethod(OfficeCryptoScheme scheme, const CryptoApiHeader &header, ByteView password,
                                            std::uint32_t encodingKey, std::string &details)
{
    if (header.algIdHash != 0 && header.algIdHash != kAlgSha1)
        damaged("the hash algorithm is not SHA-1");

    if (scheme == OfficeCryptoScheme::Rc4CryptoApi) {
        std::uint32_t keyBits = header.keyBits;
        if (keyBits == 0) {
            // The CryptoAPI default: 40 bits for the "Base" provider, 128 for the stronger ones.
            const std::string provider = lowercase(header.provider);
            keyBits = provider.empty() || provider.find(" base ") != std::string::npos ? 40 : 128;
        }
        if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
            damaged("the RC4 key size is not between 40 and 128 bits");
        details = "RC4 CryptoAPI, " + std::to_string(keyBits) + "-bit key, SHA-1";
        if (!header.provider.empty())
            details += " (" + header.provider + ")";
        return std::make_unique<Rc4CryptoApiMethod>(header, password, encodingKey, keyBits);
    }

    const std::uint32_t algId = header.algId == 0 ? kAlgAes128 : header.algId;
    if (!isAesAlgorithm(algId))
        damaged("the AES flag is set for an algorithm that is not AES");
    const std::uint32_t expectedBits = algId == kAlgAes128 ? 128 : algId == kAlgAes192 ? 192 : 256;
    const std::uint32_t keyBits = header.keyBits == 0 ? expectedBits : header.keyBits;
    if (keyBits != expectedBits)
        damaged("the key size does not match the AES algorithm");
    const bool standard = scheme == OfficeCryptoScheme::StandardAes;
    details = std::string(standard ? "Standard" : "Non-standard") + " encryption, AES-" + std::to_string(keyBits) +
              " ECB, SHA-1";
    return std::make_unique<CryptoApiAesMethod>(header, password, encodingKey, standard ? kStandardAesSpinCount : 0,
                                                keyBits / 8);
}

} // namespace

OfficeCryptoError::OfficeCryptoError(Kind kind, const std::string &message) : std::runtime_error(message), m_kind(kind)
{
}

std::string_view officeCryptoSchemeName(OfficeCryptoScheme scheme)
{
    switch (scheme) {
    case OfficeCryptoScheme::None:
        return "no encryption";
    case OfficeCryptoScheme::Agile:
        return "Office Agile encryption";
    case OfficeCryptoScheme::StandardAes:
        return "Office Standard encryption (AES)";
    case OfficeCryptoScheme::Rc4CryptoApi:
        return "Office RC4 CryptoAPI encryption";
    case OfficeCryptoScheme::NonStandardAes:
        return "Office AES CryptoAPI encryption without the AES flag";
    case OfficeCryptoScheme::OfficeBinaryRc4:
        return "Office binary RC4";
    case OfficeCryptoScheme::Extensible:
        return "Office extensible encryption";
    case OfficeCryptoScheme::Unknown:
        return "an unknown Office encryption method";
    }
    return "an unknown Office encryption method";
}

bool officeCryptoSchemeSupported(OfficeCryptoScheme scheme)
{
    return scheme == OfficeCryptoScheme::Agile || scheme == OfficeCryptoScheme::StandardAes ||
           scheme == OfficeCryptoScheme::Rc4CryptoApi || scheme == OfficeCryptoScheme::NonStandardAes;
}

std::string OfficeCryptoInfo::displayName() const
{
    if (scheme == OfficeCryptoScheme::None)
        return "not encrypted";
    return std::string(officeCryptoSchemeName(scheme)) + " (version " + std::to_string(versionMajor) + "." +
           std::to_string(versionMinor) + ")";
}

OfficeCryptoInfo inspectOfficeCrypto(std::span<const std::uint8_t> pageZero, std::uint32_t encodingKey)
{
    OfficeCryptoInfo info;
    if (encodingKey == 0)
        return info;
    if (pageZero.size() <= HeaderOffsets::Version)
        damaged("the first page is too short");
    // Jet 3 and Jet 4 use the key for their own RC4 page encoding, which libmdb undoes.
    if (pageZero[HeaderOffsets::Version] < 2)
        return info;

    Reader reader(encryptionInfo(pageZero));
    info.versionMajor = reader.u16("the version");
    info.versionMinor = reader.u16("the version");
    const std::uint16_t major = info.versionMajor;
    const std::uint16_t minor = info.versionMinor;
    if (major == 4 && minor == 4) {
        info.scheme = OfficeCryptoScheme::Agile;
    } else if (major == 1 && minor == 1) {
        info.scheme = OfficeCryptoScheme::OfficeBinaryRc4;
    } else if ((major == 3 || major == 4) && minor == 3) {
        info.scheme = OfficeCryptoScheme::Extensible;
    } else if ((major == 2 || major == 3 || major == 4) && minor == 2) {
        readCryptoApiHeader(reader, info.scheme);
    } else {
        info.scheme = OfficeCryptoScheme::Unknown;
    }
    return info;
}

void clearEncodingKey(std::span<std::uint8_t> pageZero, std::uint32_t encodingKey)
{
    if (pageZero.size() < HeaderOffsets::EncodingKey + 4)
        throw std::invalid_argument("clearEncodingKey: the first page is too short");
    for (std::size_t i = 0; i < 4; ++i)
        pageZero[HeaderOffsets::EncodingKey + i] ^= static_cast<std::uint8_t>(encodingKey >> (8 * i));
}

class PageDecryptor::Impl
{
public:
    OfficeCryptoInfo info;
    std::string details;
    Bytes pageZero;
    std::uint32_t encodingKey = 0;
    std::unique_ptr<Method> method;
};

PageDecryptor::PageDecryptor(std::span<const std::uint8_t> pageZero, std::uint32_t encodingKey,
                             std::string_view password)
    : d(std::make_unique<Impl>())
{
    if (pageZero.size() < kOfficeCryptoPageSize)
        damaged("the first page is incomplete");
    d->info = inspectOfficeCrypto(pageZero, encodingKey);
    if (d->info.scheme == OfficeCryptoScheme::None)
        throw std::invalid_argument("PageDecryptor: the database is not encrypted with a password");
    if (!officeCryptoSchemeSupported(d->info.scheme))
        throw OfficeCryptoError(OfficeCryptoError::Kind::UnsupportedScheme, "This database is encrypted with " +
                                                                                d->info.displayName() +
                                                                                ", which Strudex cannot read.");
    d->encodingKey = encodingKey;
    d->pageZero.assign(pageZero.begin(), pageZero.begin() + kOfficeCryptoPageSize);

    Reader reader(encryptionInfo(pageZero));
    reader.u32("the version");
    Bytes passwordUtf16 = passwordBytes(password);
    try {
        if (d->info.scheme == OfficeCryptoScheme::Agile) {
            if (reader.u32("the reserved field") != kAgileReserved)
                damaged("the reserved field before the XML is not 0x40");
            const ByteView xml = reader.rest();
            const AgileDescriptor descriptor =
                parseAgileDescriptor(std::string_view(reinterpret_cast<const char *>(xml.data()), xml.size()));
            d->details = "Agile encryption, AES-" + std::to_string(descriptor.keyData.keyBytes * 8) + ", " +
                         std::string(hashName(descriptor.keyData.hash)) + ", " +
                         std::to_string(descriptor.passwordKey.spinCount) + " rounds";
            d->method = std::make_unique<AgileMethod>(descriptor, passwordUtf16, encodingKey);
        } else {
            OfficeCryptoScheme scheme = d->info.scheme;
            const CryptoApiHeader header = readCryptoApiHeader(reader, scheme);
            d->method = makeCryptoApiMethod(scheme, header, passwordUtf16, encodingKey, d->details);
        }
    } catch (...) {
        cleanse(passwordUtf16);
        throw;
    }
    cleanse(passwordUtf16);
}

PageDecryptor::~PageDecryptor() = default;
PageDecryptor::PageDecryptor(PageDecryptor &&) noexcept = default;
PageDecryptor &PageDecryptor::operator=(PageDecryptor &&) noexcept = default;

const OfficeCryptoInfo &PageDecryptor::info() const
{
    return d->info;
}

const std::string &PageDecryptor::details() const
{
    return d->details;
}

void PageDecryptor::decryptPage(std::uint32_t pageNumber, std::span<std::uint8_t> page)
{
    if (pageNumber == 0)
        return;
    if (page.empty() || page.size() % 16 != 0)
        throw std::invalid_argument("PageDecryptor::decryptPage: a page must be a whole number of 16-byte blocks");
    d->method->decrypt(pageNumber, page);
}

std::vector<std::uint8_t> PageDecryptor::plainPageZero() const
{
    std::vector<std::uint8_t> page = d->pageZero;
    clearEncodingKey(page, d->encodingKey);
    return page;
}

} // namespace Engine
