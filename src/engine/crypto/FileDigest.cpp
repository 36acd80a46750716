#include "engine/crypto/FileDigest.h"

#include "engine/EngineErrors.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace Engine {

namespace {

// Small enough to stay in the cache and to cost a child of the fork server no fresh pages beyond a
// few; big enough that the calls do not count.
constexpr std::size_t kChunk = 1u << 16;

EngineFailure unreadable(const std::string &path, int error)
{
    if (error == ENOENT)
        return Errors::fileNotFound(path);
    return {0, "The database file '" + path + "' could not be read to its end (" + std::strerror(error) + ")."};
}

EngineFailure digestFailed(const std::string &path)
{
    return {0, "The digest of the database file '" + path + "' could not be computed (OpenSSL refused SHA-256)."};
}

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::array<std::uint8_t, 32> sha256OfFile(const std::string &path, const std::function<void()> &alive)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw digestFailed(path);

    Descriptor file;
    do
        file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0)
        throw unreadable(path, errno);

    // Not cleared: every byte hashed is read into it first.
    const std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunk]);
    for (;;) {
        const ssize_t got = ::read(file.fd, chunk.get(), kChunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw unreadable(path, errno);
        if (got == 0)
            break;
        if (EVP_DigestUpdate(context.get(), chunk.get(), static_cast<std::size_t>(got)) != 1)
            throw digestFailed(path);
        if (alive)
            alive();
    }

    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size())
        throw digestFailed(path);
    return digest;
}

void prepareDigests()
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1)
        EVP_DigestFinal_ex(context.get(), digest.data(), &length);
}

} // namespace Engine
