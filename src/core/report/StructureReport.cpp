#include "core/report/StructureReport.h"

#include "core/Dialogs.h"
#include "core/Failure.h"
#include "core/PathUtilities.h"
#include "core/Routine.h"
#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/report/ExportView.h"
#include "core/report/ReportFile.h"

#include <algorithm>
#include <array>
#include <exception>
#include <limits>

namespace StructureReport {

namespace {

bool runInProgress = false;

class RunGuard
{
public:
    RunGuard() { runInProgress = true; }
    ~RunGuard() { runInProgress = false; }
    RunGuard(const RunGuard &) = delete;
    RunGuard &operator=(const RunGuard &) = delete;
};

// An engine object that was never made.
template <class T> T &must(const std::unique_ptr<T> &object)
{
    if (!object)
        throw Failure(91, QStringLiteral("Object variable or With block variable not set"));
    return *object;
}

// Counters of the report keep the width they always had: 16 bits for tables and fields, 32 for
// records. A value beyond that is an overflow, reported like any other failure.
template <class Narrow, class Wide> Narrow narrow(Wide value)
{
    if (value > Wide(std::numeric_limits<Narrow>::max()) || value < Wide(std::numeric_limits<Narrow>::min()))
        throw Failure::overflow();
    return Narrow(value);
}

// Every message shown during a run reports a failure, whichever routine shows it (a description
// lookup reports under its own name); they are counted so that the run's last word can say so.
class CountingDialogs final : public Dialogs
{
public:
    explicit CountingDialogs(Dialogs &shown) : m_shown(shown) {}

    Answer message(const QString &title, const QString &text, Buttons buttons, Icon icon) override
    {
        ++m_count;
        return m_shown.message(title, text, buttons, icon);
    }
    std::optional<QString> openFile(const OpenFileRequest &request) override { return m_shown.openFile(request); }
    QString browseForFolder(const QString &prompt, const QString &initialFolder) override
    {
        return m_shown.browseForFolder(prompt, initialFolder);
    }
    bool openUrl(const QUrl &url) override { return m_shown.openUrl(url); }

    int count() const { return m_count; }

private:
    Dialogs &m_shown;
    int m_count = 0;
};

// A step's body that keeps the description of its failure in why, unless why already holds an
// earlier one (the first failure is the cause; the later ones follow from it). The failure still
// goes on to the routine, which reports it as always.
template <class F> auto noting(QString &why, F body)
{
    return [&why, body = std::move(body)]() mutable {
        try {
            body();
        } catch (...) {
            if (why.isEmpty())
                why = Routine::describe(std::current_exception());
            throw;
        }
    };
}

const QString ColumnHeader = QStringLiteral("Field Name") + QString(16, u' ') + QStringLiteral("DataType") +
                             QString(5, u' ') + QStringLiteral("Description");
const QString RuleLine =
    QString(10, u'_') + QString(16, u' ') + QString(8, u'_') + QString(5, u' ') + QString(11, u'_');

} // namespace

QString FieldLine(const QString &name, qint32 typeCode, const QString &typeText, const QString &description)
{
    if (name.size() >= 25)
        return name + QString::number(typeCode);
    // Sized once and filled in place: a report has a line per field, and a big one has a hundred
    // thousand, so the blanks are not made as strings of their own.
    const qsizetype typeColumn = std::max<qsizetype>(12, typeText.size());
    QString line(1 + 25 + 1 + typeColumn + 1 + description.size(), Qt::Uninitialized);
    QChar *out = line.data();
    const auto put = [&out](const QString &text) { out = std::copy_n(text.constData(), text.size(), out); };
    const auto blanks = [&out](qsizetype count) { out = std::fill_n(out, count, QChar(u' ')); };
    blanks(1);
    put(name);
    blanks(25 - name.size() + 1);
    put(typeText);
    blanks(typeColumn - typeText.size() + 1);
    put(description);
    return line;
}

QString TypeText(qint32 typeCode, qint64 definedSize)
{
    QString name = Access::GetFieldTypeName(typeCode);
    if (name != QLatin1String("Text"))
        return name;
    // "Text[size]" made in one piece: a big report has one for every text field.
    std::array<char16_t, 32> text{u'T', u'e', u'x', u't', u'['};
    std::array<char16_t, 24> digits{};
    std::size_t count = 0;
    const bool negative = definedSize < 0;
    // The digits of the magnitude, taken without negating it (the smallest value has no positive).
    qint64 rest = definedSize;
    do {
        const qint64 digit = rest % 10;
        digits[count++] = char16_t(u'0' + (digit < 0 ? -digit : digit));
        rest /= 10;
    } while (rest != 0);
    std::size_t length = 5;
    if (negative)
        text[length++] = u'-';
    while (count > 0)
        text[length++] = digits[--count];
    text[length++] = u']';
    return QString(reinterpret_cast<const QChar *>(text.data()), qsizetype(length));
}

QString ReportFileName(const QString &folderText, const QString &databasePath)
{
    QString folder = folderText;
    if (!folder.isEmpty() && !folder.endsWith(Main::separator()))
        folder += Main::separator();
    return folder + Main::FileNameFromPath(Main::StripExtension(databasePath)) + QStringLiteral("_Structure.txt");
}

QString TableHeading(const QString &name, std::optional<qint16> fieldCount, std::optional<qint32> recordCount)
{
    QString line = QStringLiteral("Table Name : ") + name;
    if (fieldCount)
        line += QStringLiteral("    Total Fields : ") + QString::number(*fieldCount);
    if (recordCount)
        line += QStringLiteral("    Total Number Of Records For Table: ") + QString::number(*recordCount);
    return line;
}

QString UnreadLine(bool fieldsRead, bool recordsRead, const QString &why)
{
    if (fieldsRead && recordsRead)
        return QString();
    const QString what = fieldsRead    ? QStringLiteral("Its number of records could not be read")
                         : recordsRead ? QStringLiteral("Its fields could not be read")
                                       : QStringLiteral("This table could not be read");
    // One line, whatever the description holds: the report's lines are its structure.
    QString reason = why;
    reason.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    reason.replace(QLatin1Char('\r'), QLatin1Char(' '));
    reason.replace(QLatin1Char('\n'), QLatin1Char(' '));
    reason = reason.trimmed();
    return reason.isEmpty() ? what + QLatin1Char('.') : what + QStringLiteral(": ") + reason;
}

bool Running()
{
    return runInProgress;
}

void generateStructure(Dialogs &dialogs, ExportView &view, const Access::ConnectionParameters &database,
                       const QString &fileName, const qint32 &tickedCount)
{
    if (runInProgress)
        return;
    RunGuard guard;
    CountingDialogs reported(dialogs);
    Routine r(reported, QStringLiteral("Form2"), QStringLiteral("generateStructure"));

    std::unique_ptr<Ado::Recordset> recordset;
    std::unique_ptr<Ado::Connection> connection;
    ReportFile file;
    qint16 k = 0;

    // Why the engine's objects could not be made, or the connection opened, is also why no table
    // can be read.
    QString engineProblem;
    r.step(100, noting(engineProblem, [&] { recordset = Ado::CreateRecordset(); }));
    r.step(102, noting(engineProblem, [&] { connection = Ado::CreateConnection(); }));
    r.step(112, [&] { view.setPointer(ExportView::Pointer::Busy); });
    r.step(114, [] {});
    r.step(116, [&] { file.open(fileName); });
    r.step(118, [&] { file.writeLine(QStringLiteral(" Printing From ") + database.path); });
    r.step(120, [&] { file.writeLine(QString()); });
    r.step(122, [&] { file.writeLine(QStringLiteral("Printing Table Structures:")); });

    int rows = 0;
    r.step(124, [&] { rows = view.rowCount(); });
    for (int row = 1; row <= rows; ++row) {
        if (r.test(126, [&] { return view.rowTicked(row); })) {
            r.step(128, [&] { k = narrow<qint16>(qint32(k) + 1); });
            r.step(130, [&] { file.writeLine(QString::number(k) + QStringLiteral(") ") + view.rowText(row)); });
        }
    }
    r.step(134, [&] { file.writeLine(QString()); });
    r.step(136, [&] { file.writeLine(QString()); });

    r.step(138, noting(engineProblem, [&] { must(connection).Open(Access::BuildConnectionString(database)); }));
    // The worker reads every ticked table in one go, while the report is written from what has
    // arrived; a failure still shows at the step that reads the table.
    r.quietly([&] {
        QStringList ticked;
        for (int row = 1, count = view.rowCount(); row <= count; ++row)
            if (view.rowTicked(row))
                ticked.append(view.rowText(row));
        if (connection)
            connection->readAhead(ticked);
    });

    qint32 q = 0;
    r.step(142, [&] { rows = view.rowCount(); });
    for (int row = 1; row <= rows; ++row) {
        if (!r.test(144, [&] { return view.rowTicked(row); }))
            continue;
        ++q;
        r.step(146, [&] { view.setProgressValue(100.0 * double(q) / double(tickedCount)); });
        r.step(148, [&] { view.setProgressCaption(QStringLiteral("Processing: ") + view.rowText(row)); });
        r.step(150, [&] { view.yield(); });
        if (r.test(152, [&] { return must(recordset).State() == Ado::adStateOpen; }))
            r.step(152, [&] { must(recordset).Close(); });
        QString why = engineProblem;
        const bool opened =
            r.step(154, noting(why, [&] {
                       must(recordset).Open(QStringLiteral("select * from [") + view.rowText(row) + QLatin1Char(']'),
                                            must(connection), Ado::adOpenStatic, Ado::adLockOptimistic);
                   }));
        // Only what this table's query gave is written: a count that was not read is left out, never
        // written as 0, and a recordset still open on an earlier table answers nothing for this one.
        std::optional<qint16> fieldCount;
        std::optional<qint32> recordCount;
        r.step(156, noting(why, [&] {
                   const qint16 count = narrow<qint16>(must(recordset).FieldCount());
                   if (opened)
                       fieldCount = count;
               }));
        r.step(158, noting(why, [&] {
                   const qint32 count = narrow<qint32>(must(recordset).RecordCount());
                   if (opened)
                       recordCount = count;
               }));
        r.step(164, [&] { file.writeLine(TableHeading(view.rowText(row), fieldCount, recordCount)); });
        // A field list under a table whose fields were not read would say it has none.
        if (fieldCount) {
            r.step(166, [&] { file.writeLine(QString()); });
            r.step(168, [&] { file.writeLine(ColumnHeader); });
            r.step(170, [&] { file.writeLine(RuleLine); });
        }

        QString name;
        for (qint16 j = 0; j < fieldCount.value_or(0); ++j) {
            r.step(174, [&] { view.yield(); });
            r.step(176, [&] { name = must(recordset).Field(j).Name; });
            if (r.test(178, [&] { return name.size() >= 25; })) {
                r.step(190, [&] { file.writeLine(name + QString::number(must(recordset).Field(j).Type)); });
                continue;
            }
            QString typeText;
            QString description;
            r.step(180, [&] { typeText = Access::GetFieldTypeName(must(recordset).Field(j).Type); });
            if (r.test(182, [&] { return typeText == QStringLiteral("Text"); })) {
                r.step(184, [&] {
                    const Ado::FieldInfo field = must(recordset).Field(j);
                    typeText = TypeText(field.Type, field.DefinedSize);
                });
            }
            r.step(186, [&] {
                description = Access::GetFieldDesc_ADO(reported, view.rowText(row), name, must(connection)).toString();
            });
            r.step(188, [&] { file.writeLine(FieldLine(name, must(recordset).Field(j).Type, typeText, description)); });
        }
        if (!fieldCount || !recordCount)
            r.step(192, [&] { file.writeLine(UnreadLine(fieldCount.has_value(), recordCount.has_value(), why)); });
        r.step(194, [&] { file.writeLine(QString()); });
        r.step(196, [&] { file.writeLine(QString()); });
    }

    r.step(200, [&] { view.setPointer(ExportView::Pointer::Default); });
    r.step(202, [&] { view.setProgressValue(0); });
    r.step(204, [&] { view.setProgressCaption(QLatin1String(RestingCaption)); });
    r.step(206, [&] { file.writeLine(QString()); });
    r.step(208, [&] { file.close(); });
    if (r.test(210, [&] { return must(recordset).State() != Ado::adStateClosed; }))
        r.step(210, [&] { must(recordset).Close(); });
    r.step(212, [&] { recordset.reset(); });
    if (r.test(214, [&] { return must(connection).State() != Ado::adStateClosed; }))
        r.step(214, [&] { must(connection).Close(); });
    r.step(216, [&] { connection.reset(); });
    r.step(218, [&] { view.setPointer(ExportView::Pointer::Default); });
    // "Done." says the report is there and whole; after any failure it says that the report is
    // there but not all of it could be read. When it could not be saved, the failure already
    // reported is the last word: a "Done." right after it would read as success.
    if (!file.saved())
        return;
    const QString end = reported.count() > 0 ? QStringLiteral("Done, with errors.") : QStringLiteral("Done.");
    r.step(224, [&] { dialogs.message(Main::AppTitle(), end, Dialogs::Buttons::Ok, Dialogs::Icon::None); });
}

void StartExporting(Dialogs &dialogs, ExportView &view, const Access::ConnectionParameters &database,
                    const QString &folderText)
{
    // A second press while a report is being written does not start another run.
    if (runInProgress)
        return;
    Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("PushButton5_Click"));
    auto tell = [&](const QString &text) {
        dialogs.message(Main::AppTitle(), text, Dialogs::Buttons::Ok, Dialogs::Icon::None);
    };

    if (r.test(100, [&] { return !Main::IsFolder(folderText).value_or(false); })) {
        r.step(120, [&] { tell(QStringLiteral("Folder does not exist. Please select another folder.")); });
        return;
    }
    qint32 ticked = 0;
    r.step(102, [&] { ticked = 0; });
    int rows = 0;
    r.step(104, [&] { rows = view.rowCount(); });
    for (int row = 1; row <= rows; ++row) {
        if (r.test(106, [&] { return view.rowTicked(row); }))
            r.step(108, [&] { ++ticked; });
    }
    if (r.test(112, [&] { return ticked < 1; })) {
        r.step(118, [&] { tell(QStringLiteral("Please select a table first.")); });
        return;
    }
    QString fileName;
    r.step(114, [&] { fileName = ReportFileName(folderText, database.path); });
    r.step(116, [&] { generateStructure(dialogs, view, database, fileName, ticked); });
}

} // namespace StructureReport
