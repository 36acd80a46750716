#include "core/estate/Documenting.h"

#include "core/Dialogs.h"
#include "core/Failure.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"
#include "core/report/ExportView.h"
#include "core/report/SaveFile.h"
#include "core/report/StructureReport.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Read.h"
#include "core/structure/Structure.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <filesystem>

namespace Estate {

namespace {

QString modifiedText(const QFileInfo &info)
{
    return info.lastModified().toUTC().toString(Qt::ISODate);
}

// The first bytes of every Access database name the engine that wrote it.
bool hasAccessSignature(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // unknown: not said to be something else
    const QByteArray head = file.read(32);
    return head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB";
}

QString jsonPathOf(const Job &job)
{
    return StructureOutput::fileName(StructureOutput::Format::Json, job.folder, job.namedAs);
}

// Whether the documents of an earlier run still describe the file as it is now: made by this
// program from a file of the same size, time and content, and every one of them still there.
bool upToDate(const Job &job, const QFileInfo &info, Ado::Connection &connection)
{
    QFile previous(jsonPathOf(job));
    if (!previous.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject document = QJsonDocument::fromJson(previous.readAll()).object();
    const QJsonObject database = document.value(QStringLiteral("database")).toObject();
    const QJsonObject file = database.value(QStringLiteral("file")).toObject();
    if (document.value(QStringLiteral("generator")).toString() != Structure::generatorName() ||
        !document.value(QStringLiteral("error")).isUndefined() ||
        file.value(QStringLiteral("size")).toInteger(-1) != info.size() ||
        file.value(QStringLiteral("modified")).toString() != modifiedText(info))
        return false;
    for (const StructureOutput::Format format : job.formats) {
        if (!QFileInfo::exists(StructureOutput::fileName(format, job.folder, job.namedAs)))
            return false;
    }
    return file.value(QStringLiteral("sha256")).toString() == QString::fromLatin1(connection.fileDigest().toHex());
}

std::optional<QString> ensureFolder(const QString &folder)
{
    std::error_code error;
    std::filesystem::create_directories(SaveFile::systemPath(folder), error);
    if (error)
        return QStringLiteral("The folder '%1' could not be made: %2.")
            .arg(QDir::toNativeSeparators(folder), QString::fromStdString(error.message()));
    return std::nullopt;
}

Outcome failed(const Job &job, ErrorKind kind, const QString &message)
{
    Outcome outcome;
    outcome.status = Outcome::Status::Failed;
    outcome.error = DatabaseError{kind, message};
    if (const auto problem = writeErrorDocument(jsonPathOf(job), job.path, *outcome.error))
        outcome.unread << *problem;
    return outcome;
}

// The report writer, run with every table ticked and nobody watching: what it would have shown
// in a message is kept, the closing "Done." apart.
class Unwatched : public ExportView, public Dialogs
{
public:
    explicit Unwatched(QStringList tables) : m_tables(std::move(tables)) {}
    QStringList said;

    int rowCount() const override { return int(m_tables.size()); }
    // Rows count from one, as in the window's list.
    QString rowText(int row) const override { return m_tables.value(row - 1); }
    bool rowTicked(int) const override { return true; }
    void setProgressValue(double) override {}
    void setProgressCaption(const QString &) override {}
    void setPointer(Pointer) override {}
    void yield() override {}

    Answer message(const QString &, const QString &text, Buttons, Icon) override
    {
        if (text != QStringLiteral("Done."))
            said << text.simplified();
        return Answer::Ok;
    }
    std::optional<QString> openFile(const OpenFileRequest &) override { return std::nullopt; }
    QString browseForFolder(const QString &, const QString &) override { return QString(); }
    bool openUrl(const QUrl &) override { return false; }

private:
    QStringList m_tables;
};

QStringList writeReport(const Job &job, const Structure::Document &document)
{
    QStringList tables;
    for (const Structure::Table &table : document.tables)
        tables << table.name;
    Unwatched unwatched(tables);
    StructureReport::generateStructure(
        unwatched, unwatched, {job.path, job.password},
        StructureOutput::fileName(StructureOutput::Format::Text, job.folder, job.namedAs), qint32(tables.size()));
    return unwatched.said;
}

} // namespace

QJsonObject Job::toJson() const
{
    QJsonArray names;
    for (const StructureOutput::Format format : formats)
        names.append(StructureOutput::formatName(format));
    QJsonObject object{{QStringLiteral("path"), path},     {QStringLiteral("relative"), relative},
                       {QStringLiteral("folder"), folder}, {QStringLiteral("namedAs"), namedAs},
                       {QStringLiteral("formats"), names}, {QStringLiteral("password"), password},
                       {QStringLiteral("force"), force}};
    if (dialect)
        object.insert(QStringLiteral("dialect"), Structure::sqlDialectName(*dialect));
    return object;
}

std::optional<Job> Job::fromJson(const QJsonObject &object)
{
    Job job;
    job.path = object.value(QStringLiteral("path")).toString();
    job.relative = object.value(QStringLiteral("relative")).toString();
    job.folder = object.value(QStringLiteral("folder")).toString();
    job.namedAs = object.value(QStringLiteral("namedAs")).toString();
    job.password = object.value(QStringLiteral("password")).toString();
    job.force = object.value(QStringLiteral("force")).toBool();
    QStringList names;
    for (const QJsonValue &name : object.value(QStringLiteral("formats")).toArray())
        names << name.toString();
    QString problem;
    const auto formats = StructureOutput::parseFormats(names.join(QLatin1Char(',')), problem);
    if (!formats || job.path.isEmpty() || job.folder.isEmpty() || job.namedAs.isEmpty())
        return std::nullopt;
    job.formats = *formats;
    if (object.contains(QStringLiteral("dialect"))) {
        job.dialect = Structure::sqlDialect(object.value(QStringLiteral("dialect")).toString());
        if (!job.dialect)
            return std::nullopt;
    }
    return job;
}

QJsonObject Outcome::toJson() const
{
    static const char *const names[] = {"documented", "unchanged", "failed"};
    QJsonObject object{{QStringLiteral("status"), QLatin1String(names[int(status)])},
                       {QStringLiteral("unread"), QJsonArray::fromStringList(unread)}};
    if (error)
        object.insert(QStringLiteral("error"), QJsonObject{{QStringLiteral("kind"), errorKindName(error->kind)},
                                                           {QStringLiteral("message"), error->message}});
    return object;
}

std::optional<Outcome> Outcome::fromJson(const QJsonObject &object)
{
    Outcome outcome;
    const QString status = object.value(QStringLiteral("status")).toString();
    if (status == QStringLiteral("documented"))
        outcome.status = Status::Documented;
    else if (status == QStringLiteral("unchanged"))
        outcome.status = Status::Unchanged;
    else if (status == QStringLiteral("failed"))
        outcome.status = Status::Failed;
    else
        return std::nullopt;
    for (const QJsonValue &line : object.value(QStringLiteral("unread")).toArray())
        outcome.unread << line.toString();
    if (object.value(QStringLiteral("error")).isObject()) {
        const QJsonObject error = object.value(QStringLiteral("error")).toObject();
        const auto kind = errorKindFromName(error.value(QStringLiteral("kind")).toString());
        if (!kind)
            return std::nullopt;
        outcome.error = DatabaseError{*kind, error.value(QStringLiteral("message")).toString()};
    }
    return outcome;
}

ErrorKind classifyFailure(long number, const QString &description, const QString &databasePath)
{
    if (number == 3031 || description.contains(QStringLiteral("is encrypted with a password")))
        return ErrorKind::Password;
    if (description.contains(QStringLiteral("which Strudex cannot read")))
        return ErrorKind::Unsupported;
    if (number == 3024 || number == 3051 || number == 75)
        return ErrorKind::Unreadable;
    return hasAccessSignature(databasePath) ? ErrorKind::Damaged : ErrorKind::NotAccess;
}

std::optional<QString> writeErrorDocument(const QString &jsonPath, const QString &databasePath,
                                          const DatabaseError &error)
{
    if (const auto problem = ensureFolder(QFileInfo(jsonPath).path()))
        return problem;
    const QFileInfo info(databasePath);
    QJsonObject database{{QStringLiteral("path"), databasePath},
                         {QStringLiteral("format"), QJsonValue::Null},
                         {QStringLiteral("encrypted"), QJsonValue::Null}};
    if (info.exists())
        database.insert(QStringLiteral("file"), QJsonObject{{QStringLiteral("size"), info.size()},
                                                            {QStringLiteral("modified"), modifiedText(info)},
                                                            {QStringLiteral("sha256"), QJsonValue::Null}});
    const QJsonObject document{
        {QStringLiteral("generator"), Structure::generatorName()},
        {QStringLiteral("database"), database},
        {QStringLiteral("error"),
         QJsonObject{{QStringLiteral("kind"), errorKindName(error.kind)}, {QStringLiteral("message"), error.message}}}};
    const QByteArray bytes = QJsonDocument(document).toJson(QJsonDocument::Indented);
    SaveFile file(jsonPath);
    if (file.open() && file.write(bytes) == bytes.size() && file.commit())
        return std::nullopt;
    return QStringLiteral("'%1' could not be written: %2.")
        .arg(QDir::toNativeSeparators(jsonPath), file.refusal().isEmpty() ? file.errorString() : file.refusal());
}

Outcome documentDatabase(const Job &job)
{
    const QFileInfo info(job.path);
    if (!info.exists())
        return failed(job, ErrorKind::Unreadable, QStringLiteral("The file could not be found."));
    if (const auto problem = ensureFolder(job.folder)) {
        Outcome outcome;
        outcome.error = DatabaseError{ErrorKind::Unreadable, *problem};
        return outcome;
    }
    Structure::FileFacts facts{info.size(), modifiedText(info), QString()};
    try {
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({job.path, job.password}));
        if (!job.force && upToDate(job, info, *connection)) {
            connection->Close();
            Outcome outcome;
            outcome.status = Outcome::Status::Unchanged;
            return outcome;
        }
        Structure::Document document = Structure::read(*connection, {});
        facts.sha256 = QString::fromLatin1(connection->fileDigest().toHex());
        connection->Close();
        document.database.file = facts;
        document.database.schemaHash = Structure::designHash(document);
        if (job.dialect)
            document.migration = Structure::Migration{Structure::sqlDialectName(*job.dialect),
                                                      Structure::migrationNotes(document, *job.dialect)};
        Outcome outcome;
        outcome.status = Outcome::Status::Documented;
        outcome.unread = StructureOutput::unreadParts(document);
        QList<StructureOutput::Format> formats = job.formats;
        // The text report is the report writer's; the estate writes the same text from the document.
        formats.removeAll(StructureOutput::Format::Text);
        // The report writer reads the database again, over the worker kept from the reading.
        if (job.formats.contains(StructureOutput::Format::Text))
            outcome.unread << writeReport(job, document);
        // No other file is ever opened by this name: its worker is not kept for it.
        Ado::Connection::releaseKept();
        outcome.unread << StructureOutput::writeAll(document, formats, job.folder, job.namedAs);
        return outcome;
    } catch (const Failure &failure) {
        Ado::Connection::releaseKept();
        return failed(job, classifyFailure(failure.number(), failure.description(), job.path),
                      failure.description().simplified());
    }
}

int serveJobs(std::FILE *input, std::FILE *output)
{
    // Every file is read by an engine process of its own, forked from one that is kept: starting
    // the engine afresh for each of a thousand small files would take longer than reading them.
    Ado::WorkerSettings::setForkPerDatabase(true);
    // Waiting for the disk after every document would keep the workers waiting on each other:
    // the run waits once, for all of them, before it writes the index (documentTree).
    SaveFile::setSyncLater(true);
    QByteArray line;
    for (int c = std::fgetc(input);; c = std::fgetc(input)) {
        if (c != '\n' && c != EOF) {
            line.append(char(c));
            continue;
        }
        if (!line.isEmpty()) {
            const auto job = Job::fromJson(QJsonDocument::fromJson(line).object());
            Outcome outcome;
            if (job)
                outcome = documentDatabase(*job);
            else
                outcome.error =
                    DatabaseError{ErrorKind::Unreadable, QStringLiteral("The job could not be understood.")};
            const QByteArray answer = QJsonDocument(outcome.toJson()).toJson(QJsonDocument::Compact) + '\n';
            if (std::fwrite(answer.constData(), 1, std::size_t(answer.size()), output) != std::size_t(answer.size()) ||
                std::fflush(output) != 0)
                return 1;
            line.clear();
        }
        if (c == EOF)
            return 0;
    }
}

} // namespace Estate
