// strudex-export --format json,markdown,html and --diff, end to end: golden documents for the
// fixtures, JSON that validates against its schema, an HTML page that fetches nothing and shows
// hostile names as text, every readable public database documented whole, and the diff's answers.

#include "support/JsonSchema.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>

using Run = TestSupport::ProgramRun;

namespace {

// The lines the exporter prints for a document's notes: what could not be read, and where.
QStringList notesOf(const QJsonObject &root)
{
    QStringList lines;
    const auto add = [&](const QString &where, const QJsonValue &note) {
        if (note.isString() && !note.toString().isEmpty())
            lines << (where.isEmpty() ? note.toString() : where + QStringLiteral(": ") + note.toString());
    };
    for (const QJsonValue &note : root[QStringLiteral("notes")].toArray())
        add(QString(), note);
    const auto name = [](const QJsonValue &item) { return item[QStringLiteral("name")].toString(); };
    for (const QJsonValue &table : root[QStringLiteral("tables")].toArray()) {
        add(QStringLiteral("Table ") + name(table), table[QStringLiteral("note")]);
        for (const QJsonValue &field : table[QStringLiteral("fields")].toArray())
            add(QStringLiteral("Field %1.%2").arg(name(table), name(field)), field[QStringLiteral("note")]);
        for (const QJsonValue &index : table[QStringLiteral("indexes")].toArray())
            add(QStringLiteral("Index %1.%2").arg(name(table), name(index)), index[QStringLiteral("note")]);
    }
    for (const auto &[list, what] :
         {std::pair{"relationships", "Relationship "}, {"queries", "Query "}, {"linkedTables", "Linked table "}})
        for (const QJsonValue &item : root[QLatin1String(list)].toArray())
            add(QLatin1String(what) + name(item), item[QStringLiteral("note")]);
    return lines;
}

QStringList linesOf(const QByteArray &text)
{
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The notes as the exporter prints them: each naming the database.
QStringList printedNotes(const QStringList &notes, const QString &database)
{
    QStringList lines;
    for (const QString &note : notes)
        lines << QStringLiteral("strudex-export: %1: %2").arg(database, note);
    return lines;
}

std::uint32_t u32At(const QByteArray &bytes, qsizetype at)
{
    return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
}

std::uint16_t u16At(const QByteArray &bytes, qsizetype at)
{
    return std::uint16_t(std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8);
}

QByteArray utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

} // namespace

class StructureExportTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    QJsonObject schema;

    Run run(const QStringList &arguments)
    {
        return TestSupport::runProgram(QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-export")),
                                       arguments, work.path(), QByteArray(), QProcessEnvironment::systemEnvironment(),
                                       180000);
    }

    // A damaged copy of a fixture in the work folder: its bytes changed by damage.
    QString damagedCopy(const QString &fixture, const QString &name, const std::function<void(QByteArray &)> &damage)
    {
        QByteArray bytes = TestSupport::readFile(work.filePath(fixture));
        damage(bytes);
        QFile file(work.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return name;
    }

    QStringList problemsOf(const QByteArray &json)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        if (error.error != QJsonParseError::NoError)
            return {error.errorString()};
        return TestSupport::validateJson(document.object(), schema);
    }

private slots:
    // The JSON of a real application: its project, its forms and reports with the modules behind
    // them, its macro's XML and every module's source, valid against the schema.
    void applicationInJson()
    {
        const QString file = TestSupport::realFile(QStringLiteral("code/vcs-testing/Testing.accdb"));
        if (file.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        const Run result =
            run({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--output"), work.path(), file});
        QCOMPARE(result.exitCode, 0);
        const QByteArray json = TestSupport::readFile(work.filePath(QStringLiteral("Testing_Structure.json")));
        QVERIFY2(problemsOf(json).isEmpty(), qPrintable(problemsOf(json).join(QLatin1Char('\n'))));
        const QJsonObject application =
            QJsonDocument::fromJson(json).object()[QStringLiteral("application")].toObject();
        QCOMPARE(application[QStringLiteral("project")][QStringLiteral("name")].toString(),
                 QStringLiteral("VCS Testing"));
        // A table's data macro, on the table.
        bool dataMacro = false;
        for (const QJsonValue &table : QJsonDocument::fromJson(json).object()[QStringLiteral("tables")].toArray())
            if (table[QStringLiteral("name")].toString() == QStringLiteral("tblSaveXML"))
                dataMacro = table[QStringLiteral("dataMacros")][QStringLiteral("AfterUpdate")].toString().contains(
                    QStringLiteral("<DataMacro Event=\"AfterUpdate\""));
        QVERIFY(dataMacro);
        QCOMPARE(application[QStringLiteral("project")][QStringLiteral("references")].toArray().size(), 6);
        const QJsonArray forms = application[QStringLiteral("forms")].toArray();
        QCOMPARE(forms.size(), 1);
        QCOMPARE(forms[0][QStringLiteral("module")].toString(), QStringLiteral("Form_frmMain"));
        QCOMPARE(application[QStringLiteral("reports")].toArray().size(), 2);
        const QJsonArray macros = application[QStringLiteral("macros")].toArray();
        QCOMPARE(macros.size(), 1);
        QVERIFY(macros[0][QStringLiteral("definition")].toString().contains(QStringLiteral("<UserInterfaceMacro")));
        const QJsonArray modules = application[QStringLiteral("modules")].toArray();
        QCOMPARE(modules.size(), 7);
        QStringList kinds;
        for (const QJsonValue &module : modules) {
            const QString source = module[QStringLiteral("source")].toString();
            QVERIFY(source.startsWith(QStringLiteral("Attribute VB_Name = \"") +
                                      module[QStringLiteral("name")].toString()));
            QVERIFY(!source.contains(QLatin1Char('\r')));
            QCOMPARE(module[QStringLiteral("lines")].toInt(),
                     int(source.count(QLatin1Char('\n'))) + (source.endsWith(QLatin1Char('\n')) ? 0 : 1));
            kinds << module[QStringLiteral("kind")].toString();
        }
        QCOMPARE(kinds.count(QStringLiteral("form")), 1);
        QCOMPARE(kinds.count(QStringLiteral("report")), 2);
        QCOMPARE(kinds.count(QStringLiteral("standard")), 2);
    }

    // The source folder: a link planted at its name is refused and what it points at is left
    // alone; a second export takes away the files of objects the database no longer has, and only
    // those its own index listed.
    void sourceFolderRefusesLinksAndKeepsUpToDate()
    {
        const QString real = TestSupport::realFile(QStringLiteral("code/vcs-testing/Testing.accdb"));
        if (real.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The applications of the public collection are not here");
        QVERIFY(QFile::copy(real, work.filePath(QStringLiteral("app.accdb"))));
        const QString folder = work.filePath(QStringLiteral("app_Source"));
        QDir(work.path()).mkdir(QStringLiteral("elsewhere"));
        QVERIFY(QFile::link(work.filePath(QStringLiteral("elsewhere")), folder));
        const Run refused = run({QStringLiteral("--format"), QStringLiteral("source"), QStringLiteral("app.accdb")});
        QVERIFY(refused.exitCode != 0);
        QVERIFY2(refused.err.contains("is not a folder of its own"), refused.err.constData());
        QVERIFY(QDir(work.filePath(QStringLiteral("elsewhere"))).isEmpty());
        QVERIFY(QFile::remove(folder));

        QCOMPARE(run({QStringLiteral("--format"), QStringLiteral("source"), QStringLiteral("app.accdb")}).exitCode, 0);
        const QStringList queries = QDir(folder + QStringLiteral("/queries")).entryList(QDir::Files);
        QVERIFY(!queries.isEmpty());
        // An object that is gone, listed by the earlier index, and a file of the user's own.
        QFile index(folder + QStringLiteral("/index.json"));
        QVERIFY(index.open(QIODevice::ReadOnly));
        QByteArray listed = index.readAll();
        index.close();
        listed.replace("\"files\": [",
                       "\"files\": [{\"kind\": \"query\", \"name\": \"Gone\", \"file\": \"queries/Gone.sql\"},"
                       "{\"kind\": \"query\", \"name\": \"Out\", \"file\": \"../outside.sql\"},");
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate) && index.write(listed) == listed.size());
        index.close();
        for (const QString &name : {QStringLiteral("app_Source/queries/Gone.sql"),
                                    QStringLiteral("app_Source/queries/mine.txt"), QStringLiteral("outside.sql")}) {
            QFile file(work.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(run({QStringLiteral("--format"), QStringLiteral("source"), QStringLiteral("app.accdb")}).exitCode, 0);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/queries/Gone.sql")));
        QVERIFY(QFile::exists(folder + QStringLiteral("/queries/mine.txt")));
        QVERIFY(QFile::exists(work.filePath(QStringLiteral("outside.sql"))));
        QCOMPARE(QDir(folder + QStringLiteral("/queries")).entryList(QDir::Files).size(), queries.size() + 1);
    }

    void initTestCase()
    {
        QVERIFY(work.isValid());
        schema = TestSupport::projectSchema(QStringLiteral("structure.schema.json"));
        for (const QString &name :
             {QStringLiteral("structure.accdb"), QStringLiteral("structure.mdb"), QStringLiteral("sample.mdb"),
              QStringLiteral("types.mdb"), QStringLiteral("types2019.accdb"), QStringLiteral("linked.mdb"),
              QStringLiteral("password.mdb"), QStringLiteral("empty.mdb")})
            QVERIFY(QFile::copy(QDir(TestSupport::dataDir()).filePath(name), work.filePath(name)));
    }

    // The documents of the fixtures, byte for byte. STRUDEX_UPDATE_GOLDEN=1 writes them anew
    // (to be read through before they are committed).
    void goldenDocuments_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("structure.accdb") << "structure.accdb" << QStringList();
        QTest::newRow("structure.mdb") << "structure.mdb" << QStringList();
        QTest::newRow("sample.mdb") << "sample.mdb" << QStringList();
        QTest::newRow("types.mdb") << "types.mdb" << QStringList();
        QTest::newRow("types2019.accdb") << "types2019.accdb" << QStringList();
        QTest::newRow("linked.mdb") << "linked.mdb" << QStringList();
        QTest::newRow("password.mdb") << "password.mdb"
                                      << QStringList{QStringLiteral("--password"), QStringLiteral("Pa;ss=w0rd")};
        QTest::newRow("empty.mdb") << "empty.mdb" << QStringList();
    }
    void goldenDocuments()
    {
        QFETCH(QString, database);
        QFETCH(QStringList, options);
        const Run result =
            run(options << QStringLiteral("--format") << QStringLiteral("json,markdown,html") << database);
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QVERIFY(result.err.isEmpty());
        const QString base = QFileInfo(database).completeBaseName() + QStringLiteral("_Structure.");
        // The report itself is not asked for.
        QVERIFY(!QFile::exists(work.filePath(base + QStringLiteral("txt"))));
        const QDir golden(QDir(TestSupport::dataDir()).filePath(QStringLiteral("structure")));
        for (const QString &extension : {QStringLiteral("json"), QStringLiteral("md"), QStringLiteral("html")}) {
            const QByteArray written = TestSupport::readFile(work.filePath(base + extension));
            QVERIFY(!written.isEmpty());
            const QString expected = golden.filePath(database + QLatin1Char('.') + extension);
            if (qEnvironmentVariableIntValue("STRUDEX_UPDATE_GOLDEN") == 1) {
                QFile out(expected);
                QVERIFY(out.open(QIODevice::WriteOnly));
                out.write(written);
                continue;
            }
            QCOMPARE(written, TestSupport::readFile(expected));
        }
        const QByteArray json = TestSupport::readFile(work.filePath(base + QStringLiteral("json")));
        const QStringList problems = problemsOf(json);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        const QString page = QString::fromUtf8(TestSupport::readFile(work.filePath(base + QStringLiteral("html"))));
        for (const QString &reference : TestSupport::fetchedReferences(page))
            QVERIFY2(reference.startsWith(QLatin1Char('#')), qPrintable(reference));
    }

    void theWholeStructureOfTheStructureFixture()
    {
        QVERIFY(run({QStringLiteral("--format"), QStringLiteral("json,html"), QStringLiteral("structure.accdb")})
                    .exitCode == 0);
        const QJsonObject root =
            QJsonDocument::fromJson(TestSupport::readFile(work.filePath(QStringLiteral("structure_Structure.json"))))
                .object();
        QCOMPARE(root[QStringLiteral("database")][QStringLiteral("format")].toString(),
                 QStringLiteral("Access 2016/2019"));
        QHash<QString, QJsonObject> tables;
        for (const QJsonValue &table : root[QStringLiteral("tables")].toArray())
            tables.insert(table[QStringLiteral("name")].toString(), table.toObject());
        QCOMPARE(tables.size(), 6);
        const QJsonObject customers = tables.value(QStringLiteral("Customers"));
        QCOMPARE(customers[QStringLiteral("description")].toString(), QStringLiteral("Who buys from us"));
        QCOMPARE(customers[QStringLiteral("properties")][QStringLiteral("ValidationRule")].toString(),
                 QStringLiteral("[Since] > #1/1/1990#"));
        QHash<QString, QJsonObject> fields;
        for (const QJsonValue &field : customers[QStringLiteral("fields")].toArray())
            fields.insert(field[QStringLiteral("name")].toString(), field.toObject());
        QCOMPARE(fields[QStringLiteral("CustomerID")][QStringLiteral("accessType")].toString(),
                 QStringLiteral("AutoNumber"));
        QCOMPARE(fields[QStringLiteral("Name")][QStringLiteral("required")].toBool(), true);
        QCOMPARE(fields[QStringLiteral("Name")][QStringLiteral("allowZeroLength")].toBool(), false);
        QCOMPARE(fields[QStringLiteral("Name")][QStringLiteral("properties")][QStringLiteral("Caption")].toString(),
                 QStringLiteral("Customer name"));
        QCOMPARE(fields[QStringLiteral("Country")][QStringLiteral("defaultValue")].toString(),
                 QStringLiteral("\"Norway\""));
        const QJsonObject lookup = fields[QStringLiteral("Country")][QStringLiteral("lookup")].toObject();
        QCOMPARE(lookup[QStringLiteral("displayControl")].toString(), QStringLiteral("Combo Box"));
        QCOMPARE(lookup[QStringLiteral("rowSourceType")].toString(), QStringLiteral("Value List"));
        QCOMPARE(lookup[QStringLiteral("rowSource")].toString(), QStringLiteral("\"Norway\";\"Sweden\";\"Denmark\""));
        QCOMPARE(fields[QStringLiteral("Email")][QStringLiteral("validationRule")].toString(),
                 QStringLiteral("Like \"*@*\""));
        QCOMPARE(fields[QStringLiteral("Email")][QStringLiteral("validationText")].toString(),
                 QStringLiteral("An e-mail address has an @"));
        QCOMPARE(fields[QStringLiteral("Since")][QStringLiteral("properties")][QStringLiteral("Format")].toString(),
                 QStringLiteral("Short Date"));
        QStringList indexes;
        for (const QJsonValue &index : customers[QStringLiteral("indexes")].toArray()) {
            QStringList names;
            for (const QJsonValue &f : index[QStringLiteral("fields")].toArray())
                names << f[QStringLiteral("name")].toString() +
                             (f[QStringLiteral("descending")].toBool() ? QStringLiteral(" desc") : QString());
            indexes << index[QStringLiteral("name")].toString() + QLatin1Char('(') + names.join(QLatin1Char(',')) +
                           QLatin1Char(')');
        }
        QVERIFY(indexes.contains(QStringLiteral("PrimaryKey(CustomerID)")));
        QVERIFY(indexes.contains(QStringLiteral("ByEmail(Email)")));
        QVERIFY(indexes.contains(QStringLiteral("ByCountryName(Country,Name desc)")));

        QStringList relationships;
        for (const QJsonValue &r : root[QStringLiteral("relationships")].toArray()) {
            QStringList primary, foreign;
            for (const QJsonValue &f : r[QStringLiteral("primaryFields")].toArray())
                primary << f.toString();
            for (const QJsonValue &f : r[QStringLiteral("foreignFields")].toArray())
                foreign << f.toString();
            relationships << QStringLiteral("%1(%2)->%3(%4) %5 %6")
                                 .arg(r[QStringLiteral("primaryTable")].toString(), primary.join(QLatin1Char(',')),
                                      r[QStringLiteral("foreignTable")].toString(), foreign.join(QLatin1Char(',')),
                                      r[QStringLiteral("enforced")].toBool() ? QStringLiteral("enforced")
                                                                             : QStringLiteral("free"),
                                      r[QStringLiteral("join")].toString());
        }
        relationships.sort();
        QCOMPARE(relationships, (QStringList{QStringLiteral("Branches(Region,Branch)->Orders(Region,Branch) free left"),
                                             QStringLiteral("Customers(CustomerID)->Customer Profile(CustomerID) "
                                                            "enforced inner"),
                                             QStringLiteral("Customers(CustomerID)->Orders(CustomerID) enforced inner"),
                                             QStringLiteral("Orders(OrderID)->Order Lines(OrderID) enforced inner")}));

        // The hostile names are text in the page; the only script is the page's own.
        const QString page =
            QString::fromUtf8(TestSupport::readFile(work.filePath(QStringLiteral("structure_Structure.html"))));
        QCOMPARE(page.count(QStringLiteral("<script")), 1);
        QVERIFY(!page.contains(QStringLiteral("<img")));
        QVERIFY(page.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;")));
        QVERIFY(page.contains(QStringLiteral("<svg")));
    }

    void tableLimitsTheTablesOnly()
    {
        QVERIFY(run({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--table"),
                     QStringLiteral("Orders"), QStringLiteral("structure.accdb")})
                    .exitCode == 0);
        const QJsonObject root =
            QJsonDocument::fromJson(TestSupport::readFile(work.filePath(QStringLiteral("structure_Structure.json"))))
                .object();
        QCOMPARE(root[QStringLiteral("tables")].toArray().size(), 1);
        QCOMPARE(root[QStringLiteral("relationships")].toArray().size(), 4);
    }

    void formatsAreCheckedBeforeAnythingIsRead()
    {
        Run result = run({QStringLiteral("--format"), QStringLiteral("json,pdf"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("unknown format 'pdf'"));
        result = run({QStringLiteral("--format"), QStringLiteral("json,json"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 2);
        result = run({QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--output"),
                      work.filePath(QStringLiteral("no-such-folder")), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.err.contains("no-such-folder: there is no folder of that name to write into."));
        result = run({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("password.mdb")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err,
                 QByteArray("strudex-export: password.mdb: the database could not be opened: Not a valid password.\n"));
        // Text and the documents together: the report is the same as ever.
        result = run({QStringLiteral("--format"), QStringLiteral("text,markdown"), QStringLiteral("sample.mdb")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(QFile::exists(work.filePath(QStringLiteral("sample_Structure.txt"))));
        QVERIFY(QFile::exists(work.filePath(QStringLiteral("sample_Structure.md"))));
    }

    // "--output -" prints the one document asked for, exactly as its file would hold it, and
    // nothing else.
    void oneDocumentGoesToStandardOutput()
    {
        const Run json = run({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--output"),
                              QStringLiteral("-"), QStringLiteral("structure.accdb")});
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(json.out,
                 TestSupport::readFile(
                     QDir(TestSupport::dataDir()).filePath(QStringLiteral("structure/structure.accdb.json"))));
        const Run text = run({QStringLiteral("--output"), QStringLiteral("-"), QStringLiteral("sample.mdb")});
        QCOMPARE(text.exitCode, 0);
        QCOMPARE(text.out,
                 TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(QStringLiteral("sample.expected.txt"))));
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("-"))));
        QCOMPARE(run({QStringLiteral("--format"), QStringLiteral("json,html"), QStringLiteral("--output"),
                      QStringLiteral("-"), QStringLiteral("sample.mdb")})
                     .exitCode,
                 2);
        QCOMPARE(run({QStringLiteral("--format"), QStringLiteral("source"), QStringLiteral("--output"),
                      QStringLiteral("-"), QStringLiteral("sample.mdb")})
                     .exitCode,
                 2);
    }

    void diffAnswersAsDiffDoes()
    {
        // A database against itself: nothing, status 0, in each form.
        for (const QString &format : {QStringLiteral("text"), QStringLiteral("markdown"), QStringLiteral("json")}) {
            const Run same = run({QStringLiteral("--diff"), QStringLiteral("--format"), format,
                                  QStringLiteral("structure.accdb"), QStringLiteral("structure.accdb")});
            QCOMPARE(same.exitCode, 0);
            if (format == QStringLiteral("text"))
                QVERIFY(same.out.isEmpty());
        }
        // Two different databases: their differences, status 1.
        const Run different =
            run({QStringLiteral("--diff"), QStringLiteral("sample.mdb"), QStringLiteral("structure.mdb")});
        QCOMPARE(different.exitCode, 1);
        QVERIFY(different.out.contains("- table Customers") || different.out.contains("~ field Customers."));
        QVERIFY(different.out.contains("+ table Branches"));
        QVERIFY(different.out.contains("+ relationship "));
        const Run json = run({QStringLiteral("--diff"), QStringLiteral("--format"), QStringLiteral("json"),
                              QStringLiteral("sample.mdb"), QStringLiteral("structure.mdb")});
        QCOMPARE(json.exitCode, 1);
        QVERIFY(!QJsonDocument::fromJson(json.out)[QStringLiteral("changes")].toArray().isEmpty());
        QVERIFY(QJsonDocument::fromJson(json.out)[QStringLiteral("generator")].toString().startsWith("Strudex "));
        // Layout properties too, on request; --diff-all means nothing without --diff.
        QCOMPARE(run({QStringLiteral("--diff"), QStringLiteral("--diff-all"), QStringLiteral("structure.accdb"),
                      QStringLiteral("structure.accdb")})
                     .exitCode,
                 0);
        const Run alone = run({QStringLiteral("--diff-all"), QStringLiteral("sample.mdb")});
        QCOMPARE(alone.exitCode, 2);
        QVERIFY2(alone.err.contains("--diff-all goes with --diff"), alone.err.constData());
        // Passwords for each side.
        const Run passwords = run({QStringLiteral("--diff"), QStringLiteral("--password"), QStringLiteral("Pa;ss=w0rd"),
                                   QStringLiteral("--new-password"), QString(), QStringLiteral("password.mdb"),
                                   QStringLiteral("sample.mdb")});
        QCOMPARE(passwords.exitCode, 1);
        // Trouble: a database missing, a wrong password, one database only, an unknown form.
        QCOMPARE(run({QStringLiteral("--diff"), QStringLiteral("sample.mdb"), QStringLiteral("gone.mdb")}).exitCode, 2);
        const Run locked =
            run({QStringLiteral("--diff"), QStringLiteral("password.mdb"), QStringLiteral("sample.mdb")});
        QCOMPARE(locked.exitCode, 2);
        QCOMPARE(locked.err,
                 QByteArray("strudex-export: password.mdb: the database could not be read: Not a valid password.\n"));
        QCOMPARE(run({QStringLiteral("--diff"), QStringLiteral("sample.mdb")}).exitCode, 2);
        QCOMPARE(run({QStringLiteral("--diff"), QStringLiteral("--format"), QStringLiteral("html"),
                      QStringLiteral("sample.mdb"), QStringLiteral("sample.mdb")})
                     .exitCode,
                 2);
    }

    // A copy of the structure fixture with a table, and one with a field, renamed everywhere the
    // file names it: one rename each, the relationships following the new names. A field's new name
    // in a table's validation rule is a change of that rule.
    void diffShowsRenames()
    {
        const auto renamedCopy = [&](const QString &from, const QString &to) {
            return damagedCopy(QStringLiteral("structure.accdb"), to + QStringLiteral(".accdb"),
                               [&](QByteArray &bytes) { bytes.replace(utf16(from), utf16(to)); });
        };
        Run diff = run({QStringLiteral("--diff"), QStringLiteral("structure.accdb"),
                        renamedCopy(QStringLiteral("Branches"), QStringLiteral("Brunches"))});
        QCOMPARE(diff.exitCode, 1);
        QCOMPARE(diff.out, QByteArray("> renamed table Branches to Brunches\n"));
        diff = run({QStringLiteral("--diff"), QStringLiteral("structure.accdb"),
                    renamedCopy(QStringLiteral("Since"), QStringLiteral("Start"))});
        QCOMPARE(diff.exitCode, 1);
        QCOMPARE(diff.out,
                 QByteArray("~ table Customers: property ValidationRule: \"[Since] > #1/1/1990#\" -> \"[Start] "
                            "> #1/1/1990#\"\n> renamed field Customers.Since to Customers.Start\n"));
    }

    // What the terminal is given of a database with hostile names: the names as they are (no control
    // characters in them here), each change one line that starts with its sign, each Markdown change
    // one row, and not a control character but the line feeds.
    void printedNamesStayOnTheirLines()
    {
        const auto noControls = [](const QByteArray &bytes) {
            return std::none_of(bytes.cbegin(), bytes.cend(),
                                [](char c) { return (uchar(c) < 0x20 && c != '\n') || uchar(c) == 0x7f; });
        };
        const Run list = run({QStringLiteral("--list"), QStringLiteral("structure.mdb")});
        QCOMPARE(list.exitCode, 0);
        QVERIFY2(list.out.split('\n').contains("<script>alert(1)</script>"), list.out.constData());
        QVERIFY(noControls(list.out));
        const Run text = run({QStringLiteral("--diff"), QStringLiteral("sample.mdb"), QStringLiteral("structure.mdb")});
        QCOMPARE(text.exitCode, 1);
        QVERIFY2(text.out.contains("+ table <script>alert(1)</script>\n"), text.out.constData());
        QVERIFY(noControls(text.out));
        for (const QByteArray &line : text.out.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(QByteArrayList({"+ ", "- ", "~ "}).contains(line.left(2)), line.constData());
        }
        const Run markdown = run({QStringLiteral("--diff"), QStringLiteral("--format"), QStringLiteral("markdown"),
                                  QStringLiteral("sample.mdb"), QStringLiteral("structure.mdb")});
        QCOMPARE(markdown.exitCode, 1);
        QVERIFY(markdown.out.contains("| added | table | &lt;script&gt;alert(1)&lt;/script&gt; |"));
        QVERIFY(noControls(markdown.out));
        // The header, its rule, and a row per change.
        const QByteArrayList rows = markdown.out.trimmed().split('\n');
        QCOMPARE(rows.size(), text.out.trimmed().split('\n').size() + 2);
        for (const QByteArray &row : rows)
            QVERIFY2(row.startsWith('|') && row.endsWith('|'), row.constData());
    }

    // Damaged copies of the structure fixture: whatever part is damaged (system tables, property
    // blocks, index entries, definitions), the exporter ends, with the documents or a clear
    // failure, and what it writes validates.
    void damagedCopiesEndCleanly()
    {
        const QByteArray good = TestSupport::readFile(work.filePath(QStringLiteral("structure.accdb")));
        QVERIFY(!good.isEmpty());
        QRandomGenerator random(20261207);
        int documented = 0;
        for (int copy = 0; copy < 40; ++copy) {
            QByteArray bytes = good;
            // A few pages past the header get bytes of noise.
            const int pages = int(bytes.size() / 4096);
            for (int n = 0; n < 3; ++n) {
                const int page = 1 + random.bounded(pages - 1);
                for (int k = 0; k < 24; ++k)
                    bytes[page * 4096 + random.bounded(4096)] = char(random.bounded(256));
            }
            const QString name = QStringLiteral("damaged-%1.accdb").arg(copy);
            QFile file(work.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
            file.close();
            const Run result = run({QStringLiteral("--format"), QStringLiteral("json,markdown,html"), name});
            QVERIFY2(result.exitCode == 0 || result.exitCode == 1, qPrintable(name));
            const QString base = QFileInfo(name).completeBaseName() + QStringLiteral("_Structure.");
            // A table that could not be read fails the run, but its documents are written all the same.
            if (result.exitCode == 1) {
                QVERIFY2(!result.err.isEmpty(), qPrintable(name));
                if (!QFile::exists(work.filePath(base + QStringLiteral("json"))))
                    continue;
            }
            const QStringList problems =
                problemsOf(TestSupport::readFile(work.filePath(base + QStringLiteral("json"))));
            QVERIFY2(problems.isEmpty(), qPrintable(name + QStringLiteral(": ") + problems.join(QLatin1Char('\n'))));
            QVERIFY(QFile::exists(work.filePath(base + QStringLiteral("html"))));
            ++documented;
        }
        // Most damage leaves most of the file readable.
        QVERIFY2(documented > 0, "no damaged copy was documented at all");
    }

    // A copy cut short: the catalogue is there, the tables are not. The report and the documents
    // say so for every table, none shows it as empty, and the exporter fails.
    void aCutCopyDocumentsNoTableAsEmpty()
    {
        QFile cut(work.filePath(QStringLiteral("cut.mdb")));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(TestSupport::readFile(work.filePath(QStringLiteral("sample.mdb"))).left(100000));
        cut.close();
        const QStringList tables{QStringLiteral("Customers"), QStringLiteral("Order Details"), QStringLiteral("Orders"),
                                 QStringLiteral("Products"), QStringLiteral("Shippers")};
        const QByteArray why = "Unrecognized database format 'cut.mdb'";

        const Run text = run({QStringLiteral("cut.mdb")});
        QCOMPARE(text.exitCode, 1);
        QVERIFY2(text.err.endsWith("strudex-export: ./cut_Structure.txt: the report was written, but not all of the "
                                   "database could be read (the failures are above).\n"),
                 text.err.constData());
        for (const QString &table : tables)
            QVERIFY2(text.err.contains("strudex-export: cut.mdb: the table '" + table.toUtf8() +
                                       "' could not be read: " + why + ".\n"),
                     text.err.constData());
        for (const QString &line : linesOf(text.err))
            QVERIFY2(line.startsWith(QLatin1String("strudex-export: ")) && !line.contains(QLatin1String(" at line ")),
                     qPrintable(line));
        const QByteArray report = TestSupport::readFile(work.filePath(QStringLiteral("cut_Structure.txt")));
        for (const QString &table : tables)
            QVERIFY(report.contains("\r\n\r\n\r\nTable Name : " + table.toUtf8() +
                                    "\r\nThis table could not be read: " + why + ".\r\n\r\n\r\n"));
        QVERIFY(!report.contains("Total"));

        const Run documents =
            run({QStringLiteral("--format"), QStringLiteral("json,markdown,html"), QStringLiteral("cut.mdb")});
        QCOMPARE(documents.exitCode, 1);
        const QByteArray note = "its records could not be counted: " + why +
                                "; its definition is damaged: its fields and indexes could not be read";
        QVERIFY2(documents.err.startsWith("strudex-export: cut.mdb: The table 'Customers' could not be read: " + note +
                                          ".\n"),
                 documents.err.constData());
        const QByteArray json = TestSupport::readFile(work.filePath(QStringLiteral("cut_Structure.json")));
        const QStringList problems = problemsOf(json);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        const QJsonArray written = QJsonDocument::fromJson(json)[QStringLiteral("tables")].toArray();
        QCOMPARE(written.size(), tables.size());
        for (const QJsonValue &table : written) {
            QVERIFY(table[QStringLiteral("records")].isNull());
            QVERIFY(table[QStringLiteral("fields")].isNull());
            QVERIFY(table[QStringLiteral("indexes")].isNull());
            QCOMPARE(table[QStringLiteral("note")].toString().toUtf8(), note);
        }
        const QString md = QString::fromUtf8(TestSupport::readFile(work.filePath(QStringLiteral("cut_Structure.md"))));
        QCOMPARE(md.count(QStringLiteral("Records: not counted\n\n> **Note:** ") + QString::fromUtf8(note) +
                          QStringLiteral("\n\nFields and indexes: not read\n")),
                 tables.size());
        QVERIFY(!md.contains(QStringLiteral("| Field |")));
        const QString html =
            QString::fromUtf8(TestSupport::readFile(work.filePath(QStringLiteral("cut_Structure.html"))));
        QCOMPARE(html.count(QStringLiteral("Records: not counted &middot; Fields: not read</p>\n<p class=\"note\">") +
                            QString::fromUtf8(note).replace(QLatin1Char('\''), QStringLiteral("&#39;")) +
                            QStringLiteral("</p>")),
                 tables.size());
        QVERIFY(!html.contains(QStringLiteral("<th>Field</th>")));
    }

    // Relationships between Access's own tables are not the user's design: no document and no
    // diff shows them. Access itself made the public applications' files.
    void systemRelationshipsAreLeftOut_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QStringList>("relationships");
        QTest::newRow("types2019.accdb") << QStringLiteral("types2019.accdb") << QStringList();
        QTest::newRow("Testing.accdb") << QStringLiteral("code/vcs-testing/Testing.accdb")
                                       << QStringList{QStringLiteral("tblInternaltblSaveXML")};
        QTest::newRow("demo.accdb") << QStringLiteral("code/vcs-demo/demo.accdb")
                                    << QStringList{QStringLiteral("color_lookuppeople")};
        QTest::newRow("TestDB.mdb") << QStringLiteral("code/testdb-jet4/TestDB.mdb")
                                    << QStringList{QStringLiteral("TaskTypesTasks")};
        QTest::newRow("TM-DB-2012v1b.accdb") << QStringLiteral("code/tmdb-accdb/TM-DB-2012v1b.accdb") << QStringList();
    }
    void systemRelationshipsAreLeftOut()
    {
        QFETCH(QString, database);
        QFETCH(QStringList, relationships);
        QString path = database;
        if (database.startsWith(QStringLiteral("code/"))) {
            path = TestSupport::realFile(database);
            if (path.isEmpty())
                STRUDEX_WITHOUT_FIXTURE("the Access applications of fixtures/real/code are not available");
        }
        QTemporaryDir out;
        run({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--output"), out.path(), path});
        const QJsonObject root =
            QJsonDocument::fromJson(
                TestSupport::readFile(
                    QDir(out.path()).filePath(QFileInfo(path).completeBaseName() + QStringLiteral("_Structure.json"))))
                .object();
        QVERIFY(root.contains(QStringLiteral("relationships")));
        QStringList found;
        for (const QJsonValue &r : root[QStringLiteral("relationships")].toArray())
            found << r[QStringLiteral("name")].toString();
        QCOMPARE(found, relationships);
        // The diff does not see them either.
        const Run diff = run({QStringLiteral("--diff"), QStringLiteral("empty.mdb"), path});
        QVERIFY(!diff.out.contains("MSys"));
        QCOMPARE(diff.out.contains("+ relationship"), !relationships.isEmpty());
    }

    // A document with a part that could not be read is written all the same, but the run fails and
    // says what is missing, one line per note: an index naming a field the table does not have, a
    // property list cut short.
    void partsThatCouldNotBeReadFailTheRun()
    {
        const QString badIndex =
            damagedCopy(QStringLiteral("structure.accdb"), QStringLiteral("bad-index.accdb"), [](QByteArray &bytes) {
                // Customers' definition, one page: the counts, the columns and their names, then the
                // physical index entries, whose first slot names a column.
                const qsizetype page = bytes.indexOf(utf16(QStringLiteral("ByCountryName"))) / 4096 * 4096;
                QVERIFY(page > 0 && bytes[page] == 0x02 && u32At(bytes, page + 4) == 0);
                const std::uint16_t columns = u16At(bytes, page + 45);
                qsizetype at = page + 63 + 12 * qsizetype(u32At(bytes, page + 51)) + 25 * qsizetype(columns);
                for (int column = 0; column < columns; ++column)
                    at += 2 + u16At(bytes, at);
                bytes[at + 4] = char(200);
                bytes[at + 5] = 0;
            });
        const QString cutProperties = damagedCopy(
            QStringLiteral("structure.accdb"), QStringLiteral("cut-properties.accdb"), [](QByteArray &bytes) {
                // Customers' property block: the names, then a list of values whose first value is
                // made to name a property the block does not have.
                const qsizetype block =
                    bytes.lastIndexOf(QByteArray("MR2\0", 4), bytes.indexOf(utf16(QStringLiteral("Who buys from us"))));
                QVERIFY(block > 0);
                const qsizetype list = block + 4 + qsizetype(u32At(bytes, block + 4)) + 6;
                bytes[list + 6 + u16At(bytes, list + 4) + 4] = char(0xFF);
                bytes[list + 6 + u16At(bytes, list + 4) + 5] = char(0xFF);
            });
        const QString badRows =
            damagedCopy(QStringLiteral("structure.accdb"), QStringLiteral("bad-rows.accdb"), [](QByteArray &bytes) {
                // A data page of Customers whose table of row offsets claims more rows than fit.
                const qsizetype definition = bytes.indexOf(utf16(QStringLiteral("ByCountryName"))) / 4096;
                qsizetype page = 4096;
                while (page < bytes.size() && !(bytes[page] == 0x01 && u32At(bytes, page + 4) == definition))
                    page += 4096;
                QVERIFY(page < bytes.size());
                bytes[page + 12] = char(0xFF);
                bytes[page + 13] = char(0xFF);
            });
        for (const auto &[database, expected] :
             {std::pair{badIndex, QStringLiteral("it names a field number the table does not have (200)")},
              {cutProperties, QStringLiteral("Table Customers: its properties could not be read whole (the list of ")},
              {badRows, QStringLiteral("Table Customers: its records were counted only in part: 1 of its data "
                                       "pages is damaged")}}) {
            const Run result = run({QStringLiteral("--format"), QStringLiteral("json,markdown,html"), database});
            QCOMPARE(result.exitCode, 1);
            const QString base = QFileInfo(database).completeBaseName() + QStringLiteral("_Structure.");
            const QByteArray json = TestSupport::readFile(work.filePath(base + QStringLiteral("json")));
            QVERIFY(problemsOf(json).isEmpty());
            QVERIFY(QFile::exists(work.filePath(base + QStringLiteral("html"))));
            const QStringList notes = notesOf(QJsonDocument::fromJson(json).object());
            QCOMPARE(linesOf(result.err), printedNotes(notes, database));
            QVERIFY(!notes.isEmpty());
            for (const QString &note : notes)
                QVERIFY2(note.contains(expected), qPrintable(note));
        }
    }

    // Every readable public database: its documents are written whole and the JSON validates.
    void everyReadablePublicDatabase()
    {
        const QList<TestSupport::RealFile> files = TestSupport::realFiles();
        if (files.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        QTemporaryDir out;
        int documented = 0;
        QHash<QString, QJsonObject> byName;
        for (const TestSupport::RealFile &file : files) {
            QStringList arguments{QStringLiteral("--format"), QStringLiteral("json,markdown,html"),
                                  QStringLiteral("--output"), out.path()};
            if (!file.password.isEmpty())
                arguments << QStringLiteral("--password") << file.password;
            const Run result = run(arguments << file.path);
            const QString name = QFileInfo(file.path).fileName();
            const QString base = QFileInfo(file.path).completeBaseName() + QStringLiteral("_Structure.");
            const QByteArray json = TestSupport::readFile(QDir(out.path()).filePath(base + QStringLiteral("json")));
            // Written whole; a part that could not be read is in its note, on standard error and in
            // the exit status.
            const QStringList notes = notesOf(QJsonDocument::fromJson(json).object());
            QVERIFY2(result.exitCode == (notes.isEmpty() ? 0 : 1),
                     qPrintable(name + QStringLiteral(": ") + QString::fromUtf8(result.err)));
            QCOMPARE(linesOf(result.err), printedNotes(notes, file.path));
            const QStringList problems = problemsOf(json);
            QVERIFY2(problems.isEmpty(), qPrintable(name + QStringLiteral(": ") + problems.join(QLatin1Char('\n'))));
            const QString page =
                QString::fromUtf8(TestSupport::readFile(QDir(out.path()).filePath(base + QStringLiteral("html"))));
            for (const QString &reference : TestSupport::fetchedReferences(page))
                QVERIFY2(reference.startsWith(QLatin1Char('#')), qPrintable(name + QStringLiteral(": ") + reference));
            byName.insert(name, QJsonDocument::fromJson(json).object());
            ++documented;
        }
        QCOMPARE(documented, files.size());

        // Some of them by name: saved queries, links, indexes and relationships, complex fields.
        const QJsonObject queries = byName.value(QStringLiteral("queryTestV2003.mdb"));
        QCOMPARE(queries[QStringLiteral("queries")].toArray().size(), 9);
        const QJsonObject linker = byName.value(QStringLiteral("linkerTestV2007.accdb"));
        QVERIFY(!linker[QStringLiteral("linkedTables")].toArray().isEmpty());
        const QJsonObject odbc = byName.value(QStringLiteral("odbcLinkerTestV2007.accdb"));
        // An ODBC link shows its connection text, never its password.
        bool odbcLink = false;
        for (const QJsonValue &link : odbc[QStringLiteral("linkedTables")].toArray()) {
            const QString source = link[QStringLiteral("source")].toString();
            odbcLink =
                odbcLink || (source.contains(QStringLiteral("DSN=")) && source.contains(QStringLiteral("PWD=***")));
        }
        QVERIFY(odbcLink);
        const QJsonObject indexes = byName.value(QStringLiteral("indexTestV1997.mdb"));
        QVERIFY(!indexes[QStringLiteral("relationships")].toArray().isEmpty());
        const QJsonObject complex = byName.value(QStringLiteral("complexDataTestV2010.accdb"));
        QStringList kinds;
        for (const QJsonValue &table : complex[QStringLiteral("tables")].toArray())
            for (const QJsonValue &field : table[QStringLiteral("fields")].toArray()) {
                if (field[QStringLiteral("accessType")].toString() == QStringLiteral("Attachment"))
                    kinds << QStringLiteral("attachment");
                if (field[QStringLiteral("multiValued")].toBool())
                    kinds << QStringLiteral("multi-valued");
            }
        QVERIFY2(kinds.contains(QStringLiteral("attachment")) && kinds.contains(QStringLiteral("multi-valued")),
                 qPrintable(kinds.join(QLatin1Char(' '))));
    }
};

QTEST_GUILESS_MAIN(StructureExportTest)
#include "tst_structure_export.moc"
