// Password encoding and the key derivations of the Office methods Access uses.

#include "engine/crypto/OfficeCryptoDetail.h"

#include <algorithm>

namespace Engine::OfficeCryptoDetail {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i], advancing i; malformed input gives U+FFFD and consumes
// one byte.
std::uint32_t nextCodePoint(std::string_view text, std::size_t &i)
{
    const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
    const std::uint8_t lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length;
    std::uint32_t cp;
    std::uint32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1Fu;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0Fu;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07u;
        minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const std::uint8_t next = byte(i + k);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = cp << 6 | (next & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return cp;
}

void appendUnit(Bytes &out, std::uint32_t unit)
{
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

} // namespace

Bytes passwordBytes(std::string_view utf8)
{
    Bytes out;
    out.reserve(std::min(utf8.size(), kMaxPasswordUnits) * 2);
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint32_t cp = nextCodePoint(utf8, i);
        if (cp < 0x10000) {
            if (units + 1 > kMaxPasswordUnits)
                break;
            appendUnit(out, cp);
            units += 1;
        } else {
            if (units + 2 > kMaxPasswordUnits)
                break;
            const std::uint32_t v = cp - 0x10000;
            appendUnit(out, 0xD800 + (v >> 10));
            appendUnit(out, 0xDC00 + (v & 0x3FF));
            units += 2;
        }
    }
    return out;
}

std::array<std::uint8_t, 4> pageBlockKey(std::uint32_t encodingKey, std::uint32_t pageNumber)
{
    const std::uint32_t value = encodingKey ^ pageNumber;
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes fitToLength(ByteView bytes, std::size_t length, std::uint8_t pad)
{
    Bytes out(length, pad);
    std::copy_n(bytes.begin(), std::min(length, bytes.size()), out.begin());
    return out;
}

Bytes iteratedHash(Hasher &hasher, ByteView salt, ByteView password, std::uint32_t iterations)
{
    Bytes current = hasher.hash({salt, password});
    std::array<std::uint8_t, 4> counter{};
    for (std::uint32_t i = 0; i < iterations; ++i) {
        counter = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i >> 16),
                   static_cast<std::uint8_t>(i >> 24)};
        // The output may overwrite the input: OpenSSL reads all input before writing the digest.
        hasher.hash({counter, current}, current.data());
    }
    return current;
}

Bytes agileKey(Hasher &hasher, ByteView iterated, ByteView blockKey, std::size_t keyBytes)
{
    Bytes hash = hasher.hash({iterated, blockKey});
    Bytes key = fitToLength(hash, keyBytes, 0x36);
    cleanse(hash);
    return key;
}

Bytes agileIv(Hasher &hasher, ByteView keyDataSalt, ByteView blockKey, std::size_t blockSize)
{
    return fitToLength(hasher.hash({keyDataSalt, blockKey}), blockSize, 0x36);
}

Bytes cryptoApiAesKey(Hasher &hasher, ByteView iterated, ByteView blockKey, std::size_t keyBytes)
{
    Bytes final = hasher.hash({iterated, blockKey});
    std::array<std::uint8_t, 64> inner;
    std::array<std::uint8_t, 64> outer;
    inner.fill(0x36);
    outer.fill(0x5C);
    for (std::size_t i = 0; i < final.size() && i < inner.size(); ++i) {
        inner[i] ^= final[i];
        outer[i] ^= final[i];
    }
    Bytes derived(2 * hasher.length());
    hasher.hash({inner}, derived.data());
    hasher.hash({outer}, derived.data() + hasher.length());
    Bytes key = fitToLength(derived, keyBytes, 0);
    cleanse(final);
    cleanse(derived);
    cleanse(inner);
    cleanse(outer);
    return key;
}

Bytes rc4CryptoApiKey(Hasher &hasher, ByteView baseHash, ByteView blockKey, std::size_t keyBits)
{
    Bytes hash = hasher.hash({baseHash, blockKey});
    Bytes key = fitToLength(hash, keyBits / 8, 0);
    if (keyBits == 40)
        key.resize(16, 0);
    cleanse(hash);
    return key;
}

} // namespace Engine::OfficeCryptoDetail
