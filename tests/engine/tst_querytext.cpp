// Saved queries rebuilt from their MSysQueries rows. The rows of the first tests are those of the
// public queryTestV2003.mdb, as the file stores them.

#include "engine/QueryText.h"

#include <QTest>

using namespace Engine;

namespace {

std::optional<std::string> s(const char *text)
{
    return text ? std::optional<std::string>(text) : std::nullopt;
}

QueryRow row(int attribute, const char *name1, const char *name2, const char *expression, std::optional<int> flag,
             std::optional<std::int32_t> extra = std::nullopt)
{
    return QueryRow{attribute, s(expression), flag, s(name1), s(name2), extra};
}

QString sqlOf(std::int32_t flags, const std::vector<QueryRow> &rows, const char *type)
{
    const QueryText q = rebuildQuery(flags, rows);
    if (q.type != type)
        qWarning("type %s, expected %s", q.type.c_str(), type);
    if (!q.problem.empty())
        qWarning("problem: %s", q.problem.c_str());
    return QString::fromStdString(q.sql);
}

} // namespace

class QueryTextTest : public QObject
{
    Q_OBJECT

private slots:
    void selectWithNestedJoins()
    {
        const std::vector<QueryRow> rows{
            row(0, nullptr, nullptr, nullptr, 0),
            row(255, nullptr, nullptr, nullptr, std::nullopt),
            row(1, nullptr, nullptr, nullptr, 1),
            row(3, nullptr, nullptr, nullptr, 2),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(5, "Table2", nullptr, nullptr, std::nullopt),
            row(5, "Table3", nullptr, nullptr, std::nullopt),
            row(6, nullptr, nullptr, "Table1.*", 0),
            row(6, nullptr, nullptr, "Table2.col1", 0),
            row(6, nullptr, nullptr, "Table2.col2", 0),
            row(6, nullptr, nullptr, "Table3.col3", 0),
            row(7, "Table1", "Table3", "Table1.col1 = Table3.col1", 2),
            row(7, "Table3", "Table2", "Table3.col1 = Table2.col1", 1),
            row(7, "Table3", "Table2", "Table3.col1 = Table2.col2", 1),
            row(11, nullptr, nullptr, "Table2.col1", std::nullopt),
            row(8, nullptr, nullptr, "(((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))", std::nullopt),
        };
        QCOMPARE(sqlOf(0, rows, "select"),
                 QStringLiteral("SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
                                "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON "
                                "(Table3.col1 = Table2.col1) AND (Table3.col1 = Table2.col2)\n"
                                "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
                                "ORDER BY Table2.col1;"));
    }

    void actionQueries()
    {
        const std::vector<QueryRow> update{
            row(1, nullptr, nullptr, nullptr, 4),
            row(3, nullptr, nullptr, nullptr, 0),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(6, nullptr, "Table1.col1", "\"foo\"", 0),
            row(6, nullptr, "Table1.col2", "[Table2].[col3]", 0),
            row(6, nullptr, "[Table2].[col1]", "[User Name]", 0),
            row(8, nullptr, nullptr, "((([Table2].[col1]) Is Not Null))", std::nullopt),
            row(2, "User Name", nullptr, nullptr, 10),
        };
        QCOMPARE(sqlOf(48, update, "update"),
                 QStringLiteral("PARAMETERS User Name Text;\nUPDATE Table1\n"
                                "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User "
                                "Name]\nWHERE ((([Table2].[col1]) Is Not Null));"));

        const std::vector<QueryRow> append{
            row(1, "Table3", nullptr, nullptr, 3),
            row(6, nullptr, "col2", "[Table1].[col2]", 0),
            row(6, nullptr, "col2", "[Table2].[col2]", 0),
            row(6, nullptr, "col3", "[Table2].[col3]", 0),
            row(5, "Table3", nullptr, nullptr, std::nullopt),
            row(7, "Table1", "Table2", "[Table1].[col1]=[Table2].[col1]", 1),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(5, "Table2", nullptr, nullptr, std::nullopt),
        };
        // The target columns are written, as Access's SQL view writes them.
        QCOMPARE(sqlOf(64, append, "append"),
                 QStringLiteral("INSERT INTO Table3 (col2, col2, col3)\n"
                                "SELECT [Table1].[col2], [Table2].[col2], [Table2].[col3]\n"
                                "FROM Table3, Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1];"));

        const std::vector<QueryRow> remove{
            row(1, nullptr, nullptr, nullptr, 5),
            row(3, nullptr, nullptr, nullptr, 0),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(6, nullptr, nullptr, "Table1.col1", 0),
            row(6, nullptr, nullptr, "Table1.col2", 0),
            row(6, nullptr, nullptr, "Table1.col3", 0),
            row(8, nullptr, nullptr, "(((Table1.col1)>\"blah\"))", std::nullopt),
        };
        QCOMPARE(sqlOf(32, remove, "delete"),
                 QStringLiteral("DELETE Table1.col1, Table1.col2, Table1.col3\nFROM Table1\n"
                                "WHERE (((Table1.col1)>\"blah\"));"));

        const std::vector<QueryRow> makeTable{
            row(1, "Table4", nullptr, nullptr, 2),
            row(3, nullptr, nullptr, nullptr, 0),
            row(5, "Table2", nullptr, nullptr, std::nullopt),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(5, "Table3", nullptr, nullptr, std::nullopt),
            row(6, "MaxOfcol1", nullptr, "Max(Table2.col1)", 0),
            row(9, nullptr, nullptr, "Table2.col2", 0),
            row(6, nullptr, nullptr, "Table2.col2", 0),
            row(9, nullptr, nullptr, "Table3.col2", 0),
            row(6, nullptr, nullptr, "Table3.col2", 0),
            row(7, "Table2", "Table1", "Table2.col1 = Table1.col2", 1),
            row(7, "Table1", "Table3", "Table1.col2 = Table3.col3", 3),
            row(10, nullptr, nullptr, "(((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"))", std::nullopt),
        };
        QCOMPARE(sqlOf(80, makeTable, "make-table"),
                 QStringLiteral("SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 INTO Table4\n"
                                "FROM (Table2 INNER JOIN Table1 ON Table2.col1 = Table1.col2) RIGHT JOIN Table3 ON "
                                "Table1.col2 = Table3.col3\nGROUP BY Table2.col2, Table3.col2\n"
                                "HAVING (((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"));"));
    }

    void crosstabUnionAndTextQueries()
    {
        const std::vector<QueryRow> crosstab{
            row(1, nullptr, nullptr, nullptr, 6),
            row(6, "CountOfcol2", nullptr, "Count([Table2].[col2])", 0),
            row(6, nullptr, nullptr, "Table2_1.col1", 2),
            row(6, nullptr, nullptr, "[Table2].[col3]", 2),
            row(6, "AvgOfcol2", nullptr, "Avg(Table2_1.col2)", 2),
            row(7, "Table1", "Table2", "[Table1].[col1]=[Table2].[col1]", 1),
            row(7, "Table2", "Table2_1", "[Table2].[col1]=Table2_1.col3", 1),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(5, "Table2", nullptr, nullptr, std::nullopt),
            row(5, "Table2", "Table2_1", nullptr, std::nullopt),
            row(8, nullptr, nullptr,
                "((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And ((Avg(Table2_1.col2))>\"10\"))",
                std::nullopt),
            row(9, nullptr, nullptr, "Table2_1.col1", 2),
            row(9, nullptr, nullptr, "[Table2].[col3]", 2),
            row(11, nullptr, nullptr, "[Table2].[col3]", std::nullopt),
            row(9, nullptr, nullptr, "[Table1].[col1]", 1),
            row(6, nullptr, nullptr, "[Table1].[col1]", 1),
        };
        QCOMPARE(sqlOf(16, crosstab, "crosstab"),
                 QStringLiteral("TRANSFORM Count([Table2].[col2]) AS CountOfcol2\n"
                                "SELECT Table2_1.col1, [Table2].[col3], Avg(Table2_1.col2) AS AvgOfcol2\n"
                                "FROM (Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1]) INNER JOIN "
                                "Table2 AS Table2_1 ON [Table2].[col1]=Table2_1.col3\n"
                                "WHERE ((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And "
                                "((Avg(Table2_1.col2))>\"10\"))\nGROUP BY Table2_1.col1, [Table2].[col3]\n"
                                "ORDER BY [Table2].[col3]\nPIVOT [Table1].[col1];"));

        const std::vector<QueryRow> unionRows{
            row(5, nullptr, "X7YZ_____1",
                "Select Table1.col1, Table1.col2\r\nwhere Table1.col1 = \"foo\"\r\nUNION\r\nSelect Table2.col1, "
                "Table2.col2",
                std::nullopt),
            row(1, nullptr, nullptr, nullptr, 9),
            row(5, nullptr, "X7YZ_____2", "Select Table3.col1, Table3.col2\r\nwhere Table3.col3 > \"blah\"\r\n",
                std::nullopt),
            row(3, nullptr, nullptr, nullptr, 1),
        };
        QCOMPARE(sqlOf(128, unionRows, "union"),
                 QStringLiteral("Select Table1.col1, Table1.col2\nwhere Table1.col1 = \"foo\"\nUNION\n"
                                "Select Table2.col1, Table2.col2\nUNION ALL Select Table3.col1, Table3.col2\n"
                                "where Table3.col3 > \"blah\";"));

        QCOMPARE(
            sqlOf(96, {row(1, nullptr, nullptr, "CREATE TABLE Table5 (col1 CHAR, col2 CHAR);", 7)}, "data-definition"),
            QStringLiteral("CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"));
        // The text of a pass-through query may end in a NUL: it is not part of the SQL.
        QCOMPARE(sqlOf(112,
                       {row(1, "ODBC;", nullptr, std::string("ALTER TABLE Table4 DROP COLUMN col5;\0", 37).c_str(), 8)},
                       "pass-through"),
                 QStringLiteral("ALTER TABLE Table4 DROP COLUMN col5;"));
    }

    void predicatesParametersAndNames()
    {
        std::vector<QueryRow> rows{
            row(1, nullptr, nullptr, nullptr, 1),
            row(3, "5", nullptr, nullptr, 0x31),
            row(5, "Table1", nullptr, nullptr, std::nullopt),
            row(5, "Table2", "Another Table", nullptr, std::nullopt),
            row(5, "val", "Table3Val", "Select val from Table3", std::nullopt),
            row(5, "Other.Order Details", nullptr, nullptr, std::nullopt),
            row(6, "Some.Alias", nullptr, "Table1.col", 0),
            row(2, "INT_VAL", nullptr, nullptr, 3),
            row(2, "TextVal", nullptr, nullptr, 10, 50),
            row(4, "other_db.mdb", nullptr, "MDB_FILE;", 2),
            row(11, "D", nullptr, "Table1.col", std::nullopt),
        };
        QCOMPARE(sqlOf(0, rows, "select"),
                 QStringLiteral("PARAMETERS INT_VAL Short, TextVal Text(50);\n"
                                "SELECT TOP 5 PERCENT Table1.col AS [Some.Alias], *\n"
                                "FROM Table1, Table2 AS [Another Table], [Select val from Table3].val AS Table3Val, "
                                "Other.[Order Details] IN 'other_db.mdb' [MDB_FILE;]\n"
                                "ORDER BY Table1.col DESC;"));
        // DISTINCT goes before DISTINCTROW and TOP; the owner-access option ends the statement.
        rows[1].flag = 0x02 | 0x04 | 0x08 | 0x10;
        QVERIFY(sqlOf(0, rows, "select").contains(QStringLiteral("SELECT DISTINCT Table1.col")));
        QVERIFY(sqlOf(0, rows, "select").endsWith(QStringLiteral("\nWITH OWNERACCESS OPTION;")));
        QCOMPARE(quoteName("dbo.My Table"), std::string("dbo.[My Table]"));
        QCOMPARE(quoteName("[Already]"), std::string("[Already]"));
    }

    void damagedRowsGiveANoteNotAFailure()
    {
        // A catalogue flag and a type row of no known kind.
        QueryText unknown = rebuildQuery(0, {row(1, nullptr, nullptr, nullptr, 42)});
        QCOMPARE(unknown.type, std::string("unknown"));
        QVERIFY(!unknown.problem.empty());
        QVERIFY(unknown.sql.empty());

        // A union that lost a part, an action query without its type row.
        QVERIFY(!rebuildQuery(128, {row(5, nullptr, "X7YZ_____1", "Select 1", std::nullopt)}).problem.empty());
        QVERIFY(!rebuildQuery(48, {row(5, "Table1", nullptr, nullptr, std::nullopt)}).problem.empty());

        // A join naming a table the query does not list, a join of no known kind, two kinds of
        // join between the same tables: the rest of the query is still there.
        const QueryText joins = rebuildQuery(
            0, {row(1, nullptr, nullptr, nullptr, 1), row(5, "A", nullptr, nullptr, std::nullopt),
                row(6, nullptr, nullptr, "A.x", 0), row(7, "A", "Missing Table", "A.x = [Missing Table].x", 1),
                row(7, "A", "Missing Table", "A.y = [Missing Table].y", 2), row(7, "A", "B", "A.z = B.z", 9)});
        QCOMPARE(joins.sql, std::string("SELECT A.x\nFROM A INNER JOIN [Missing Table] ON A.x = [Missing Table].x;"));
        QVERIFY(joins.problem.find("different kinds") != std::string::npos);
        QVERIFY(joins.problem.find("unknown kind") != std::string::npos);

        // A parameter of no known type is left out and named.
        const QueryText parameter =
            rebuildQuery(0, {row(1, nullptr, nullptr, nullptr, 1), row(2, "P", nullptr, nullptr, 77),
                             row(5, "A", nullptr, nullptr, std::nullopt), row(6, nullptr, nullptr, "A.x", 0)});
        QCOMPARE(parameter.sql, std::string("SELECT A.x\nFROM A;"));
        QVERIFY(!parameter.problem.empty());
        // No rows at all: nothing says what kind of query it is.
        QCOMPARE(rebuildQuery(0, {}).type, std::string("unknown"));
        QVERIFY(!rebuildQuery(0, {}).problem.empty());
    }
};

QTEST_GUILESS_MAIN(QueryTextTest)
#include "tst_querytext.moc"
