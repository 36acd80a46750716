// Reading the XML descriptor of an Agile encryption header.

#include "engine/crypto/MiniXml.h"
#include "engine/crypto/OfficeCrypto.h"
#include "engine/crypto/OfficeCryptoDetail.h"

#include <limits>

namespace Engine::OfficeCryptoDetail {

namespace {

constexpr std::string_view kEncryptionNamespace = "http://schemas.microsoft.com/office/2006/encryption";
constexpr std::string_view kPasswordNamespace = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";
// Larger encrypted values than this never occur (the largest is a 64-byte hash); bounds the work.
constexpr std::size_t kMaxEncryptedValue = 1024;
constexpr std::size_t kMaxSalt = 65536;

[[noreturn]] void damaged(const std::string &what)
{
    throw OfficeCryptoError(OfficeCryptoError::Kind::Damaged,
                            "The encryption header of this database is damaged: " + what + ".");
}

[[noreturn]] void unsupported(const std::string &what)
{
    throw OfficeCryptoError(OfficeCryptoError::Kind::UnsupportedScheme,
                            "This database is encrypted with Office Agile encryption using " + what +
                                ", which Strudex cannot read.");
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

const std::string &required(const XmlElement &element, std::string_view name)
{
    const std::string *value = element.attribute(name);
    if (!value)
        damaged("the attribute " + std::string(name) + " of " + element.localName + " is missing");
    return *value;
}

std::uint64_t number(const XmlElement &element, std::string_view name, std::uint64_t max)
{
    const std::string &text = required(element, name);
    if (text.empty() || text.size() > 12)
        damaged("the attribute " + std::string(name) + " is not a number");
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            damaged("the attribute " + std::string(name) + " is not a number");
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > max)
        damaged("the attribute " + std::string(name) + " is out of range");
    return value;
}

Bytes base64Attribute(const XmlElement &element, std::string_view name)
{
    return decodeBase64(required(element, name));
}

HashAlgorithm hashAttribute(const XmlElement &element)
{
    const std::string &name = required(element, "hashAlgorithm");
    if (name == "SHA1")
        return HashAlgorithm::Sha1;
    if (name == "SHA256")
        return HashAlgorithm::Sha256;
    if (name == "SHA384")
        return HashAlgorithm::Sha384;
    if (name == "SHA512")
        return HashAlgorithm::Sha512;
    if (name == "MD5" || name == "MD4" || name == "MD2" || name == "RIPEMD-128" || name == "RIPEMD-160" ||
        name == "WHIRLPOOL")
        unsupported("the hash " + name);
    damaged("unknown hash algorithm");
}

// The attributes keyData and the password key encryptor share.
void readCipherParams(const XmlElement &element, AgileCipherParams &params)
{
    const std::string &cipher = required(element, "cipherAlgorithm");
    if (cipher != "AES") {
        if (cipher == "RC2" || cipher == "RC4" || cipher == "DES" || cipher == "DESX" || cipher == "3DES" ||
            cipher == "3DES_112")
            unsupported("the cipher " + cipher);
        damaged("unknown cipher");
    }
    const std::string &chaining = required(element, "cipherChaining");
    if (chaining != "ChainingModeCBC") {
        if (chaining == "ChainingModeCFB")
            unsupported("cipher feedback chaining");
        damaged("unknown cipher chaining");
    }
    params.hash = hashAttribute(element);

    const std::uint64_t keyBits = number(element, "keyBits", 4096);
    if (keyBits != 128 && keyBits != 192 && keyBits != 256)
        damaged("the AES key size is not 128, 192 or 256 bits");
    params.keyBytes = static_cast<std::size_t>(keyBits / 8);

    params.blockSize = static_cast<std::size_t>(number(element, "blockSize", 4096));
    if (params.blockSize != 16)
        damaged("the AES block size is not 16 bytes");

    params.hashSize = static_cast<std::size_t>(number(element, "hashSize", 4096));
    if (params.hashSize != hashLength(params.hash))
        damaged("the hash size does not match the hash algorithm");

    const std::uint64_t saltSize = number(element, "saltSize", kMaxSalt);
    params.salt = base64Attribute(element, "saltValue");
    if (saltSize == 0 || params.salt.size() != saltSize)
        damaged("the salt does not have the declared size");
}

// An encrypted value: whole cipher blocks, at least minimum bytes.
Bytes encryptedValue(const XmlElement &element, std::string_view name, std::size_t blockSize, std::size_t minimum)
{
    Bytes value = base64Attribute(element, name);
    if (value.empty() || value.size() % blockSize != 0 || value.size() < minimum || value.size() > kMaxEncryptedValue)
        damaged("the attribute " + std::string(name) + " has an impossible length");
    return value;
}

} // namespace

Bytes decodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        damaged("a base64 value has a wrong length");
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int padding = 0;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            int value;
            if (c == '=' && last && j >= 2 && (j == 3 || text[i + 3] == '=')) {
                ++padding;
                value = 0;
            } else {
                value = padding ? -1 : base64Value(c);
            }
            if (value < 0)
                damaged("a base64 value contains an invalid character");
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2)
            out.push_back(static_cast<std::uint8_t>(group >> 8));
        if (padding < 1)
            out.push_back(static_cast<std::uint8_t>(group));
    }
    return out;
}

AgileDescriptor parseAgileDescriptor(std::string_view xml)
{
    XmlElement root;
    try {
        root = parseXml(xml);
    } catch (const XmlError &error) {
        damaged(std::string("its XML is malformed (") + error.what() + ")");
    }
    if (root.namespaceUri != kEncryptionNamespace || root.localName != "encryption")
        damaged("its XML has no encryption element");

    AgileDescriptor descriptor;
    const auto keyData = root.childrenNamed(kEncryptionNamespace, "keyData");
    if (keyData.size() != 1)
        damaged("its XML needs exactly one keyData element");
    readCipherParams(*keyData.front(), descriptor.keyData);

    const auto encryptors = root.childrenNamed(kEncryptionNamespace, "keyEncryptors");
    if (encryptors.size() != 1)
        damaged("its XML needs exactly one keyEncryptors element");
    const XmlElement *encryptedKey = nullptr;
    bool anyEncryptor = false;
    for (const XmlElement *encryptor : encryptors.front()->childrenNamed(kEncryptionNamespace, "keyEncryptor")) {
        anyEncryptor = true;
        const std::string *uri = encryptor->attribute("uri");
        if (!uri || *uri != kPasswordNamespace)
            continue;
        const auto keys = encryptor->childrenNamed(kPasswordNamespace, "encryptedKey");
        if (keys.size() != 1)
            damaged("its password key encryptor needs exactly one encryptedKey element");
        encryptedKey = keys.front();
        break;
    }
    if (!encryptedKey) {
        if (anyEncryptor)
            unsupported("certificates instead of a password");
        damaged("its XML has no key encryptor");
    }

    AgilePasswordKey &key = descriptor.passwordKey;
    readCipherParams(*encryptedKey, key);
    key.spinCount = static_cast<std::uint32_t>(number(*encryptedKey, "spinCount", kMaxSpinCount));
    key.encryptedVerifierHashInput =
        encryptedValue(*encryptedKey, "encryptedVerifierHashInput", key.blockSize, key.salt.size());
    key.encryptedVerifierHashValue =
        encryptedValue(*encryptedKey, "encryptedVerifierHashValue", key.blockSize, key.hashSize);
    key.encryptedKeyValue =
        encryptedValue(*encryptedKey, "encryptedKeyValue", key.blockSize, descriptor.keyData.keyBytes);
    return descriptor;
}

} // namespace Engine::OfficeCryptoDetail
