// Each document is written to its file in pieces as it is made: when the disk stops taking bytes
// midway, the exporter says which document could not be written and why, and an earlier file of
// that name is left as it was.

#include "core/report/StructureOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Structure;
using StructureOutput::Format;

namespace {

// Many pieces' worth of every document.
Document manyTables()
{
    Document d;
    d.database.path = QStringLiteral("/data/many.accdb");
    d.database.format = QStringLiteral("Access 2007");
    for (int t = 0; t < 400; ++t) {
        Table table;
        table.name = QStringLiteral("Table %1").arg(t);
        table.records = t;
        for (int f = 0; f < 25; ++f) {
            Field field;
            field.name = QStringLiteral("Field %1 of table %2").arg(f).arg(t);
            field.type = QStringLiteral("Text");
            field.accessType = QStringLiteral("Short Text");
            field.adoType = 202;
            field.size = 50;
            field.description = QStringLiteral("What field %1 holds").arg(f);
            table.fields << field;
        }
        d.tables << table;
    }
    return d;
}

// Files of this process may grow to the given size; bigger writes fail with "File too large"
// instead of ending it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_before);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_before;
        limit.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }
    bool isSet() const { return m_set; }

private:
    rlimit m_before{};
    void (*m_handler)(int) = nullptr;
    bool m_set = false;
};

} // namespace

class TestDocumentsOnFullDisk : public QObject
{
    Q_OBJECT

private slots:
    void aDiskThatFillsUpMidwayIsReported_data()
    {
        QTest::addColumn<Format>("format");
        QTest::newRow("json") << Format::Json;
        QTest::newRow("markdown") << Format::Markdown;
        QTest::newRow("html") << Format::Html;
    }
    void aDiskThatFillsUpMidwayIsReported()
    {
        QFETCH(Format, format);
        QTemporaryDir folder;
        const QString path = StructureOutput::fileName(format, folder.path(), QStringLiteral("/data/many.accdb"));
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier document") > 0);
        earlier.close();
        const Document document = manyTables();
        std::optional<QString> problem;
        {
            const FileSizeLimit limit(600 * 1024);
            if (!limit.isSet())
                QSKIP("The file size cannot be limited here.");
            problem = StructureOutput::write(document, format, path);
        }
        QVERIFY(problem);
        QVERIFY2(problem->startsWith(QStringLiteral("'%1' could not be written: ").arg(path)) &&
                     problem->contains(QStringLiteral("File too large")) &&
                     problem->endsWith(QStringLiteral("An earlier file of that name is left as it was.")),
                 qPrintable(*problem));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("earlier document"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});

        // With room enough, the same document is written whole.
        QCOMPARE(StructureOutput::write(document, format, path), std::nullopt);
        QVERIFY(QFileInfo(path).size() > 600 * 1024);
    }
};

QTEST_GUILESS_MAIN(TestDocumentsOnFullDisk)
#include "tst_documents_on_full_disk.moc"
