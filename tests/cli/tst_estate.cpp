#include "support/JsonSchema.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Run = TestSupport::ProgramRun;

// strudex-export --recursive and --index-only over trees made here from the fixtures, and over the
// public collection.
class EstateTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    QString tree;

    Run run(const QStringList &arguments) { return TestSupport::runExporter(arguments, work.path()); }

    void place(const QString &from, const QString &to, qint64 keep = -1)
    {
        QByteArray bytes = TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(from));
        if (keep >= 0)
            bytes.truncate(keep);
        QVERIFY(QDir().mkpath(QFileInfo(QDir(tree).filePath(to)).path()));
        QFile file(QDir(tree).filePath(to));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static QJsonObject readJson(const QString &path)
    {
        return QJsonDocument::fromJson(TestSupport::readFile(path)).object();
    }

    static QHash<QString, QJsonObject> byPath(const QJsonObject &index)
    {
        QHash<QString, QJsonObject> entries;
        for (const QJsonValue &entry : index.value(QStringLiteral("databases")).toArray())
            entries.insert(entry.toObject().value(QStringLiteral("path")).toString(), entry.toObject());
        return entries;
    }

    // The records of a database's tables as mdb-tools count them, one by one.
    static qint64 countedByMdbTools(const QString &database, const QJsonObject &document)
    {
        qint64 records = 0;
        for (const QJsonValue &table : document.value(QStringLiteral("tables")).toArray()) {
            const Run counted = TestSupport::runProgram(
                QStringLiteral("mdb-count"), {database, table.toObject().value(QStringLiteral("name")).toString()});
            if (counted.exitCode != 0)
                return -1;
            records += counted.out.trimmed().toLongLong();
        }
        return records;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        tree = work.filePath(QStringLiteral("tree"));
        // A front end beside the back end it links to, a copy of that back end elsewhere, a design
        // twice under two extensions, damaged and false files, a database behind a password, and
        // links out of the tree and round in a circle, which are not followed.
        place(QStringLiteral("linked.mdb"), QStringLiteral("front/linked.mdb"));
        place(QStringLiteral("sample.mdb"), QStringLiteral("front/sample.mdb"));
        place(QStringLiteral("sample.mdb"), QStringLiteral("copies/Sample.MDB"));
        place(QStringLiteral("types.mdb"), QStringLiteral("copies/types.mdb"));
        place(QStringLiteral("types.mdb"), QStringLiteral("copies/types.accdb"));
        place(QStringLiteral("sample.mdb"), QStringLiteral("copies/cut.mdb"), 50000);
        place(QStringLiteral("structure.accdb"), QStringLiteral("back/structure.accdb"));
        place(QStringLiteral("password.mdb"), QStringLiteral("back/password.mdb"));
        QFile text(QDir(tree).filePath(QStringLiteral("notes.accdb")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Not a database at all, only a renamed text file.\n");
        text.close();
        QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("elsewhere"))));
        QVERIFY(QFile::copy(QDir(TestSupport::dataDir()).filePath(QStringLiteral("empty.mdb")),
                            work.filePath(QStringLiteral("elsewhere/outside.mdb"))));
        QVERIFY(QFile::link(work.filePath(QStringLiteral("elsewhere")), QDir(tree).filePath(QStringLiteral("out"))));
        QVERIFY(QFile::link(QDir(tree).filePath(QStringLiteral("front")), QDir(tree).filePath(QStringLiteral("loop"))));
    }

    void everyFileIsInTheIndexWithItsFiguresOrItsError()
    {
        const QString out = work.filePath(QStringLiteral("out1"));
        const Run first = run({QStringLiteral("--recursive"), tree, QStringLiteral("--output"), out,
                               QStringLiteral("--jobs"), QStringLiteral("2")});
        QCOMPARE(first.exitCode, 1);
        const QJsonObject index = readJson(QDir(out).filePath(QStringLiteral("index.json")));
        const QStringList invalid =
            TestSupport::validateJson(index, TestSupport::projectSchema(QStringLiteral("estate-index.schema.json")));
        QVERIFY2(invalid.isEmpty(), qPrintable(invalid.join(QLatin1Char('\n'))));
        const auto entries = byPath(index);
        QStringList paths = entries.keys();
        paths.sort();
        QCOMPARE(paths, QStringList({"back/password.mdb", "back/structure.accdb", "copies/Sample.MDB", "copies/cut.mdb",
                                     "copies/types.accdb", "copies/types.mdb", "front/linked.mdb", "front/sample.mdb",
                                     "notes.accdb"}));
        const auto kind = [&](const QString &path) {
            return entries.value(path)
                .value(QStringLiteral("error"))
                .toObject()
                .value(QStringLiteral("kind"))
                .toString();
        };
        QCOMPARE(kind(QStringLiteral("back/password.mdb")), QStringLiteral("password"));
        QCOMPARE(kind(QStringLiteral("copies/cut.mdb")), QStringLiteral("damaged"));
        QCOMPARE(kind(QStringLiteral("notes.accdb")), QStringLiteral("notAccess"));
        QVERIFY(first.err.contains("back/password.mdb"));

        // The figures of every database read are those mdb-tools count on their own.
        for (const QString &path : {QStringLiteral("front/sample.mdb"), QStringLiteral("back/structure.accdb"),
                                    QStringLiteral("copies/types.accdb")}) {
            const QJsonObject entry = entries.value(path);
            QVERIFY2(entry.value(QStringLiteral("error")).isNull(), qPrintable(path));
            const QString document =
                QDir(out).filePath(entry.value(QStringLiteral("documents")).toArray()[0].toString());
            const qint64 counted = countedByMdbTools(QDir(tree).filePath(path), readJson(document));
            QCOMPARE(entry.value(QStringLiteral("records")).toInteger(), counted);
            QVERIFY(QFile::exists(document));
        }
        QCOMPARE(entries.value(QStringLiteral("front/sample.mdb")).value(QStringLiteral("tables")).toInt(), 5);
        QCOMPARE(entries.value(QStringLiteral("back/structure.accdb")).value(QStringLiteral("relationships")).toInt(),
                 4);
        // Two databases of one folder with one name keep apart.
        QVERIFY(QFile::exists(QDir(out).filePath(QStringLiteral("copies/types.mdb_Structure.json"))));
        QVERIFY(QFile::exists(QDir(out).filePath(QStringLiteral("copies/types.accdb_Structure.json"))));

        // The front end's linked tables lead to the back end beside it.
        const QJsonArray links = index.value(QStringLiteral("links")).toArray();
        QJsonObject link;
        for (const QJsonValue &value : links) {
            if (value.toObject().value(QStringLiteral("from")).toString() == QStringLiteral("front/linked.mdb"))
                link = value.toObject();
        }
        QCOMPARE(link.value(QStringLiteral("to")).toString(), QStringLiteral("front/sample.mdb"));
        QCOMPARE(link.value(QStringLiteral("tables")).toArray().size(), 2);
        // The same design, whatever the name, the extension or the folder.
        const QJsonObject summary = index.value(QStringLiteral("summary")).toObject();
        QStringList groups;
        for (const QJsonValue &group : summary.value(QStringLiteral("identicalDesigns")).toArray()) {
            QStringList members;
            for (const QJsonValue &member : group.toObject().value(QStringLiteral("paths")).toArray())
                members << member.toString();
            groups << members.join(QLatin1Char(' '));
        }
        QVERIFY2(groups.contains(QStringLiteral("copies/Sample.MDB front/sample.mdb")),
                 qPrintable(groups.join(QLatin1Char('|'))));
        QVERIFY(groups.contains(QStringLiteral("copies/types.accdb copies/types.mdb")));
        QCOMPARE(summary.value(QStringLiteral("errors")).toInt(), 3);
        QCOMPARE(summary.value(QStringLiteral("byError")).toObject().value(QStringLiteral("password")).toInt(), 1);

        // The page stands alone.
        const QString page = QString::fromUtf8(TestSupport::readFile(QDir(out).filePath(QStringLiteral("index.html"))));
        QVERIFY(page.contains(QStringLiteral("front/linked.mdb")));
        for (const QString &reference : TestSupport::fetchedReferences(page))
            QVERIFY2(!reference.contains(QStringLiteral("//")), qPrintable(reference));

        // The index is made from the documents alone: rebuilt from them, it is the same, and one
        // worker makes the same documents as two.
        const QByteArray written = TestSupport::readFile(QDir(out).filePath(QStringLiteral("index.json")));
        QCOMPARE(run({QStringLiteral("--index-only"), out}).exitCode, 1);
        QCOMPARE(TestSupport::readFile(QDir(out).filePath(QStringLiteral("index.json"))), written);
        const QString single = work.filePath(QStringLiteral("out-single"));
        QCOMPARE(run({QStringLiteral("--recursive"), tree, QStringLiteral("--output"), single, QStringLiteral("--jobs"),
                      QStringLiteral("1")})
                     .exitCode,
                 1);
        QCOMPARE(TestSupport::readFile(QDir(single).filePath(QStringLiteral("index.json"))),
                 QByteArray(written).replace(out.toUtf8(), single.toUtf8()));
    }

    // The password file names each database's password; the others stay errors, never a stop.
    void passwordsComeFromTheirFile()
    {
        const QString out = work.filePath(QStringLiteral("out2"));
        QFile passwords(work.filePath(QStringLiteral("passwords")));
        QVERIFY(passwords.open(QIODevice::WriteOnly));
        passwords.write("back/password.mdb\tPa;ss=w0rd\n");
        passwords.close();
        const Run result = run({QStringLiteral("--recursive"), tree, QStringLiteral("--output"), out,
                                QStringLiteral("--password-file"), passwords.fileName(), QStringLiteral("--format"),
                                QStringLiteral("html,text")});
        QCOMPARE(result.exitCode, 1);
        const auto entries = byPath(readJson(QDir(out).filePath(QStringLiteral("index.json"))));
        const QJsonObject entry = entries.value(QStringLiteral("back/password.mdb"));
        QVERIFY(entry.value(QStringLiteral("error")).isNull());
        QCOMPARE(entry.value(QStringLiteral("encrypted")).toBool(), true);
        QCOMPARE(entry.value(QStringLiteral("documents")).toArray().size(), 3);
        QVERIFY(QFile::exists(QDir(out).filePath(QStringLiteral("back/password_Structure.html"))));
        QVERIFY(QFile::exists(QDir(out).filePath(QStringLiteral("back/password_Structure.txt"))));
        // The report of each database is the one its own export writes, which names it as given.
        QCOMPARE(TestSupport::readFile(QDir(out).filePath(QStringLiteral("front/sample_Structure.txt")))
                     .replace(QDir(tree).filePath(QStringLiteral("front/sample.mdb")).toUtf8(), "sample.mdb"),
                 TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(QStringLiteral("sample.expected.txt"))));
        QVERIFY(!result.err.contains("Pa;ss"));
    }

    // A re-run leaves the databases whose documents are up to date, and sees a change of content
    // that kept the size and the time.
    void rerunsSkipWhatHasNotChanged()
    {
        const QString out = work.filePath(QStringLiteral("out3"));
        const QStringList arguments{QStringLiteral("--recursive"), tree, QStringLiteral("--output"), out};
        QCOMPARE(run(arguments).exitCode, 1);
        Run again = run(arguments);
        QVERIFY2(again.err.contains("(6 unchanged)"), again.err.constData());

        const QString copy = QDir(tree).filePath(QStringLiteral("copies/Sample.MDB"));
        const QDateTime time = QFileInfo(copy).lastModified();
        QByteArray bytes = TestSupport::readFile(copy);
        bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 0x5A);
        QFile file(copy);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        file.close();
        again = run(arguments);
        QVERIFY2(again.err.contains("(5 unchanged)"), again.err.constData());
        again = run(arguments + QStringList{QStringLiteral("--force")});
        QVERIFY2(again.err.contains("(0 unchanged)"), again.err.constData());
    }

    void usageErrors()
    {
        const QString out = work.filePath(QStringLiteral("out4"));
        QCOMPARE(run({QStringLiteral("--recursive"), tree}).exitCode, 2);
        QCOMPARE(run({QStringLiteral("--recursive"), tree, QStringLiteral("--output"), out, QStringLiteral("--jobs"),
                      QStringLiteral("0")})
                     .exitCode,
                 2);
        QCOMPARE(run({QStringLiteral("--recursive"), tree, QStringLiteral("--output"), out, QStringLiteral("--table"),
                      QStringLiteral("Customers")})
                     .exitCode,
                 2);
        QCOMPARE(run({QStringLiteral("--recursive"), work.filePath(QStringLiteral("nowhere")),
                      QStringLiteral("--output"), out})
                     .exitCode,
                 2);
        QCOMPARE(
            run({QStringLiteral("--index-only"), out, QStringLiteral("--format"), QStringLiteral("html")}).exitCode, 2);
        QCOMPARE(run({QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("sample.mdb")}).exitCode, 2);
        QVERIFY(!QFile::exists(out));
    }

    // Documents made one file at a time, as a batch system would, index like the tree's own.
    void batchDocumentsIndexTheSame()
    {
        const QString out = work.filePath(QStringLiteral("out5"));
        for (const QString &path :
             {QStringLiteral("front/linked.mdb"), QStringLiteral("front/sample.mdb"), QStringLiteral("notes.accdb")}) {
            const QString folder = QDir(out).filePath(QFileInfo(path).path());
            QVERIFY(QDir().mkpath(folder));
            run({QStringLiteral("--for-index"), QStringLiteral("--format"), QStringLiteral("json"),
                 QStringLiteral("--output"), folder, QDir(tree).filePath(path)});
        }
        QCOMPARE(run({QStringLiteral("--index-only"), out}).exitCode, 1);
        const QJsonObject index = readJson(QDir(out).filePath(QStringLiteral("index.json")));
        QCOMPARE(index.value(QStringLiteral("root")).toString(), tree);
        const auto entries = byPath(index);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.value(QStringLiteral("notes.accdb"))
                     .value(QStringLiteral("error"))
                     .toObject()
                     .value(QStringLiteral("kind"))
                     .toString(),
                 QStringLiteral("notAccess"));
        QCOMPARE(index.value(QStringLiteral("links")).toArray()[0].toObject().value(QStringLiteral("to")).toString(),
                 QStringLiteral("front/sample.mdb"));
    }

    // The public collection: every Access file in the index, read or with its error, and the
    // index rebuilt the same from the documents.
    void publicCollection()
    {
        const QString root = TestSupport::fixturesDir() + QStringLiteral("/real");
        if (TestSupport::fixturesDir().isEmpty() || !QFileInfo(root).isDir()) {
            if (TestSupport::fixturesRequired())
                QFAIL("the public collection (fixtures/real) is missing");
            QSKIP("the public collection (fixtures/real) is absent");
        }
        const QString out = work.filePath(QStringLiteral("out-real"));
        QCOMPARE(run({QStringLiteral("--recursive"), root, QStringLiteral("--output"), out}).exitCode, 1);
        int files = 0;
        QDirIterator found(root, QDir::Files, QDirIterator::Subdirectories);
        while (found.hasNext()) {
            found.next();
            files += QRegularExpression(QStringLiteral("\\.(mdb|accdb|accda|mda|mde|accde)$"),
                                        QRegularExpression::CaseInsensitiveOption)
                         .match(found.fileName())
                         .hasMatch();
        }
        const QByteArray written = TestSupport::readFile(QDir(out).filePath(QStringLiteral("index.json")));
        const QJsonObject index = QJsonDocument::fromJson(written).object();
        const QStringList invalid =
            TestSupport::validateJson(index, TestSupport::projectSchema(QStringLiteral("estate-index.schema.json")));
        QVERIFY2(invalid.isEmpty(), qPrintable(invalid.join(QLatin1Char('\n'))));
        QCOMPARE(index.value(QStringLiteral("databases")).toArray().size(), files);
        for (const QJsonValue &value : index.value(QStringLiteral("databases")).toArray()) {
            const QJsonObject entry = value.toObject();
            QVERIFY2(entry.value(QStringLiteral("error")).isObject() ||
                         entry.value(QStringLiteral("tables")).isDouble(),
                     qPrintable(entry.value(QStringLiteral("path")).toString()));
        }
        // A link written as a path on another machine leads to the one file of the tree with its
        // name; a back end that is not in the tree is named as written.
        QHash<QString, QJsonValue> linked;
        for (const QJsonValue &value : index.value(QStringLiteral("links")).toArray())
            linked.insert(value.toObject().value(QStringLiteral("target")).toString(),
                          value.toObject().value(QStringLiteral("to")));
        QCOMPARE(linked.value(QStringLiteral("Z:\\jackcess_test\\linkeeTest.accdb")).toString(),
                 QStringLiteral("jahlborn+jackcess/src/test/data/linkeeTest.accdb"));
        const QString missing = QStringLiteral("C:\\ToastMastersDB\\data\\TM-DB-Data.accdb");
        QVERIFY(linked.contains(missing) && linked.value(missing).isNull());
        QCOMPARE(run({QStringLiteral("--index-only"), out}).exitCode, 1);
        QCOMPARE(TestSupport::readFile(QDir(out).filePath(QStringLiteral("index.json"))), written);
    }
};

QTEST_GUILESS_MAIN(EstateTest)
#include "tst_estate.moc"
