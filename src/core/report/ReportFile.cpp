#include "core/report/ReportFile.h"

#include "core/Failure.h"
#include "core/report/SaveFile.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace {

ReportFile *active = nullptr;

Failure notOpen()
{
    return Failure(52, QStringLiteral("Bad file name or number"));
}

QString notSaved()
{
    return QStringLiteral(" The report was not saved; an earlier report of that name is left as it was.");
}

Failure writeFailure(const SaveFile &file, const QString &fileName)
{
    const QString where = QDir::toNativeSeparators(fileName);
    const QString reason = file.errorString();
    if (file.error() == QFileDevice::ResourceError)
        return Failure(61, QStringLiteral("Disk full: '%1' (%2).").arg(where, reason) + notSaved());
    return Failure(57, QStringLiteral("Device I/O error: '%1' (%2).").arg(where, reason) + notSaved());
}

std::filesystem::path nativePath(const QString &fileName)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(fileName.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(fileName).toStdString());
#endif
}

Failure notReplaced(const QString &fileName, const QString &what)
{
    return Failure(75, QStringLiteral("Path/File access error: ") + ReportFile::notReplacedText(fileName, what));
}

} // namespace

QString ReportFile::notReplacedText(const QString &fileName, const QString &what)
{
    return QStringLiteral("'%1' is %2, so it is not replaced; it is left as it was, and so is anything it points to.")
        .arg(QDir::toNativeSeparators(fileName), what);
}

std::optional<QString> ReportFile::notReplaceable(const QString &fileName)
{
    if (fileName.isEmpty())
        return std::nullopt;
    std::error_code error;
    // The name itself, not what a link there points to.
    const std::filesystem::file_status status = std::filesystem::symlink_status(nativePath(fileName), error);
    switch (status.type()) {
    case std::filesystem::file_type::symlink:
        return QStringLiteral("a symbolic link");
    case std::filesystem::file_type::directory:
        return QStringLiteral("a folder");
    case std::filesystem::file_type::regular:
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::none:
        // Nothing there, or the folder cannot be looked into: the save itself says why it fails.
        return std::nullopt;
    default:
        return QStringLiteral("not a regular file");
    }
}

void ReportFile::open(const QString &fileName)
{
    m_file.reset();
    m_fileName = fileName;
    m_gaveUp = true;
    m_saved = false;
    if (const auto what = notReplaceable(fileName))
        throw notReplaced(fileName, *what);
    const QFileInfo existing(fileName);
    // A report that its owner made read-only is not replaced behind their back.
    if (existing.exists() && existing.isFile() && !(existing.permissions() & QFileDevice::WriteOwner))
        throw Failure(75, QStringLiteral("Path/File access error: '%1' is read-only, so it is not replaced.")
                              .arg(QDir::toNativeSeparators(fileName)));
    auto file = std::make_unique<SaveFile>(fileName);
    if (!file->open()) {
        if (!file->refusal().isEmpty())
            throw notReplaced(fileName, file->refusal());
        throw Failure::fileAccess(QDir::toNativeSeparators(fileName), file->errorString());
    }
    m_file = std::move(file);
    m_gaveUp = false;
    m_pending.clear();
    active = this;
}

ReportFile::~ReportFile()
{
    if (active == this)
        active = nullptr;
}

void ReportFile::abandonActive()
{
    if (active && active->m_file) {
        active->m_file->cancelWriting();
        active->m_file.reset();
        active->m_gaveUp = true;
    }
}

void ReportFile::writeLine(const QString &text)
{
    // One failure of the report file is told once; the lines after it have nowhere to go.
    if (m_gaveUp)
        return;
    if (!m_file)
        throw notOpen();
    // Encoded straight onto what is waiting: a report has a line per field.
    const qsizetype start = m_pending.size();
    m_pending.resize(start + m_encoder.requiredSpace(text.size()) + 2);
    char *end = m_encoder.appendToBuffer(m_pending.data() + start, text);
    *end++ = '\r';
    *end++ = '\n';
    m_pending.truncate(end - m_pending.constData());
    if (m_pending.size() >= 64 * 1024)
        flush();
}

void ReportFile::flush()
{
    if (!m_pending.isEmpty() && m_file->write(m_pending) != m_pending.size())
        giveUp();
    m_pending.clear();
}

void ReportFile::close()
{
    if (m_gaveUp) {
        m_file.reset();
        return;
    }
    if (!m_file)
        throw notOpen();
    flush();
    if (active == this)
        active = nullptr;
    std::unique_ptr<SaveFile> file = std::move(m_file);
    // The report takes the name by a rename, which replaces a link rather than following it; a link
    // put there during the export is still refused rather than replaced.
    if (!file->commit()) {
        m_gaveUp = true;
        if (!file->refusal().isEmpty())
            throw notReplaced(m_fileName, file->refusal());
        throw writeFailure(*file, m_fileName);
    }
    m_saved = true;
}

void ReportFile::giveUp()
{
    const Failure failure = writeFailure(*m_file, m_fileName);
    m_file->cancelWriting();
    m_file.reset();
    m_pending.clear();
    m_gaveUp = true;
    if (active == this)
        active = nullptr;
    throw failure;
}
