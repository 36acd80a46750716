// The saved queries of real databases as strudex-export's JSON document gives them: the public
// query test files against the SQL their own project expects of them, the databases made by Access
// against the SQL Access exported beside them, and every query of every real file typed and with
// its SQL. SQL is compared with whitespace and letter case aside.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

// SQL without its whitespace, in lower case.
QString comparable(const QString &sql)
{
    QString out;
    for (const QChar c : sql) {
        if (!c.isSpace())
            out += c.toLower();
    }
    return out;
}

// A text file as Access or its add-ins write them: UTF-16 LE or UTF-8, with or without a BOM.
QString textOf(const QString &path)
{
    const QByteArray bytes = TestSupport::readFile(path);
    QString text;
    if (bytes.startsWith("\xFF\xFE"))
        text = QStringDecoder(QStringDecoder::Utf16LE)(bytes.mid(2));
    else
        text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// The databases made by Access with their code: real/code/<application>/<file>.
QStringList accessApplications()
{
    QStringList files;
    const QString root = TestSupport::fixturesDir() + QStringLiteral("/real/code");
    if (TestSupport::fixturesDir().isEmpty() || !QDir(root).exists())
        return files;
    for (const QFileInfo &folder : QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        for (const QFileInfo &file : QDir(folder.filePath())
                                         .entryInfoList({QStringLiteral("*.mdb"), QStringLiteral("*.accdb"),
                                                         QStringLiteral("*.accda"), QStringLiteral("*.accde")},
                                                        QDir::Files, QDir::Name))
            files << file.filePath();
    }
    return files;
}

// What Jackcess's own test expects of the saved queries of its queryTest files
// (src/test/java/com/healthmarketscience/jackcess/query/QueryTest.java, testReadQueries), with
// the type each one is.
struct Expected
{
    const char *type;
    const char *sql;
};
const QHash<QString, Expected> &jackcessExpects()
{
    static const QHash<QString, Expected> expected{
        {QStringLiteral("SelectQuery"),
         {"select", "SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
                    "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON (Table3.col1 = "
                    "Table2.col1) AND (Table3.col1 = Table2.col2)\n"
                    "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
                    "ORDER BY Table2.col1;"}},
        {QStringLiteral("DeleteQuery"),
         {"delete", "DELETE Table1.col1, Table1.col2, Table1.col3\nFROM Table1\nWHERE (((Table1.col1)>\"blah\"));"}},
        {QStringLiteral("AppendQuery"),
         {"append", "INSERT INTO Table3\nSELECT [Table1].[col2], [Table2].[col2], [Table2].[col3]\n"
                    "FROM Table3, Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1];"}},
        {QStringLiteral("UpdateQuery"),
         {"update", "PARAMETERS User Name Text;\nUPDATE Table1\n"
                    "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User Name]\n"
                    "WHERE ((([Table2].[col1]) Is Not Null));"}},
        {QStringLiteral("MakeTableQuery"),
         {"make-table",
          "SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 INTO Table4\n"
          "FROM (Table2 INNER JOIN Table1 ON Table2.col1 = Table1.col2) RIGHT JOIN Table3 ON Table1.col2 = "
          "Table3.col3\nGROUP BY Table2.col2, Table3.col2\n"
          "HAVING (((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"));"}},
        {QStringLiteral("CrosstabQuery"),
         {"crosstab",
          "TRANSFORM Count([Table2].[col2]) AS CountOfcol2\n"
          "SELECT Table2_1.col1, [Table2].[col3], Avg(Table2_1.col2) AS AvgOfcol2\n"
          "FROM (Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1]) INNER JOIN Table2 AS Table2_1 ON "
          "[Table2].[col1]=Table2_1.col3\n"
          "WHERE ((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And ((Avg(Table2_1.col2))>\"10\"))\n"
          "GROUP BY Table2_1.col1, [Table2].[col3]\nORDER BY [Table2].[col3]\nPIVOT [Table1].[col1];"}},
        {QStringLiteral("UnionQuery"),
         {"union", "Select Table1.col1, Table1.col2\nwhere Table1.col1 = \"foo\"\nUNION\n"
                   "Select Table2.col1, Table2.col2\nUNION ALL Select Table3.col1, Table3.col2\n"
                   "where Table3.col3 > \"blah\";"}},
        // The stored text ends in a NUL, which is no part of the SQL.
        {QStringLiteral("PassthroughQuery"), {"pass-through", "ALTER TABLE Table4 DROP COLUMN col5;"}},
        {QStringLiteral("DataDefinitionQuery"), {"data-definition", "CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"}},
    };
    return expected;
}

// Where Strudex writes what Access writes and Jackcess's test does not: a parameter's name that
// needs brackets gets them, and an append query names the fields it fills.
QString asAccessWritesIt(QString sql)
{
    sql.replace(QStringLiteral("PARAMETERS User Name Text;"), QStringLiteral("PARAMETERS [User Name] Text;"));
    sql.replace(QStringLiteral("INSERT INTO Table3\n"), QStringLiteral("INSERT INTO Table3 (col2, col2, col3)\n"));
    return sql;
}

} // namespace

class RealQueriesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;

    // The queries of a database's JSON document, by name.
    QHash<QString, QJsonObject> queriesOf(const QString &path, const QString &password = QString())
    {
        const QString json =
            QDir(work.path()).filePath(QFileInfo(path).completeBaseName() + QStringLiteral("_Structure.json"));
        QFile::remove(json); // two applications may share a file name
        QStringList arguments{QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--output"),
                              work.path()};
        if (!password.isEmpty())
            arguments << QStringLiteral("--password") << password;
        const TestSupport::ProgramRun run = TestSupport::runProgram(
            QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-export")), arguments << path, work.path());
        QHash<QString, QJsonObject> queries;
        if (run.exitCode != 0) {
            qWarning("%s: %s", qPrintable(path), run.err.constData());
            return queries;
        }
        const QJsonDocument document = QJsonDocument::fromJson(TestSupport::readFile(json));
        for (const QJsonValue &query : document.object()[QStringLiteral("queries")].toArray())
            queries.insert(query[QStringLiteral("name")].toString(), query.toObject());
        return queries;
    }

private slots:
    void initTestCase() { QVERIFY(work.isValid()); }

    void jackcessQueryTestFiles_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *version : {"V1997/queryTestV1997.mdb", "V2000/queryTestV2000.mdb", "V2003/queryTestV2003.mdb",
                                    "V2007/queryTestV2007.accdb", "V2010/queryTestV2010.accdb"})
            QTest::newRow(version) << QStringLiteral("jahlborn+jackcess/src/test/data/") + QLatin1String(version);
    }
    void jackcessQueryTestFiles()
    {
        QFETCH(QString, file);
        const QString path = TestSupport::realFile(file);
        if (path.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("the public query test databases are not available");
        const QHash<QString, QJsonObject> queries = queriesOf(path);
        QCOMPARE(queries.size(), jackcessExpects().size());
        for (auto it = jackcessExpects().begin(); it != jackcessExpects().end(); ++it) {
            const QJsonObject query = queries.value(it.key());
            QCOMPARE(query[QStringLiteral("type")].toString(), QLatin1String(it->type));
            QVERIFY2(query[QStringLiteral("note")].isNull(), qPrintable(query[QStringLiteral("note")].toString()));
            const QString sql = query[QStringLiteral("sql")].toString();
            QVERIFY2(comparable(sql) == comparable(asAccessWritesIt(QString::fromUtf8(it->sql))),
                     qPrintable(it.key() + QStringLiteral(":\n") + sql));
        }
    }

    // Each query Access exported as SQL (exported/queries/<name>.sql) is the query of that name.
    void accessOwnSql()
    {
        int compared = 0;
        for (const QString &database : accessApplications()) {
            const QDir exported(QFileInfo(database).dir().filePath(QStringLiteral("exported/queries")));
            const QFileInfoList sqlFiles = exported.entryInfoList({QStringLiteral("*.sql")}, QDir::Files);
            if (sqlFiles.isEmpty())
                continue;
            const QHash<QString, QJsonObject> queries = queriesOf(database);
            for (const QFileInfo &sqlFile : sqlFiles) {
                const QJsonObject query = queries.value(sqlFile.completeBaseName());
                QVERIFY2(!query.isEmpty(), qPrintable(sqlFile.filePath() + QStringLiteral(": no such query")));
                const QString sql = query[QStringLiteral("sql")].toString();
                QVERIFY2(comparable(sql) == comparable(textOf(sqlFile.filePath())),
                         qPrintable(sqlFile.filePath() + QStringLiteral(":\n") + sql));
                ++compared;
            }
        }
        if (compared == 0)
            STRUDEX_WITHOUT_FIXTURE("the databases made by Access (../shared/fixtures/real/code) are not here");
    }

    // Every query a user sees in every real database has its kind and its SQL, whole.
    void everyQueryTypedWithSql()
    {
        QList<TestSupport::RealFile> files = TestSupport::realFiles();
        for (const QString &application : accessApplications())
            files << TestSupport::RealFile{application, QString(), 0};
        if (files.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        QStringList wrong;
        int queries = 0;
        for (const TestSupport::RealFile &file : files) {
            const QHash<QString, QJsonObject> found = queriesOf(file.path, file.password);
            for (const QJsonObject &query : found) {
                const QString type = query[QStringLiteral("type")].toString();
                const QString note = query[QStringLiteral("note")].toString();
                if (type == QStringLiteral("unknown") || query[QStringLiteral("sql")].toString().isEmpty() ||
                    !note.isEmpty())
                    wrong << QFileInfo(file.path).fileName() + QStringLiteral(": ") +
                                 query[QStringLiteral("name")].toString() + QStringLiteral(" (") + type +
                                 QStringLiteral(") ") + note;
            }
            queries += found.size();
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
        // At least the nine queries of each of the five query test files.
        QVERIFY2(queries >= 45, qPrintable(QString::number(queries)));
    }
};

QTEST_GUILESS_MAIN(RealQueriesTest)
#include "tst_realqueries.moc"
