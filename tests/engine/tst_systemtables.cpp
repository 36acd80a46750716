// The structure kept in system tables, read through libmdb from real files: relationships of the
// project's structure fixtures and the saved queries of the public query test databases.

#include "engine/Mdb.h"
#include "engine/QueryText.h"
#include "engine/Relationships.h"
#include "engine/SystemTables.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTest>

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

std::optional<std::int32_t> number(const std::optional<std::string> &text)
{
    return text ? std::optional<std::int32_t>(std::stoi(*text)) : std::nullopt;
}

// name -> type and SQL of every saved query.
std::map<std::string, QueryText> queriesOf(const QString &path)
{
    std::map<std::string, QueryText> out;
    Database db(path);
    if (!db.mdb)
        return out;
    const SystemRows objects = readSystemRows(db.mdb, 2, "MSysObjects", {"Id", "Name", "Type", "Flags"});
    const SystemRows rows =
        readSystemRows(db.mdb, db.page("MSysQueries"), "MSysQueries",
                       {"ObjectId", "Attribute", "Expression", "Flag", "LvExtra", "Name1", "Name2"});
    if (!objects.problem.empty() || !rows.problem.empty())
        return out;
    for (const auto &object : objects.rows) {
        if (number(object[2]) != 5)
            continue;
        std::vector<QueryRow> queryRows;
        for (const auto &r : rows.rows) {
            if (r[0] == object[0])
                queryRows.push_back(QueryRow{number(r[1]).value_or(0), r[2], number(r[3]), r[5], r[6], number(r[4])});
        }
        out[*object[1]] = rebuildQuery(number(object[3]).value_or(0), queryRows);
    }
    return out;
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
        const SystemRows rows = readSystemRows(db.mdb, db.page("MSysRelationships"), "MSysRelationships",
                                               {"ccolumn", "grbit", "icolumn", "szColumn", "szObject",
                                                "szReferencedColumn", "szReferencedObject", "szRelationship"});
        QVERIFY2(rows.problem.empty(), rows.problem.c_str());
        std::vector<RelationshipRow> stored;
        for (const auto &r : rows.rows)
            stored.push_back({number(r[0]), number(r[1]), number(r[2]), r[3], r[4], r[5], r[6], r[7]});
        const auto relationships = readRelationships(stored, db.userTables());
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
                 std::string("PARAMETERS User Name Text;\nUPDATE Table1\n"
                             "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User Name]\n"
                             "WHERE ((([Table2].[col1]) Is Not Null));"));
        QCOMPARE(queries.at("DataDefinitionQuery").sql, std::string("CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"));
        QCOMPARE(queries.at("PassthroughQuery").sql, std::string("ALTER TABLE Table4 DROP COLUMN col5;"));
        QVERIFY(queries.at("CrosstabQuery").sql.starts_with("TRANSFORM Count([Table2].[col2]) AS CountOfcol2\n"));
        QVERIFY(queries.at("UnionQuery").sql.find("\nUNION ALL Select Table3.col1") != std::string::npos);
        QVERIFY(queries.at("MakeTableQuery").sql.find(" INTO Table4\n") != std::string::npos);
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
    }
};

QTEST_GUILESS_MAIN(SystemTablesTest)
#include "tst_systemtables.moc"
