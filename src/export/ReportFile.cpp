#include "ReportFile.h"

#include "Failure.h"

#include <QDir>

namespace {

ReportFile *active = nullptr;

Failure notOpen()
{
    return Failure(52, QStringLiteral("Bad file name or number"));
}

Failure writeFailure(const QSaveFile &file, const QString &fileName)
{
    if (file.error() == QFileDevice::ResourceError)
        return Failure(61, QStringLiteral("Disk full: '%1' (%2)").arg(QDir::toNativeSeparators(fileName), file.errorString()));
    return Failure(57, QStringLiteral("Device I/O error: '%1' (%2)").arg(QDir::toNativeSeparators(fileName), file.errorString()));
}

} // namespace

void ReportFile::open(const QString &fileName)
{
    m_file.reset();
    auto file = std::make_unique<QSaveFile>(fileName);
    if (fileName.isEmpty() || !file->open(QIODevice::WriteOnly))
        throw Failure::fileAccess(QDir::toNativeSeparators(fileName), file->errorString());
    m_file = std::move(file);
    m_fileName = fileName;
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
    }
}

void ReportFile::writeLine(const QString &text)
{
    if (!m_file)
        throw notOpen();
    QByteArray bytes = m_encoder.encode(text);
    bytes.append("\r\n", 2);
    if (m_file->write(bytes) != bytes.size())
        throw writeFailure(*m_file, m_fileName);
}

void ReportFile::close()
{
    if (!m_file)
        throw notOpen();
    std::unique_ptr<QSaveFile> file = std::move(m_file);
    if (active == this)
        active = nullptr;
    if (!file->commit())
        throw writeFailure(*file, m_fileName);
}
