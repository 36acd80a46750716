// Whole-file decryption into memory: a buffer for mdb_open_buffer(), or (Linux) a memory-only file
// for mdb_open(). The plaintext is never written to a file system.
//
// Elsewhere than Linux, decryptDatabaseImage() is the way: libmdb's mdb_open_buffer() reads the
// image through fmemopen(), so no file is involved at all.

#include "engine/crypto/OfficeCrypto.h"

#include "engine/crypto/CryptoPrimitives.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Engine {

namespace {

// Pages read and decrypted at a time when streaming into a memory file.
constexpr std::size_t kChunkPages = 256;

[[noreturn]] void systemError(const std::string &what, int error)
{
    throw OfficeCryptoError(OfficeCryptoError::Kind::System,
                            error != 0 ? what + ": " + std::strerror(error) : what + ".");
}

class EncryptedFile
{
public:
    explicit EncryptedFile(const std::filesystem::path &file) : m_stream(file, std::ios::binary)
    {
        if (!m_stream)
            systemError("Cannot open " + file.string(), errno);
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file, error);
        if (error)
            systemError("Cannot read the size of " + file.string(), error.value());
        m_pages = size / kOfficeCryptoPageSize;
        if (m_pages == 0)
            throw OfficeCryptoError(OfficeCryptoError::Kind::Damaged, "The database file is shorter than one page.");
        if (m_pages > std::uintmax_t{UINT32_MAX})
            throw OfficeCryptoError(OfficeCryptoError::Kind::Damaged, "The database file is impossibly large.");
        // Page 0 comes from the decryptor (the copy whose password was checked).
        m_stream.seekg(static_cast<std::streamoff>(kOfficeCryptoPageSize));
    }

    std::uint32_t pages() const { return static_cast<std::uint32_t>(m_pages); }

    void read(std::span<std::uint8_t> into)
    {
        m_stream.read(reinterpret_cast<char *>(into.data()), static_cast<std::streamsize>(into.size()));
        if (static_cast<std::size_t>(m_stream.gcount()) != into.size())
            throw OfficeCryptoError(OfficeCryptoError::Kind::System,
                                    "The database file became shorter while reading it.");
    }

private:
    std::ifstream m_stream;
    std::uintmax_t m_pages = 0;
};

void decryptPages(PageDecryptor &decryptor, std::uint32_t firstPage, std::span<std::uint8_t> pages)
{
    std::uint32_t number = firstPage;
    for (std::size_t offset = 0; offset < pages.size(); offset += kOfficeCryptoPageSize, ++number)
        decryptor.decryptPage(number, pages.subspan(offset, kOfficeCryptoPageSize));
}

} // namespace

std::vector<std::uint8_t> decryptDatabaseImage(const std::filesystem::path &file, PageDecryptor &decryptor)
{
    EncryptedFile input(file);
    std::vector<std::uint8_t> image;
    try {
        image.resize(std::size_t{input.pages()} * kOfficeCryptoPageSize);
    } catch (const std::bad_alloc &) {
        throw OfficeCryptoError(OfficeCryptoError::Kind::System, "Not enough memory to decrypt the database.");
    }
    const std::vector<std::uint8_t> pageZero = decryptor.plainPageZero();
    std::copy(pageZero.begin(), pageZero.end(), image.begin());
    const std::span<std::uint8_t> rest = std::span(image).subspan(kOfficeCryptoPageSize);
    try {
        input.read(rest);
        decryptPages(decryptor, 1, rest);
    } catch (...) {
        OfficeCryptoDetail::cleanse(image);
        throw;
    }
    return image;
}

#if defined(__linux__)

MemoryFile::~MemoryFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

MemoryFile::MemoryFile(MemoryFile &&other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

MemoryFile &MemoryFile::operator=(MemoryFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

std::string MemoryFile::path() const
{
    return "/proc/self/fd/" + std::to_string(m_fd);
}

namespace {

void writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            systemError("Cannot write the decrypted database to memory", errno);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
}

} // namespace

MemoryFile decryptDatabaseToMemoryFile(const std::filesystem::path &file, PageDecryptor &decryptor)
{
    EncryptedFile input(file);
    MemoryFile out(::memfd_create("strudex-decrypted", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!out.valid())
        systemError("Cannot create a memory file", errno);
    const std::uint64_t total = std::uint64_t{input.pages()} * kOfficeCryptoPageSize;
    if (::ftruncate(out.fd(), static_cast<off_t>(total)) != 0)
        systemError("Cannot size the memory file", errno);

    writeAll(out.fd(), decryptor.plainPageZero());
    std::vector<std::uint8_t> chunk(kChunkPages * kOfficeCryptoPageSize);
    try {
        for (std::uint32_t page = 1; page < input.pages();) {
            const std::uint32_t count = std::min<std::uint32_t>(kChunkPages, input.pages() - page);
            const std::span<std::uint8_t> pages = std::span(chunk).first(std::size_t{count} * kOfficeCryptoPageSize);
            input.read(pages);
            decryptPages(decryptor, page, pages);
            writeAll(out.fd(), pages);
            page += count;
        }
    } catch (...) {
        OfficeCryptoDetail::cleanse(chunk);
        throw;
    }
    OfficeCryptoDetail::cleanse(chunk);
    // Nobody may change the image afterwards; a kernel without seals still gives a usable file.
    (void)::fcntl(out.fd(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    if (::lseek(out.fd(), 0, SEEK_SET) < 0)
        systemError("Cannot rewind the memory file", errno);
    return out;
}

#endif

} // namespace Engine
