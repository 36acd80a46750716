#include "core/estate/Tree.h"

#include "core/estate/IndexBuilder.h"
#include "core/report/SaveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace Estate {

namespace {

bool wholeIndex(const Index &index)
{
    return std::none_of(index.databases.cbegin(), index.databases.cend(),
                        [](const DatabaseEntry &entry) { return entry.error || !entry.unread.isEmpty(); });
}

} // namespace

std::optional<QHash<QString, QString>> readPasswords(const QString &path, QString &problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("the password file '%1' cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QHash<QString, QString> passwords;
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0 && lines.size() == 1) {
            passwords.insert(QString(), QString::fromLocal8Bit(line));
        } else if (tab > 0) {
            QString where = QDir::cleanPath(QString::fromLocal8Bit(line.left(tab)));
            if (QDir::isAbsolutePath(where))
                where = QDir::cleanPath(QFileInfo(where).absoluteFilePath());
            passwords.insert(where, QString::fromLocal8Bit(line.mid(tab + 1)));
        } else if (!line.isEmpty()) {
            problem = QStringLiteral("the password file '%1' has a line that is not \"path<TAB>password\"").arg(path);
            return std::nullopt;
        }
    }
    return passwords;
}

QList<Job> planJobs(const TreeRequest &request, const QList<FoundFile> &found)
{
    // The name each database's documents would have, and how many want each, per folder and in
    // any letter case (a folder may be on a disk that does not tell the cases apart).
    const auto key = [](const QString &relative, const QString &stem) {
        return QFileInfo(relative).path().toCaseFolded() + QLatin1Char('/') + stem.toCaseFolded();
    };
    QHash<QString, int> wanted;
    for (const FoundFile &file : found)
        ++wanted[key(file.relative, QFileInfo(file.relative).completeBaseName())];
    QList<Job> jobs;
    QSet<QString> taken;
    for (const FoundFile &file : found) {
        Job job;
        job.path = file.path;
        job.relative = file.relative;
        const QString folder = QFileInfo(file.relative).path();
        job.folder = folder == QStringLiteral(".") ? request.output : QDir(request.output).filePath(folder);
        // The documents are named after the path's name without its extension: a name that
        // keeps the extension is given as a name with one more.
        QString stem = QFileInfo(file.relative).completeBaseName();
        if (wanted.value(key(file.relative, stem)) > 1)
            stem = QFileInfo(file.relative).fileName();
        for (int more = 2; taken.contains(key(file.relative, stem)); ++more)
            stem = QFileInfo(file.relative).fileName() + QStringLiteral("~%1").arg(more);
        taken.insert(key(file.relative, stem));
        job.namedAs = QDir(QFileInfo(file.path).path()).filePath(stem + QStringLiteral(".x"));
        job.formats = request.formats;
        job.dialect = request.dialect;
        job.force = request.force;
        job.password =
            request.passwords.value(QDir::cleanPath(file.relative),
                                    request.passwords.value(QDir::cleanPath(QFileInfo(file.path).absoluteFilePath()),
                                                            request.passwords.value(QString())));
        jobs.append(job);
    }
    return jobs;
}

TreeResult documentTree(const TreeRequest &request, PoolProgress &progress)
{
    TreeResult result;
    const QList<FoundFile> found = findDatabases(request.root, result.problems);
    if (!QDir().mkpath(request.output)) {
        result.problems
            << QStringLiteral("The folder '%1' could not be made.").arg(QDir::toNativeSeparators(request.output));
        return result;
    }
    result.jobs = planJobs(request, found);
    result.outcomes = documentAll(result.jobs, request.pool, progress);
    // The workers left the wait for the disk to this one: the index names only documents that
    // are there.
    if (const auto problem = SaveFile::syncFileSystem(request.output))
        result.problems << QStringLiteral("The documents in '%1' could not all be written out to the disk: %2.")
                               .arg(QDir::toNativeSeparators(request.output), *problem);
    QList<DocumentFile> documents;
    for (const Job &job : std::as_const(result.jobs))
        documents.append(
            {StructureOutput::fileName(StructureOutput::Format::Json, job.folder, job.namedAs), job.relative});
    result.index = buildIndex(documents, request.output, request.root);
    const QStringList unwritten = writeIndex(result.index, request.output);
    result.whole = result.problems.isEmpty() && unwritten.isEmpty() && wholeIndex(result.index);
    result.problems << unwritten;
    return result;
}

TreeResult indexDocuments(const QString &output)
{
    TreeResult result;
    result.index = buildIndex(findDocuments(output), output, QString());
    result.problems = writeIndex(result.index, output);
    result.whole = result.problems.isEmpty() && wholeIndex(result.index);
    return result;
}

} // namespace Estate
