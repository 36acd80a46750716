#include "core/report/ReportFile.h"

#include "core/Failure.h"
#include "core/report/SaveFile.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>
#include <utility>

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

Failure notReplaced(const QString &fileName, const QString &what)
{
    return Failure(75, QStringLiteral("Path/File access error: ") + ReportFile::notReplacedText(fileName, what));
}

// Whether the encoding writes every ASCII character as its own byte, as UTF-8 and the 8-bit code
// pages do: then a line of ASCII needs no encoder.
bool encodesAsciiAsIs()
{
    QString ascii(0x80, Qt::Uninitialized);
    QByteArray expected(0x80, Qt::Uninitialized);
    for (int c = 0; c < 0x80; ++c) {
        ascii[c] = QChar(c);
        expected[c] = char(c);
    }
    QStringEncoder probe(QStringConverter::System, QStringConverter::Flag::Stateless);
    return probe.isValid() && QByteArray(probe.encode(ascii)) == expected;
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
    const std::filesystem::file_status status = std::filesystem::symlink_status(SaveFile::systemPath(fileName), error);
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
    // Room for what waits, and the longest line that can come after it, without growing.
    m_pending.resize(2 * FlushSize);
    m_used = 0;
    m_encoder = QStringEncoder(QStringConverter::System);
    m_encoderHolds = false;
    m_asciiAsIs = encodesAsciiAsIs();
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
    if (!(m_asciiAsIs && !m_encoderHolds && appendAscii(text))) {
        char *start = room(m_encoder.requiredSpace(text.size()) + 2);
        char *end = m_encoder.appendToBuffer(start, text);
        *end++ = '\r';
        *end++ = '\n';
        m_used += end - start;
        // A line that ends in half of a surrogate pair leaves that half with the encoder, which
        // settles it with the next line's text: that line goes through the encoder too.
        if (!text.isEmpty())
            m_encoderHolds = text.back().isHighSurrogate();
    }
    if (m_used >= FlushSize)
        flush();
}

char *ReportFile::room(qsizetype bytes)
{
    if (m_pending.size() - m_used < bytes)
        m_pending.resize(m_used + bytes);
    return m_pending.data() + m_used;
}

bool ReportFile::appendAscii(const QString &text)
{
    // Looked at whole before anything is copied: loops without an early way out are made into
    // vector instructions by the compiler.
    const char16_t *in = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    char16_t seen = 0;
    for (qsizetype i = 0; i < size; ++i)
        seen |= in[i];
    if (seen >= 0x80)
        return false;
    char *out = room(size + 2);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(in[i]);
    out[size] = '\r';
    out[size + 1] = '\n';
    m_used += size + 2;
    return true;
}

void ReportFile::flush()
{
    const qsizetype used = std::exchange(m_used, 0);
    if (used > 0 && m_file->write(QByteArray::fromRawData(m_pending.constData(), used)) != used)
        giveUp();
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
    m_used = 0;
    m_gaveUp = true;
    if (active == this)
        active = nullptr;
    throw failure;
}
