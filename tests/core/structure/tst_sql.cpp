// The migration DDL: exact statements for the cases that matter in each dialect, the notes of what
// does not carry over, and names and texts that try to end a statement or open a comment, checked
// by splitting the DDL as a server's lexer would. The fixture databases are read for real and their
// SQLite DDL is loaded in-process where libsqlite3 is at hand.

#include "core/db/Access.h"
#include "core/db/Ado.h"
#include "core/structure/Printable.h"
#include "core/structure/Read.h"
#include "core/structure/Sql.h"
#include "core/structure/Structure.h"
#include "support/EngineFixture.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QTest>

#ifdef STRUDEX_HAVE_SQLITE
#include <sqlite3.h>
#endif

using namespace Structure;

namespace {

const SqlDialect Pg = SqlDialect::PostgreSql;
const SqlDialect Lite = SqlDialect::Sqlite;
const SqlDialect My = SqlDialect::MySql;

Field field(const QString &name, const QString &accessType, const QString &fieldSize = QString(), qint64 size = 0)
{
    Field f;
    f.name = name;
    f.type = accessType;
    f.accessType = accessType;
    f.size = size;
    if (!fieldSize.isEmpty())
        f.fieldSize = fieldSize;
    return f;
}

Field text(const QString &name, int size)
{
    return field(name, QStringLiteral("Short Text"), QString::number(size), size);
}

Field number(const QString &name, const QString &size = QStringLiteral("Long Integer"))
{
    return field(name, QStringLiteral("Number"), size);
}

Field withDefault(Field f, const QString &value)
{
    f.defaultValue = value;
    return f;
}

Field withRule(Field f, const QString &rule)
{
    f.validationRule = rule;
    return f;
}

Index index(const QString &name, const QStringList &fields, bool primary = false, bool unique = false)
{
    Index i;
    i.name = name;
    for (QString f : fields) {
        const bool descending = f.startsWith(QLatin1Char('-'));
        i.fields << IndexField{descending ? f.mid(1) : f, descending};
    }
    i.primary = primary;
    i.unique = unique || primary;
    i.required = primary;
    return i;
}

Table table(const QString &name, const QList<Field> &fields, const QList<Index> &indexes = {})
{
    Table t;
    t.name = name;
    t.fields = fields;
    t.indexes = indexes;
    return t;
}

Relationship relationship(const QString &name, const QString &primary, const QStringList &primaryFields,
                          const QString &foreign, const QStringList &foreignFields, bool enforced = true)
{
    Relationship r;
    r.name = name;
    r.primaryTable = primary;
    r.primaryFields = primaryFields;
    r.foreignTable = foreign;
    r.foreignFields = foreignFields;
    r.enforced = enforced;
    return r;
}

Document document(const QList<Table> &tables, const QList<Relationship> &relationships = {})
{
    Document d;
    d.database.path = QStringLiteral("/data/shop.accdb");
    d.database.format = QStringLiteral("Access 2016/2019");
    d.tables = tables;
    d.relationships = relationships;
    return d;
}

// The CREATE TABLE statement of the table, as written.
QString createTable(const QString &sql, const QString &quotedName)
{
    const QString start = QStringLiteral("CREATE TABLE %1 (\n").arg(quotedName);
    const qsizetype at = sql.indexOf(start);
    return at < 0 ? QString() : sql.mid(at, sql.indexOf(QLatin1String(";\n"), at) + 1 - at);
}

QStringList notesOf(const QList<MigrationNote> &notes)
{
    QStringList lines;
    for (const MigrationNote &note : notes)
        lines << note.what + QStringLiteral(" | ") + note.where;
    return lines;
}

// A statement as a server's lexer splits the text: the code outside quotes and comments (each quoted
// part shown as "Q"), and what went wrong.
struct Lexed
{
    QStringList statements;
    QString trailing;
    QStringList errors;
};

Lexed lex(const QString &sql, SqlDialect dialect)
{
    Lexed lexed;
    const QChar identifier = dialect == My ? QLatin1Char('`') : QLatin1Char('"');
    const QChar other = dialect == My ? QLatin1Char('"') : QLatin1Char('`');
    QString code;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            // PostgreSQL ends a comment at a carriage return too.
            while (i < n && sql[i] != QLatin1Char('\n') && sql[i] != QLatin1Char('\r'))
                ++i;
            code += QLatin1Char(' ');
        } else if (c == QLatin1Char('\'') || c == identifier) {
            ++i;
            while (true) {
                if (i >= n) {
                    lexed.errors << QStringLiteral("unterminated quote");
                    break;
                }
                if (c == QLatin1Char('\'') && dialect == My && sql[i] == QLatin1Char('\\')) {
                    i += 2;
                    continue;
                }
                if (sql[i] == c) {
                    if (i + 1 < n && sql[i + 1] == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (sql[i].unicode() == 0)
                    lexed.errors << QStringLiteral("NUL in a quoted text");
                ++i;
            }
            code += QLatin1Char('Q');
        } else if (c == QLatin1Char(';')) {
            lexed.statements << code.simplified();
            code.clear();
            ++i;
        } else {
            if (c == other || (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) ||
                c.unicode() == 0 || c == QLatin1Char('\\') || c == QLatin1Char('#'))
                lexed.errors << QStringLiteral("%1 outside quotes").arg(c);
            code += c;
            ++i;
        }
    }
    lexed.trailing = code.simplified();
    return lexed;
}

const QRegularExpression kStatementKinds(QStringLiteral(
    "^(SET \\w+ = (Q|on)|SET NAMES utf8mb4|CREATE TABLE Q \\(.*\\)( ENGINE=InnoDB DEFAULT CHARSET=utf8mb4)?( "
    "COMMENT=Q)?|"
    "CREATE (UNIQUE )?INDEX Q ON Q \\(.*\\)|ALTER TABLE Q ADD CONSTRAINT Q FOREIGN KEY \\(.*\\) REFERENCES Q \\(.*\\)"
    "( ON UPDATE CASCADE)?( ON DELETE (CASCADE|SET NULL))?|COMMENT ON (TABLE Q|COLUMN Q\\.Q) IS Q)$"));

} // namespace

class SqlTest : public QObject
{
    Q_OBJECT

private slots:
    void dialectNames()
    {
        for (const SqlDialect dialect : {Pg, Lite, My})
            QCOMPARE(sqlDialect(sqlDialectName(dialect)), dialect);
        QCOMPARE(sqlDialectName(Pg), QStringLiteral("postgresql"));
        QCOMPARE(sqlDialect(QStringLiteral("mysql")), My);
        QVERIFY(!sqlDialect(QStringLiteral("PostgreSQL")));
        QVERIFY(!sqlDialect(QStringLiteral("mariadb")));
    }

    void typesKeepEveryValue_data()
    {
        QTest::addColumn<SqlDialect>("dialect");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QStringList>("notes");
        const QStringList names = {QStringLiteral("Tiny"),    QStringLiteral("Small"),  QStringLiteral("Whole"),
                                   QStringLiteral("Huge"),    QStringLiteral("Ratio"),  QStringLiteral("Measure"),
                                   QStringLiteral("Price"),   QStringLiteral("Amount"), QStringLiteral("Stamp"),
                                   QStringLiteral("Precise"), QStringLiteral("Flag"),   QStringLiteral("Name"),
                                   QStringLiteral("Notes"),   QStringLiteral("Link"),   QStringLiteral("Picture"),
                                   QStringLiteral("Raw"),     QStringLiteral("Ident"),  QStringLiteral("Odd")};
        const auto statement = [&](const QString &name, const QStringList &types, const QString &after) {
            QStringList lines;
            for (qsizetype i = 0; i < names.size(); ++i)
                lines << QStringLiteral("    %1 %2").arg(name.arg(names[i]), types[i]);
            return lines.join(QStringLiteral(",\n")) + after;
        };
        const QString byteCheck =
            QStringLiteral(",\n    CONSTRAINT \"T_Tiny_check\" CHECK (\"Tiny\" BETWEEN 0 AND 255)\n);");
        QTest::newRow("postgresql") << Pg
                                    << QStringLiteral("CREATE TABLE \"T\" (\n") +
                                           statement(QStringLiteral("\"%1\""),
                                                     {"smallint", "smallint", "integer", "bigint", "real",
                                                      "double precision", "numeric(19,4)", "numeric(18,4)", "timestamp",
                                                      "timestamp", "boolean NOT NULL DEFAULT false", "varchar(50)",
                                                      "text", "text", "bytea", "bytea", "uuid", "bytea"},
                                                     byteCheck)
                                    << QStringList{"type changed | T.Precise", "type not known | T.Odd"};
        QTest::newRow("sqlite") << Lite
                                << QStringLiteral("CREATE TABLE \"T\" (\n") +
                                       statement(QStringLiteral("\"%1\""),
                                                 {"INTEGER", "INTEGER", "INTEGER", "INTEGER", "REAL", "REAL", "NUMERIC",
                                                  "NUMERIC", "TEXT", "TEXT", "INTEGER NOT NULL DEFAULT 0", "TEXT",
                                                  "TEXT", "TEXT", "BLOB", "BLOB", "TEXT", "BLOB"},
                                                 byteCheck)
                                << QStringList{"type changed | T.Price", "type changed | T.Amount",
                                               "type changed | T.Ident", "type not known | T.Odd"};
        QTest::newRow("mysql") << My
                               << QStringLiteral("CREATE TABLE `T` (\n") +
                                      statement(QStringLiteral("`%1`"),
                                                {"tinyint unsigned", "smallint", "int", "bigint", "float", "double",
                                                 "decimal(19,4)", "decimal(18,4)", "datetime", "datetime(6)",
                                                 "tinyint(1) NOT NULL DEFAULT 0", "varchar(50)", "longtext", "longtext",
                                                 "longblob", "longblob", "char(38)", "longblob"},
                                                QStringLiteral("\n) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;"))
                               << QStringList{"type changed | T.Precise", "type changed | T.Ident",
                                              "type not known | T.Odd"};
    }

    void typesKeepEveryValue()
    {
        QFETCH(SqlDialect, dialect);
        QFETCH(QString, statement);
        QFETCH(QStringList, notes);
        Field amount = number(QStringLiteral("Amount"), QStringLiteral("Decimal"));
        amount.precision = 18;
        amount.scale = 4;
        const Document d = document(
            {table(QStringLiteral("T"),
                   {number(QStringLiteral("Tiny"), QStringLiteral("Byte")),
                    number(QStringLiteral("Small"), QStringLiteral("Integer")), number(QStringLiteral("Whole")),
                    field(QStringLiteral("Huge"), QStringLiteral("Large Number")),
                    number(QStringLiteral("Ratio"), QStringLiteral("Single")),
                    number(QStringLiteral("Measure"), QStringLiteral("Double")),
                    field(QStringLiteral("Price"), QStringLiteral("Currency")), amount,
                    field(QStringLiteral("Stamp"), QStringLiteral("Date/Time")),
                    field(QStringLiteral("Precise"), QStringLiteral("Date/Time Extended")),
                    field(QStringLiteral("Flag"), QStringLiteral("Yes/No")), text(QStringLiteral("Name"), 50),
                    field(QStringLiteral("Notes"), QStringLiteral("Long Text")),
                    field(QStringLiteral("Link"), QStringLiteral("Hyperlink")),
                    field(QStringLiteral("Picture"), QStringLiteral("OLE Object")),
                    field(QStringLiteral("Raw"), QStringLiteral("Binary")),
                    number(QStringLiteral("Ident"), QStringLiteral("Replication ID")),
                    field(QStringLiteral("Odd"), QStringLiteral("Unknown (99)"))})});
        QCOMPARE(createTable(toSql(d, dialect), statement.section(QLatin1Char(' '), 2, 2)), statement);
        QCOMPARE(notesOf(migrationNotes(d, dialect)), notes);
    }

    // Keys, indexes and foreign keys of a small shop, its orders table first so that SQLite, whose
    // foreign keys are inside CREATE TABLE, has to write it after the tables it refers to.
    void keysIndexesAndForeignKeys()
    {
        Field customerId =
            field(QStringLiteral("CustomerID"), QStringLiteral("AutoNumber"), QStringLiteral("Long Integer"));
        Field name = text(QStringLiteral("Name"), 80);
        name.required = true;
        name.allowZeroLength = false;
        Field orderId = customerId;
        orderId.name = QStringLiteral("OrderID");
        Field ordersCustomer = number(QStringLiteral("CustomerID"));
        ordersCustomer.required = true;
        Index backing = index(QStringLiteral("CustomersOrders"), {QStringLiteral("CustomerID")});
        backing.foreignKey = true;
        const Table orders = table(QStringLiteral("Orders"),
                                   {orderId, ordersCustomer, text(QStringLiteral("Region"), 10),
                                    number(QStringLiteral("Branch"), QStringLiteral("Integer"))},
                                   {index(QStringLiteral("PrimaryKey"), {QStringLiteral("OrderID")}, true), backing});
        const Table customers = table(
            QStringLiteral("Customers"), {customerId, name, text(QStringLiteral("Email"), 120)},
            {index(QStringLiteral("PrimaryKey"), {QStringLiteral("CustomerID")}, true),
             index(QStringLiteral("ByNameEmail"), {QStringLiteral("Name"), QStringLiteral("-Email")}, false, true),
             index(QStringLiteral("CustomerID"), {QStringLiteral("CustomerID")}),
             index(QStringLiteral("Broken"), {QStringLiteral("Gone")})});
        const Table branches =
            table(QStringLiteral("Branches"),
                  {text(QStringLiteral("Region"), 10), number(QStringLiteral("Branch"), QStringLiteral("Integer"))},
                  {index(QStringLiteral("PrimaryKey"), {QStringLiteral("Region"), QStringLiteral("Branch")}, true)});
        Relationship cascades =
            relationship(QStringLiteral("CustomersOrders"), QStringLiteral("Customers"), {QStringLiteral("CustomerID")},
                         QStringLiteral("Orders"), {QStringLiteral("CustomerID")});
        cascades.cascadeUpdates = cascades.cascadeDeletes = true;
        Relationship toNull =
            relationship(QStringLiteral("BranchesOrders"), QStringLiteral("Branches"),
                         {QStringLiteral("Region"), QStringLiteral("Branch")}, QStringLiteral("Orders"),
                         {QStringLiteral("Region"), QStringLiteral("Branch")});
        toNull.cascadeNull = true;
        const Document d =
            document({orders, customers, branches},
                     {cascades, toNull,
                      relationship(QStringLiteral("Loose"), QStringLiteral("Branches"), {QStringLiteral("Region")},
                                   QStringLiteral("Customers"), {QStringLiteral("Email")}, false),
                      relationship(QStringLiteral("ToOld"), QStringLiteral("Old"), {QStringLiteral("ID")},
                                   QStringLiteral("Orders"), {QStringLiteral("OrderID")}),
                      relationship(QStringLiteral("MSysNavPaneGroupsMSysNavPaneGroupToObjects"),
                                   QStringLiteral("MSysNavPaneGroups"), {QStringLiteral("Id")},
                                   QStringLiteral("MSysNavPaneGroupToObjects"), {QStringLiteral("GroupID")})});

        const QString pg = toSql(d, Pg);
        QCOMPARE(createTable(pg, QStringLiteral("\"Customers\"")),
                 QStringLiteral("CREATE TABLE \"Customers\" (\n"
                                "    \"CustomerID\" integer NOT NULL GENERATED BY DEFAULT AS IDENTITY,\n"
                                "    \"Name\" varchar(80) NOT NULL,\n"
                                "    \"Email\" varchar(120),\n"
                                "    CONSTRAINT \"Customers_pkey\" PRIMARY KEY (\"CustomerID\"),\n"
                                "    CONSTRAINT \"Customers_Name_check\" CHECK (\"Name\" <> '')\n"
                                ");"));
        QVERIFY(pg.indexOf(QLatin1String("CREATE TABLE \"Orders\"")) >
                pg.indexOf(QLatin1String("CREATE TABLE \"Branches\"")));
        for (const char *statement :
             {"CONSTRAINT \"Branches_pkey\" PRIMARY KEY (\"Region\", \"Branch\")\n",
              "\nCREATE UNIQUE INDEX \"Customers_ByNameEmail\" ON \"Customers\" (\"Name\", \"Email\" DESC);\n",
              "\nCREATE INDEX \"Orders_CustomersOrders\" ON \"Orders\" (\"CustomerID\");\n",
              "\nALTER TABLE \"Orders\" ADD CONSTRAINT \"CustomersOrders\" FOREIGN KEY (\"CustomerID\") REFERENCES "
              "\"Customers\" (\"CustomerID\") ON UPDATE CASCADE ON DELETE CASCADE;\n",
              "\nALTER TABLE \"Orders\" ADD CONSTRAINT \"BranchesOrders\" FOREIGN KEY (\"Region\", \"Branch\") "
              "REFERENCES \"Branches\" (\"Region\", \"Branch\") ON DELETE SET NULL;\n",
              "\n-- Relationship \"Loose\", not enforced by Access: \"Customers\" (\"Email\") refers to \"Branches\" "
              "(\"Region\")\n"})
            QVERIFY2(pg.contains(QLatin1String(statement)), statement);
        // The index that only repeats the primary key is not made twice; the damaged one is noted.
        QCOMPARE(pg.count(QLatin1String("CREATE INDEX")) + pg.count(QLatin1String("CREATE UNIQUE INDEX")), 2);
        QCOMPARE(notesOf(migrationNotes(d, Pg)),
                 (QStringList{"index not created | Customers.Broken", "relationship not enforced | Loose",
                              "relationship not created | ToOld"}));

        // MySQL makes the foreign keys' indexes itself and names indexes within their table.
        const QString my = toSql(d, My);
        QVERIFY(
            my.contains(QLatin1String("\nCREATE UNIQUE INDEX `ByNameEmail` ON `Customers` (`Name`, `Email` DESC);\n")));
        QVERIFY(my.contains(QLatin1String("    `CustomerID` int NOT NULL AUTO_INCREMENT,\n")));
        QVERIFY(my.contains(QLatin1String("    CONSTRAINT `Customers_Name_check` CHECK (char_length(`Name`) > 0)\n")));
        QVERIFY(!my.contains(QLatin1String("INDEX `CustomersOrders`")));
        QVERIFY(my.contains(QLatin1String("REFERENCES `Branches` (`Region`, `Branch`) ON DELETE SET NULL;\n")));

        // SQLite: the AutoNumber key numbers itself, the foreign keys are in the table.
        const QString lite = toSql(d, Lite);
        QCOMPARE(
            createTable(lite, QStringLiteral("\"Orders\"")),
            QStringLiteral("CREATE TABLE \"Orders\" (\n"
                           "    \"OrderID\" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,\n"
                           "    \"CustomerID\" INTEGER NOT NULL,\n"
                           "    \"Region\" TEXT,\n"
                           "    \"Branch\" INTEGER,\n"
                           "    CONSTRAINT \"CustomersOrders\" FOREIGN KEY (\"CustomerID\") REFERENCES \"Customers\" "
                           "(\"CustomerID\") ON UPDATE CASCADE ON DELETE CASCADE,\n"
                           "    CONSTRAINT \"BranchesOrders\" FOREIGN KEY (\"Region\", \"Branch\") REFERENCES "
                           "\"Branches\" (\"Region\", \"Branch\") ON DELETE SET NULL\n"
                           ");"));
        QVERIFY(lite.indexOf(QLatin1String("CREATE TABLE \"Orders\"")) >
                lite.indexOf(QLatin1String("CREATE TABLE \"Customers\"")));
        QVERIFY(!lite.contains(QLatin1String("ALTER TABLE")));
    }

    void keysThatNeedMore()
    {
        // A relationship to columns that have no unique index of their own gets one; MySQL cannot set a
        // NOT NULL column to Null; SQLite numbers an AutoNumber only as the whole primary key.
        Field id = field(QStringLiteral("ID"), QStringLiteral("AutoNumber"), QStringLiteral("Long Integer"));
        Field code = text(QStringLiteral("Code"), 10);
        Field ref = text(QStringLiteral("Code"), 10);
        ref.required = true;
        Relationship r = relationship(QStringLiteral("ByCode"), QStringLiteral("A"), {QStringLiteral("Code")},
                                      QStringLiteral("B"), {QStringLiteral("Code")});
        r.cascadeNull = true;
        const Document d = document(
            {table(QStringLiteral("A"), {id, code},
                   {index(QStringLiteral("PrimaryKey"), {QStringLiteral("Code"), QStringLiteral("ID")}, true)}),
             table(QStringLiteral("B"), {ref})},
            {r});
        QVERIFY(toSql(d, Pg).contains(QLatin1String("\nCREATE UNIQUE INDEX \"A_Code_key\" ON \"A\" (\"Code\");\n")));
        QCOMPARE(notesOf(migrationNotes(d, Pg)), QStringList{"unique index added | ByCode"});
        const QString my = toSql(d, My);
        QVERIFY(my.contains(QLatin1String("    `ID` int NOT NULL AUTO_INCREMENT,\n")));
        QVERIFY(my.contains(QLatin1String("    KEY `ID` (`ID`)\n")));
        QVERIFY(my.contains(QLatin1String("FOREIGN KEY (`Code`) REFERENCES `A` (`Code`);\n")));
        QCOMPARE(notesOf(migrationNotes(d, My)),
                 (QStringList{"index added | A.ID", "delete action not carried over | ByCode",
                              "unique index added | ByCode"}));
        QVERIFY(toSql(d, Lite).contains(QLatin1String("    \"ID\" INTEGER NOT NULL,\n")));
        QCOMPARE(notesOf(migrationNotes(d, Lite)),
                 (QStringList{"auto-numbering not carried over | A.ID", "unique index added | ByCode"}));
    }

    void autoNumbersOfOtherKinds()
    {
        Field random = field(QStringLiteral("R"), QStringLiteral("AutoNumber"), QStringLiteral("Long Integer"));
        random.defaultValue = QStringLiteral("GenUniqueID()");
        Field guid = field(QStringLiteral("G"), QStringLiteral("AutoNumber"), QStringLiteral("Replication ID"));
        guid.defaultValue = QStringLiteral("GenGUID()");
        const Document d = document({table(QStringLiteral("T"), {random, guid})});
        QVERIFY(toSql(d, Pg).contains(QLatin1String(
            "    \"R\" integer NOT NULL DEFAULT CAST(floor(random() * 4294967296) - 2147483648 AS integer),\n"
            "    \"G\" uuid NOT NULL DEFAULT gen_random_uuid()\n")));
        QVERIFY(toSql(d, My).contains(
            QLatin1String("    `R` int NOT NULL DEFAULT (floor(rand() * 4294967296) - 2147483648),\n"
                          "    `G` char(38) NOT NULL DEFAULT (concat('{', upper(uuid()), '}'))\n")));
        QVERIFY(toSql(d, Lite).contains(QLatin1String("    \"R\" INTEGER NOT NULL DEFAULT (random() >> 32),\n")));
        // A default is not an AutoNumber: a person should know.
        QCOMPARE(notesOf(migrationNotes(d, Pg)),
                 (QStringList{"random AutoNumber made a default | T.R", "GUID AutoNumber made a default | T.G"}));
    }

    void defaults_data()
    {
        QTest::addColumn<Field>("field");
        QTest::addColumn<QStringList>("written"); // PostgreSQL, SQLite, MySQL; empty: not carried over
        QTest::newRow("text") << withDefault(text(QStringLiteral("F"), 20), QStringLiteral("\"it's \"\"so\"\" \\\""))
                              << QStringList{"'it''s \"so\" \\'", "'it''s \"so\" \\'", "'it''s \"so\" \\\\'"};
        // The command-line clients of MySQL and SQLite drop a carriage return before a line feed.
        QTest::newRow("line break") << withDefault(text(QStringLiteral("F"), 20), QStringLiteral("\"a\r\nb\""))
                                    << QStringList{"'a\r\nb'", "('a' || char(13) || '\nb')", "'a\\r\\nb'"};
        QTest::newRow("long text") << withDefault(field(QStringLiteral("F"), QStringLiteral("Long Text")),
                                                  QStringLiteral("'x'"))
                                   << QStringList{"'x'", "'x'", "('x')"};
        QTest::newRow("yes") << withDefault(field(QStringLiteral("F"), QStringLiteral("Yes/No")), QStringLiteral("Yes"))
                             << QStringList{"true", "1", "1"};
        QTest::newRow("negative") << withDefault(number(QStringLiteral("F")), QStringLiteral("-5"))
                                  << QStringList{"-5", "-5", "-5"};
        QTest::newRow("fraction of a whole")
            << withDefault(number(QStringLiteral("F")), QStringLiteral("1.5")) << QStringList();
        // Its comment line cannot end early.
        QTest::newRow("function") << withDefault(number(QStringLiteral("F")),
                                                 QStringLiteral("=Year(Now())\r\nDROP TABLE x; -- */"))
                                  << QStringList();
        QTest::newRow("null") << withDefault(number(QStringLiteral("F"), QStringLiteral("Double")),
                                             QStringLiteral("Null"))
                              << QStringList{"NULL", "NULL", "NULL"};
        QTest::newRow("now") << withDefault(field(QStringLiteral("F"), QStringLiteral("Date/Time")),
                                            QStringLiteral("=Now()"))
                             << QStringList{"LOCALTIMESTAMP(0)", "(datetime('now', 'localtime'))", "CURRENT_TIMESTAMP"};
        QTest::newRow("date") << withDefault(field(QStringLiteral("F"), QStringLiteral("Date/Time")),
                                             QStringLiteral("Date()"))
                              << QStringList{"CURRENT_DATE", "(datetime('now', 'localtime', 'start of day'))",
                                             "(curdate())"};
        QTest::newRow("us date") << withDefault(field(QStringLiteral("F"), QStringLiteral("Date/Time")),
                                                QStringLiteral("#1/31/2000 1:05 PM#"))
                                 << QStringList{"'2000-01-31 13:05:00'", "'2000-01-31 13:05:00'",
                                                "'2000-01-31 13:05:00'"};
        QTest::newRow("two-digit year") << withDefault(field(QStringLiteral("F"), QStringLiteral("Date/Time")),
                                                       QStringLiteral("#2/3/04#"))
                                        << QStringList();
        QTest::newRow("function") << withDefault(text(QStringLiteral("F"), 4),
                                                 QStringLiteral("=Format(Now(),\"yyyy\")"))
                                  << QStringList();
    }

    void defaults()
    {
        QFETCH(Field, field);
        QFETCH(QStringList, written);
        const Document d = document({table(QStringLiteral("T"), {field})});
        const SqlDialect dialects[] = {Pg, Lite, My};
        for (int i = 0; i < 3; ++i) {
            const QString sql = toSql(d, dialects[i]);
            const QList<MigrationNote> notes = migrationNotes(d, dialects[i]);
            if (written.isEmpty()) {
                static const QRegularExpression anyDefault(QStringLiteral("[\"`]F[\"`][^\n]* DEFAULT "));
                QVERIFY(!anyDefault.match(sql).hasMatch());
                QCOMPARE(notes.size(), 1);
                QCOMPARE(notes[0].what, QStringLiteral("default not carried over"));
                QCOMPARE(notes[0].where, QStringLiteral("T.F"));
                QVERIFY(notes[0].why.endsWith(QStringLiteral("(Access: %1)").arg(*field.defaultValue)));
                // And beside the table, in a comment line of its own.
                QVERIFY2(sql.contains(QStringLiteral(";\n-- Not carried over: the default of %1 in Access, %2\n")
                                          .arg(dialects[i] == My ? QStringLiteral("`F`") : QStringLiteral("\"F\""),
                                               printable(*field.defaultValue))),
                         qPrintable(sql));
            } else {
                QVERIFY2(sql.contains(QStringLiteral(" DEFAULT %1\n").arg(written[i])), qPrintable(sql));
            }
        }
    }

    void checks_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QStringList>("written"); // PostgreSQL, SQLite, MySQL; empty: not carried over
        QTest::newRow("implicit") << ">0" << QStringList{"\"Qty\" > 0", "\"Qty\" > 0", "`Qty` > 0"};
        QTest::newRow("between") << "Between -1 And 10 Or Is Null"
                                 << QStringList{"(\"Qty\" BETWEEN -1 AND 10) OR (\"Qty\" IS NULL)",
                                                "(\"Qty\" BETWEEN -1 AND 10) OR (\"Qty\" IS NULL)",
                                                "(`Qty` BETWEEN -1 AND 10) OR (`Qty` IS NULL)"};
        QTest::newRow("in text") << "[Code] In (\"a\",\"B\") And [Qty]<>[Qty2]"
                                 << QStringList{"(lower(\"Code\") IN ('a', 'b')) AND (\"Qty\" <> \"Qty2\")",
                                                "(lower(\"Code\") IN ('a', 'b')) AND (\"Qty\" <> \"Qty2\")",
                                                "(`Code` IN ('a', 'B')) AND (`Qty` <> `Qty2`)"};
        QTest::newRow("like") << "[Code] Not Like \"A?_*[*]\""
                              << QStringList{"\"Code\" NOT ILIKE 'A_!_%*' ESCAPE '!'",
                                             "\"Code\" NOT LIKE 'A_!_%*' ESCAPE '!'",
                                             "`Code` NOT LIKE 'A_!_%*' ESCAPE '!'"};
        QTest::newRow("dates") << "Not ([Since] < #2000-01-31#)"
                               << QStringList{"NOT (\"Since\" < TIMESTAMP '2000-01-31 00:00:00')",
                                              "NOT (\"Since\" < '2000-01-31 00:00:00')",
                                              "NOT (`Since` < TIMESTAMP '2000-01-31 00:00:00')"};
        QTest::newRow("double minus") << "[Qty] > --1"
                                      << QStringList{"\"Qty\" > (-(-1))", "\"Qty\" > (-(-1))", "`Qty` > (-(-1))"};
        QTest::newRow("function") << "Len([Code])>2" << QStringList();
        QTest::newRow("digit wildcard") << "[Code] Like \"#*\"" << QStringList();
        QTest::newRow("text order") << "[Code] > \"m\"" << QStringList();
        QTest::newRow("unknown field") << "[Other] > 0" << QStringList();
        QTest::newRow("unfinished") << "[Qty] > 0 Or" << QStringList();
        QTest::newRow("mixed kinds") << "[Qty] = \"1\"" << QStringList();
        QTest::newRow("reversed bounds") << "[Qty] Between 10 And 1" << QStringList();
    }

    void checks()
    {
        QFETCH(QString, rule);
        QFETCH(QStringList, written);
        const bool fieldRule = rule == QLatin1String(">0") || rule.startsWith(QLatin1String("Between"));
        Table t = table(QStringLiteral("T"), {withRule(number(QStringLiteral("Qty")), fieldRule ? rule : QString()),
                                              number(QStringLiteral("Qty2")), text(QStringLiteral("Code"), 5),
                                              field(QStringLiteral("Since"), QStringLiteral("Date/Time"))});
        if (!fieldRule)
            t.validationRule = rule;
        const Document d = document({t});
        const SqlDialect dialects[] = {Pg, Lite, My};
        const QString name = fieldRule ? QStringLiteral("T_Qty_check") : QStringLiteral("T_check");
        for (int i = 0; i < 3; ++i) {
            const QList<MigrationNote> notes = migrationNotes(d, dialects[i]);
            const QString sql = toSql(d, dialects[i]);
            if (written.isEmpty()) {
                QVERIFY(!sql.contains(QLatin1String(" CHECK ")));
                QCOMPARE(notesOf(notes), QStringList{QStringLiteral("validation rule not carried over | ") +
                                                     (fieldRule ? QStringLiteral("T.Qty") : QStringLiteral("T"))});
                QVERIFY(notes[0].why.endsWith(QStringLiteral("(Access: %1)").arg(rule)));
            } else {
                const QString quoted =
                    dialects[i] == My ? QStringLiteral("`%1`").arg(name) : QStringLiteral("\"%1\"").arg(name);
                QVERIFY2(sql.contains(QStringLiteral("    CONSTRAINT %1 CHECK (%2)\n").arg(quoted, written[i])),
                         qPrintable(sql));
                QCOMPARE(notes.size(), 0);
            }
        }
    }

    void multiValuedFieldsBecomeTables()
    {
        Field tags = field(QStringLiteral("Tags"), QStringLiteral("Short Text"));
        tags.multiValued = true;
        tags.description = QStringLiteral("Words to find");
        const Document d =
            document({table(QStringLiteral("Tasks"),
                            {field(QStringLiteral("ID"), QStringLiteral("AutoNumber"), QStringLiteral("Long Integer")),
                             tags, field(QStringLiteral("Files"), QStringLiteral("Attachment"))},
                            {index(QStringLiteral("PrimaryKey"), {QStringLiteral("ID")}, true),
                             index(QStringLiteral("Tags_0123"), {QStringLiteral("Tags")}, false, true)})});
        const QString pg = toSql(d, Pg);
        QCOMPARE(createTable(pg, QStringLiteral("\"Tasks\"")),
                 QStringLiteral("CREATE TABLE \"Tasks\" (\n"
                                "    \"ID\" integer NOT NULL GENERATED BY DEFAULT AS IDENTITY,\n"
                                "    CONSTRAINT \"Tasks_pkey\" PRIMARY KEY (\"ID\")\n"
                                ");"));
        QCOMPARE(createTable(pg, QStringLiteral("\"Tasks_Tags\"")),
                 QStringLiteral("CREATE TABLE \"Tasks_Tags\" (\n"
                                "    \"ID\" integer NOT NULL,\n"
                                "    \"Tags\" varchar(255) NOT NULL\n"
                                ");"));
        QCOMPARE(createTable(pg, QStringLiteral("\"Tasks_Files\"")),
                 QStringLiteral("CREATE TABLE \"Tasks_Files\" (\n"
                                "    \"ID\" integer NOT NULL,\n"
                                "    \"FileName\" varchar(255) NOT NULL,\n"
                                "    \"FileType\" varchar(255),\n"
                                "    \"FileData\" bytea\n"
                                ");"));
        QVERIFY(pg.contains(QLatin1String("\nCOMMENT ON TABLE \"Tasks_Tags\" IS 'The values of the field Tasks.Tags: "
                                          "one row per value\nWords to find';\n")));
        QVERIFY(pg.contains(
            QLatin1String("\nALTER TABLE \"Tasks_Tags\" ADD CONSTRAINT \"Tasks_Tags_fkey\" FOREIGN KEY "
                          "(\"ID\") REFERENCES \"Tasks\" (\"ID\") ON UPDATE CASCADE ON DELETE CASCADE;\n")));
        QCOMPARE(notesOf(migrationNotes(d, Pg)), (QStringList{"multi-valued field made a table | Tasks.Tags",
                                                              "multi-valued field made a table | Tasks.Files"}));
        QVERIFY(
            toSql(d, Lite).contains(QLatin1String("    CONSTRAINT \"Tasks_Files_fkey\" FOREIGN KEY (\"ID\") REFERENCES "
                                                  "\"Tasks\" (\"ID\") ON UPDATE CASCADE ON DELETE CASCADE\n);")));
    }

    void calculatedFieldsAreGenerated()
    {
        Field full = field(QStringLiteral("Full"), QStringLiteral("Calculated"), QStringLiteral("100"));
        full.adoType = 202;
        full.expression = QStringLiteral("[First] & \" \" & [Last]");
        Field total = field(QStringLiteral("Total"), QStringLiteral("Calculated"), QStringLiteral("Double"));
        total.adoType = 5;
        total.expression = QStringLiteral("[Qty]*[Price]/2");
        Field length = field(QStringLiteral("Length"), QStringLiteral("Calculated"), QStringLiteral("Long Integer"));
        length.adoType = 3;
        length.expression = QStringLiteral("Len([First])");
        const Document d = document(
            {table(QStringLiteral("P"),
                   {text(QStringLiteral("First"), 20), text(QStringLiteral("Last"), 20), number(QStringLiteral("Qty")),
                    field(QStringLiteral("Price"), QStringLiteral("Currency")), full, total, length})});
        const QString pg = toSql(d, Pg);
        QVERIFY(pg.contains(QLatin1String("    \"Full\" text GENERATED ALWAYS AS ((COALESCE(\"First\", '') || ' ') || "
                                          "COALESCE(\"Last\", '')) STORED,\n")));
        QVERIFY(
            pg.contains(QLatin1String("    \"Total\" double precision GENERATED ALWAYS AS (CAST((\"Qty\" * \"Price\") "
                                      "AS double precision) / 2) STORED,\n")));
        QVERIFY(pg.contains(QLatin1String("    \"Length\" integer\n")));
        QVERIFY(pg.contains(
            QLatin1String("\nCOMMENT ON COLUMN \"P\".\"Length\" IS 'Access calculates it: Len([First])';\n")));
        QVERIFY(
            toSql(d, My).contains(QLatin1String("    `Full` longtext GENERATED ALWAYS AS "
                                                "(CONCAT(CONCAT(COALESCE(`First`, ''), ' '), COALESCE(`Last`, ''))) "
                                                "STORED,\n")));
        QVERIFY(toSql(d, Lite).contains(
            QLatin1String("    \"Total\" REAL GENERATED ALWAYS AS (CAST((\"Qty\" * \"Price\") AS REAL) / 2),\n")));
        QCOMPARE(notesOf(migrationNotes(d, My)), QStringList{"calculated field not generated | P.Length"});
    }

    void longNamesAreShortened()
    {
        const QString umlauts = QString(40, QChar(0xC4));      // 80 bytes of UTF-8, 40 characters
        const QString letters = QString(70, QLatin1Char('c')); // too long for both
        const QString alike = letters + QLatin1Char('d');      // the same start
        const auto hash = [](const QString &name) {
            return QString::fromLatin1(
                QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
        };
        const Document d = document({table(umlauts, {number(letters), number(alike)})});
        const QString pg = toSql(d, Pg);
        const QString shortTable = umlauts.left(27) + QLatin1Char('_') + hash(umlauts);
        QVERIFY(pg.contains(QStringLiteral("\nCREATE TABLE \"%1\" (\n    \"%2\" integer,\n    \"%3\" integer\n);")
                                .arg(shortTable, letters.left(54) + QLatin1Char('_') + hash(letters),
                                     letters.left(54) + QLatin1Char('_') + hash(alike))));
        QVERIFY(pg.contains(QStringLiteral("\n-- - \"%1\": %2\n").arg(shortTable, umlauts)));
        QCOMPARE(notesOf(migrationNotes(d, Pg)),
                 (QStringList{"name shortened | " + umlauts, "name shortened | " + umlauts + '.' + letters,
                              "name shortened | " + umlauts + '.' + alike}));
        // MySQL counts characters, SQLite has no limit.
        QVERIFY(toSql(d, My).contains(QStringLiteral("\nCREATE TABLE `%1` (\n    `%2` int,\n")
                                          .arg(umlauts, letters.left(55) + QLatin1Char('_') + hash(letters))));
        QVERIFY(migrationNotes(d, Lite).isEmpty());
        // MySQL keeps a table in a file of its name, where each of these characters takes 5 bytes.
        const QString cjk = QString(60, QChar(0x6CE8));
        QVERIFY(toSql(document({table(cjk, {number(QStringLiteral("A"))})}), My)
                    .contains(QStringLiteral("\nCREATE TABLE `%1_%2` (\n").arg(cjk.left(48), hash(cjk))));
    }

    void namesThatDifferOnlyInCase()
    {
        const Document d =
            document({table(QStringLiteral("T"), {number(QStringLiteral("Name")), number(QStringLiteral("NAME"))})});
        QVERIFY(toSql(d, Pg).contains(QLatin1String("    \"Name\" integer,\n    \"NAME\" integer\n")));
        QVERIFY(toSql(d, My).contains(QLatin1String("    `Name` int,\n    `NAME_2` int\n")));
        QCOMPARE(notesOf(migrationNotes(d, Lite)), QStringList{"name changed | T.NAME"});
    }

    // Names and texts that try every way out of a quoted name, a string or a comment: each statement
    // must still be one of the kinds written, and nothing of theirs may stand outside quotes.
    void hostileNamesStayQuoted_data()
    {
        QTest::addColumn<SqlDialect>("dialect");
        QTest::newRow("postgresql") << Pg;
        QTest::newRow("sqlite") << Lite;
        QTest::newRow("mysql") << My;
    }

    void hostileNamesStayQuoted()
    {
        QFETCH(SqlDialect, dialect);
        const QString evil = QStringLiteral("a\"b`c'd\\'; DROP TABLE pwned; -- pwned\n/* pwned */ ]pwned[ \r\npwned") +
                             QChar(0) + QStringLiteral("pwned\x1b[2J\u2028pwned \\");
        Field f = withDefault(
            text(evil, 20),
            QLatin1Char('"') +
                QString(evil).replace(QChar(0), QLatin1Char('0')).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                QLatin1Char('"'));
        f.description = evil;
        f.validationRule = QStringLiteral("Like \"*'; DROP pwned --*\" Or \"") + evil + QLatin1Char('"');
        Field other = withDefault(number(evil + QLatin1Char('2')), QStringLiteral("Format(\"'pwned\n--\")"));
        Table t =
            table(evil, {f, other}, {index(evil, {evil}, true), index(evil + QLatin1Char('!'), {evil + '2', evil})});
        t.description = evil;
        Table linked = table(QStringLiteral("Other ") + evil, {text(QStringLiteral("x") + evil, 20)},
                             {index(QStringLiteral("k"), {QStringLiteral("x") + evil}, false, true)});
        Document d =
            document({t, linked},
                     {relationship(evil, evil, {evil}, QStringLiteral("Other ") + evil, {QStringLiteral("x") + evil}),
                      relationship(evil + 'x', evil, {evil + '2'}, QStringLiteral("Other ") + evil,
                                   {QStringLiteral("x") + evil}, false)});
        d.database.path = QStringLiteral("/data/") + evil + QStringLiteral(".accdb");
        d.linkedTables << LinkedTable{evil, evil, evil, QString()};
        d.queries << Query{evil, QStringLiteral("select"), evil, QString()};

        const QString sql = toSql(d, dialect);
        const Lexed lexed = lex(sql, dialect);
        QVERIFY2(lexed.errors.isEmpty(), qPrintable(lexed.errors.join(u'\n')));
        QCOMPARE(lexed.trailing, QString());
        for (const QString &statement : lexed.statements) {
            QVERIFY2(kStatementKinds.match(statement).hasMatch(), qPrintable(statement));
            QVERIFY2(!statement.contains(QLatin1String("pwned")), qPrintable(statement));
        }
        // Two tables, two indexes, a foreign key (SQLite's is in its table) and, for PostgreSQL, the
        // two descriptions' statements.
        const int comments = dialect == Pg ? 2 : 0;
        const int settings = dialect == Pg ? 2 : dialect == My ? 1 : 0;
        QCOMPARE(lexed.statements.size(), settings + 2 + 2 + (dialect == Lite ? 0 : 1) + comments);
        // Every line of the header is a comment.
        const QString header = sql.left(sql.indexOf(QLatin1String("\n\n")));
        for (const QString &line : header.split(QLatin1Char('\n')))
            QVERIFY2(line.startsWith(QLatin1String("--")), qPrintable(line));
        QVERIFY(header.contains(QStringLiteral("\n-- Migration notes (%1):\n").arg(migrationNotes(d, dialect).size())));
    }

    void notesSayNoneWhenAllCarriesOver()
    {
        Document d = document({table(QStringLiteral("T"), {number(QStringLiteral("A"))})});
        for (const SqlDialect dialect : {Pg, Lite, My}) {
            QVERIFY(migrationNotes(d, dialect).isEmpty());
            const QString sql = toSql(d, dialect);
            QVERIFY(sql.startsWith(QStringLiteral("-- Migration DDL for ")));
            QVERIFY(sql.contains(QLatin1String(", written by ") + generatorName() +
                                 QLatin1String("\n-- Source: shop.accdb "
                                               "(Access 2016/2019)\n")));
            QVERIFY(sql.contains(QLatin1String("\n-- Migration notes: none\n")));
        }
        // What cannot be made at all, in the document's order.
        Table unread = table(QStringLiteral("Unread"), {});
        unread.definitionRead = false;
        d.tables.prepend(unread);
        d.linkedTables << LinkedTable{QStringLiteral("Remote"), QStringLiteral("dbo.Remote"),
                                      QStringLiteral("ODBC;DSN=x"), QString()};
        d.queries << Query{QStringLiteral("Q"), QStringLiteral("select"), QStringLiteral("SELECT 1"), QString()};
        const QList<MigrationNote> notes = migrationNotes(d, Pg);
        QCOMPARE(notesOf(notes), (QStringList{"table not created | Unread", "linked table not created | Remote",
                                              "queries not translated | queries"}));
        QVERIFY(toSql(d, Pg).contains(QLatin1String("\n-- Migration notes (3):\n-- - table not created (Unread): its "
                                                    "definition could not be read\n")));
    }

    void writesUtf8()
    {
        const Document d = document({table(QStringLiteral("Zoë"), {number(QStringLiteral("注文"))})});
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeSql(d, My, buffer));
        QCOMPARE(buffer.data(), toSql(d, My).toUtf8());
        QBuffer closed;
        QVERIFY(!writeSql(d, My, closed));
    }

    // The fixture databases read for real: what they do not carry over, and, with libsqlite3, the
    // SQLite DDL run in-process with its keys and checks at work.
    void fixtureDatabases_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("accdb") << QStringLiteral("structure.accdb");
        QTest::newRow("mdb") << QStringLiteral("structure.mdb");
    }

    void fixtureDatabases()
    {
        QFETCH(QString, file);
        TestSupport::useBuiltEngine();
        auto connection = Ado::CreateConnection();
        connection->Open(Access::BuildConnectionString({TestSupport::testDatabase(file), QString()}));
        const Document d = read(*connection, {});
        connection->Close();
        QCOMPARE(notesOf(migrationNotes(d, Pg)), QStringList{"relationship not enforced | BranchesOrders"});
        QCOMPARE(notesOf(migrationNotes(d, My)),
                 (QStringList{"relationship not enforced | BranchesOrders",
                              "delete action not carried over | CustomersCustomer Profile"}));
        const QString lite = toSql(d, Lite);
        QCOMPARE(lex(lite, Lite).statements.size(), 6 + 4);
        // Written to a device in pieces, the text is the same.
        QBuffer written;
        QVERIFY(written.open(QIODevice::WriteOnly) && writeSql(d, Lite, written));
        QCOMPARE(written.data(), lite.toUtf8());
#ifdef STRUDEX_HAVE_SQLITE
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
        const auto run = [db](const QString &sql) {
            char *error = nullptr;
            const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
            const QString message = QString::fromUtf8(error ? error : "");
            sqlite3_free(error);
            return rc == SQLITE_OK ? QString() : message;
        };
        QCOMPARE(run(lite), QString());
        QCOMPARE(run(QStringLiteral("PRAGMA foreign_keys = ON; INSERT INTO \"Customers\" (\"Name\") VALUES ('Ann');")),
                 QString());
        QVERIFY(
            run(QStringLiteral("INSERT INTO \"Customers\" (\"Name\") VALUES ('');")).contains(QLatin1String("CHECK")));
        QVERIFY(run(QStringLiteral("INSERT INTO \"Orders\" (\"CustomerID\") VALUES (7);"))
                    .contains(QLatin1String("FOREIGN KEY")));
        QCOMPARE(
            run(QStringLiteral("INSERT INTO \"Orders\" (\"CustomerID\") VALUES (1); "
                               "INSERT INTO \"Order Lines\" (\"OrderID\", \"LineNo\", \"Quantity\") VALUES (1, 1, 3); "
                               "DELETE FROM \"Customers\";")),
            QString());
        sqlite3_stmt *left = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM \"Order Lines\"", -1, &left, nullptr);
        QCOMPARE(sqlite3_step(left), SQLITE_ROW);
        QCOMPARE(sqlite3_column_int(left, 0), 0);
        sqlite3_finalize(left);
        sqlite3_close(db);
#endif
    }
};

QTEST_GUILESS_MAIN(SqlTest)
#include "tst_sql.moc"
