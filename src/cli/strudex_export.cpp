// strudex-export: writes the structure report of an Access database from the command line.

#include "cli/CommandLineMessages.h"
#include "cli/ConsoleExport.h"
#include "cli/EstateCommand.h"
#include "core/Failure.h"
#include "core/PathUtilities.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/db/ODBCProvider.h"
#include "core/estate/Documenting.h"
#include "core/report/StructureOutput.h"
#include "core/report/StructureReport.h"
#include "core/structure/Printable.h"
#include "core/structure/Read.h"
#include "core/structure/Sql.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <optional>
#include <variant>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr int ExitReported = 1;
constexpr int ExitUsage = 2;
// --diff answers as diff does: 0 the same, 1 different, 2 trouble.
constexpr int DiffSame = 0;
constexpr int DiffDifferent = 1;
constexpr int DiffTrouble = 2;

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// A message on a line of its own; names in it, from a database or the command line, cannot send
// the terminal control characters.
void printMessage(std::FILE *stream, const QString &text)
{
    print(stream, ConsoleDialogs::forTerminal(text) + QLatin1Char('\n'));
}

int usageError(const QCommandLineParser &parser, const QString &problem)
{
    printMessage(stderr, QStringLiteral("strudex-export: %1").arg(problem));
    print(stderr, QStringLiteral("Try 'strudex-export --help' for more information.\n"));
    Q_UNUSED(parser);
    return ExitUsage;
}

// One line of standard input, the line end dropped; on a terminal the prompt is shown and what is
// typed is not echoed.
std::optional<QString> passwordFromInput(const char *prompt)
{
    const bool terminal = isatty(fileno(stdin));
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
    }
#ifndef Q_OS_WIN
    termios saved{};
    const bool quiet = terminal && tcgetattr(fileno(stdin), &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(fileno(stdin), TCSAFLUSH, &silent);
    }
#endif
    QByteArray line;
    for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
        line.append(char(c));
#ifndef Q_OS_WIN
    if (quiet) {
        tcsetattr(fileno(stdin), TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
#endif
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromLocal8Bit(line);
}

// The first line of a file, its line end dropped; nothing (and why) when it cannot be read.
std::optional<QString> passwordFromFile(const QString &path, QString &problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("the password file '%1' cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine(1 << 20);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromLocal8Bit(line);
}

// A password from its option: given as it is, "-" for standard input, or from a file. Giving the
// same password two ways is a usage error.
std::optional<QString> passwordOption(const QCommandLineParser &parser, const QCommandLineOption &value,
                                      const QCommandLineOption &file, const char *prompt, QString &problem)
{
    if (parser.isSet(value) && parser.isSet(file)) {
        problem = QStringLiteral("--%1 and --%2 cannot both be given")
                      .arg(value.names().constFirst(), file.names().constFirst());
        return std::nullopt;
    }
    if (parser.isSet(file))
        return passwordFromFile(parser.value(file), problem);
    if (parser.isSet(value) && parser.value(value) == QStringLiteral("-"))
        return passwordFromInput(prompt);
    return parser.value(value);
}

// What is said of a database that is not there.
void printMissing(const QString &database)
{
    print(stderr,
          CommandLineMessages::aboutFile(database, QStringLiteral("the file could not be found.")) + QLatin1Char('\n'));
}

// The whole structure of a database, or the failure that stopped its reading, printed.
std::optional<Structure::Document> readDocument(const QString &database, const QString &password,
                                                const QStringList &tables)
{
    if (!Main::FileExists(database)) {
        printMissing(database);
        return std::nullopt;
    }
    try {
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({database, password}));
        Structure::Document document = Structure::read(*connection, tables);
        connection->Close();
        return document;
    } catch (const Failure &failure) {
        print(stderr, CommandLineMessages::aboutFile(database, QStringLiteral("the database could not be read: ") +
                                                                   failure.description()) +
                          QLatin1Char('\n'));
        return std::nullopt;
    }
}

// Every option of the command line, and the parser that knows them.
struct CommandLine
{
    CommandLine();

    QCommandLineParser parser;
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit.")};
    const QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version and exit.")};
    const QCommandLineOption password{
        QStringLiteral("password"),
        QStringLiteral("The database password. Given here it can be seen by every user of the machine in the list "
                       "of processes; '-' reads it from standard input (asked for without echo on a terminal), "
                       "which is safe, as is --password-file."),
        QStringLiteral("PW")};
    const QCommandLineOption passwordFile{QStringLiteral("password-file"),
                                          QStringLiteral("Read the database password from the first line of FILE."),
                                          QStringLiteral("FILE")};
    const QCommandLineOption output{QStringLiteral("output"),
                                    QStringLiteral("Folder that receives the report (default: the current folder); "
                                                   "'-' prints the one document asked for on standard output."),
                                    QStringLiteral("DIR"), QStringLiteral(".")};
    const QCommandLineOption table{QStringLiteral("table"),
                                   QStringLiteral("Export this table; repeat for more (default: every user table)."),
                                   QStringLiteral("NAME")};
    const QCommandLineOption list{QStringLiteral("list"),
                                  QStringLiteral("Print the user tables, one per line, and write nothing.")};
    const QCommandLineOption format{
        QStringLiteral("format"),
        QStringLiteral("What to write, one or more separated by commas: text (the report, the default), json, "
                       "markdown, html, sql: DIR/<database name>_Structure.txt, .json, .md, .html, .sql; source: "
                       "the application's code in the folder DIR/<database name>_Source. With --diff: text, "
                       "markdown or json, printed."),
        QStringLiteral("FORMAT")};
    const QCommandLineOption sqlDialect{
        QStringLiteral("sql-dialect"),
        QStringLiteral("The server the sql format's DDL is for: postgresql (the default), sqlite or mysql (MySQL "
                       "and MariaDB). With sql or with this option the json, markdown and html documents also list "
                       "the migration notes, what the DDL cannot carry over exactly."),
        QStringLiteral("DIALECT"), QStringLiteral("postgresql")};
    const QCommandLineOption diff{QStringLiteral("diff"),
                                  QStringLiteral("Compare the structure of two databases, OLD and NEW, and print the "
                                                 "differences. Exit status 0: none, 1: some, 2: trouble.")};
    const QCommandLineOption diffAll{
        QStringLiteral("diff-all"),
        QStringLiteral("With --diff: compare the datasheet and layout properties too (column widths and order, "
                       "fonts, colours, sort and filter, subdatasheets, GUID, NameMap and the like), which are "
                       "left out by default.")};
    const QCommandLineOption newPassword{
        QStringLiteral("new-password"),
        QStringLiteral("With --diff: the password of NEW (default: the password of OLD); '-' reads it from "
                       "standard input."),
        QStringLiteral("PW")};
    const QCommandLineOption newPasswordFile{
        QStringLiteral("new-password-file"),
        QStringLiteral("With --diff: read the password of NEW from the first line of FILE."), QStringLiteral("FILE")};
    const QCommandLineOption recursive{
        QStringLiteral("recursive"),
        QStringLiteral("Document every Access file below DIR (.mdb, .accdb, .accda, .mda, .mde, .accde) into the "
                       "--output folder, in the same folders as below DIR, and write index.json and index.html there. "
                       "Formats as --format (default json; json is always written, the index is made from it). "
                       "--password-file then holds \"path<TAB>password\" lines (paths relative to DIR) or one "
                       "password for all. Exit status 0: all documented, 1: any file gave an error (the index is "
                       "written all the same), 2: usage error."),
        QStringLiteral("DIR")};
    const QCommandLineOption jobs{QStringLiteral("jobs"),
                                  QStringLiteral("With --recursive: how many files are documented at a time "
                                                 "(default: the number of cores)."),
                                  QStringLiteral("N")};
    const QCommandLineOption force{QStringLiteral("force"),
                                   QStringLiteral("With --recursive: document every file again, also those whose "
                                                  "documents are up to date (same size, time and content).")};
    const QCommandLineOption indexOnly{
        QStringLiteral("index-only"),
        QStringLiteral("Write index.json and index.html in OUT from the JSON documents found below it (made by "
                       "--recursive, or by --for-index exports on any number of machines), and nothing else."),
        QStringLiteral("OUT")};
    const QCommandLineOption forIndex{
        QStringLiteral("for-index"),
        QStringLiteral("Export one database as --recursive does each of its files: the JSON document (always "
                       "written) also holds the file's size, time and content hash and the hash of its design, "
                       "and a database that cannot be read gets a JSON document that says why. For batch "
                       "systems; --index-only makes the index of the results.")};
    QCommandLineOption estateWorker{QStringLiteral("estate-worker"),
                                    QStringLiteral("Serve --recursive's jobs on standard input.")};
};

CommandLine::CommandLine()
{
    parser.setApplicationDescription(
        QStringLiteral("Writes the structure report of an Access database (.mdb or .accdb): every chosen table's name, "
                       "field count and record count, and per field its name, data type and description, into "
                       "DIR/<database name>_Structure.txt."));
    estateWorker.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, version, password, passwordFile, output, table, list, format, sqlDialect, diff, diffAll,
                       newPassword, newPasswordFile, recursive, jobs, force, indexOnly, forIndex, estateWorker});
    parser.addPositionalArgument(QStringLiteral("DATABASE"), QStringLiteral("The Access database file."));
}

int diffMain(const QStringList &positional, const QString &oldPassword, const QString &newPassword,
             const QString &format, const Structure::DiffOptions &options)
{
    if (positional.size() != 2) {
        print(stderr, QStringLiteral("strudex-export: --diff compares two databases: OLD NEW\n"));
        return DiffTrouble;
    }
    const auto before = readDocument(positional[0], oldPassword, {});
    if (!before)
        return DiffTrouble;
    const auto after = readDocument(positional[1], newPassword, {});
    if (!after)
        return DiffTrouble;
    bool different = false;
    const auto output = StructureOutput::diffOutput(*before, *after, format, options, different);
    if (!output) {
        printMessage(stderr,
                     QStringLiteral("strudex-export: --diff prints text, markdown or json, not '%1'").arg(format));
        return DiffTrouble;
    }
    std::fwrite(output->constData(), 1, std::size_t(output->size()), stdout);
    std::fflush(stdout);
    return different ? DiffDifferent : DiffSame;
}

// --diff OLD NEW: the passwords of both sides, then the comparison.
int runDiff(const CommandLine &line)
{
    const QCommandLineParser &parser = line.parser;
    if (parser.isSet(line.sqlDialect))
        return usageError(parser, QStringLiteral("--sql-dialect goes with an export, not with --diff"));
    Main::SetAppTitle();
    QString problem;
    const auto oldPw = passwordOption(parser, line.password, line.passwordFile, "Password of OLD: ", problem);
    std::optional<QString> newPw = oldPw;
    if (oldPw && (parser.isSet(line.newPassword) || parser.isSet(line.newPasswordFile)))
        newPw = passwordOption(parser, line.newPassword, line.newPasswordFile, "Password of NEW: ", problem);
    if (!oldPw || !newPw) {
        printMessage(stderr, QStringLiteral("strudex-export: %1").arg(problem));
        return DiffTrouble;
    }
    const QString diffFormat = parser.isSet(line.format) ? parser.value(line.format) : QStringLiteral("text");
    ConsoleDialogs dialogs;
    dialogs.setFiles({parser.positionalArguments().value(0), QString(), QString()});
    if (!ODBCProvider::IsProviderInstalled(dialogs))
        return DiffTrouble;
    Structure::DiffOptions options;
    options.layoutProperties = parser.isSet(line.diffAll);
    return diffMain(parser.positionalArguments(), *oldPw, *newPw, diffFormat, options);
}

// What one export of one database was asked for.
struct ExportRequest
{
    QString database;
    QString password;
    QList<StructureOutput::Format> formats{StructureOutput::Format::Text};
    QString folder;
    QStringList wanted; // empty: every user table
    bool listOnly = false;
    Structure::SqlDialect dialect = Structure::SqlDialect::PostgreSql;
    // Asked about a migration (the sql format, or a dialect named): the documents show its notes.
    bool migration = false;

    // "--output -": the one document asked for goes to standard output.
    bool toStandardOutput() const { return folder == QStringLiteral("-"); }
};

// Standard output as a device the writers can write to; what failed, when it did.
std::optional<QString> printDocument(const std::function<bool(QIODevice &)> &write)
{
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || !write(out) || !out.flush())
        return QStringLiteral("standard output could not be written: %1.").arg(out.errorString());
    return std::nullopt;
}

// The export asked for on the command line, or the usage error (already printed) that stops it.
std::variant<ExportRequest, int> exportRequest(const CommandLine &line)
{
    const QCommandLineParser &parser = line.parser;
    if (parser.isSet(line.newPassword) || parser.isSet(line.newPasswordFile))
        return usageError(parser, QStringLiteral("--new-password and --new-password-file go with --diff"));
    if (parser.isSet(line.diffAll))
        return usageError(parser, QStringLiteral("--diff-all goes with --diff"));
    ExportRequest request;
    if (parser.isSet(line.format)) {
        QString problem;
        const auto parsed = StructureOutput::parseFormats(parser.value(line.format), problem);
        if (!parsed)
            return usageError(parser, problem);
        request.formats = *parsed;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(parser, positional.isEmpty() ? QStringLiteral("the DATABASE to read is missing")
                                                       : QStringLiteral("only one DATABASE can be read at a time"));
    QString passwordProblem;
    const auto givenPassword = passwordOption(parser, line.password, line.passwordFile, "Password: ", passwordProblem);
    if (!givenPassword)
        return usageError(parser, passwordProblem);
    const auto dialect = Structure::sqlDialect(parser.value(line.sqlDialect).trimmed().toLower());
    if (!dialect)
        return usageError(parser, QStringLiteral("unknown SQL dialect '%1' (use postgresql, sqlite or mysql)")
                                      .arg(parser.value(line.sqlDialect)));
    request.dialect = *dialect;
    request.migration = parser.isSet(line.sqlDialect) || request.formats.contains(StructureOutput::Format::Sql);
    request.database = positional.constFirst();
    request.password = *givenPassword;
    request.folder = parser.value(line.output);
    request.wanted = parser.values(line.table);
    request.listOnly = parser.isSet(line.list);
    if (request.toStandardOutput() && !request.listOnly) {
        if (request.formats.size() != 1)
            return usageError(parser, QStringLiteral("--output - prints one document: name one format"));
        if (request.formats.constFirst() == StructureOutput::Format::Source)
            return usageError(parser, QStringLiteral("the source is a folder of files: it cannot be printed"));
    }
    return request;
}

// The table list with the rows asked for ticked, or the name of a table the database does not have.
std::variant<std::vector<ConsoleView::Row>, QString> tickedRows(const QStringList &tables, const QStringList &wanted)
{
    const QSet<QString> known(tables.cbegin(), tables.cend());
    for (const QString &name : wanted) {
        if (!known.contains(name))
            return name;
    }
    const QSet<QString> chosen(wanted.cbegin(), wanted.cend());
    std::vector<ConsoleView::Row> rows;
    rows.reserve(std::size_t(tables.size()));
    for (const QString &name : tables)
        rows.push_back({name, wanted.isEmpty() || chosen.contains(name)});
    return rows;
}

// Everything is saved and said: the kept worker ends by itself when its input closes with this
// process, and taking the program's objects apart would only make the user wait.
[[noreturn]] void endNow(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

// The structure documents: read once, written in every format asked for. Ends the process.
[[noreturn]] void writeDocuments(const ExportRequest &request, const QList<StructureOutput::Format> &formats,
                                 const ConsoleDialogs &dialogs)
{
    auto document = readDocument(request.database, request.password, request.wanted);
    // Everything is read: the worker's memory is not held while the documents are written.
    Ado::Connection::releaseKept();
    bool failed = dialogs.failed() || !document;
    if (document) {
        // Every document says what the DDL for the server cannot carry over, when a migration is
        // asked about: working the notes out takes a big database's plan, which the other documents
        // do not need.
        if (request.migration)
            document->migration = Structure::Migration{Structure::sqlDialectName(request.dialect),
                                                       Structure::migrationNotes(*document, request.dialect)};
        // A document with a gap is written all the same, but the run did not read everything: the
        // documents say what could not be read, and so do standard error and the exit status. The
        // lines come escaped.
        for (const QString &line : StructureOutput::unreadParts(*document)) {
            if (!dialogs.said(line))
                print(stderr, CommandLineMessages::aboutFile(request.database, line) + QLatin1Char('\n'));
            failed = true;
        }
        // Each problem names the file that could not be written.
        QStringList problems;
        if (request.toStandardOutput()) {
            if (const auto problem = printDocument(
                    [&](QIODevice &out) { return StructureOutput::writeTo(*document, formats.constFirst(), out); }))
                problems << *problem;
        } else {
            problems = StructureOutput::writeAll(*document, formats, request.folder, request.database);
        }
        for (const QString &problem : problems) {
            printMessage(stderr, QStringLiteral("strudex-export: ") + problem);
            failed = true;
        }
    }
    // Everything is written. Taking a big database's document apart, piece by piece, would only
    // make the user wait: the process ends here.
    endNow(failed ? ExitReported : 0);
}

// The report made for standard output, printed from its file; false (and said) when it could not be.
bool printReport(const QString &path)
{
    QFile report(path);
    if (!report.open(QIODevice::ReadOnly)) {
        printMessage(
            stderr, QStringLiteral("strudex-export: the report could not be read back: %1.").arg(report.errorString()));
        return false;
    }
    const auto problem = printDocument([&](QIODevice &out) {
        while (!report.atEnd()) {
            const QByteArray piece = report.read(1 << 20);
            if (piece.isEmpty() || out.write(piece) != piece.size())
                return false;
        }
        return true;
    });
    if (problem)
        printMessage(stderr, QStringLiteral("strudex-export: ") + *problem);
    return !problem;
}

int runExport(const CommandLine &line, const ExportRequest &request)
{
    Main::SetAppTitle();
    const QString &database = request.database;
    const Access::ConnectionParameters connectionParameters{database, request.password};

    // A report for standard output is made in a folder of its own first: the report writer saves
    // its file whole or not at all, and the text is printed only once it is complete.
    std::optional<QTemporaryDir> printed;
    QString folder = request.folder;
    if (request.toStandardOutput()) {
        printed.emplace();
        if (!printed->isValid()) {
            print(
                stderr,
                QStringLiteral("strudex-export: no temporary folder for the report: %1\n").arg(printed->errorString()));
            return ExitReported;
        }
        folder = printed->path();
    }
    ConsoleDialogs dialogs;
    dialogs.setFiles({database, StructureReport::ReportFileName(folder, database), folder});
    // The same check as the desktop program's at start-up.
    if (!ODBCProvider::IsProviderInstalled(dialogs))
        return ExitReported;
    if (!Main::FileExists(database)) {
        printMissing(database);
        return ExitReported;
    }
    const std::optional<QStringList> tables = Access::NonSystemTables(dialogs, connectionParameters);
    if (!tables)
        return ExitReported;
    if (request.listOnly) {
        for (const QString &name : *tables)
            print(stdout, Structure::printable(name) + QLatin1Char('\n'));
        return dialogs.failed() ? ExitReported : 0;
    }
    auto rows = tickedRows(*tables, request.wanted);
    if (const QString *missing = std::get_if<QString>(&rows))
        return usageError(line.parser, QStringLiteral("'%1' has no table named '%2' (--list shows them)")
                                           .arg(QDir::toNativeSeparators(database), *missing));

    QList<StructureOutput::Format> formats = request.formats;
    if (formats.contains(StructureOutput::Format::Text)) {
        ConsoleView view(std::get<std::vector<ConsoleView::Row>>(std::move(rows)),
                         isatty(fileno(stderr)) ? stderr : nullptr);
        dialogs.setView(&view);
        StructureReport::StartExporting(dialogs, view, connectionParameters, folder);
        view.clearProgress();
        dialogs.setView(nullptr);
        if (printed && !dialogs.failed() && !printReport(StructureReport::ReportFileName(folder, database)))
            return ExitReported;
    }
    formats.removeAll(StructureOutput::Format::Text);
    if (formats.isEmpty())
        endNow(dialogs.failed() ? ExitReported : 0);
    if (!request.toStandardOutput() && !Main::IsFolder(request.folder).value_or(false)) {
        // The desktop program's message, which the console puts in its own words.
        dialogs.message(Main::AppTitle(), QStringLiteral("Folder does not exist. Please select another folder."),
                        Dialogs::Buttons::Ok, Dialogs::Icon::None);
        return ExitReported;
    }
    writeDocuments(request, formats, dialogs);
}

// Options that make sense for one database only, refused with the estate's.
std::optional<QString> oneDatabaseOption(const CommandLine &line)
{
    const QCommandLineParser &parser = line.parser;
    for (const QCommandLineOption *option : {&line.table, &line.list, &line.diff, &line.diffAll, &line.newPassword,
                                             &line.newPasswordFile, &line.forIndex}) {
        if (parser.isSet(*option))
            return QStringLiteral("--%1 goes with one database, not with --recursive or --index-only")
                .arg(option->names().constFirst());
    }
    return std::nullopt;
}

// The formats asked for, json first among them whether asked for or not: the index is made from it.
std::optional<QList<StructureOutput::Format>> formatsWithJson(const CommandLine &line, QString &problem)
{
    QList<StructureOutput::Format> formats{StructureOutput::Format::Json};
    if (!line.parser.isSet(line.format))
        return formats;
    const auto parsed = StructureOutput::parseFormats(line.parser.value(line.format), problem);
    if (!parsed)
        return std::nullopt;
    for (const StructureOutput::Format format : *parsed) {
        if (format != StructureOutput::Format::Json)
            formats << format;
    }
    return formats;
}

// The dialect of the DDL and the documents' migration notes, when a migration was asked about.
// False for a dialect this program does not know.
bool dialectOption(const CommandLine &line, const QList<StructureOutput::Format> &formats,
                   std::optional<Structure::SqlDialect> &chosen)
{
    const auto dialect = Structure::sqlDialect(line.parser.value(line.sqlDialect).trimmed().toLower());
    if (!dialect)
        return false;
    if (line.parser.isSet(line.sqlDialect) || formats.contains(StructureOutput::Format::Sql))
        chosen = *dialect;
    return true;
}

int runRecursive(const CommandLine &line)
{
    const QCommandLineParser &parser = line.parser;
    if (const auto problem = oneDatabaseOption(line))
        return usageError(parser, *problem);
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("--recursive reads the folder it names, not a DATABASE"));
    if (!parser.isSet(line.output) || parser.value(line.output) == QStringLiteral("-"))
        return usageError(parser, QStringLiteral("--recursive needs --output OUT, the folder for the documents"));
    Estate::TreeRequest request;
    request.root = QDir::cleanPath(parser.value(line.recursive));
    request.output = QDir::cleanPath(parser.value(line.output));
    if (!QFileInfo(request.root).isDir())
        return usageError(parser, QStringLiteral("'%1' is not a folder").arg(QDir::toNativeSeparators(request.root)));
    QString problem;
    const auto formats = formatsWithJson(line, problem);
    if (!formats)
        return usageError(parser, problem);
    request.formats = *formats;
    if (!dialectOption(line, request.formats, request.dialect))
        return usageError(parser, QStringLiteral("unknown SQL dialect '%1' (use postgresql, sqlite or mysql)")
                                      .arg(parser.value(line.sqlDialect)));
    request.pool.jobs = QThread::idealThreadCount();
    if (parser.isSet(line.jobs)) {
        bool ok = false;
        request.pool.jobs = parser.value(line.jobs).toInt(&ok);
        if (!ok || request.pool.jobs < 1 || request.pool.jobs > 256)
            return usageError(parser, QStringLiteral("--jobs takes a number from 1 to 256"));
    }
    request.force = parser.isSet(line.force);
    if (parser.isSet(line.password) && parser.isSet(line.passwordFile))
        return usageError(parser, QStringLiteral("--password and --password-file cannot both be given"));
    if (parser.isSet(line.passwordFile)) {
        const auto passwords = Estate::readPasswords(parser.value(line.passwordFile), problem);
        if (!passwords)
            return usageError(parser, problem);
        request.passwords = *passwords;
    } else if (parser.isSet(line.password)) {
        const auto password = passwordOption(parser, line.password, line.passwordFile, "Password: ", problem);
        if (!password)
            return usageError(parser, problem);
        request.passwords.insert(QString(), *password);
    }
    Main::SetAppTitle();
    return EstateCommand::run(request);
}

int runIndexOnly(const CommandLine &line)
{
    const QCommandLineParser &parser = line.parser;
    if (const auto problem = oneDatabaseOption(line))
        return usageError(parser, *problem);
    for (const QCommandLineOption *option : {&line.recursive, &line.output, &line.format, &line.jobs, &line.force,
                                             &line.password, &line.passwordFile, &line.sqlDialect}) {
        if (parser.isSet(*option))
            return usageError(parser, QStringLiteral("--index-only reads the documents in OUT and takes no --%1")
                                          .arg(option->names().constFirst()));
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("--index-only reads the documents in OUT, not a DATABASE"));
    return EstateCommand::indexOnly(QDir::cleanPath(parser.value(line.indexOnly)));
}

// One database documented as --recursive documents each of its files.
int runForIndex(const CommandLine &line, const ExportRequest &request)
{
    if (request.listOnly || !line.parser.isSet(line.output) || request.toStandardOutput() || !request.wanted.isEmpty())
        return usageError(line.parser,
                          QStringLiteral("--for-index writes every table's documents into the --output folder"));
    QString problem;
    const auto formats = formatsWithJson(line, problem);
    if (!formats)
        return usageError(line.parser, problem);
    Main::SetAppTitle();
    Estate::Job job;
    job.path = request.database;
    job.relative = QFileInfo(request.database).fileName();
    job.folder = request.folder;
    job.namedAs = request.database;
    job.formats = *formats;
    job.password = request.password;
    if (request.migration)
        job.dialect = request.dialect;
    job.force = true;
    const Estate::Outcome outcome = Estate::documentDatabase(job);
    if (outcome.error)
        print(stderr, CommandLineMessages::aboutFile(request.database, outcome.error->message) + QLatin1Char('\n'));
    for (const QString &unread : outcome.unread)
        print(stderr,
              CommandLineMessages::aboutFile(request.database, Structure::printable(unread)) + QLatin1Char('\n'));
    endNow(outcome.error || !outcome.unread.isEmpty() ? ExitReported : 0);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // A report that outgrows the file size allowed must fail as a write, with a message, not end
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(STRUDEX_VERSION));

    CommandLine line;
    QCommandLineParser &parser = line.parser;
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(line.help)) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(line.version)) {
        print(stdout, QStringLiteral("strudex-export %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (parser.isSet(line.estateWorker))
        return EstateCommand::serve();
    if (parser.isSet(line.recursive) && parser.isSet(line.indexOnly))
        return usageError(parser, QStringLiteral("--recursive and --index-only cannot both be given"));
    if (parser.isSet(line.recursive))
        return runRecursive(line);
    if (parser.isSet(line.indexOnly))
        return runIndexOnly(line);
    if (parser.isSet(line.diff))
        return runDiff(line);
    for (const QCommandLineOption *option : {&line.jobs, &line.force}) {
        if (parser.isSet(*option))
            return usageError(parser, QStringLiteral("--%1 goes with --recursive").arg(option->names().constFirst()));
    }
    const auto request = exportRequest(line);
    if (const int *status = std::get_if<int>(&request))
        return *status;
    if (parser.isSet(line.forIndex))
        return runForIndex(line, std::get<ExportRequest>(request));
    return runExport(line, std::get<ExportRequest>(request));
}
