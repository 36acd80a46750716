// strudex-export: writes the structure report of an Access database from the command line.

#include "cli/ConsoleExport.h"
#include "core/PathUtilities.h"
#include "core/db/Access.h"
#include "core/report/StructureReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSet>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr int ExitReported = 1;
constexpr int ExitUsage = 2;

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int usageError(const QCommandLineParser &parser, const QString &problem)
{
    print(stderr, QStringLiteral("strudex-export: %1\n").arg(problem));
    print(stderr, QStringLiteral("Try 'strudex-export --help' for more information.\n"));
    Q_UNUSED(parser);
    return ExitUsage;
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

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes the structure report of an Access database (.mdb or .accdb): every chosen table's name, "
                       "field count and record count, and per field its name, data type and description, into "
                       "DIR/<database name>_Structure.txt."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("The database password."),
                                      QStringLiteral("PW"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Folder that receives the report (default: the current folder)."),
                                    QStringLiteral("DIR"), QStringLiteral("."));
    const QCommandLineOption table(QStringLiteral("table"),
                                   QStringLiteral("Export this table; repeat for more (default: every user table)."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Print the user tables, one per line, and write nothing."));
    parser.addOptions({help, version, password, output, table, list});
    parser.addPositionalArgument(QStringLiteral("DATABASE"), QStringLiteral("The Access database file."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("strudex-export %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(parser, positional.isEmpty() ? QStringLiteral("the DATABASE to read is missing")
                                                       : QStringLiteral("only one DATABASE can be read at a time"));

    const QString database = positional.constFirst();
    const QString databasePassword = parser.value(password);
    Main::SetAppTitle();
    Access::SetConnectionParameters([database] { return database; }, [databasePassword] { return databasePassword; });

    std::FILE *terminal = isatty(fileno(stderr)) ? stderr : nullptr;
    ConsoleDialogs dialogs;

    if (!Main::FileExists(database)) {
        print(stderr, QStringLiteral("Could not find file '%1'.\n").arg(database));
        return ExitReported;
    }
    const std::optional<QStringList> tables = Access::NonSystemTables(dialogs, database);
    if (!tables)
        return ExitReported;

    if (parser.isSet(list)) {
        for (const QString &name : *tables)
            print(stdout, name + QLatin1Char('\n'));
        return dialogs.failed() ? ExitReported : 0;
    }

    const QStringList wanted = parser.values(table);
    const QSet<QString> known(tables->cbegin(), tables->cend());
    for (const QString &name : wanted) {
        if (!known.contains(name))
            return usageError(parser,
                              QStringLiteral("the database has no table named '%1' (--list shows them)").arg(name));
    }
    const QSet<QString> chosen(wanted.cbegin(), wanted.cend());
    std::vector<ConsoleView::Row> rows;
    rows.reserve(std::size_t(tables->size()));
    for (const QString &name : *tables)
        rows.push_back({name, wanted.isEmpty() || chosen.contains(name)});

    ConsoleView view(std::move(rows), terminal);
    dialogs.setView(&view);
    StructureReport::StartExporting(dialogs, view, parser.value(output));
    view.clearProgress();
    return dialogs.failed() ? ExitReported : 0;
}
