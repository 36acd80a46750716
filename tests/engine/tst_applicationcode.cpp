// The VBA code of real Access applications, read from their storage tree and held against the
// text that Access (or its VBA editor) exported from the same files: every module must read as
// Access wrote it out, after the differences the export makes on its own (its Attribute lines,
// a class file's header, trailing blanks and line ends).

#include "engine/AccessStorage.h"
#include "engine/ApplicationReader.h"
#include "engine/CompoundFile.h"
#include "engine/Mdb.h"
#include "engine/SystemTables.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringConverter>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

using namespace Engine;

namespace {

std::optional<std::vector<StorageRow>> storageOf(const QString &path, std::string &problem);

std::optional<Project> projectOf(const QString &path, std::string &problem)
{
    const auto rows = storageOf(path, problem);
    return rows ? readStorageProject(*rows, problem) : std::nullopt;
}

// The storage tree of a file, from MSysAccessStorage or (Access 2000) the compound file in
// MSysAccessObjects.
std::optional<std::vector<StorageRow>> storageOf(const QString &path, std::string &problem)
{
    MdbHandle *mdb = mdb_open(path.toLocal8Bit().constData(), MDB_NOFLAGS);
    if (!mdb || !mdb_read_catalog(mdb, MDB_ANY)) {
        if (mdb)
            mdb_close(mdb);
        problem = "cannot open";
        return std::nullopt;
    }
    std::uint32_t storagePage = 0;
    std::uint32_t objectsPage = 0;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (std::strcmp(entry->object_name, "MSysAccessStorage") == 0)
            storagePage = entry->table_pg;
        if (std::strcmp(entry->object_name, "MSysAccessObjects") == 0)
            objectsPage = entry->table_pg;
    }
    const PageLayout layout{std::size_t(mdb->fmt->pg_size), std::size_t(mdb->fmt->row_count_offset)};
    PageReader pages;
    std::optional<std::vector<StorageRow>> rows;
    if (storagePage && pages.open(path.toLocal8Bit().toStdString(), layout.pageSize, mdb->f->db_key)) {
        SystemTable<StorageRow> read = readStorageRows(mdb, storagePage, pages, layout, 256u << 20);
        problem = read.problem;
        if (read.problem.empty())
            rows = std::move(read.rows);
    } else if (objectsPage) {
        // Access 2000: one compound file in chunks.
        const SystemTable<ObjectChunk> chunks = readObjectChunks(mdb, objectsPage);
        problem = chunks.problem;
        const auto file = chunks.problem.empty()
                              ? joinObjectChunks(chunks.rows, IS_JET3(mdb) ? 241 : 3992, 256u << 20, problem)
                              : std::nullopt;
        if (file)
            rows = compoundFileRows(*file, 256u << 20, problem);
    } else {
        problem = "no MSysAccessStorage";
    }
    mdb_close(mdb);
    return rows;
}

// An exported file's text, in whichever of the encodings exports come in.
QString exportedText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
    return QStringDecoder("windows-1252").decode(bytes);
}

// Code lines to compare: without Attribute lines, a class file's header, trailing blanks and the
// blank lines at either end.
QStringList codeLines(const QString &text)
{
    QStringList lines;
    bool inHeader = false;
    for (QString line : QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(QLatin1Char('\n'))) {
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
        if (line == QStringLiteral("VERSION 1.0 CLASS"))
            continue;
        if (line == QStringLiteral("BEGIN") && lines.isEmpty()) {
            inHeader = true;
            continue;
        }
        if (inHeader) {
            inHeader = line != QStringLiteral("END");
            continue;
        }
        if (line.startsWith(QStringLiteral("Attribute VB_")))
            continue;
        lines << line;
    }
    while (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst();
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The code of a form or report exported as Access's text definition: what follows CodeBehindForm.
QString codeBehind(const QString &definition)
{
    const qsizetype at = definition.indexOf(QStringLiteral("CodeBehindForm"));
    return at < 0 ? QString() : definition.mid(definition.indexOf(QLatin1Char('\n'), at) + 1);
}

// Every exported module of a fixture, by the module name it holds: modules and classes as the VBA
// editor or Access wrote them, and the code behind forms and reports from their text definitions.
std::map<QString, QString> exportedModules(const QString &folder)
{
    std::map<QString, QString> modules;
    QDirIterator files(folder + QStringLiteral("/exported"), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        const QString kind = file.dir().dirName().toLower();
        const QString suffix = file.suffix().toLower();
        const QString text = exportedText(file.filePath());
        const bool form = kind == QStringLiteral("forms") || suffix == QStringLiteral("frm");
        const bool report = kind == QStringLiteral("reports") || suffix == QStringLiteral("rpt");
        if (form || report) {
            if (text.contains(QStringLiteral("CodeBehindForm")))
                modules[(form ? QStringLiteral("Form_") : QStringLiteral("Report_")) + file.completeBaseName()] =
                    codeBehind(text);
        } else if ((suffix == QStringLiteral("bas") || suffix == QStringLiteral("cls")) &&
                   kind != QStringLiteral("macros") && kind != QStringLiteral("queries")) {
            // Named by its VB_Name line where it has one: a file may be named otherwise.
            static const QRegularExpression vbName(QStringLiteral("^Attribute VB_Name = \"([^\"]*)\""),
                                                   QRegularExpression::MultilineOption);
            const QRegularExpressionMatch named = vbName.match(text);
            // AccessVCS names a module's file "Mod_<name>".
            QString name = file.completeBaseName();
            if (name.startsWith(QStringLiteral("Mod_")))
                name = name.mid(4);
            modules[named.hasMatch() ? named.captured(1) : name] = text;
        }
    }
    return modules;
}

} // namespace

class TestApplicationCode : public QObject
{
    Q_OBJECT

private slots:
    void modulesReadAsAccessExportedThem_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("modules");
        QTest::addColumn<int>("exported");
        // Module counts are the VBA project's (forms' and reports' code included); exported, how
        // many of them the fixture's exported/ folder holds.
        QTest::newRow("ACE, Access's own export") << QStringLiteral("vcs-testing/Testing.accdb") << 7 << 6;
        QTest::newRow("ACE, another version") << QStringLiteral("vcs-demo/demo.accdb") << 4 << 4;
        QTest::newRow("ACE add-in, VBA editor's export")
            << QStringLiteral("charts-new/BetterAccessCharts.accda") << 37 << 36;
        QTest::newRow("ACE add-in, older") << QStringLiteral("charts-old/BetterAccessCharts.accda") << 37 << 36;
        QTest::newRow("Access 2002-2003") << QStringLiteral("barcode-jet4/CodBarra39Etiquetas_2003.mdb") << 5 << 0;
        QTest::newRow("Access 2000, a compound file in chunks") << QStringLiteral("testdb-jet4/TestDB.mdb") << 2 << 2;
        QTest::newRow("ACE before compiling") << QStringLiteral("tmdb-accdb/TM-DB-2012v1b.accdb") << 27 << 0;
    }
    void modulesReadAsAccessExportedThem()
    {
        QFETCH(QString, file);
        QFETCH(int, modules);
        QFETCH(int, exported);
        file = TestSupport::realFile(QStringLiteral("code/") + file);
        if (file.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        std::string problem;
        const auto project = projectOf(file, problem);
        QVERIFY2(project, problem.c_str());
        const auto expected = exportedModules(QFileInfo(file).path());
        int equal = 0;
        for (const ProjectModule &module : project->modules) {
            QVERIFY2(module.source, (module.name + ": " + module.note).c_str());
            const auto found = expected.find(QString::fromStdString(module.name));
            if (found == expected.end())
                continue;
            QCOMPARE(codeLines(QString::fromStdString(*module.source)), codeLines(found->second));
            ++equal;
        }
        qInfo("%s: %d modules read, %d equal to the export", qPrintable(QFileInfo(file).fileName()),
              int(project->modules.size()), equal);
        QCOMPARE(int(project->modules.size()), modules);
        // Every module that the fixture exported reads the same; the exports of the add-in's
        // repository also hold files of its demo database, which this file does not have.
        QCOMPARE(equal, exported);
    }

    // The forms, reports, macros and modules of every application, as MSysObjects lists them
    // (the counts of the collection's README), with their dates.
    void objectsAreListedWithTheirDates_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<int>>("counts"); // forms, reports, macros, modules
        QTest::newRow("ACE") << QStringLiteral("vcs-testing/Testing.accdb") << QList<int>{1, 2, 1, 3};
        QTest::newRow("ACE 2") << QStringLiteral("vcs-demo/demo.accdb") << QList<int>{1, 1, 2, 3};
        QTest::newRow("Access 2000") << QStringLiteral("testdb-jet4/TestDB.mdb") << QList<int>{3, 1, 2, 2};
        QTest::newRow("add-in") << QStringLiteral("charts-new/BetterAccessCharts.accda") << QList<int>{3, 0, 0, 34};
        QTest::newRow("Access 97") << QStringLiteral("barcode-jet3/CodBarra39Etiquetas.mdb") << QList<int>{1, 1, 0, 3};
        QTest::newRow("Access 2003") << QStringLiteral("barcode-jet4/CodBarra39Etiquetas_2003.mdb")
                                     << QList<int>{1, 1, 0, 3};
        QTest::newRow("compiled") << QStringLiteral("tmdb-accde/TM-DB-Main.accde") << QList<int>{23, 1, 3, 10};
    }
    void objectsAreListedWithTheirDates()
    {
        QFETCH(QString, file);
        QFETCH(QList<int>, counts);
        file = TestSupport::realFile(QStringLiteral("code/") + file);
        if (file.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        MdbHandle *mdb = mdb_open(file.toLocal8Bit().constData(), MDB_NOFLAGS);
        QVERIFY(mdb);
        const SystemTable<ObjectRow> rows = readObjectRows(mdb);
        mdb_close(mdb);
        QVERIFY2(rows.problem.empty(), rows.problem.c_str());
        QList<int> found{0, 0, 0, 0};
        for (const ApplicationObject &object : applicationObjects(rows.rows)) {
            const int kind = object.type == kFormObject     ? 0
                             : object.type == kReportObject ? 1
                             : object.type == kMacroObject  ? 2
                                                            : 3;
            ++found[kind];
            QVERIFY2(object.created && object.updated, object.name.c_str());
            QVERIFY(*object.created <= *object.updated);
        }
        QCOMPARE(found, counts);
    }

    void storedDatesReadAsAccessShowsThem()
    {
        const auto text = [](double days) {
            std::uint8_t bytes[8];
            std::memcpy(bytes, &days, 8);
            return accessDateText(bytes).value_or("none");
        };
        QCOMPARE(text(0.0), std::string("1899-12-30T00:00:00"));
        QCOMPARE(text(43831.5), std::string("2020-01-01T12:00:00"));
        // Before 1899-12-30 the time still counts forward: -1.25 is 29 December, 6 in the morning.
        QCOMPARE(text(-1.25), std::string("1899-12-29T06:00:00"));
        QCOMPARE(text(2958465.5), std::string("9999-12-31T12:00:00"));
        // A time that rounds to the next midnight is that midnight.
        QCOMPARE(text(1.9999999), std::string("1900-01-01T00:00:00"));
        QCOMPARE(text(std::nan("")), std::string("none"));
        QCOMPARE(text(1e300), std::string("none"));
    }

    // Access 2010 and later keep a macro's definition as XML; earlier ones a binary form, which is
    // listed without one.
    void macrosComeWithTheirDefinitions_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("xml");
        QTest::newRow("ACE") << QStringLiteral("vcs-testing/Testing.accdb") << QStringList{QStringLiteral("AutoExec")}
                             << true;
        // Saved by Access 2007 from an older file: its macros keep the binary form.
        QTest::newRow("ACE 2007") << QStringLiteral("tmdb-accdb/TM-DB-2012v1b.accdb") << QStringList() << false;
        QTest::newRow("Access 2000") << QStringLiteral("testdb-jet4/TestDB.mdb") << QStringList() << false;
    }
    void macrosComeWithTheirDefinitions()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, names);
        QFETCH(bool, xml);
        file = TestSupport::realFile(QStringLiteral("code/") + file);
        if (file.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        std::string problem;
        const auto rows = storageOf(file, problem);
        QVERIFY2(rows, problem.c_str());
        const auto macros = readStorageMacros(*rows, problem);
        QVERIFY2(macros, problem.c_str());
        QVERIFY(!macros->empty());
        QStringList found;
        for (const StoredMacro &macro : *macros) {
            found << QString::fromStdString(macro.name);
            if (xml) {
                QVERIFY2(macro.definition, macro.note.c_str());
                QVERIFY(macro.definition->starts_with("<?xml"));
                QVERIFY(macro.definition->find("<UserInterfaceMacro") != std::string::npos);
                // Access keeps the XML in pieces: all of them, in order.
                QVERIFY2(macro.definition->ends_with("</UserInterfaceMacro>"), macro.definition->c_str());
            } else {
                QVERIFY(!macro.definition);
                QVERIFY(!macro.note.empty());
            }
        }
        qInfo("%s: macros %s", qPrintable(QFileInfo(file).fileName()), qPrintable(found.join(QStringLiteral(", "))));
        if (!names.isEmpty())
            QCOMPARE(found, names);
    }

    // Access 97 keeps each module in a blob of MSysModules2; the same application saved by Access
    // 2003 keeps them in its VBA project. Both must read the same code.
    void access97ModulesReadAsTheirLaterCopy()
    {
        const QString old = TestSupport::realFile(QStringLiteral("code/barcode-jet3/CodBarra39Etiquetas.mdb"));
        const QString later = TestSupport::realFile(QStringLiteral("code/barcode-jet4/CodBarra39Etiquetas_2003.mdb"));
        if (old.isEmpty() || later.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        std::string problem;
        const auto project = projectOf(later, problem);
        QVERIFY2(project, problem.c_str());

        MdbHandle *mdb = mdb_open(old.toLocal8Bit().constData(), MDB_NOFLAGS);
        QVERIFY(mdb && mdb_read_catalog(mdb, MDB_ANY));
        std::uint32_t modulesPage = 0;
        for (guint i = 0; i < mdb->num_catalog; ++i) {
            auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
            if (std::strcmp(entry->object_name, "MSysModules2") == 0)
                modulesPage = entry->table_pg;
        }
        const PageLayout layout{std::size_t(mdb->fmt->pg_size), std::size_t(mdb->fmt->row_count_offset)};
        PageReader pages;
        QVERIFY(modulesPage && pages.open(old.toLocal8Bit().toStdString(), layout.pageSize, mdb->f->db_key));
        const SystemTable<ModuleRow> rows = readModuleRows(mdb, modulesPage, pages, layout, 64u << 20);
        mdb_close(mdb);
        QVERIFY2(rows.problem.empty(), rows.problem.c_str());
        int equal = 0;
        for (const ModuleRow &row : rows.rows) {
            if (!row.name || !row.bytes || row.type == 2)
                continue; // the project's own row
            const auto source = blobModuleSource(*row.bytes, *row.name, 1252);
            QVERIFY2(source, row.name->c_str());
            const auto same = std::find_if(project->modules.begin(), project->modules.end(),
                                           [&](const ProjectModule &m) { return m.name == *row.name; });
            QVERIFY2(same != project->modules.end() && same->source, row.name->c_str());
            QCOMPARE(codeLines(QString::fromStdString(*source)), codeLines(QString::fromStdString(*same->source)));
            ++equal;
        }
        QCOMPARE(equal, 5);
        // A blob without the module's own container has no source.
        QVERIFY(!blobModuleSource(std::vector<std::uint8_t>(100, 0x01), "Module1", 1252));
    }

    // Each application whole, the way the worker reads it: every module with its source (but a
    // compiled file's), every macro MSysObjects lists, and nothing left unread.
    void wholeApplicationsRead_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("modules");
        QTest::addColumn<bool>("sources");
        QTest::newRow("ACE") << QStringLiteral("vcs-testing/Testing.accdb") << 7 << true;
        QTest::newRow("ACE 2") << QStringLiteral("vcs-demo/demo.accdb") << 4 << true;
        QTest::newRow("add-in") << QStringLiteral("charts-new/BetterAccessCharts.accda") << 37 << true;
        QTest::newRow("Access 2000") << QStringLiteral("testdb-jet4/TestDB.mdb") << 2 << true;
        QTest::newRow("Access 2003") << QStringLiteral("barcode-jet4/CodBarra39Etiquetas_2003.mdb") << 5 << true;
        QTest::newRow("Access 97") << QStringLiteral("barcode-jet3/CodBarra39Etiquetas.mdb") << 5 << true;
        QTest::newRow("ACE 2007") << QStringLiteral("tmdb-accdb/TM-DB-2012v1b.accdb") << 27 << true;
        QTest::newRow("compiled") << QStringLiteral("tmdb-accde/TM-DB-Main.accde") << 27 << false;
    }
    void wholeApplicationsRead()
    {
        QFETCH(QString, file);
        QFETCH(int, modules);
        QFETCH(bool, sources);
        file = TestSupport::realFile(QStringLiteral("code/") + file);
        if (file.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        MdbHandle *mdb = mdb_open(file.toLocal8Bit().constData(), MDB_NOFLAGS);
        QVERIFY(mdb && mdb_read_catalog(mdb, MDB_ANY));
        const auto tablePage = [&](std::string_view name) -> std::uint32_t {
            for (guint i = 0; i < mdb->num_catalog; ++i) {
                auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
                if (name == entry->object_name)
                    return entry->table_pg;
            }
            return 0;
        };
        const PageLayout layout{std::size_t(mdb->fmt->pg_size), std::size_t(mdb->fmt->row_count_offset)};
        PageReader pages;
        QVERIFY(pages.open(file.toLocal8Bit().toStdString(), layout.pageSize, mdb->f->db_key));
        const Application application =
            readApplication(mdb, applicationObjects(readObjectRows(mdb).rows), tablePage, pages, layout);
        mdb_close(mdb);
        for (const std::string &note : application.notes)
            qWarning("%s", note.c_str());
        QVERIFY(application.notes.empty());
        QVERIFY(application.project);
        QCOMPARE(int(application.project->modules.size()), modules);
        for (const ProjectModule &module : application.project->modules)
            QVERIFY2(bool(module.source) == sources, module.name.c_str());
        const auto macroObjects = std::count_if(application.objects.begin(), application.objects.end(),
                                                [](const ApplicationObject &o) { return o.type == kMacroObject; });
        QCOMPARE(qsizetype(application.macros.size()), qsizetype(macroObjects));
    }

    // A compiled file keeps no source: its modules are listed, each with the reason.
    void compiledFilesListModulesWithoutSource()
    {
        const QString file = TestSupport::realFile(QStringLiteral("code/tmdb-accde/TM-DB-Main.accde"));
        if (file.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        std::string problem;
        const auto project = projectOf(file, problem);
        QVERIFY2(project, problem.c_str());
        QVERIFY(!project->modules.empty());
        for (const ProjectModule &module : project->modules) {
            QVERIFY2(!module.source, module.name.c_str());
            QVERIFY(!module.note.empty());
        }
    }
};

QTEST_GUILESS_MAIN(TestApplicationCode)
#include "tst_applicationcode.moc"
