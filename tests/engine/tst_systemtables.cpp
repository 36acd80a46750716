// The structure kept in system tables, read through libmdb from real files: relationships of the
// project's structure fixtures and the saved queries of the public query test databases.

#include "engine/Mdb.h"
#include "engine/QueryText.h"
#include "engine/Relationships.h"
#include "engine/SystemTables.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <map>

using namespace Engine;

namespace {

struct Database
{
    MdbHandle *mdb = nullptr;
    explicit Database(const QString &path) : mdb(mdb_open(path.toLocal8Bit().constData(), MDB_NOFLAGS))
    {
        if (mdb && !mdb_read_catalog(mdb, MDB_ANY)) {
            mdb_close(mdb);
            mdb = nullptr;
        }
    }
    ~Database()
    {
        if (mdb)
            mdb_close(mdb);
    }
    std::uint32_t page(const char *name) const
    {
        for (guint i = 0; i < mdb->num_catalog; ++i) {
            auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
            if (std::strcmp(entry->object_name, name) == 0)
                return entry->table_pg;
        }
        return 0;
    }
    std::vector<std::string> userTables() const
    {
        std::vector<std::string> names;
        for (guint i = 0; i < mdb->num_catalog; ++i) {
            auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
            if (entry->object_type == MDB_TABLE && !mdb_is_system_table(entry))
                names.push_back(entry->object_name);
        }
        return names;
    }
};

// name -> type and SQL of every saved query.
std::map<std::string, QueryText> queriesOf(const QString &path)
{
    std::map<std::string, QueryText> out;
    Database db(path);
    if (!db.mdb)
        return out;
    const SystemTable<ObjectRow> objects = readObjectRows(db.mdb);
    const SystemTable<StoredQueryRow> rows = readQueryRows(db.mdb, db.page("MSysQueries"));
    if (!objects.problem.empty() || !rows.problem.empty())
        return out;
    for (const ObjectRow &object : objects.rows) {
        if (object.type != 5)
            continue;
        std::vector<QueryRow> queryRows;
        for (const StoredQueryRow &row : rows.rows) {
            if (row.objectId == object.id)
                queryRows.push_back(row.query);
        }
        out[*object.name] = rebuildQuery(object.flags.value_or(0), queryRows);
    }
    return out;
}

// A copy of a Jet 4 or ACE file (4096-byte pages) in folder, changed by damage(bytes).
QString damagedCopy(const QTemporaryDir &folder, const QString &source, const std::function<void(QByteArray &)> &damage)
{
    QByteArray bytes = TestSupport::readFile(source);
    damage(bytes);
    static int copies = 0;
    const QString path = folder.filePath(QStringLiteral("damaged-%1-").arg(++copies) + QFileInfo(source).fileName());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

std::uint32_t u32At(const QByteArray &bytes, qsizetype at)
{
    return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
}

// The first data page of the table whose definition is on tablePage.
qsizetype firstDataPage(const QByteArray &bytes, std::uint32_t tablePage)
{
    for (qsizetype page = 1; (page + 1) * 4096 <= bytes.size(); ++page)
        if (bytes[page * 4096] == 0x01 && u32At(bytes, page * 4096 + 4) == tablePage)
            return page;
    return 0;
}

} // namespace

class SystemTablesTest : public QObject
{
    Q_OBJECT

private slots:
    void relationshipsOfTheStructureFixtures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("Access 2016") << QStringLiteral("structure.accdb");
        QTest::newRow("Access 2002-2003") << QStringLiteral("structure.mdb");
    }
    void relationshipsOfTheStructureFixtures()
    {
        QFETCH(QString, file);
        Database db(QDir(TestSupport::dataDir()).filePath(file));
        QVERIFY(db.mdb);
        const SystemTable<RelationshipRow> rows = readRelationshipRows(db.mdb, db.page("MSysRelationships"));
        QVERIFY2(rows.problem.empty(), rows.problem.c_str());
        const auto relationships = readRelationships(rows.rows, db.userTables());
        QCOMPARE(relationships.size(), std::size_t(4));
        QStringList seen;
        for (const Relationship &r : relationships) {
            QVERIFY2(r.problem.empty(), r.problem.c_str());
            seen << QString::fromStdString(r.primaryTable + "(" + r.primaryFields.front() + ") -> " + r.foreignTable +
                                           (r.enforced ? " enforced" : "") + (r.cascadeUpdates ? " updates" : "") +
                                           (r.cascadeDeletes ? " deletes" : "") + (r.cascadeNull ? " null" : "") +
                                           (r.oneToOne ? " one-to-one" : "") + " " + r.join);
        }
        seen.sort();
        QCOMPARE(seen, (QStringList{
                           QStringLiteral("Branches(Region) -> Orders left"),
                           QStringLiteral("Customers(CustomerID) -> Customer Profile enforced null one-to-one inner"),
                           QStringLiteral("Customers(CustomerID) -> Orders enforced updates deletes inner"),
                           QStringLiteral("Orders(OrderID) -> Order Lines enforced deletes inner")}));
    }

    // MSysRelationships that libmdb reads only in part: a row it cannot take apart, which it passes
    // over, and a usage map that sends it beyond the end of the file, where it stops. Either way
    // the rows that were read come with the problem.
    void relationshipsReadOnlyInPart()
    {
        const QString source = QDir(TestSupport::dataDir()).filePath(QStringLiteral("structure.mdb"));
        std::uint32_t tablePage = 0;
        {
            Database db(source);
            QVERIFY(db.mdb);
            tablePage = db.page("MSysRelationships");
        }
        QTemporaryDir folder;
        const QString brokenRow = damagedCopy(folder, source, [&](QByteArray &bytes) {
            const qsizetype page = firstDataPage(bytes, tablePage) * 4096;
            QVERIFY(page > 0);
            // The first row's count of columns (Jet 4: two bytes at its start) says 65535.
            const qsizetype row =
                page + ((std::uint8_t(bytes[page + 14]) | std::uint8_t(bytes[page + 15]) << 8) & 0x1FFF);
            bytes[row] = bytes[row + 1] = char(0xFF);
        });
        Database damaged(brokenRow);
        QVERIFY(damaged.mdb);
        SystemTable<RelationshipRow> rows = readRelationshipRows(damaged.mdb, tablePage);
        QCOMPARE(rows.rows.size(), std::size_t(4));
        QCOMPARE(rows.problem, std::string("MSysRelationships: 1 of its 5 rows could not be read"));

        const QString pastTheEnd = damagedCopy(folder, source, [&](QByteArray &bytes) {
            // The usage map (a row that the definition points to at byte 55) starts its pages far
            // beyond the end of the file.
            const std::uint32_t map = u32At(bytes, tablePage * 4096 + 55);
            const qsizetype page = qsizetype(map >> 8) * 4096;
            const qsizetype row = page + ((std::uint8_t(bytes[page + 14 + 2 * (map & 0xFF)]) |
                                           std::uint8_t(bytes[page + 15 + 2 * (map & 0xFF)]) << 8) &
                                          0x1FFF);
            QCOMPARE(int(bytes[row]), 0); // a map of the first kind: a first page, then one bit a page
            bytes[row + 4] = char(0x7F);
        });
        Database cut(pastTheEnd);
        QVERIFY(cut.mdb);
        rows = readRelationshipRows(cut.mdb, tablePage);
        QVERIFY(rows.rows.empty());
        QCOMPARE(rows.problem, std::string("MSysRelationships could not be read to its end: its usage map names pages "
                                           "beyond the end of the file"));
    }

    // A saved query's expression kept on a page of its own, whose pointer names a page that is not
    // there: libmdb gives an empty text, the rows come with the problem.
    void aQueryTextThatEndsEarly()
    {
        const QString source =
            TestSupport::realFile(QStringLiteral("jahlborn+jackcess/src/test/data/V2003/queryTestV2003.mdb"));
        if (source.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("the public query test databases are not available");
        std::uint32_t tablePage = 0;
        qsizetype pointer = 0;
        {
            Database db(source);
            QVERIFY(db.mdb);
            tablePage = db.page("MSysQueries");
            const SystemTable<StoredQueryRow> rows = readQueryRows(db.mdb, tablePage);
            QVERIFY2(rows.problem.empty(), rows.problem.c_str());
            // Where the first expression on a page of its own has its pointer (page and row).
            MdbCatalogEntry entry{};
            entry.mdb = db.mdb;
            entry.table_pg = tablePage;
            MdbTableDef *table = mdb_read_table(&entry);
            QVERIFY(table && mdb_read_columns(table));
            auto *expression = static_cast<MdbColumn *>(g_ptr_array_index(
                table->columns,
                guint(mdb_bind_column_by_name(table, const_cast<char *>("Expression"), nullptr, nullptr) - 1)));
            mdb_rewind_table(table);
            while (!pointer && mdb_fetch_row(table))
                if (expression->cur_value_len >= 12 &&
                    (mdb_get_int32(db.mdb->pg_buf, expression->cur_value_start) & 0xC0000000) == 0x40000000)
                    pointer = qsizetype(table->cur_phys_pg) * 4096 + expression->cur_value_start + 4;
            mdb_free_tabledef(table);
            QVERIFY(pointer > 0);
        }
        QTemporaryDir folder;
        // The page (the pointer's upper three bytes) lies far beyond the end of the file.
        const QString damaged =
            damagedCopy(folder, source, [&](QByteArray &bytes) { bytes[pointer + 3] = char(0x7F); });
        Database db(damaged);
        QVERIFY(db.mdb);
        const SystemTable<StoredQueryRow> rows = readQueryRows(db.mdb, tablePage);
        QCOMPARE(rows.rows.size(), std::size_t(90));
        QCOMPARE(rows.problem, std::string("MSysQueries: the texts of 1 row could not be read whole"));
    }

    void savedQueriesOfThePublicFiles_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *version : {"V1997/queryTestV1997.mdb", "V2000/queryTestV2000.mdb", "V2003/queryTestV2003.mdb",
                                    "V2007/queryTestV2007.accdb", "V2010/queryTestV2010.accdb"})
            QTest::newRow(version) << QStringLiteral("jahlborn+jackcess/src/test/data/") + QLatin1String(version);
    }
    void savedQueriesOfThePublicFiles()
    {
        QFETCH(QString, file);
        const QString path = TestSupport::realFile(file);
        if (path.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("the public query test databases are not available");
        const auto queries = queriesOf(path);
        QCOMPARE(queries.size(), std::size_t(9));
        const std::map<std::string, std::string> types{{"SelectQuery", "select"},
                                                       {"UpdateQuery", "update"},
                                                       {"AppendQuery", "append"},
                                                       {"DeleteQuery", "delete"},
                                                       {"MakeTableQuery", "make-table"},
                                                       {"CrosstabQuery", "crosstab"},
                                                       {"UnionQuery", "union"},
                                                       {"PassthroughQuery", "pass-through"},
                                                       {"DataDefinitionQuery", "data-definition"}};
        for (const auto &[name, query] : queries) {
            QVERIFY2(query.problem.empty(), (name + ": " + query.problem).c_str());
            QCOMPARE(query.type, types.at(name));
        }
        QCOMPARE(queries.at("SelectQuery").sql,
                 std::string("SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
                             "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON "
                             "(Table3.col1 = Table2.col1) AND (Table3.col1 = Table2.col2)\n"
                             "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
                             "ORDER BY Table2.col1;"));
        QCOMPARE(queries.at("UpdateQuery").sql,
                 std::string("PARAMETERS [User Name] Text;\nUPDATE Table1\n"
                             "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User Name]\n"
                             "WHERE ((([Table2].[col1]) Is Not Null));"));
        QCOMPARE(queries.at("DataDefinitionQuery").sql, std::string("CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"));
        QCOMPARE(queries.at("PassthroughQuery").sql, std::string("ALTER TABLE Table4 DROP COLUMN col5;"));
        QVERIFY(queries.at("CrosstabQuery").sql.starts_with("TRANSFORM Count([Table2].[col2]) AS CountOfcol2\n"));
        QVERIFY(queries.at("UnionQuery").sql.find("\nUNION ALL Select Table3.col1") != std::string::npos);
        QVERIFY(queries.at("MakeTableQuery").sql.find(" INTO Table4\n") != std::string::npos);
    }

    void linksAndIdsOfTheCatalogue()
    {
        Database db(QDir(TestSupport::dataDir()).filePath(QStringLiteral("linked.mdb")));
        QVERIFY(db.mdb);
        const SystemTable<ObjectRow> objects = readObjectRows(db.mdb);
        QVERIFY2(objects.problem.empty(), objects.problem.c_str());
        QStringList links;
        for (const ObjectRow &object : objects.rows) {
            if (object.name == "Tables") {
                QCOMPARE(object.id, std::int64_t(0x0F000001));
                QCOMPARE(object.type, std::int64_t(3));
                QCOMPARE(object.flags, INT32_MIN);
            }
            if (object.type == 6)
                links << QString::fromStdString(object.name.value_or("?") + " -> " + object.foreignName.value_or("?") +
                                                " in " + object.database.value_or("?") +
                                                (object.connect ? " via " + *object.connect : std::string()));
        }
        QCOMPARE(links, (QStringList{QStringLiteral("Linked Customers -> Customers in sample.mdb"),
                                     QStringLiteral("Linked Orders -> Orders in sample.mdb")}));
    }

    void templateOfAnAttachmentColumn()
    {
        const QString path =
            TestSupport::realFile(QStringLiteral("andipaetzold+mdb-reader/test/data/V2016/attachments.accdb"));
        if (path.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("the public attachment test database is not available");
        Database db(path);
        QVERIFY(db.mdb);
        const SystemTable<ComplexColumnRow> rows = readComplexColumnRows(db.mdb, db.page("MSysComplexColumns"));
        QVERIFY2(rows.problem.empty(), rows.problem.c_str());
        std::map<std::int64_t, std::string> names;
        for (const ObjectRow &object : readObjectRows(db.mdb).rows)
            names[object.id.value_or(0)] = object.name.value_or("?");
        // Each column by its table's MSysObjects Id, whose low 24 bits are the definition's page.
        QStringList columns;
        for (const ComplexColumnRow &row : rows.rows) {
            QVERIFY(row.conceptualTableId && row.complexTypeObjectId);
            QCOMPARE(std::uint32_t(*row.conceptualTableId) & 0x00FFFFFF,
                     db.page(names[*row.conceptualTableId].c_str()));
            columns << QString::fromStdString(names[*row.conceptualTableId] + "." + row.columnName.value_or("?") +
                                              ": " + names[*row.complexTypeObjectId]);
        }
        columns.sort();
        QCOMPARE(columns, (QStringList{QStringLiteral("MSysResources.Data: MSysComplexType_Attachment"),
                                       QStringLiteral("Table1.Attachments: MSysComplexType_Attachment")}));
    }

    void aTableThatIsNotThere()
    {
        Database db(QDir(TestSupport::dataDir()).filePath(QStringLiteral("sample.mdb")));
        QVERIFY(db.mdb);
        // Page 1 holds no table definition.
        const SystemRows rows = readSystemRows(db.mdb, 1, "MSysQueries", {"ObjectId"});
        QVERIFY(!rows.problem.empty());
        QVERIFY(rows.rows.empty());
        // A column the table does not have reads as null.
        const SystemRows objects = readSystemRows(db.mdb, 2, "MSysObjects", {"Name", "NoSuchColumn"});
        QVERIFY(objects.problem.empty());
        QVERIFY(!objects.rows.empty());
        QVERIFY(objects.rows.front()[0]);
        QVERIFY(!objects.rows.front()[1]);
        // Texts that fill libmdb's buffer were cut there: with a buffer of 8 bytes, every name of
        // seven characters or more.
        mdb_set_bind_size(db.mdb, 8);
        const SystemRows cut = readSystemRows(db.mdb, 2, "MSysObjects", {"Name"});
        mdb_set_bind_size(db.mdb, MDB_BIND_SIZE);
        QCOMPARE(cut.rows.size(), objects.rows.size());
        std::size_t longNames = 0;
        for (const auto &row : objects.rows)
            longNames += row[0] && row[0]->size() >= 7;
        QVERIFY(longNames > 0);
        QCOMPARE(cut.problem,
                 "MSysObjects: the texts of " + std::to_string(longNames) + " rows could not be read whole");
        // Read through named fields, the same.
        const SystemTable<StoredQueryRow> queries = readQueryRows(db.mdb, 1);
        QVERIFY(!queries.problem.empty());
        QVERIFY(queries.rows.empty());
    }
};

QTEST_GUILESS_MAIN(SystemTablesTest)
#include "tst_systemtables.moc"
