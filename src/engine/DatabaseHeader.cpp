#include "engine/DatabaseHeader.h"

#include "engine/Bytes.h"
#include "engine/StoredText.h"

#include "protocol/EngineProtocol.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace Engine {

namespace {

constexpr std::size_t kJet3PasswordBytes = 20;
constexpr std::size_t kJet4PasswordBytes = 40;
constexpr std::size_t kMaskedBytesJet3 = 126;
constexpr std::size_t kMaskedBytesJet4 = 128;

constexpr std::array<std::uint8_t, 4> kMagic = {0x00, 0x01, 0x00, 0x00};
constexpr std::string_view kJetSignature = "Standard Jet DB";
constexpr std::string_view kAceSignature = "Standard ACE DB";

// The header is obfuscated with the RC4 keystream of this constant key; computing the stream
// once is cheaper and clearer than carrying 128 magic bytes.
std::array<std::uint8_t, kMaskedBytesJet4> headerKeystream()
{
    static constexpr std::array<std::uint8_t, 4> key = {0xC7, 0xDA, 0x39, 0x6B};
    std::array<std::uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    std::array<std::uint8_t, kMaskedBytesJet4> stream{};
    for (std::size_t n = 0, i = 0, j = 0; n < stream.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        stream[n] = s[(s[i] + s[j]) & 0xFF];
    }
    return stream;
}

// Java's (int) cast, which is what Access's mask is defined by: truncation towards zero, NaN
// becomes 0 and values out of range saturate. A plain C++ cast would be undefined behaviour on a
// damaged header.
std::int32_t saturatingTruncate(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// UTF-16LE up to the first NUL; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::span<const std::uint8_t> bytes)
{
    std::size_t end = 0;
    while (end + 1 < bytes.size() && Raw::u16(bytes, end) != 0)
        end += 2;
    return utf16leToUtf8(bytes.first(end), std::numeric_limits<std::size_t>::max());
}

// Jet 3 keeps the password in the database's code page.
std::string codePageToUtf8(std::span<const std::uint8_t> bytes, std::uint16_t codePage)
{
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const std::string raw(bytes.begin(), end);
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return raw;

    const std::string named = codePage ? "CP" + std::to_string(codePage) : std::string("WINDOWS-1252");
    iconv_t cd = iconv_open("UTF-8", named.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        cd = iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return EngineProtocol::sanitizeUtf8(raw);

    std::string in = raw;
    std::string out(raw.size() * 4 + 4, '\0');
    char *inPtr = in.data();
    std::size_t inLeft = in.size();
    char *outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1))
        return EngineProtocol::sanitizeUtf8(raw);
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

void applyHeaderMask(std::span<std::uint8_t> page, int version)
{
    static const auto stream = headerKeystream();
    const std::size_t length = version == kJet3 ? kMaskedBytesJet3 : kMaskedBytesJet4;
    for (std::size_t i = 0; i < length && HeaderOffsets::Mask + i < page.size(); ++i)
        page[HeaderOffsets::Mask + i] ^= stream[i];
}

DatabaseHeader readDatabaseHeader(std::span<const std::uint8_t> firstBytes, std::uint64_t fileSize)
{
    DatabaseHeader header;
    const std::span<const std::uint8_t> bytes = firstBytes.first(std::min(firstBytes.size(), kHeaderBytes));

    if (bytes.size() < HeaderOffsets::Version + 1 || fileSize < HeaderOffsets::Version + 1) {
        header.problem = HeaderProblem::TooShort;
        return header;
    }
    if (!std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) {
        header.problem = HeaderProblem::BadSignature;
        return header;
    }
    const std::string_view signature(reinterpret_cast<const char *>(bytes.data()) + 4, kJetSignature.size());
    if (signature != kJetSignature && signature != kAceSignature) {
        header.problem = HeaderProblem::BadSignature;
        return header;
    }
    header.version = bytes[HeaderOffsets::Version];
    if (header.version > kNewestKnownVersion) {
        header.problem = HeaderProblem::BadVersion;
        return header;
    }
    header.pageSize = header.version == kJet3 ? 2048 : 4096;
    if (fileSize < header.pageSize || bytes.size() < HeaderOffsets::Mask + kMaskedBytesJet4) {
        header.problem = HeaderProblem::TooShort;
        return header;
    }

    std::array<std::uint8_t, HeaderOffsets::Mask + kMaskedBytesJet4> area{};
    std::copy_n(bytes.begin(), area.size(), area.begin());
    applyHeaderMask(area, header.version);

    header.codePage = static_cast<std::uint16_t>(Raw::u16(area, HeaderOffsets::CodePage));
    header.encodingKey = Raw::u32(area, HeaderOffsets::EncodingKey);

    if (header.version == kJet3) {
        header.password =
            codePageToUtf8(std::span(area).subspan(HeaderOffsets::Password, kJet3PasswordBytes), header.codePage);
    } else if (header.version == kJet4) {
        std::array<std::uint8_t, kJet4PasswordBytes> stored{};
        std::copy_n(area.begin() + HeaderOffsets::Password, stored.size(), stored.begin());
        std::uint64_t raw = 0;
        for (int i = 7; i >= 0; --i)
            raw = raw << 8 | area[HeaderOffsets::CreationDate + static_cast<std::size_t>(i)];
        const double created = std::bit_cast<double>(raw);
        const auto mask = static_cast<std::uint32_t>(saturatingTruncate(created));
        for (std::size_t i = 0; i < stored.size(); ++i)
            stored[i] ^= static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
        header.password = utf16ToUtf8(stored);
    }
    // ACE files keep no password in the header: a password there means Office encryption.
    return header;
}

bool passwordAccepted(const DatabaseHeader &header, std::string_view given)
{
    return !header.hasPassword() || given == header.password;
}

} // namespace Engine
