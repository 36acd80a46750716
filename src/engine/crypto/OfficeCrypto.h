#pragma once

// Access 2007 and later "Encrypt with Password": the Office document cryptography that ACE files
// use for every page but the first. libmdb cannot read such a file, so the worker decrypts it
// here and hands libmdb a plaintext image in memory.
//
// Where things are in an encrypted ACE file:
//   - the 4-byte encoding key at 0x3E of the unmasked header is non-zero (in a Jet file the same
//     field is the key of the old RC4 "encoding", which libmdb undoes itself);
//   - the encryption header lives on page 0 at 0x299: a uint16 length, then the structure, which
//     starts with a uint16 major and a uint16 minor version;
//   - page 0 is not encrypted; page n > 0 is encrypted as one unit whose "block key" is the
//     encoding key XOR n (both little-endian).
//
// Standard library and OpenSSL's libcrypto only: the worker links no Qt.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Engine {

inline constexpr std::size_t kOfficeCryptoPageSize = 4096;

enum class OfficeCryptoScheme {
    None,            // encoding key zero, or a Jet 3 / Jet 4 file: nothing for this module to do
    Agile,           // version 4.4: XML descriptor, AES-CBC, iterated salted hash
    StandardAes,     // versions 2.2 to 4.2 with the CryptoAPI and AES flags: AES-ECB, SHA-1
    Rc4CryptoApi,    // versions 2.2 to 4.2 with the CryptoAPI flag only: RC4, SHA-1
    NonStandardAes,  // x.2 with an AES algorithm id but without the AES flag: AES-ECB, SHA-1
    OfficeBinaryRc4, // version 1.1: MD5 and RC4 of Office 97 binary documents
    Extensible,      // versions 3.3 and 4.3: third-party providers
    Unknown,
};

// Short human name, e.g. "Office binary RC4".
std::string_view officeCryptoSchemeName(OfficeCryptoScheme scheme);
// Whether PageDecryptor can open files of this scheme.
bool officeCryptoSchemeSupported(OfficeCryptoScheme scheme);

struct OfficeCryptoInfo
{
    OfficeCryptoScheme scheme = OfficeCryptoScheme::None;
    std::uint16_t versionMajor = 0;
    std::uint16_t versionMinor = 0;

    // e.g. "Office binary RC4 (version 1.1)"; "not encrypted" for None.
    std::string displayName() const;
};

class OfficeCryptoError : public std::runtime_error
{
public:
    enum class Kind {
        WrongPassword,     // the password (also an empty one) does not open the database
        UnsupportedScheme, // a method this module cannot decrypt; the message names it
        Damaged,           // the encryption header is unreadable or inconsistent
        System,            // OpenSSL lacks an algorithm, or reading/creating a file failed
    };

    OfficeCryptoError(Kind kind, const std::string &message);
    Kind kind() const noexcept { return m_kind; }

private:
    Kind m_kind;
};

// Recognises the method from the raw first page (as read from the file, header still masked) and
// the encoding key of the unmasked header. Cheap: it reads the binary header only, not the XML
// of the Agile descriptor. Throws OfficeCryptoError(Damaged) when the header is out of bounds.
OfficeCryptoInfo inspectOfficeCrypto(std::span<const std::uint8_t> pageZero, std::uint32_t encodingKey);

// Decrypts the pages of one encrypted ACE database. Construct it once per connection: the
// constructor derives the keys (the Agile derivation hashes the password 100,000 times on
// purpose) and checks the password against the file's verifier; decrypting a page then costs one
// pass of the cipher with a cached key schedule (plus, depending on the method, one or three small
// hashes for the page's IV or key).
//
// Throws OfficeCryptoError: WrongPassword, UnsupportedScheme, Damaged or System. Never reads
// outside pageZero. Not thread-safe: use one object per thread.
class PageDecryptor
{
public:
    // pageZero: the raw first page, at least kOfficeCryptoPageSize bytes. password: UTF-8 (invalid
    // sequences count as U+FFFD); like Access, only its first 255 UTF-16 units count.
    PageDecryptor(std::span<const std::uint8_t> pageZero, std::uint32_t encodingKey, std::string_view password);
    ~PageDecryptor();
    PageDecryptor(PageDecryptor &&) noexcept;
    PageDecryptor &operator=(PageDecryptor &&) noexcept;
    PageDecryptor(const PageDecryptor &) = delete;
    PageDecryptor &operator=(const PageDecryptor &) = delete;

    const OfficeCryptoInfo &info() const;
    // e.g. "Agile encryption, AES-256, SHA-512, 100000 rounds"; for messages and logs.
    const std::string &details() const;

    // Decrypts one page in place. Page 0 is stored in clear and is left untouched. The span must
    // hold a whole page (its size a multiple of 16; normally kOfficeCryptoPageSize), otherwise
    // std::invalid_argument.
    void decryptPage(std::uint32_t pageNumber, std::span<std::uint8_t> page);

    // Page 0 as libmdb must see it in the decrypted image: the encoding key field cleared (inside
    // the masked header area, so the key reads as zero once libmdb unmasks it; otherwise libmdb
    // would "decode" every page a second time with Jet RC4).
    std::vector<std::uint8_t> plainPageZero() const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

// Clears the encoding key in a raw (masked) first page. The header area from 0x18 is XORed with a
// fixed keystream, so XORing the masked field with the clear key gives the mask of a zero key.
void clearEncodingKey(std::span<std::uint8_t> pageZero, std::uint32_t encodingKey);

// Reads the encrypted database and returns its plaintext image: plainPageZero(), then every
// decrypted page (a trailing partial page, which libmdb could not read either, is dropped). Hand it
// to libmdb with mdb_open_buffer(image.data(), image.size(), MDB_NOFLAGS) and keep the vector alive
// until mdb_close(). Throws OfficeCryptoError: System when the file cannot be read or memory runs
// out, Damaged when the file is shorter than one page.
std::vector<std::uint8_t> decryptDatabaseImage(const std::filesystem::path &file, PageDecryptor &decryptor);

#if defined(__linux__)
// A memory-only file (memfd_create, MFD_CLOEXEC, sealed against change once written) for code
// that needs a path: libmdb's mdb_open(path()). Closed by the destructor.
class MemoryFile
{
public:
    MemoryFile() = default;
    explicit MemoryFile(int fd) : m_fd(fd) {}
    ~MemoryFile();
    MemoryFile(MemoryFile &&other) noexcept;
    MemoryFile &operator=(MemoryFile &&other) noexcept;
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // "/proc/self/fd/N": valid in this process only.
    std::string path() const;

private:
    int m_fd = -1;
};

// The same plaintext image as decryptDatabaseImage(), written into a MemoryFile.
MemoryFile decryptDatabaseToMemoryFile(const std::filesystem::path &file, PageDecryptor &decryptor);
#endif

} // namespace Engine
