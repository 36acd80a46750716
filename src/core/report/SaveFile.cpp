#include "core/report/SaveFile.h"

#include "core/report/ReportFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// Starts writing what was written since the last call out to the disk, without waiting for it:
// the one sync at the commit then finds most of a big file there already.
void startWriteBack(QFile &file, qint64 &from, qint64 upTo)
{
#ifdef Q_OS_LINUX
    constexpr qint64 Stretch = 1 << 20;
    if (upTo - from < Stretch || !file.flush())
        return;
    ::sync_file_range(file.handle(), from, upTo - from, SYNC_FILE_RANGE_WRITE);
    from = upTo;
#else
    Q_UNUSED(file);
    Q_UNUSED(from);
    Q_UNUSED(upTo);
#endif
}

} // namespace

// The temporary file as a device for the document writers: every write goes through the save's own.
class SaveFile::Device : public QIODevice
{
public:
    explicit Device(SaveFile &file) : m_file(file) { QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 written = m_file.write(data, size);
        if (written <= 0)
            setErrorString(m_file.errorString());
        return written;
    }

private:
    SaveFile &m_file;
};

std::filesystem::path SaveFile::systemPath(const QString &fileName)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(fileName.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(fileName).toStdString());
#endif
}

SaveFile::SaveFile(QString fileName) : m_fileName(std::move(fileName))
{
}

SaveFile::~SaveFile()
{
    cancelWriting();
}

QIODevice &SaveFile::device()
{
    if (!m_device)
        m_device = std::make_unique<Device>(*this);
    return *m_device;
}

void SaveFile::fail(QFileDevice::FileError kind, const QString &reason)
{
    m_errorKind = kind;
    m_error = reason;
}

bool SaveFile::refuseHeldName()
{
    if (const auto what = ReportFile::notReplaceable(m_fileName)) {
        m_refusal = *what;
        fail(QFileDevice::OpenError, ReportFile::notReplacedText(m_fileName, *what));
        return true;
    }
    return false;
}

bool SaveFile::open()
{
    if (m_fileName.isEmpty()) {
        fail(QFileDevice::OpenError, QStringLiteral("No file name specified"));
        return false;
    }
    if (refuseHeldName())
        return false;
    const QFileInfo destination(m_fileName);
    m_stem = destination.dir().filePath(QLatin1Char('.') + destination.fileName() + QStringLiteral(".tmp-"));
    if (!openUnnamed(destination.dir().path()) && !openNamed()) {
        fail(m_temporary.error(), m_temporary.errorString());
        return false;
    }
    keepPermissions(destination);
    return true;
}

void SaveFile::keepPermissions(const QFileInfo &destination)
{
    // A replaced file keeps the permissions its owner gave it.
    if (!destination.exists() || !destination.isFile())
        return;
#ifdef Q_OS_WIN
    m_temporary.setPermissions(destination.permissions());
#else
    struct stat existing = {};
    if (::stat(QFile::encodeName(m_fileName).constData(), &existing) == 0)
        ::fchmod(m_temporary.handle(), existing.st_mode & 07777);
#endif
}

QString SaveFile::freshName() const
{
    return m_stem + QString::number(QRandomGenerator::global()->generate(), 36);
}

bool SaveFile::openUnnamed(const QString &folder)
{
#ifdef O_TMPFILE
    // A file without a name until it is complete: a program killed midway leaves nothing behind.
    const int handle = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (handle < 0)
        return false;
    if (!m_temporary.open(handle, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        return false;
    }
    m_unnamed = true;
    return true;
#else
    Q_UNUSED(folder);
    return false;
#endif
}

bool SaveFile::openNamed()
{
    // A new name each try: "new only" makes the file or fails, and never opens a link planted there.
    // Unbuffered, so that a failing write is seen, with its reason, at the moment it happens.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporary.setFileName(freshName());
        if (m_temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_made = true;
            return true;
        }
        // Only a name already taken is worth another try; the file of that name is not ours.
        if (!QFileInfo(m_temporary.fileName()).exists() && !QFileInfo(m_temporary.fileName()).isSymLink())
            break;
    }
    return false;
}

bool SaveFile::nameUnnamed()
{
#ifdef O_TMPFILE
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_temporary.handle());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = freshName();
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, QFile::encodeName(name).constData(), AT_SYMLINK_FOLLOW) ==
            0) {
            m_named = name;
            m_made = true;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    fail(QFileDevice::RenameError, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    return false;
}

qint64 SaveFile::write(const char *data, qint64 size)
{
    errno = 0;
    const qint64 written = m_temporary.write(data, size);
    if (written > 0) {
        m_written += written;
        startWriteBack(m_temporary, m_writtenBack, m_written);
    }
    if (written != size) {
        const int systemError = errno;
        fail(m_temporary.error(),
             systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError)) : m_temporary.errorString());
        if (systemError == ENOSPC)
            m_errorKind = QFileDevice::ResourceError;
    }
    return written;
}

namespace {
bool syncLater = false;
} // namespace

void SaveFile::setSyncLater(bool later)
{
#ifdef Q_OS_LINUX
    syncLater = later;
#else
    Q_UNUSED(later);
#endif
}

std::optional<QString> SaveFile::syncFileSystem(const QString &folder)
{
#ifdef Q_OS_LINUX
    const int handle = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0 || ::syncfs(handle) != 0) {
        const int systemError = errno;
        if (handle >= 0)
            ::close(handle);
        return QString::fromLocal8Bit(std::strerror(systemError));
    }
    ::close(handle);
#else
    Q_UNUSED(folder);
#endif
    return std::nullopt;
}

bool SaveFile::commit()
{
    if (!m_temporary.isOpen())
        return false;
    errno = 0;
    if (!(syncLater ? m_temporary.flush() : syncToDisk(m_temporary))) {
        const int systemError = errno;
        fail(systemError == ENOSPC ? QFileDevice::ResourceError : QFileDevice::WriteError,
             systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError)) : m_temporary.errorString());
        cancelWriting();
        return false;
    }
    if (refuseHeldName() || (m_unnamed && !nameUnnamed())) {
        cancelWriting();
        return false;
    }
    m_temporary.close();
    std::error_code error;
    std::filesystem::rename(systemPath(temporaryName()), systemPath(m_fileName), error);
    if (error) {
        fail(QFileDevice::RenameError, QString::fromStdString(error.message()));
        cancelWriting();
        return false;
    }
    m_made = false;
    m_unnamed = false;
    return true;
}

QString SaveFile::temporaryName() const
{
    return m_unnamed ? m_named : m_temporary.fileName();
}

void SaveFile::cancelWriting()
{
    m_temporary.close();
    if (m_made)
        QFile::remove(temporaryName());
    m_made = false;
    m_unnamed = false;
}
