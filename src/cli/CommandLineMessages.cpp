#include "cli/CommandLineMessages.h"

#include "cli/ConsoleExport.h"
#include "core/ErrorReport.h"
#include "core/db/ODBCProvider.h"
#include "core/db/WorkerProcess.h"
#include "core/structure/Printable.h"

#include <QDir>
#include <QRegularExpression>

#include <optional>
#include <tuple>
#include <utility>

namespace CommandLineMessages {

namespace {

// An error report taken apart: the routine that failed, its line and the failure's description.
struct Report
{
    QString module;
    QString routine;
    int line = 0;
    QString description;
};

// The parts of a message composed by ErrorReport::compose; nothing for any other text. The tag is
// only looked for at the end, where compose puts it: a description (from a database, say) that
// imitates one is part of the description.
std::optional<Report> splitReport(const QString &text)
{
    const QString project = QRegularExpression::escape(ErrorReport::routineTag(QString(), QString()).chopped(3));
    static const QRegularExpression tail(QStringLiteral("\r\n") + project +
                                         QStringLiteral("\\.(\\w+)\\.(\\w+) at line (\\d+)\r\r[^\r\n]*\\z"));
    const QRegularExpressionMatch match = tail.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    Report report{match.captured(1), match.captured(2), match.captured(3).toInt(), QString()};
    const QString ending =
        ErrorReport::compose(QString(), ErrorReport::routineTag(report.module, report.routine), report.line);
    if (!text.endsWith(ending))
        return std::nullopt;
    report.description = text.chopped(ending.size());
    return report;
}

// A name from the database inside a message: on one line, whatever it holds.
QString oneLine(const QString &name)
{
    return Structure::printable(name, Structure::Escape::ControlsButLineFeeds)
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

enum class Concern { Database, Report };

// What a step of the report writer was doing when it failed, and which file that concerns. The
// steps are the line labels of generateStructure.
std::pair<QString, Concern> reportStep(int line, const QString &table)
{
    const QString theTable =
        table.isEmpty() ? QStringLiteral("a table") : QStringLiteral("the table '%1'").arg(oneLine(table));
    if (line == 100 || line == 102)
        return {QStringLiteral("the database engine could not be started"), Concern::Database};
    if (line == 116)
        return {QStringLiteral("the report could not be created"), Concern::Report};
    if (line == 138)
        return {QStringLiteral("the database could not be opened"), Concern::Database};
    if (line >= 152 && line <= 158)
        return {theTable + QStringLiteral(" could not be read"), Concern::Database};
    if (line >= 176 && line <= 186)
        return {QStringLiteral("a field of ") + theTable + QStringLiteral(" could not be read"), Concern::Database};
    if (line == 208)
        return {QStringLiteral("the report could not be saved"), Concern::Report};
    if (line >= 210 && line <= 216)
        return {QStringLiteral("the database could not be closed"), Concern::Database};
    const bool writing =
        (line >= 118 && line <= 136) || (line >= 164 && line <= 170) || (line >= 188 && line <= 196) || line == 206;
    return {writing ? QStringLiteral("the report could not be written")
                    : QStringLiteral("the report could not be made"),
            Concern::Report};
}

// What a step of the table list's reading was doing when it failed. A catalogue read only in part
// (line 118) says so itself.
QString tableListStep(int line)
{
    if (line == 100 || line == 102)
        return QStringLiteral("the database engine could not be started");
    if (line == 106)
        return QStringLiteral("the database could not be opened");
    if (line == 118)
        return QString();
    return QStringLiteral("its list of tables could not be read");
}

QString fromReport(const Report &report, const Files &files, const QString &table)
{
    QString what;
    Concern concern = Concern::Database;
    if (report.routine == QLatin1String("generateStructure")) {
        std::tie(what, concern) = reportStep(report.line, table);
    } else if (report.routine == QLatin1String("NonSystemTables")) {
        what = tableListStep(report.line);
    } else if (report.routine == QLatin1String("GetFieldDesc_ADO")) {
        what = QStringLiteral("the description of a field of %1 could not be read")
                   .arg(table.isEmpty() ? QStringLiteral("a table")
                                        : QStringLiteral("the table '%1'").arg(oneLine(table)));
    } else {
        what = QStringLiteral("the export could not be started");
    }
    QString text = what;
    if (!what.isEmpty() && !report.description.isEmpty())
        text += QStringLiteral(": ");
    text += report.description;
    if (report.description.isEmpty())
        text += QLatin1Char('.');
    return aboutFile(concern == Concern::Report ? files.report : files.database, text);
}

} // namespace

QString aboutFile(const QString &file, const QString &text)
{
    const QString where = file.isEmpty() ? QString() : QDir::toNativeSeparators(file) + QStringLiteral(": ");
    return ConsoleDialogs::forTerminal(QStringLiteral("strudex-export: ") + where + text);
}

QString fromDesktop(const QString &title, const QString &text, const Files &files, const QString &table)
{
    if (title == QLatin1String(ErrorReport::Title)) {
        if (const auto report = splitReport(text))
            return fromReport(*report, files, table);
    }
    if (text == ODBCProvider::ProviderMissingMessage(Ado::WorkerSettings::program()))
        return aboutFile(files.database,
                         QStringLiteral("cannot be read: the program \"%1\", which reads databases for Strudex, is "
                                        "missing or cannot be started. Reinstall Strudex to solve this problem.")
                             .arg(QDir::toNativeSeparators(Ado::WorkerSettings::program())));
    if (text == QLatin1String("Folder does not exist. Please select another folder."))
        return aboutFile(files.folder, QStringLiteral("there is no folder of that name to write into."));
    if (text == QLatin1String("Please select a table first."))
        return aboutFile(files.database,
                         QStringLiteral("the database has no user tables, so there is no report to write."));
    if (text == QLatin1String("Done, with errors."))
        return aboutFile(files.report,
                         QStringLiteral("the report was written, but not all of the database could be read (the "
                                        "failures are above)."));
    return aboutFile(files.database, text);
}

} // namespace CommandLineMessages
