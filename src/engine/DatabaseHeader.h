#pragma once

// The first page of a Jet / ACE database, read by us before libmdb ever sees the file.
//
// libmdb trusts whatever it is given (an empty file opens as "Jet 3", a text file crashes it
// later) and never checks a database password, so the worker looks at the header itself: the
// signature, the format version, whether the file is Office-encrypted, and the stored password.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Engine {

// Format versions at offset 0x14.
inline constexpr int kJet3 = 0;
inline constexpr int kJet4 = 1;
inline constexpr int kNewestKnownVersion = 6; // Access 2019

// Bytes needed to decide everything the header can tell; the largest page size.
inline constexpr std::size_t kHeaderBytes = 4096;

enum class HeaderProblem {
    None,
    TooShort,     // shorter than the page size the version needs (or than the signature)
    BadSignature, // bytes 0-3 or the "Standard Jet DB" / "Standard ACE DB" text
    BadVersion,   // version byte beyond what any Access wrote
};

struct DatabaseHeader
{
    HeaderProblem problem = HeaderProblem::None;
    int version = -1;
    std::size_t pageSize = 0;
    // The RC4 key of a Jet "encoded" file, or the marker of Office encryption in an ACE file.
    std::uint32_t encodingKey = 0;
    std::uint16_t codePage = 0;
    // The stored database password, as UTF-8; empty when the file has none.
    std::string password;

    bool valid() const { return problem == HeaderProblem::None; }
    // Access 2007 and later "Encrypt with Password": every page but the first is encrypted with
    // the Office crypto methods, which libmdb cannot read.
    bool officeEncrypted() const { return valid() && version >= 2 && encodingKey != 0; }
    bool hasPassword() const { return !password.empty(); }
};

// Reads the header from the first bytes of the file (up to kHeaderBytes of them) and the file's
// full size. Never reads outside the span.
DatabaseHeader readDatabaseHeader(std::span<const std::uint8_t> firstBytes, std::uint64_t fileSize);

// The fixed obfuscation of the header area from 0x18 on: RC4 with a constant key. Applying it
// twice gives the original bytes back. version decides the length (126 bytes for Jet 3, else 128).
void applyHeaderMask(std::span<std::uint8_t> page, int version);

// Whether a password given by the user opens the database. Jet opens a database without a
// password whatever password is given; with one, the comparison is exact and case-sensitive.
bool passwordAccepted(const DatabaseHeader &header, std::string_view given);

} // namespace Engine
