#include "core/PathUtilities.h"

#include "core/Failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace Main {

namespace {

// Names that cannot name anything on this platform: they are answered without asking the file
// system, which could otherwise cut them at the NUL and find something else.
bool unusableName(const QString &path)
{
    return path.isEmpty() || path.contains(QChar(u'\0'));
}

QString appTitle = QStringLiteral("Strudex");

} // namespace

QChar separator()
{
    return QDir::separator();
}

bool FileExists(const QString &path)
{
    if (unusableName(path))
        return false;
    return QFileInfo::exists(path);
}

std::optional<bool> IsFolder(const QString &path)
{
    if (unusableName(path))
        return std::nullopt;
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    return info.isDir();
}

QString FileNameFromPath(const QString &path)
{
    const qsizetype at = path.lastIndexOf(separator());
    return at < 0 ? path : path.mid(at + 1);
}

QString StripExtension(const QString &name)
{
    if (name.isEmpty())
        return name;
    const qsizetype position = name.lastIndexOf(QLatin1Char('.')) + 1; // counted from 1, 0 = none
    if (position > 32767)
        throw Failure::overflow();
    return position >= 2 ? name.left(position - 1) : name;
}

QString RemoveDoubleBackslashes(const QString &path)
{
    const QChar sep = separator();
    const QString doubled = QString(2, sep);
#ifdef Q_OS_WIN
    if (!path.startsWith(sep))
        return QString(path).replace(doubled, sep);
    qsizetype first = 1;
    while (first < path.size() && path.at(first) == sep)
        ++first;
    return doubled + path.mid(first).replace(doubled, sep);
#else
    return QString(path).replace(doubled, sep);
#endif
}

QString GetSpecialFolderPath(int folder)
{
    if (folder != 0)
        return QString();
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    // Desktops without a desktop folder: the home folder is where such desktops put files.
    if (desktop.isEmpty() || !QFileInfo(desktop).isDir())
        desktop = QDir::homePath();
    if (desktop.isEmpty())
        return QString();
    QString buffer = QDir::toNativeSeparators(QDir::cleanPath(desktop)) + QChar(u'\0');
    if (buffer.size() < 512)
        buffer += QString(512 - buffer.size(), QLatin1Char(' '));
    return buffer;
}

QString FolderFromShellBuffer(const QString &buffer)
{
    const qsizetype nul = buffer.lastIndexOf(QChar(u'\0'));
    if (nul < 0)
        throw Failure::invalidArgument();
    QString folder = buffer.left(nul);
    // The root folder already ends in its separator.
    if (!folder.endsWith(separator()))
        folder += separator();
    return folder;
}

QString GetDesktopFolder(QString &buffer)
{
    buffer = GetSpecialFolderPath(0);
    return FolderFromShellBuffer(buffer);
}

QString TitleFromProductName(const QString &productName)
{
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            throw Failure::invalidArgument();
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

void SetAppTitle()
{
    appTitle = TitleFromProductName(QString::fromLatin1(ProductName));
    QCoreApplication::setApplicationName(appTitle);
}

QString AppTitle()
{
    return appTitle;
}

QString ProgramFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

} // namespace Main
