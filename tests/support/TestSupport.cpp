#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace TestSupport {

QString dataDir()
{
    return qEnvironmentVariable("STRUDEX_TEST_DATA");
}

QString fixturesDir()
{
    const QString dir = qEnvironmentVariable("STRUDEX_FIXTURES");
    return QDir(dir).exists() ? QDir(dir).canonicalPath() : QString();
}

QString binDir()
{
    return qEnvironmentVariable("STRUDEX_BIN_DIR");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString realFile(const QString &relative)
{
    const QString dir = fixturesDir();
    if (dir.isEmpty())
        return QString();
    const QString path = dir + QStringLiteral("/real/") + relative;
    return QFileInfo(path).isFile() ? path : QString();
}

QList<RealFile> realFiles()
{
    QList<RealFile> files;
    const QString root = fixturesDir() + QStringLiteral("/real/");
    QFile readme(root + QStringLiteral("README.md"));
    if (fixturesDir().isEmpty() || !readme.open(QIODevice::ReadOnly))
        return files;
    // | `file` | format | encryption | password | notes | mdbtools |
    static const QRegularExpression row(
        QStringLiteral("^\\| `([^`]+)` \\|[^|]*\\|([^|]*)\\|([^|]*)\\|.*\\| (ok \\[(\\d+) tables?\\]|[^|]*) \\|\\s*$"));
    for (const QString &line : QString::fromUtf8(readme.readAll()).split(QLatin1Char('\n'))) {
        const auto match = row.match(line);
        if (!match.hasMatch())
            continue;
        RealFile file{root + match.captured(1), match.captured(3).trimmed(), -1};
        if (!match.captured(5).isEmpty())
            file.userTables = match.captured(5).toInt();
        else if (!match.captured(2).contains(QStringLiteral("Office crypto")))
            continue;
        files << file;
    }
    return files;
}

bool fixturesRequired()
{
    const QByteArray value = qgetenv("STRUDEX_REQUIRE_FIXTURES");
    return !value.isEmpty() && value != "0";
}

QStringList fetchedReferences(const QString &page)
{
    QStringList found;
    static const QRegularExpression attribute(QStringLiteral("(?:src|href)\\s*=\\s*\"([^\"]*)\""));
    for (const QRegularExpressionMatch &m : attribute.globalMatch(page))
        found << m.captured(1);
    static const QRegularExpression url(QStringLiteral("url\\(|@import"));
    for (const QRegularExpressionMatch &m : url.globalMatch(page))
        found << m.captured(0);
    return found;
}

QByteArray writeDamagedSettings(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray bytes("[Strudex%20Software]\nDatabase=");
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 151 + 7) % 256));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the damaged settings file %s", qPrintable(path));
    return bytes;
}

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QString &folder,
                      const QByteArray &input, const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(5000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

ProgramRun runExporter(const QStringList &arguments, const QString &folder, const QByteArray &input)
{
    return runProgram(QDir(binDir()).filePath(QStringLiteral("strudex-export")), arguments, folder, input);
}

} // namespace TestSupport
