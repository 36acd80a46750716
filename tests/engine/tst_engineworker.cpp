// The database worker as the program uses it: the real strudex-engine binary, real database
// files, the shared protocol code. Damaged files are made here from good ones.

#include "EngineClient.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace EngineProtocol;
using Reply = EngineClient::Reply;

namespace {

QString dataFile(const QString &name)
{
    return QDir(TestSupport::dataDir()).filePath(name);
}

using TestSupport::realFile;

QStringList namesOfType(const std::vector<TableRow> &rows, const char *type)
{
    QStringList names;
    for (const TableRow &row : rows)
        if (row.type == type)
            names << QString::fromStdString(row.name);
    return names;
}

// "name type size" per field, easy to compare and to read in a failure.
QStringList describe(const FieldsResult &result)
{
    QStringList lines;
    for (const FieldInfo &field : result.fields)
        lines << QStringLiteral("%1 %2 %3")
                     .arg(QString::fromStdString(field.name))
                     .arg(field.adoType)
                     .arg(field.definedSize);
    return lines;
}

// "name: description" per column ("name -" without one).
QStringList describe(const std::vector<ColumnDescription> &columns)
{
    QStringList lines;
    for (const ColumnDescription &column : columns)
        lines << QString::fromStdString(column.column) +
                     (column.present ? ": " + QString::fromStdString(column.value) : QStringLiteral(" -"));
    return lines;
}

// Opens a file in a fresh worker and expects an error; the worker must still answer afterwards.
EngineError openError(const QString &path, const QString &password = {})
{
    EngineClient engine;
    const Reply reply = engine.open(path, password);
    if (reply.kind != Reply::Error)
        return {-1, "no error, reply kind " + std::to_string(reply.kind)};
    if (engine.request(encodeHello()).kind != Reply::Ok)
        return {-2, "the worker stopped answering"};
    return reply.error;
}

const QString kMemo = QStringLiteral("203 536870910");
const QString kOle = QStringLiteral("205 1073741823");

} // namespace

class TestEngineWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void helloVersionAndArguments();
    void sampleDatabase();
    void fieldTypes_data();
    void fieldTypes();
    void layoutNamesAndDescriptions();
    void otherTableTypes();
    void passwords_data();
    void passwords();
    void encryptedFiles();
    void filesThatAreNotDatabases_data();
    void filesThatAreNotDatabases();
    void damagedPropertyBlocks();
    void wrongNamesAndOrder();
    void malformedRequests();
    void designOrderAndHiddenColumns();
    void countsLiveRows();
    void incompleteCatalogues_data();
    void incompleteCatalogues();
    void damagedCopies_data();
    void damagedCopies();
    void heartbeatsWhileCounting();
    void forkServerServesEachDatabaseInAChild();

private:
    QTemporaryDir m_temp;
};

void TestEngineWorker::initTestCase()
{
    QVERIFY2(QFile::exists(EngineClient::program()), qPrintable(EngineClient::program()));
    QVERIFY(m_temp.isValid());
}

void TestEngineWorker::helloVersionAndArguments()
{
    EngineClient engine;
    QCOMPARE(EngineClient::decoded(engine.request(encodeHello()), decodeHelloResult), std::optional(kProtocolVersion));

    QProcess version;
    version.start(EngineClient::program(), {"--version"});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitCode(), 0);
    QVERIFY(version.readAllStandardOutput().startsWith("strudex-engine "));

    for (const QStringList &bad : {QStringList{"--memory-limit-mb", "lots"}, {"--memory-limit-mb"}, {"--frobnicate"}}) {
        QProcess process;
        process.start(EngineClient::program(), bad);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
    }
    EngineClient limited({"--memory-limit-mb", "512"});
    QCOMPARE(limited.open(dataFile("sample.mdb")).kind, Reply::Ok);
    QCOMPARE(limited.close(), 0);
}

void TestEngineWorker::sampleDatabase()
{
    EngineClient engine;
    QCOMPARE(engine.open(dataFile("sample.mdb")).kind, Reply::Ok);
    const auto rows = engine.tables();
    QVERIFY(rows);
    // Catalogue order; the parent sorts.
    QCOMPARE(namesOfType(*rows, "TABLE"),
             (QStringList{"Customers", "Products", "Orders", "Order Details", "Shippers"}));
    QVERIFY(namesOfType(*rows, "SYSTEM TABLE").contains("MSysObjects"));
    QVERIFY(namesOfType(*rows, "ACCESS TABLE").contains("MSysAccessObjects"));

    const auto customers = engine.fields("Customers");
    QVERIFY(customers);
    QCOMPARE(describe(*customers), (QStringList{"CustomerID 3 4", "CompanyName 202 40", "ContactName 202 30",
                                                "Country 202 15", "Phone 202 24", "CreditLimit 6 8"}));
    QCOMPARE(customers->recordCount, 91);
    const std::pair<const char *, qint64> counts[] = {
        {"Products", 77}, {"Orders", 830}, {"Order Details", 2155}, {"Shippers", 3}, {"Customers", 91}};
    for (const auto &[table, count] : counts)
        QCOMPARE(engine.fields(table)->recordCount, count); // the last one from the worker's cache

    const auto company = engine.description("Customers", "CompanyName");
    QVERIFY(company && company->present);
    QCOMPARE(company->value, std::string("Name of the company"));
    const auto country = engine.description("Customers", "Country");
    QVERIFY(country && !country->present);
    QCOMPARE(engine.description("Shippers", "Website")->value, std::string("Home page"));
    // All of a table's descriptions at once, in the order of its fields.
    const auto columns = engine.columnDescriptions("Customers");
    QVERIFY(columns);
    QCOMPARE(describe(*columns),
             (QStringList{"CustomerID: Customer number", "CompanyName: Name of the company",
                          "ContactName: Person to contact", "Country -", "Phone: Phone number with country code",
                          "CreditLimit: Largest open balance allowed"}));
    QCOMPARE(engine.close(), 0);
}

void TestEngineWorker::fieldTypes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<qint64>("records");

    const QStringList common = {"Flag 11 2",     "Tiny 17 1",   "Small 2 2",        "Whole 3 4",       "Counter 3 4",
                                "Price 6 8",     "Ratio 4 4",   "Measure 5 8",      "Stamp 7 8",       "Raw 204 16",
                                "Letter 202 1",  "Name 202 50", "LongText 202 255", "Picture " + kOle, "Notes " + kMemo,
                                "Link " + kMemo, "Ident 72 16", "Amount 131 19"};
    QTest::newRow("Access 2003") << "types.mdb"
                                 << "AllTypes" << common << qint64(25);
    // Large Number, Date/Time Extended, and calculated fields reporting their result type.
    QTest::newRow("Access 2019") << "types2019.accdb"
                                 << "AllTypes"
                                 << common + QStringList{"Huge 20 8", "Precise 135 16", "Doubled 5 8", "Label 202 100"}
                                 << qint64(25);
}

void TestEngineWorker::fieldTypes()
{
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QStringList, expected);
    QFETCH(qint64, records);
    EngineClient engine;
    QCOMPARE(engine.open(dataFile(file)).kind, Reply::Ok);
    const auto fields = engine.fields(table);
    QVERIFY(fields);
    QCOMPARE(describe(*fields), expected);
    QCOMPARE(fields->recordCount, records);
}

void TestEngineWorker::layoutNamesAndDescriptions()
{
    EngineClient engine;
    QCOMPARE(engine.open(dataFile("layout.mdb")).kind, Reply::Ok);
    QStringList tables = namesOfType(*engine.tables(), "TABLE");
    tables.sort();
    QCOMPARE(tables, (QStringList{"Empty Table", "Names", "Zebra", "aardvark", "Клиенты", "顧客 Café"}));
    QCOMPARE(describe(*engine.fields("Names")),
             (QStringList{"TwentyFourCharacterName_ 202 50", "TwentyFiveCharacterName_X 202 50",
                          "ContactPersonResponsibleForOrders " + kMemo, "A 17 1", "Field With Blanks 202 255",
                          "NoDescription 3 4", "Multi 202 10"}));
    QCOMPARE(describe(*engine.fields("Клиенты")), (QStringList{"Имя 202 60", "Город 202 30"}));
    QCOMPARE(engine.fields("Клиенты")->recordCount, 5);
    QCOMPARE(engine.fields("Empty Table")->recordCount, 0);
    QCOMPARE(engine.description("顧客 Café", "名前")->value, std::string("顧客の名前 — café"));
    const QString multi = QString::fromStdString(engine.description("Names", "Multi")->value);
    QVERIFY2(multi.startsWith("first line") && multi.contains('\n') && multi.endsWith("second line"),
             qPrintable(multi));
    // The two ways of asking give the same answers, before and after the table's fields are read.
    for (const QString &table : tables) {
        const auto columns = engine.columnDescriptions(table);
        QVERIFY(columns);
        const auto fields = engine.fields(table);
        QCOMPARE(columns->size(), fields->fields.size());
        for (std::size_t i = 0; i < columns->size(); ++i) {
            const ColumnDescription &column = (*columns)[i];
            QCOMPARE(column.column, fields->fields[i].name);
            const auto single = engine.description(table, QString::fromStdString(column.column));
            QVERIFY(single);
            QCOMPARE(single->present, column.present);
            QCOMPARE(single->value, column.value);
        }
    }
}

void TestEngineWorker::otherTableTypes()
{
    {
        EngineClient engine;
        QCOMPARE(engine.open(dataFile("linked.mdb")).kind, Reply::Ok);
        const auto rows = engine.tables();
        QVERIFY(namesOfType(*rows, "TABLE").isEmpty());
        QCOMPARE(namesOfType(*rows, "LINK"), (QStringList{"Linked Customers", "Linked Orders"}));
        Reply reply;
        QVERIFY(!engine.fields("Linked Customers", &reply)); // links point into another file
        QCOMPARE(reply.error.number, 3078);
        QVERIFY(!engine.columnDescriptions("Linked Customers", &reply));
        QCOMPARE(reply.error.number, 3265);
    }
    {
        EngineClient engine;
        QCOMPARE(engine.open(dataFile("empty.mdb")).kind, Reply::Ok);
        const auto rows = engine.tables();
        QVERIFY(rows && !rows->empty() && namesOfType(*rows, "TABLE").isEmpty());
    }
    {
        EngineClient engine;
        QCOMPARE(engine.open(dataFile("many.accdb")).kind, Reply::Ok);
        QCOMPARE(namesOfType(*engine.tables(), "TABLE").size(), 300);
        QCOMPARE(engine.fields("Table0299")->fields.size(), std::size_t(20));
    }
    const QString odbc = realFile("jahlborn+jackcess/src/test/data/V2007/odbcLinkerTestV2007.accdb");
    const QString queries = realFile("jahlborn+jackcess/src/test/data/V2003/queryTestV2003.mdb");
    if (odbc.isEmpty() || queries.isEmpty())
        STRUDEX_WITHOUT_FIXTURE("the real-world files with links and queries are not available");
    {
        EngineClient engine;
        QCOMPARE(engine.open(odbc).kind, Reply::Ok);
        const auto rows = engine.tables();
        QCOMPARE(namesOfType(*rows, "PASS-THROUGH"), QStringList{"Ordrar"});
        QCOMPARE(namesOfType(*rows, "TABLE"), QStringList{"Lokal"}); // hidden, still a table
    }
    {
        // Only the select query is a view: action, crosstab, union, pass-through and DDL queries
        // are procedures.
        EngineClient engine;
        QCOMPARE(engine.open(queries).kind, Reply::Ok);
        QCOMPARE(namesOfType(*engine.tables(), "VIEW"), QStringList{"SelectQuery"});
        Reply reply;
        QVERIFY(!engine.fields("SelectQuery", &reply));
        QCOMPARE(reply.error.number, 3078);
        QVERIFY(!engine.columnDescriptions("SelectQuery", &reply));
        QCOMPARE(reply.error.number, 3265);
    }
}

void TestEngineWorker::passwords_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("right, with ; and =") << dataFile("password.mdb") << "Pa;ss=w0rd" << true;
    QTest::newRow("wrong case") << dataFile("password.mdb") << "pa;ss=w0rd" << false;
    QTest::newRow("cut at ;") << dataFile("password.mdb") << "Pa" << false;
    QTest::newRow("empty") << dataFile("password.mdb") << "" << false;
    QTest::newRow("plain") << dataFile("password-plain.mdb") << "secret" << true;
    QTest::newRow("plain, empty") << dataFile("password-plain.mdb") << "" << false;
    QTest::newRow("none needed, any given") << dataFile("sample.mdb") << "whatever" << true;
    const QString real = realFile("andipaetzold+mdb-reader/test/password/data/V2003_with-password.mdb");
    if (!real.isEmpty()) {
        QTest::newRow("real Access 2003") << real << "password" << true;
        QTest::newRow("real Access 2003, wrong") << real << "Password" << false;
    }
}

void TestEngineWorker::passwords()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    EngineClient engine;
    const Reply reply = engine.open(file, password);
    if (accepted) {
        QCOMPARE(reply.kind, Reply::Ok);
        QVERIFY(!namesOfType(*engine.tables(), "TABLE").isEmpty());
        return;
    }
    QCOMPARE(reply.kind, Reply::Error);
    QCOMPARE(reply.error.number, 3031);
    QCOMPARE(reply.error.description, std::string("Not a valid password."));
    QCOMPARE(engine.request(encodeTables()).error.number, 3704); // nothing is open
}

void TestEngineWorker::encryptedFiles()
{
    const QString agile = realFile("andipaetzold+mdb-reader/test/password/data/V2010_with-password.accdb");
    const QString oldRc4 = realFile("jahlborn+jackcessencrypt/src/test/data/db2007-oldenc.accdb");
    const QString jetEncoded = realFile("jahlborn+jackcessencrypt/src/test/data/db97-enc.mdb");
    if (agile.isEmpty() || oldRc4.isEmpty() || jetEncoded.isEmpty())
        STRUDEX_WITHOUT_FIXTURE("the real-world encrypted files are not available");
    // Access 2007+ encryption: read with the right password, refused like Jet without it.
    for (const auto &[path, password] :
         {std::pair{agile, QStringLiteral("password")}, std::pair{oldRc4, QStringLiteral("Test123")}}) {
        EngineClient engine;
        QCOMPARE(engine.open(path, password).kind, Reply::Ok);
        QCOMPARE(namesOfType(*engine.tables(), "TABLE"), QStringList{"Table1"});
        QVERIFY(engine.fields("Table1")->recordCount > 0);
        for (const QString &wrong : {QString(), password.toUpper()}) {
            const EngineError error = openError(path, wrong);
            QCOMPARE(error.number, 3031);
            QCOMPARE(error.description, std::string("Not a valid password."));
        }
    }
    // Jet's own page encoding needs no password and is read (here an Access 97 file), rows too.
    EngineClient engine;
    QCOMPARE(engine.open(jetEncoded).kind, Reply::Ok);
    const auto fields = engine.fields("Table1");
    QCOMPARE(describe(*fields), (QStringList{"ID 3 4", "col1 202 50", "col2 3 4"}));
    QCOMPARE(fields->recordCount, 2);
}

void TestEngineWorker::filesThatAreNotDatabases_data()
{
    QTest::addColumn<QByteArray>("content");
    QFile file(dataFile("sample.mdb"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray sample = file.readAll();
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("Name;Town\r\nAda;London\r\n").repeated(400);
    QTest::newRow("shorter than a page") << sample.left(3000);
    QByteArray broken = sample;
    broken[4] = 'X';
    QTest::newRow("bad signature") << broken;
    broken = sample;
    broken[0x14] = 7;
    QTest::newRow("unknown version") << broken;
    broken = sample;
    std::fill(broken.begin() + 2 * 4096, broken.begin() + 3 * 4096, '\0');
    QTest::newRow("MSysObjects wiped") << broken;

    // A file on which libmdb 1.0.0 itself crashes: MSysObjects' usage map pointed at a row of length
    // zero (a NULL dereference in mdb_read_catalog). The worker must see it coming and stay alive.
    broken = sample;
    const auto u16 = [&](qsizetype at) { return quint8(broken[at]) | quint8(broken[at + 1]) << 8; };
    const int mapPage = u16(2 * 4096 + 55 + 1); // page and row of the map, at 55 in the definition
    broken[2 * 4096 + 55] = 1;                  // now row 1 of that page
    const qsizetype rows = mapPage * 4096 + 0x0C;
    broken[rows + 4] = broken[rows + 2]; // row 1 starts where row 0 does
    broken[rows + 5] = broken[rows + 3];
    QTest::newRow("MSysObjects without usage map") << broken;

    // Not one row of the catalogue can be read: its first data page (17) lies beyond the end.
    QFile structure(dataFile("structure.accdb"));
    QVERIFY(structure.open(QIODevice::ReadOnly));
    QTest::newRow("no catalogue page") << structure.readAll().left(17 * 4096);
}

void TestEngineWorker::filesThatAreNotDatabases()
{
    QFETCH(QByteArray, content);
    const QString path = m_temp.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".mdb");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const EngineError error = openError(path);
    QCOMPARE(error.number, 3343);
    QCOMPARE(QString::fromStdString(error.description), "Unrecognized database format '" + path + "'.");

    if (QByteArray(QTest::currentDataTag()) == "empty") { // once: things that are not files
        const QString fifo = m_temp.filePath("pipe.mdb");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(openError(fifo).number, 3343); // and no hang waiting for a writer
        QCOMPARE(openError(m_temp.path()).number, 3343);
        QCOMPARE(openError("/dev/null").number, 3343);
        const QString missing = m_temp.filePath("no such file.mdb");
        const EngineError notFound = openError(missing);
        QCOMPARE(notFound.number, 3024);
        QCOMPARE(QString::fromStdString(notFound.description), "Could not find file '" + missing + "'.");
        // An empty MDBPATH entry makes libmdb search for ever; the worker ignores MDBPATH.
        qputenv("MDBPATH", "/nonexistent::/also-not");
        const int withPath = openError("relative-missing.mdb").number;
        qunsetenv("MDBPATH");
        QCOMPARE(withPath, 3024);
    }
}

// A property block whose first record has length zero: libmdb's parser loops on it for ever. The
// worker reads an object's properties only when they are asked for, so the block harms nothing
// else; asking for them gives "unrecognized format", and the worker goes on.
void TestEngineWorker::damagedPropertyBlocks()
{
    QFile file(dataFile("sample.mdb"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray sample = file.readAll();
    const QByteArray signature("MR2\0", 4);
    const auto broken = [&](qsizetype block, const QString &name) {
        QByteArray bytes = sample;
        std::fill(bytes.begin() + block + 4, bytes.begin() + block + 10, '\0');
        const QString path = m_temp.filePath(name);
        QFile copy(path);
        if (copy.open(QIODevice::WriteOnly))
            copy.write(bytes);
        return path;
    };

    // The first block belongs to no table.
    {
        EngineClient engine;
        QCOMPARE(engine.open(broken(sample.indexOf(signature), "first-block.mdb")).kind, Reply::Ok);
        for (const QString &table : namesOfType(*engine.tables(), "TABLE"))
            QVERIFY2(engine.columnDescriptions(table), qPrintable(table));
        QCOMPARE(engine.close(), 0);
    }
    // The block of Customers: found by the text of one of its descriptions.
    const QString company = QStringLiteral("Name of the company");
    const QByteArray text(reinterpret_cast<const char *>(company.utf16()), company.size() * 2);
    const qsizetype customers = sample.lastIndexOf(signature, sample.indexOf(text));
    QVERIFY(customers > 0);
    EngineClient engine;
    QCOMPARE(engine.open(broken(customers, "customers-block.mdb")).kind, Reply::Ok);
    QCOMPARE(engine.fields("Customers")->recordCount, 91); // fields need no properties
    Reply reply;
    QVERIFY(!engine.columnDescriptions("Customers", &reply));
    QCOMPARE(reply.error.number, 3343);
    QVERIFY(!engine.description("Customers", "CompanyName", &reply));
    QCOMPARE(reply.error.number, 3343);
    QCOMPARE(engine.description("Shippers", "Website")->value, std::string("Home page"));
    QCOMPARE(engine.close(), 0);
}

void TestEngineWorker::wrongNamesAndOrder()
{
    EngineClient engine;
    QCOMPARE(engine.request(encodeTables()).error.number, 3704); // before Open
    QCOMPARE(engine.open(dataFile("sample.mdb")).kind, Reply::Ok);
    QCOMPARE(engine.open(dataFile("types.mdb")).error.number, 3705); // one database per worker

    Reply reply;
    for (const QString &name : {QStringLiteral("Suppliers"), QStringLiteral("customers")}) { // names match exactly
        QVERIFY(!engine.fields(name, &reply));
        QCOMPARE(reply.error.number, 3078);
        QCOMPARE(QString::fromStdString(reply.error.description),
                 "The Microsoft Jet database engine cannot find the input table or query '" + name +
                     "'.  Make sure it exists and that its name is spelled correctly.");
    }
    const std::string notFound =
        "Item cannot be found in the collection corresponding to the requested name or ordinal.";
    for (const auto &[table, column] :
         {std::pair{"Customers", "Fax"}, {"Customers", "companyname"}, {"Suppliers", "CompanyName"}}) {
        QVERIFY(!engine.description(table, column, &reply));
        QCOMPARE(reply.error.number, 3265);
        QCOMPARE(reply.error.description, notFound);
    }
    for (const QString &name : {QStringLiteral("Suppliers"), QStringLiteral("customers"), QStringLiteral("MSysDb")}) {
        QVERIFY(!engine.columnDescriptions(name, &reply));
        QCOMPARE(reply.error.number, 3265);
        QCOMPARE(reply.error.description, notFound);
    }
    QCOMPARE(engine.fields("Customers")->recordCount, 91); // still serving
}

void TestEngineWorker::malformedRequests()
{
    EngineClient engine;
    Bytes trailing = encodeFields("Customers");
    trailing.push_back(0);
    for (const Bytes &payload :
         {Bytes{}, Bytes{0x63}, Bytes{0x03, 0x05, 0, 0, 0, 'A'}, Bytes{0x03, 0xFF, 0xFF, 0xFF, 0xFF},
          Bytes{0x03, 0x02, 0, 0, 0, 0xC0, 0x80}, trailing}) {
        const Reply reply = engine.request(payload);
        QCOMPARE(reply.kind, Reply::Error);
        QCOMPARE(reply.error.number, 0);
    }
    QCOMPARE(engine.open(dataFile("sample.mdb")).kind, Reply::Ok); // and goes on
    QCOMPARE(engine.close(), 0);

    // A frame over the limit loses the frame boundaries: an error, then the worker ends.
    EngineClient broken;
    QCOMPARE(broken.requestRaw(QByteArray("\xFF\xFF\xFF\xFF\x06", 5)).kind, Reply::Error);
    QCOMPARE(broken.finish(), 2);
    // Half a frame, then the parent goes away: a clean end.
    EngineClient left;
    left.process().write(QByteArray("\x10\x00\x00\x00\x03", 5));
    QCOMPARE(left.finish(), 0);
}

void TestEngineWorker::designOrderAndHiddenColumns()
{
    const QString deleted = realFile("andipaetzold+mdb-reader/test/data/V2016/withdeletedcol.accdb");
    const QString inserted = realFile("andipaetzold+mdb-reader/test/data/V2016/withinsertedcol.accdb");
    const QString complex = realFile("jahlborn+jackcess/src/test/data/V2010/complexDataTestV2010.accdb");
    const QString calculated = realFile("jahlborn+jackcess/src/test/data/V2010/calcFieldTestV2010.accdb");
    if (deleted.isEmpty() || inserted.isEmpty() || complex.isEmpty() || calculated.isEmpty())
        STRUDEX_WITHOUT_FIXTURE("the real-world column files are not available");
    const auto fieldsOf = [](const QString &path, const QString &table) {
        EngineClient engine;
        engine.open(path);
        const auto fields = engine.fields(table);
        return fields ? describe(*fields) : QStringList{"(failed)"};
    };
    // Design order, not column numbers: col1 was re-added (number 8) but stays first; col3 was
    // inserted before col2.
    QCOMPARE(fieldsOf(deleted, "Table1"),
             (QStringList{"col1 3 4", "col2 3 4", "col3 3 4", "col5 3 4", "col6 3 4", "col7 3 4", "col8 3 4"}));
    QCOMPARE(fieldsOf(inserted, "Table1"), (QStringList{"col1 11 2", "col3 11 2", "col2 11 2"}));
    // The version history of the append-only memo is hidden, as in Access.
    QCOMPARE(fieldsOf(complex, "Table1"), (QStringList{"id 202 255", "memo-data " + kMemo, "append-memo-data " + kMemo,
                                                       "multi-value-data 136 4", "attach-data 136 4"}));
    // Calculated fields report their result type, whatever they are stored as.
    const QStringList calc = fieldsOf(calculated, "Table1");
    QCOMPARE(calc.value(3), QStringLiteral("LastFirst 202 243"));
    QCOMPARE(calc.value(7), QStringLiteral("MonthlySalary 6 8")); // Currency stored as Double
    QCOMPARE(calc.value(9), "AllNames " + kMemo);                 // Memo stored as Text
}

void TestEngineWorker::countsLiveRows()
{
    const QString stale = realFile("jahlborn+jackcess/src/test/data/V2010/calcFieldTestV2010.accdb");
    const QString deleted = realFile("jahlborn+jackcess/src/test/data/V1997/delTestV1997.mdb");
    if (stale.isEmpty() || deleted.isEmpty())
        STRUDEX_WITHOUT_FIXTURE("the real-world row count files are not available");
    EngineClient engine;
    QCOMPARE(engine.open(stale).kind, Reply::Ok);
    QCOMPARE(engine.fields("Table1")->recordCount, 4); // the table definition says 3
    // Rows that outgrew their page leave an entry pointing to a copy elsewhere: each counts once.
    QCOMPARE(engine.fields("MSysAccessStorage")->recordCount, 23);
    EngineClient old;
    QCOMPARE(old.open(deleted).kind, Reply::Ok);
    QCOMPARE(old.fields("Table")->recordCount, 2); // deleted rows do not count
}

void TestEngineWorker::incompleteCatalogues_data()
{
    // structure.accdb keeps MSysObjects' rows on pages 17 and 101; Customers and Orders are on 17.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("why");
    QTest::addColumn<QStringList>("tables");
    QFile file(dataFile("structure.accdb"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    constexpr int kPage = 4096;
    const QStringList first{"Customers", "Orders"};
    QTest::newRow("cut at 100,000 bytes")
        << whole.left(100000) << "page 101 named by its usage map lies beyond the end of the file" << first;
    QTest::newRow("last catalogue page cut short")
        << whole.left(101 * kPage + 2048) << "page 101 named by its usage map is cut short by the end of the file"
        << first;
    QByteArray broken = whole;
    std::fill(broken.begin() + 101 * kPage, broken.begin() + 102 * kPage, '\0');
    QTest::newRow("catalogue page wiped")
        << broken << "page 101 named by its usage map is not one of its data pages" << first;
    // A column count no row can have makes libmdb pass over the row. Entry 1 of page 101 is the
    // row of Branches; entry 35 of page 17 is where the row of Customers went when it outgrew its
    // place (its entry carries the deleted flag, so only the count tells it is missing).
    const auto breakRow = [&](int page, int entry, int stored) {
        QByteArray bytes = whole;
        const qsizetype at = qsizetype(page) * kPage + 0x0C + 2 + 2 * entry;
        const int offset = quint8(bytes[at]) | quint8(bytes[at + 1]) << 8;
        if (offset != stored)
            qFatal("structure.accdb changed: entry %d of page %d is %x", entry, page, offset);
        bytes[qsizetype(page) * kPage + (offset & 0x1FFF)] = '\xFF';
        bytes[qsizetype(page) * kPage + (offset & 0x1FFF) + 1] = '\x7F';
        return bytes;
    };
    const QStringList all{
        "<script>alert(1)</script>", "Branches", "Customer Profile", "Customers", "Order Lines", "Orders"};
    QStringList withoutBranches = all;
    withoutBranches.removeAll("Branches");
    QTest::newRow("a row that cannot be read")
        << breakRow(101, 1, 0x0F50) << "a row on page 101 cannot be read" << withoutBranches;
    QStringList withoutCustomers = all;
    withoutCustomers.removeAll("Customers");
    QTest::newRow("a moved row that cannot be read")
        << breakRow(17, 35, 0x8192) << "only 43 of its 44 rows could be read" << withoutCustomers;
}

// A catalogue that cannot be read to its end answers the tables that could be read, and says why
// and how many. The worker goes on answering.
void TestEngineWorker::incompleteCatalogues()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, why);
    QFETCH(QStringList, tables);
    const QString path = m_temp.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".accdb");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    EngineClient engine;
    QCOMPARE(engine.open(path).kind, Reply::Ok);
    std::string note;
    const auto rows = engine.tables(&note);
    QVERIFY(rows);
    QStringList read = namesOfType(*rows, "TABLE");
    read.sort(Qt::CaseInsensitive);
    QCOMPARE(read, tables);
    const QString count =
        read.size() == 1 ? QStringLiteral("Only 1 table") : QStringLiteral("Only %1 tables").arg(read.size());
    QCOMPARE(QString::fromStdString(note), "The table catalogue could not be read to its end: " + why + ". " + count +
                                               " could be read; the database may have more.");
    QCOMPARE(engine.request(encodeHello()).kind, Reply::Ok);
    QCOMPARE(engine.close(), 0);
}

void TestEngineWorker::damagedCopies_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("seed");
    for (int seed = 0; seed < 40; ++seed)
        for (const char *source : {"sample.mdb", "types2019.accdb", "layout.mdb"})
            QTest::addRow("%s %d", source, seed) << source << seed;
}

// A damaged file may open or not and fail at any step, but every answer is a whole, valid frame,
// the worker never hangs, and it never ends without saying why first.
void TestEngineWorker::damagedCopies()
{
    QFETCH(QString, source);
    QFETCH(int, seed);
    QFile original(dataFile(source));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray bytes = original.readAll();
    QRandomGenerator random{quint32(seed)};
    const int pageSize = 4096;
    switch (seed % 4) {
    case 0: // scattered bytes
        for (int i = random.bounded(1, 40); i > 0; --i)
            bytes[random.bounded(bytes.size())] = char(random.bounded(256));
        break;
    case 1: // the first pages, where the catalogue lives, badly hit
        for (int i = random.bounded(10, 400), page = random.bounded(1, 6); i > 0; --i)
            bytes[page * pageSize + random.bounded(pageSize)] = char(random.bounded(256));
        break;
    case 2: // cut short
        bytes.truncate(random.bounded(bytes.size()));
        break;
    default: // one page of noise
        for (int i = 0, page = random.bounded(1, int(bytes.size() / pageSize)); i < pageSize; ++i)
            bytes[page * pageSize + i] = char(random.bounded(256));
    }
    const QString path = m_temp.filePath(QStringLiteral("damaged-%1-%2").arg(seed).arg(source));
    QFile copy(path);
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write(bytes);
    copy.close();

    EngineClient engine({"--memory-limit-mb", "768"});
    std::vector<Reply> replies;
    const auto ask = [&](const Bytes &payload) -> const Reply & {
        if (engine.process().state() == QProcess::Running || replies.empty())
            replies.push_back(engine.request(payload));
        return replies.back(); // once the worker has ended, its last answer stands for the rest
    };
    if (ask(encodeOpen(path.toStdString(), "")).kind == Reply::Ok) {
        for (const TableRow &row : EngineClient::decoded(ask(encodeTables()), [](Reader &body) {
                                       return decodeTablesResult(body);
                                   }).value_or(std::vector<TableRow>{})) {
            if (row.type != "TABLE")
                continue;
            const auto fields = EngineClient::decoded(ask(encodeFields(row.name)), decodeFieldsResult);
            ask(encodeColumnDescriptions(row.name));
            for (const FieldInfo &field : fields.value_or(FieldsResult{}).fields)
                ask(encodeDescription(row.name, field.name));
        }
    }
    for (const Reply &reply : replies)
        QVERIFY2(
            reply.kind == Reply::Ok || reply.kind == Reply::Error,
            qPrintable(QStringLiteral("reply kind %1: a malformed frame, a hang, or a silent death").arg(reply.kind)));
    // Still running, or ended after a crash it caught and reported (the last answer an error).
    if (engine.process().state() == QProcess::Running)
        QCOMPARE(engine.close(), 0);
    else
        QCOMPARE(engine.finish(), 70);
}

void TestEngineWorker::heartbeatsWhileCounting()
{
    // With no minimum interval every counted row sends a heartbeat, so Progress frames surely
    // come between request and answer, and the client must skip them.
    EngineClient engine({"--heartbeat-ms", "0"});
    QCOMPARE(engine.open(dataFile("sample.mdb")).kind, Reply::Ok);
    Reply reply;
    QCOMPARE(engine.fields("Order Details", &reply)->recordCount, 2155);
    QVERIFY2(reply.progressFrames > 0 && reply.progressFrames <= 2155,
             qPrintable(QString::number(reply.progressFrames)));
    QVERIFY(engine.fields("Order Details", &reply)); // counted once, kept: no long work now
    QCOMPARE(reply.progressFrames, 0);
    QCOMPARE(engine.close(), 0);

    EngineClient quiet; // the default interval: none for a short count
    QCOMPARE(quiet.open(dataFile("sample.mdb")).kind, Reply::Ok);
    QVERIFY(quiet.fields("Customers", &reply));
    QCOMPARE(reply.progressFrames, 0);
}

void TestEngineWorker::forkServerServesEachDatabaseInAChild()
{
    EngineClient engine({"--fork-per-database"});
    const auto emptyOk = [](const Reply &reply) {
        return EngineClient::decoded(reply, [](Reader &body) { return std::optional(decodeEmptyResult(body)); })
            .value_or(false);
    };
    for (const QString &name : {QStringLiteral("sample.mdb"), QStringLiteral("types.mdb")}) {
        QCOMPARE(EngineClient::decoded(engine.request(encodeHello()), decodeHelloResult),
                 std::optional(kProtocolVersion));
        // A fresh child: nothing of the database before is open in it.
        const Reply closed = engine.request(encodeTables());
        QCOMPARE(closed.kind, Reply::Error);
        QCOMPARE(closed.error.number, 3704);
        QCOMPARE(engine.open(dataFile(name)).kind, Reply::Ok);
        const auto rows = engine.tables();
        QVERIFY(rows && !namesOfType(*rows, "TABLE").isEmpty());
        QVERIFY(emptyOk(engine.request(encodeClose()))); // the child's answer
        QVERIFY(emptyOk(engine.requestRaw({})));         // the server's: the child has ended
    }
    QCOMPARE(engine.finish(), 0);
}

QTEST_GUILESS_MAIN(TestEngineWorker)
#include "tst_engineworker.moc"
