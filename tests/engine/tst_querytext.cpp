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

using Rows = std::vector<QueryRow>;

// Rows that open and close every query, and the flag row of a select.
QueryRow start()
{
    return row(0, nullptr, nullptr, nullptr, 0);
}
QueryRow end()
{
    return row(255, nullptr, nullptr, nullptr, std::nullopt);
}
QueryRow typeRow(int type, const char *target = nullptr, const char *database = nullptr, const char *text = nullptr)
{
    return row(1, target, database, text, type);
}
QueryRow flags(int bits, const char *top = nullptr)
{
    return row(3, top, nullptr, nullptr, bits);
}
QueryRow table(const char *name, const char *alias = nullptr, const char *expression = nullptr)
{
    return row(5, name, alias, expression, std::nullopt);
}
QueryRow column(const char *expression, const char *alias = nullptr, int flag = 0, const char *target = nullptr)
{
    return row(6, alias, target, expression, flag);
}
QueryRow clause(int attribute, const char *expression, const char *name1 = nullptr)
{
    return row(attribute, name1, nullptr, expression, attribute == 9 ? std::optional<int>(0) : std::nullopt);
}

} // namespace

Q_DECLARE_METATYPE(Rows)

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
                 QStringLiteral("PARAMETERS [User Name] Text;\nUPDATE Table1\n"
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
        // DISTINCT wins over DISTINCTROW, TOP follows it; the owner-access option ends the statement.
        rows[1].flag = 0x02 | 0x04 | 0x08 | 0x10;
        QVERIFY(sqlOf(0, rows, "select").contains(QStringLiteral("SELECT DISTINCT TOP 5 Table1.col")));
        QVERIFY(sqlOf(0, rows, "select").endsWith(QStringLiteral("\nWITH OWNERACCESS OPTION;")));
        QCOMPARE(quoteName("dbo.My Table"), std::string("dbo.[My Table]"));
        QCOMPARE(quoteName("[Already]"), std::string("[Already]"));
    }

    // Each kind of query Access writes, built row by row as Access stores it; and rows that
    // cannot all be turned into SQL, whose note says why while the type stays what they say.
    void everyKindRowByRow_data()
    {
        QTest::addColumn<int>("objectFlags");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("note"); // a part of it; empty: there is none

        QTest::newRow("select without a type row, as Access 2007 writes it")
            << 0
            << Rows{start(),
                    end(),
                    table("Asset Items"),
                    column("[Asset Items].[Owner]"),
                    column("Sum([Asset Items].[Cost])", "SumOfCost"),
                    clause(9, "[Asset Items].[Owner]")}
            << "select"
            << "SELECT [Asset Items].[Owner], Sum([Asset Items].[Cost]) AS SumOfCost\nFROM [Asset Items]\n"
               "GROUP BY [Asset Items].[Owner];"
            << "";
        QTest::newRow("DISTINCTROW and TOP")
            << 0
            << Rows{start(),
                    end(),
                    typeRow(1),
                    flags(0x18, "10"),
                    table("Products"),
                    column("Products.ProductName", "TenMostExpensiveProducts"),
                    column("Products.UnitPrice"),
                    clause(11, "Products.UnitPrice", "D")}
            << "select"
            << "SELECT DISTINCTROW TOP 10 Products.ProductName AS TenMostExpensiveProducts, Products.UnitPrice\n"
               "FROM Products\nORDER BY Products.UnitPrice DESC;"
            << "";
        QTest::newRow("DISTINCT, TOP PERCENT and the owner's access")
            << 0 << Rows{typeRow(1), flags(0x02 | 0x04 | 0x10 | 0x20, "25"), table("Orders"), column("Orders.*")}
            << "select"
            << "SELECT DISTINCT TOP 25 PERCENT Orders.*\nFROM Orders\nWITH OWNERACCESS OPTION;"
            << "";
        QTest::newRow("parameters of every type")
            << 0
            << Rows{typeRow(1),
                    row(2, "[Forms]![Sales by Year Dialog]![BeginningDate]", nullptr, nullptr, 8),
                    row(2, "User Name", nullptr, nullptr, 10),
                    row(2, "Code", nullptr, nullptr, 10, 5),
                    row(2, "Any", nullptr, nullptr, 0),
                    row(2, "Yes or no?", nullptr, nullptr, 1),
                    row(2, "Small", nullptr, nullptr, 2),
                    row(2, "Count", nullptr, nullptr, 3),
                    row(2, "Id", nullptr, nullptr, 4),
                    row(2, "Price", nullptr, nullptr, 5),
                    row(2, "Ratio", nullptr, nullptr, 6),
                    row(2, "Mass", nullptr, nullptr, 7),
                    row(2, "Blob", nullptr, nullptr, 9),
                    row(2, "Picture", nullptr, nullptr, 11),
                    row(2, "Notes", nullptr, nullptr, 12),
                    row(2, "Key", nullptr, nullptr, 15),
                    row(2, "Amount", nullptr, nullptr, 20),
                    table("Orders"),
                    column("Orders.*"),
                    clause(8, "(((Orders.ShippedDate)>=[Forms]![Sales by Year Dialog]![BeginningDate]))")}
            << "select"
            << "PARAMETERS [Forms]![Sales by Year Dialog]![BeginningDate] DateTime, [User Name] Text, Code Text(5), "
               "Any Value, [Yes or no?] Bit, Small Byte, Count Short, Id Long, Price Currency, Ratio IEEESingle, "
               "Mass IEEEDouble, Blob Binary, Picture LongBinary, Notes LongText, Key Guid, Amount Decimal;\n"
               "SELECT Orders.*\nFROM Orders\n"
               "WHERE (((Orders.ShippedDate)>=[Forms]![Sales by Year Dialog]![BeginningDate]));"
            << "";
        QTest::newRow("append naming fields that need brackets")
            << 64
            << Rows{typeRow(3, "Order History"), table("Orders"), column("Orders.[Order ID]", nullptr, 0, "Order ID"),
                    column("Orders.OrderDate", nullptr, 0, "date 1")}
            << "append"
            << "INSERT INTO [Order History] ([Order ID], [date 1])\nSELECT Orders.[Order ID], Orders.OrderDate\n"
               "FROM Orders;"
            << "";
        QTest::newRow("append of a SELECT without a table")
            << 64
            << Rows{typeRow(3, "Log"), column("Now()", "Expr1", 0, "date 1"), column("\"started\"", "Expr2", 0, "Note")}
            << "append"
            << "INSERT INTO Log ([date 1], Note)\nSELECT Now() AS Expr1, \"started\" AS Expr2;"
            << "";
        QTest::newRow("append of VALUES") << 64
                                          << Rows{typeRow(3, "Table2"), column("54", nullptr, 0x8000, "ID"),
                                                  column("'hello'", nullptr, 0x8000, "Field 3")}
                                          << "append"
                                          << "INSERT INTO Table2 (ID, [Field 3])\nVALUES (54, 'hello');"
                                          << "";
        QTest::newRow("make-table in another database")
            << 80
            << Rows{typeRow(2, "Customers Copy", "C:\\Backup\\Archive.mdb"), flags(0), table("Customers"),
                    column("Customers.*")}
            << "make-table"
            << "SELECT Customers.* INTO [Customers Copy] IN 'C:\\Backup\\Archive.mdb'\nFROM Customers;"
            << "";
        QTest::newRow("tables of another database") << 0
                                                    << Rows{typeRow(1), table("Customers"), column("Customers.Name"),
                                                            row(4, "", nullptr, "ODBC;DSN=Sales;", std::nullopt)}
                                                    << "select"
                                                    << "SELECT Customers.Name\nFROM Customers IN '' [ODBC;DSN=Sales;];"
                                                    << "";
        QTest::newRow("subquery in FROM")
            << 0
            << Rows{start(), end(), flags(1),
                    table(nullptr, "%$##@_Alias", "select * from A\r\nunion\r\nselect * from B \r\n\r\n"),
                    clause(11, "[%$##@_Alias].x")}
            << "select"
            << "SELECT *\nFROM [select * from A\nunion\nselect * from B]. AS [%$##@_Alias]\n"
               "ORDER BY [%$##@_Alias].x;"
            << "";
        QTest::newRow("WHERE IN a subquery")
            << 0
            << Rows{typeRow(1), table("Orders"), column("Orders.OrderID"),
                    clause(8, "(((Orders.CustomerID) In (SELECT CustomerID FROM Customers WHERE Country=\"UK\")))")}
            << "select"
            << "SELECT Orders.OrderID\nFROM Orders\n"
               "WHERE (((Orders.CustomerID) In (SELECT CustomerID FROM Customers WHERE Country=\"UK\")));"
            << "";
        QTest::newRow("GROUP BY, HAVING, ORDER BY DESC")
            << 0
            << Rows{typeRow(1),
                    table("Orders"),
                    column("Orders.CustomerID"),
                    column("Count(Orders.OrderID)", "CountOfOrderID"),
                    clause(9, "Orders.CustomerID"),
                    clause(10, "(((Count(Orders.OrderID))>5))"),
                    clause(11, "Count(Orders.OrderID)", "D"),
                    clause(11, "Orders.CustomerID")}
            << "select"
            << "SELECT Orders.CustomerID, Count(Orders.OrderID) AS CountOfOrderID\nFROM Orders\n"
               "GROUP BY Orders.CustomerID\nHAVING (((Count(Orders.OrderID))>5))\n"
               "ORDER BY Count(Orders.OrderID) DESC, Orders.CustomerID;"
            << "";
        QTest::newRow("LEFT and RIGHT joins nested, with a compound ON")
            << 0
            << Rows{start(),
                    end(),
                    table("A"),
                    table("B"),
                    table("C", "C 2"),
                    table("D"),
                    column("A.x"),
                    row(7, "B", "C 2", "B.id=[C 2].id", 2),
                    row(7, "A", "B", "A.x=B.x", 3),
                    row(7, "A", "B", "A.y=B.y", 3)}
            << "select"
            << "SELECT A.x\nFROM D, A RIGHT JOIN (B LEFT JOIN C AS [C 2] ON B.id=[C 2].id) ON (A.x=B.x) AND (A.y=B.y);"
            << "";
        QTest::newRow("crosstab with a parameter")
            << 16
            << Rows{typeRow(6),
                    row(2, "Which Year", nullptr, nullptr, 3),
                    table("Orders"),
                    column("Sum(Orders.Freight)", "SumOfFreight"),
                    column("Orders.ShipCountry", nullptr, 2),
                    column("Format([OrderDate],\"mmm\")", nullptr, 1),
                    clause(8, "(((Year([OrderDate]))=[Which Year]))"),
                    row(9, nullptr, nullptr, "Orders.ShipCountry", 2),
                    row(9, nullptr, nullptr, "Format([OrderDate],\"mmm\")", 1)}
            << "crosstab"
            << "PARAMETERS [Which Year] Short;\nTRANSFORM Sum(Orders.Freight) AS SumOfFreight\n"
               "SELECT Orders.ShipCountry\nFROM Orders\nWHERE (((Year([OrderDate]))=[Which Year]))\n"
               "GROUP BY Orders.ShipCountry\nPIVOT Format([OrderDate],\"mmm\");"
            << "";
        QTest::newRow("union without duplicates, ordered")
            << 128
            << Rows{typeRow(9), flags(3), table(nullptr, "X7YZ_____1", "Select * from Table1"),
                    table(nullptr, "X7YZ_____2", "Select * from Table2"), clause(11, "Table1.id")}
            << "union"
            << "Select * from Table1\nUNION Select * from Table2\nORDER BY Table1.id;"
            << "";
        QTest::newRow("update of a join, without a type row")
            << 48 << Rows{start(),
                          end(),
                          table("A"),
                          table("B"),
                          column("[B].[y]", nullptr, 0, "A.x"),
                          row(7, "A", "B", "A.id = B.id", 1)}
            << "update"
            << "UPDATE A INNER JOIN B ON A.id = B.id\nSET A.x = [B].[y];"
            << "";
        QTest::newRow("delete of whole rows")
            << 32
            << Rows{typeRow(5), table("Orders"), column("Orders.*"), clause(8, "(((Orders.OrderDate)<#1/1/2000#))")}
            << "delete"
            << "DELETE Orders.*\nFROM Orders\nWHERE (((Orders.OrderDate)<#1/1/2000#));"
            << "";

        QTest::newRow("TOP without its number")
            << 0 << Rows{typeRow(1), flags(0x10), table("A"), column("A.x")} << "select"
            << "SELECT A.x\nFROM A;"
            << "TOP has no number";
        QTest::newRow("make-table without its target")
            << 80 << Rows{typeRow(2), table("A"), column("A.x")} << "make-table"
            << "SELECT A.x INTO []\nFROM A;"
            << "names no table";
        QTest::newRow("append without its type row")
            << 64 << Rows{table("A"), column("A.x", nullptr, 0, "x")} << "append"
            << ""
            << "type row is missing";
        QTest::newRow("data definition without its text") << 96 << Rows{typeRow(7)} << "data-definition"
                                                          << ""
                                                          << "SQL text is missing";
        QTest::newRow("update that sets nothing") << 48 << Rows{typeRow(4), table("A")} << "update"
                                                  << "UPDATE A\nSET ;"
                                                  << "sets no field";
        QTest::newRow("kind only the type row names")
            << 144 << Rows{typeRow(8, "ODBC;", nullptr, "EXEC sp_who")} << "pass-through"
            << "EXEC sp_who"
            << "";
        QTest::newRow("kind nothing names") << 144 << Rows{table("A"), column("A.x")} << "unknown"
                                            << ""
                                            << "Flags 144, no type row";
        QTest::newRow("nothing but the opening rows of an update") << 48 << Rows{start(), end()} << "update"
                                                                   << ""
                                                                   << "holds no rows";
    }
    void everyKindRowByRow()
    {
        QFETCH(int, objectFlags);
        QFETCH(Rows, rows);
        QFETCH(QString, type);
        QFETCH(QString, sql);
        QFETCH(QString, note);
        const QueryText q = rebuildQuery(objectFlags, rows);
        QCOMPARE(QString::fromStdString(q.type), type);
        QCOMPARE(QString::fromStdString(q.sql), sql);
        if (note.isEmpty())
            QVERIFY2(q.problem.empty(), q.problem.c_str());
        else
            QVERIFY2(QString::fromStdString(q.problem).contains(note), q.problem.c_str());
    }

    void damagedRowsGiveANoteNotAFailure()
    {
        // A catalogue flag and a type row of no known kind.
        QueryText unknown = rebuildQuery(0, {row(1, nullptr, nullptr, nullptr, 42)});
        QCOMPARE(unknown.type, std::string("unknown"));
        QVERIFY(!unknown.problem.empty());
        QVERIFY(unknown.sql.empty());

        // A union that lost a part (still a union), a make-table query without the type row that
        // names its target.
        const QueryText halfUnion = rebuildQuery(128, {row(5, nullptr, "X7YZ_____1", "Select 1", std::nullopt)});
        QCOMPARE(halfUnion.type, std::string("union"));
        QVERIFY(!halfUnion.problem.empty());
        QVERIFY(halfUnion.sql.empty());
        QVERIFY(!rebuildQuery(80, {row(5, "Table1", nullptr, nullptr, std::nullopt)}).problem.empty());

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
