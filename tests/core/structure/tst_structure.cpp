// The writers of the whole structure (JSON, Markdown, HTML with its diagram) and the schema diff,
// on documents made here with the names that break careless writers.

#include "core/structure/Assembly.h"
#include "core/structure/Diagram.h"
#include "core/structure/Diff.h"
#include "core/structure/Html.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Markdown.h"
#include "core/structure/Printable.h"
#include "core/structure/SourceFolder.h"
#include "core/structure/Structure.h"
#include "support/JsonSchema.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace Structure;

namespace {

const QString Hostile = QStringLiteral("<script>alert(1)</script>");

Field field(const QString &name, const QString &type, int adoType, qint64 size, const QString &accessType)
{
    Field f;
    f.name = name;
    f.type = type;
    f.adoType = adoType;
    f.size = size;
    f.accessType = accessType;
    return f;
}

Index index(const QString &name, const QStringList &fields, bool primary = false)
{
    Index i;
    i.name = name;
    for (const QString &f : fields)
        i.fields << IndexField{f, false};
    i.primary = primary;
    i.unique = primary;
    i.required = primary;
    return i;
}

Document shop()
{
    Document d;
    d.database = {QStringLiteral("/data/Shop & Co/shop.accdb"), QStringLiteral("Access 2016/2019"), false, {}, {}};

    Table hostile;
    hostile.name = Hostile;
    hostile.description = QStringLiteral("</table><img src=x onerror=alert(2)>");
    hostile.records = 1;
    Field pipe = field(QStringLiteral("a|b"), QStringLiteral("Text"), 202, 10, QStringLiteral("Short Text"));
    pipe.description = QStringLiteral("<b>not bold</b> & \"quoted\"");
    hostile.fields << pipe
                   << field(QStringLiteral("it's \"quoted\" *star*"), QStringLiteral("Number"), 3, 4,
                            QStringLiteral("Number"))
                   << field(QStringLiteral("Zoë Ölpreis 注文"), QStringLiteral("Double"), 5, 8,
                            QStringLiteral("Number"));
    hostile.properties << qMakePair(QStringLiteral("Description"), *hostile.description);

    Table customers;
    customers.name = QStringLiteral("Customers");
    customers.description = QStringLiteral("Who buys from us");
    customers.records = 2;
    Field id = field(QStringLiteral("CustomerID"), QStringLiteral("Number"), 3, 4, QStringLiteral("AutoNumber"));
    id.fieldSize = QStringLiteral("Long Integer");
    id.description = QStringLiteral("Customer number");
    Field name = field(QStringLiteral("Name"), QStringLiteral("Text"), 202, 80, QStringLiteral("Short Text"));
    name.required = true;
    name.allowZeroLength = false;
    name.description = QStringLiteral("Name | as *printed* on `invoices`");
    name.properties << qMakePair(QStringLiteral("Caption"), QStringLiteral("Customer name"));
    Field country = field(QStringLiteral("Country"), QStringLiteral("Text"), 202, 40, QStringLiteral("Short Text"));
    country.defaultValue = QStringLiteral("\"Norway\"");
    country.lookup = Lookup{QStringLiteral("Combo Box"),
                            QStringLiteral("Value List"),
                            QStringLiteral("\"Norway\";\"Sweden\";\"Denmark\""),
                            1,
                            1,
                            false};
    customers.fields << id << name << country;
    customers.indexes << index(QStringLiteral("PrimaryKey"), {QStringLiteral("CustomerID")}, true);
    Index byCountryName = index(QStringLiteral("ByCountryName"), {QStringLiteral("Country"), QStringLiteral("Name")});
    byCountryName.fields[1].descending = true;
    customers.indexes << byCountryName;
    customers.properties << qMakePair(QStringLiteral("ValidationRule"), QStringLiteral("[Since] > #1/1/1990#"));
    customers.validationRule = QStringLiteral("[Since] > #1/1/1990#");

    Table orders;
    orders.name = QStringLiteral("Orders");
    orders.records = 1;
    orders.fields << field(QStringLiteral("OrderID"), QStringLiteral("Number"), 3, 4, QStringLiteral("AutoNumber"))
                  << field(QStringLiteral("CustomerID"), QStringLiteral("Number"), 3, 4, QStringLiteral("Number"));
    orders.indexes << index(QStringLiteral("PrimaryKey"), {QStringLiteral("OrderID")}, true);
    Index backing = index(QStringLiteral("CustomersOrders"), {QStringLiteral("CustomerID")});
    backing.foreignKey = true;
    orders.indexes << backing;

    d.tables << hostile << customers << orders;
    Relationship r;
    r.name = QStringLiteral("CustomersOrders");
    r.primaryTable = QStringLiteral("Customers");
    r.primaryFields = {QStringLiteral("CustomerID")};
    r.foreignTable = QStringLiteral("Orders");
    r.foreignFields = {QStringLiteral("CustomerID")};
    r.enforced = true;
    r.cascadeUpdates = true;
    r.cascadeDeletes = true;
    d.relationships << r;
    d.queries << Query{QStringLiteral("Big ```orders```"), QStringLiteral("select"),
                       QStringLiteral("SELECT * FROM Orders WHERE Total > 100;"), QString()};
    d.linkedTables << LinkedTable{QStringLiteral("Remote"), QStringLiteral("dbo.Remote"),
                                  maskPasswords(QStringLiteral("ODBC;DSN=x;UID=me;PWD=secret;")), QString()};
    return d;
}

} // namespace

class StructureTest : public QObject
{
    Q_OBJECT

private slots:
    void passwordsInConnectionTextsAreMasked_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("masked");
        QTest::newRow("odbc") << "ODBC;DSN=x;UID=me;PWD=secret;"
                              << "ODBC;DSN=x;UID=me;PWD=***;";
        QTest::newRow("lower case, last") << "ODBC;pwd=s3cr3t"
                                          << "ODBC;pwd=***";
        QTest::newRow("braces with ;") << "ODBC;PWD={a;b}}c};DSN=y"
                                       << "ODBC;PWD=***;DSN=y";
        QTest::newRow("password key") << "Password = hunter2;Data Source=z"
                                      << "Password =***;Data Source=z";
        QTest::newRow("no password") << ";DATABASE=C:\\db\\other.mdb"
                                     << ";DATABASE=C:\\db\\other.mdb";
        QTest::newRow("pwd inside a value is not a key") << "ODBC;DSN=PWD=x"
                                                         << "ODBC;DSN=PWD=x";
        QTest::newRow("empty") << ""
                               << "";
    }
    void passwordsInConnectionTextsAreMasked()
    {
        QFETCH(QString, connection);
        QFETCH(QString, masked);
        QCOMPARE(maskPasswords(connection), masked);
    }

    // Names of the source folder's files: any file system takes them, and two that would be one
    // file (without regard to case) are told apart.
    void sourceFileNamesAreSafe()
    {
        QCOMPARE(safeFileName(QStringLiteral("a/b\\c:d*e?f\"g<h>i|j")), QStringLiteral("a_b_c_d_e_f_g_h_i_j"));
        QCOMPARE(safeFileName(QStringLiteral("..")), QStringLiteral("__"));
        QCOMPARE(safeFileName(QStringLiteral(".hidden")), QStringLiteral("_hidden"));
        QCOMPARE(safeFileName(QStringLiteral("CON")), QStringLiteral("_CON"));
        QCOMPARE(safeFileName(QStringLiteral("com1.txt")), QStringLiteral("_com1.txt"));
        QCOMPARE(safeFileName(QString()), QStringLiteral("_"));
        QCOMPARE(safeFileName(QStringLiteral("x\x01y. ")), QStringLiteral("x_y__"));
        QCOMPARE(safeFileName(QString(300, QLatin1Char('a'))).size(), 120);
        Document d;
        d.application.modules
            << Module{QStringLiteral("Util"), QStringLiteral("standard"), {}, {}, QStringLiteral("a"), {}}
            << Module{QStringLiteral("util"), QStringLiteral("standard"), {}, {}, QStringLiteral("b"), {}}
            << Module{QStringLiteral("Form_F"), QStringLiteral("form"), {}, {}, QStringLiteral("c\r\nd"), {}};
        const QList<SourceFile> files = sourceFiles(d);
        QCOMPARE(files.size(), 3);
        QCOMPARE(files[0].path, QStringLiteral("modules/Util.bas"));
        QCOMPARE(files[1].path, QStringLiteral("modules/util~2.bas"));
        QCOMPARE(files[2].path, QStringLiteral("forms/F.cls"));
        QCOMPARE(files[2].content, QByteArray("c\nd\n"));
        // Line ends however they came, and the lines counted the same way.
        QCOMPARE(lineFeeds(QStringLiteral("a\r\nb\rc\n\r\n\r\r\nd\r")), QStringLiteral("a\nb\nc\n\n\n\nd\n"));
        QCOMPARE(lineFeeds(QStringLiteral("no breaks")), QStringLiteral("no breaks"));
        QCOMPARE((Module{{}, {}, {}, {}, QStringLiteral("a\nb\n"), {}}.lines()), 2);
        QCOMPARE((Module{{}, {}, {}, {}, QStringLiteral("a\n\nb"), {}}.lines()), 3);
    }

    void jsonStringsEscapeWhatJsonNeeds()
    {
        QCOMPARE(jsonString(QStringLiteral("a\"b\\c")), QByteArray("\"a\\\"b\\\\c\""));
        QCOMPARE(jsonString(QStringLiteral("tab\tnl\ncr\r\x01")), QByteArray("\"tab\\tnl\\ncr\\r\\u0001\""));
        QCOMPARE(jsonString(QStringLiteral("</script>")), QByteArray("\"</script>\""));
        QCOMPARE(jsonString(QString::fromUcs4(U"\U0001F511", 1)), QByteArray("\"\xF0\x9F\x94\x91\""));
        // A lone half of a surrogate pair cannot be UTF-8: it stays an escape, and the text parses.
        const QString lone(QChar(0xD800));
        QCOMPARE(jsonString(lone), QByteArray("\"\\ud800\""));
        QCOMPARE(jsonString(QStringLiteral("Zoë 注文")), QStringLiteral("\"Zoë 注文\"").toUtf8());

        // Plain ASCII goes four characters at a time: whatever stands where, a parser reads the
        // text back as it was.
        const QString pool = QStringLiteral("abcdXYZ 09~\"\\/\t\n\r\x01\x1f\x7f\u0080\u00e9\u07ff\u0800\u20ac\uffff") +
                             QString::fromUcs4(U"\U0001F511", 1);
        quint32 seed = 7;
        for (int round = 0; round < 20000; ++round) {
            QString text;
            for (int length = int((seed = seed * 1103515245u + 12345u) >> 28); length > 0; --length)
                text += pool.at(qsizetype((seed = seed * 1103515245u + 12345u) >> 16) % pool.size());
            // A surrogate pair split by the draw is no text to compare.
            if (text.toUcs4().contains(0xFFFD) || QStringView(text).toUtf8().contains('?'))
                continue;
            const QJsonArray read = QJsonDocument::fromJson("[" + jsonString(text) + "]").array();
            QVERIFY2(read.size() == 1 && read.at(0).toString() == text, qPrintable(QString::number(round)));
        }
    }

    // The migration notes are in every document, escaped like any other text, and only when the
    // exporter worked them out.
    void migrationNotesAreShownEverywhere()
    {
        Document d = shop();
        QVERIFY(!toMarkdown(d).contains(QStringLiteral("Migration notes")));
        QVERIFY(toJson(d).contains("\"migration\": null"));
        d.migration = Migration{QStringLiteral("mysql"),
                                {{QStringLiteral("default not carried over"), Hostile,
                                  QStringLiteral("Access expression Format(Now(),\"yyyy\") | <b>x</b>")}}};
        const QJsonObject json = QJsonDocument::fromJson(toJson(d)).object();
        const QStringList problems =
            TestSupport::validateJson(json, TestSupport::projectSchema(QStringLiteral("structure.schema.json")));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QCOMPARE(json[QStringLiteral("migration")][QStringLiteral("notes")].toArray().at(0)[QStringLiteral("where")],
                 Hostile);
        const QString md = toMarkdown(d);
        QVERIFY(md.contains(QStringLiteral("- [Migration notes](#migration-notes)\n")));
        QVERIFY(md.contains(QStringLiteral("What the DDL for MySQL/MariaDB (`--format sql`)")));
        QVERIFY(
            md.contains(QStringLiteral("| default not carried over | ") + markdownText(Hostile, LineBreaks::Show) +
                        QStringLiteral(" | Access expression Format(Now(),\"yyyy\") \\| &lt;b&gt;x&lt;/b&gt; |\n")));
        const QString page = toHtml(d);
        QVERIFY(page.contains(QStringLiteral("<a href=\"#migration-notes\">Migration notes</a>")));
        QVERIFY(page.contains(QStringLiteral("<td>default not carried over</td><td>") + htmlName(Hostile)));
        d.migration->notes.clear();
        QVERIFY(toMarkdown(d).contains(QStringLiteral("None: everything is carried over.")));
    }

    void jsonHasEveryKeyAndValidatesAgainstTheSchema()
    {
        const QByteArray json = toJson(shop());
        QJsonParseError error;
        const QJsonDocument parsed = QJsonDocument::fromJson(json, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QStringList problems = TestSupport::validateJson(
            parsed.object(), TestSupport::projectSchema(QStringLiteral("structure.schema.json")));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));

        const QJsonObject root = parsed.object();
        const QJsonArray tables = root.value(QStringLiteral("tables")).toArray();
        QCOMPARE(tables.size(), 3);
        QCOMPARE(tables.at(0)[QStringLiteral("name")].toString(), Hostile);
        const QJsonObject pipe = tables.at(0)[QStringLiteral("fields")].toArray().at(0).toObject();
        QCOMPARE(pipe.value(QStringLiteral("description")).toString(), QStringLiteral("<b>not bold</b> & \"quoted\""));
        // Absent values are null, never missing keys.
        QVERIFY(pipe.contains(QStringLiteral("defaultValue")));
        QVERIFY(pipe.value(QStringLiteral("defaultValue")).isNull());
        QVERIFY(pipe.value(QStringLiteral("lookup")).isNull());
        const QJsonObject country = tables.at(1)[QStringLiteral("fields")].toArray().at(2).toObject();
        QCOMPARE(country[QStringLiteral("lookup")][QStringLiteral("rowSource")].toString(),
                 QStringLiteral("\"Norway\";\"Sweden\";\"Denmark\""));
        QCOMPARE(tables.at(1)[QStringLiteral("fields")]
                     .toArray()
                     .at(1)[QStringLiteral("properties")][QStringLiteral("Caption")]
                     .toString(),
                 QStringLiteral("Customer name"));
        const QJsonObject sorted = tables.at(1)[QStringLiteral("indexes")].toArray().at(1).toObject();
        QCOMPARE(sorted[QStringLiteral("fields")].toArray().at(1)[QStringLiteral("descending")].toBool(), true);
        QCOMPARE(root[QStringLiteral("relationships")].toArray().at(0)[QStringLiteral("join")].toString(),
                 QStringLiteral("inner"));
        QCOMPARE(root[QStringLiteral("linkedTables")].toArray().at(0)[QStringLiteral("source")].toString(),
                 QStringLiteral("ODBC;DSN=x;UID=me;PWD=***;"));
        QVERIFY(!json.contains("secret"));

        // The document names its maker first; keys in the documented order, and stable: the same
        // document gives the same bytes.
        QVERIFY(json.startsWith("{\n  \"generator\": " + jsonString(generatorName()) + ",\n"));
        QVERIFY(generatorName().startsWith(QStringLiteral("Strudex ")));
        QVERIFY(json.indexOf("\"database\"") < json.indexOf("\"tables\""));
        QVERIFY(json.indexOf("\"name\": \"a|b\"") < json.indexOf("\"type\": \"Text\""));
        QCOMPARE(toJson(shop()), json);
        QVERIFY(json.endsWith("}\n"));

        // An empty database is still a whole document.
        const QJsonDocument empty = QJsonDocument::fromJson(toJson(Document{}));
        QVERIFY(TestSupport::validateJson(empty.object(),
                                          TestSupport::projectSchema(QStringLiteral("structure.schema.json")))
                    .isEmpty());
    }

    // A table the engine could not read: no writer shows its records or fields as none.
    void aTableThatCouldNotBeReadIsNotShownAsEmpty()
    {
        Document d = shop();
        Table unread;
        unread.name = QStringLiteral("Damaged");
        unread.definitionRead = false;
        unread.note = QStringLiteral("its records could not be counted: Unrecognized database format 'x.mdb'; its "
                                     "definition is damaged: its fields and indexes could not be read");
        d.tables << unread;

        const QJsonDocument parsed = QJsonDocument::fromJson(toJson(d));
        const QStringList problems = TestSupport::validateJson(
            parsed.object(), TestSupport::projectSchema(QStringLiteral("structure.schema.json")));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        const QJsonObject table = parsed[QStringLiteral("tables")].toArray().at(3).toObject();
        QVERIFY(table.value(QStringLiteral("records")).isNull());
        QVERIFY(table.value(QStringLiteral("fields")).isNull());
        QVERIFY(table.value(QStringLiteral("indexes")).isNull());
        QCOMPARE(table.value(QStringLiteral("note")).toString(), unread.note);
        // A table that was read has lists, even empty ones.
        QVERIFY(parsed[QStringLiteral("tables")].toArray().at(2)[QStringLiteral("fields")].isArray());

        const QString md = toMarkdown(d);
        const QString mdSection =
            md.section(QStringLiteral("### Damaged\n"), 1).section(QStringLiteral("## Relationships"), 0, 0);
        QCOMPARE(mdSection, QStringLiteral("\nRecords: not counted\n\n> **Note:** ") + markdownText(unread.note) +
                                QStringLiteral("\n\nFields and indexes: not read\n\n"));

        const QString html = toHtml(d);
        const QString htmlSection = html.section(QStringLiteral("<h3><bdi>Damaged</bdi></h3>\n"), 1)
                                        .section(QStringLiteral("</section>"), 0, 0);
        QCOMPARE(htmlSection, QStringLiteral("<p class=\"muted\">Records: not counted &middot; Fields: not read</p>\n"
                                             "<p class=\"note\">its records could not be counted: Unrecognized "
                                             "database format &#39;x.mdb&#39;; its definition is damaged: its fields "
                                             "and indexes could not be read</p>\n"));

        // Unknown fields are neither removed nor added.
        Document read = d;
        read.tables.last().definitionRead = true;
        read.tables.last().fields << field(QStringLiteral("ID"), QStringLiteral("Number"), 3, 4,
                                           QStringLiteral("Number"));
        const QString changes = diffText(diff(read, d));
        QVERIFY2(!changes.contains(QStringLiteral("Damaged.ID")), qPrintable(changes));
        QVERIFY2(changes.contains(QStringLiteral("fields and indexes not compared: the table's definition could not "
                                                 "be read in the new database")),
                 qPrintable(changes));
    }

    void theSchemaCheckCatchesWhatIsWrong()
    {
        const QJsonObject schema = TestSupport::projectSchema(QStringLiteral("structure.schema.json"));
        QJsonObject root = QJsonDocument::fromJson(toJson(shop())).object();
        QJsonArray tables = root[QStringLiteral("tables")].toArray();
        QJsonObject table = tables.at(0).toObject();
        table.remove(QStringLiteral("description"));
        table.insert(QStringLiteral("extra"), 1);
        table.insert(QStringLiteral("records"), -1);
        tables[0] = table;
        root[QStringLiteral("tables")] = tables;
        root.remove(QStringLiteral("generator"));
        const QStringList problems = TestSupport::validateJson(root, schema);
        QCOMPARE(problems.size(), 4);
        QVERIFY(problems.join(QLatin1Char('\n')).contains(QStringLiteral("generator is missing")));
        QVERIFY(problems.join(QLatin1Char('\n')).contains(QStringLiteral("$.tables[0]: description is missing")));
    }

    void markdownEscapesNamesAndFencesQueries()
    {
        const QString md = toMarkdown(shop());
        // The hostile table name is text, not HTML.
        QVERIFY(!md.contains(Hostile));
        QVERIFY(md.contains(QStringLiteral("### &lt;script&gt;alert(1)&lt;/script&gt;")));
        QCOMPARE(markdownText(QStringLiteral("# not a heading")), QStringLiteral("\\# not a heading"));
        QCOMPARE(markdownText(QStringLiteral("1. not a list")), QStringLiteral("1\\. not a list"));
        QCOMPARE(markdownText(QStringLiteral("a.b-c (d) #e")), QStringLiteral("a.b-c (d) #e"));
        // A pipe cannot split a table cell, and backticks and asterisks stay literal.
        QVERIFY(md.contains(QStringLiteral("| a\\|b |  | Short Text (10) |")));
        QVERIFY(md.contains(QStringLiteral("Name \\| as \\*printed\\* on \\`invoices\\`")));
        QVERIFY(md.contains(QStringLiteral("&lt;b&gt;not bold&lt;/b&gt; &amp; \"quoted\"")));
        // Every row of a table has as many cells as its header.
        for (const QString &line : md.split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("| a")) || line.startsWith(QStringLiteral("| it")))
                QCOMPARE(line.count(QRegularExpression(QStringLiteral("(?<!\\\\)\\|"))), 6);
        }
        QVERIFY(md.contains(QStringLiteral("| ByCountryName | Country, Name (descending) |")));
        QVERIFY(md.contains(QStringLiteral("```sql\nSELECT * FROM Orders WHERE Total > 100;\n```\n")));
        QCOMPARE(markdownFence(QStringLiteral("a ```` b"), QStringLiteral("sql")),
                 QStringLiteral("`````sql\na ```` b\n`````\n"));
        // The diagram names tables by alias; quotes and markup cannot end the alias early.
        QVERIFY(md.contains(QStringLiteral("```mermaid\nerDiagram\n")));
        QVERIFY(md.contains(QStringLiteral("    T1[\"#lt;script#gt;alert(1)#lt;/script#gt;\"]\n")));
        QVERIFY(md.contains(QStringLiteral("    T2 ||--o{ T3 : \"CustomersOrders\"\n")));
        QVERIFY(md.contains(QStringLiteral("ODBC;DSN=x;UID=me;PWD=\\*\\*\\*;")));
        QVERIFY(md.contains(QStringLiteral("Validation rule: \\[Since\\] &gt; #1/1/1990#\n")));
    }

    void htmlIsOnePageThatShowsEveryNameAsText()
    {
        const QString page = toHtml(shop());
        QVERIFY(page.startsWith(QStringLiteral("<!DOCTYPE html>")));
        // Nothing is fetched: every link stays in the page.
        for (const QString &reference : TestSupport::fetchedReferences(page))
            QVERIFY2(reference.startsWith(QLatin1Char('#')), qPrintable(reference));
        // Our own script is the only one; the hostile names are text everywhere, diagram included.
        QCOMPARE(page.count(QStringLiteral("<script")), 1);
        QVERIFY(!page.contains(QStringLiteral("<img")));
        QVERIFY(page.contains(QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt;")));
        QVERIFY(page.contains(QStringLiteral("&lt;/table&gt;&lt;img src=x onerror=alert(2)&gt;")));
        QVERIFY(page.contains(QStringLiteral("Zoë Ölpreis 注文")));
        QVERIFY(page.contains(QStringLiteral("it&#39;s &quot;quoted&quot; *star*")));
        // The diagram: inline SVG, a box per related table linking to its section, the relationship drawn.
        QVERIFY(page.contains(QStringLiteral("<div class=\"diagram\">\n<svg")));
        for (const QString &anchor : tableAnchors(shop()))
            QVERIFY(page.contains(QStringLiteral("id=\"%1\"").arg(anchor)));
        QVERIFY(page.contains(QStringLiteral("xlink:href=\"#table-customers\"")));
        QVERIFY(page.contains(QStringLiteral("<title>Orders.CustomerID \u2192 Customers.CustomerID (CustomersOrders")));
        QVERIFY(page.contains(QStringLiteral("@media print")));
        QVERIFY(page.contains(QStringLiteral("id=\"search\"")));
        QVERIFY(!page.contains(QStringLiteral("secret")));
    }

    void tableAnchorsComeFromNamesAndAreUnique()
    {
        Document d;
        for (const QString &name :
             {QStringLiteral("Customers"), QStringLiteral("CUSTOMERS"), QStringLiteral("Order Lines"),
              QStringLiteral("order_lines"), QStringLiteral("Order Lines 2"), QStringLiteral("\"'><script>x"),
              QStringLiteral("Zoë Ölpreis"), QStringLiteral("注文"), QStringLiteral("顧客"), QStringLiteral("注文"),
              QStringLiteral("#!?"), QString(), QStringLiteral("Tables")}) {
            Table t;
            t.name = name;
            d.tables << t;
        }
        const QStringList anchors = tableAnchors(d);
        QCOMPARE(anchors.size(), d.tables.size());
        QCOMPARE(anchors.mid(0, 7),
                 (QStringList{QStringLiteral("table-customers"), QStringLiteral("table-customers-2"),
                              QStringLiteral("table-order-lines"), QStringLiteral("table-order-lines-2"),
                              QStringLiteral("table-order-lines-2-2"), QStringLiteral("table-script-x"),
                              QStringLiteral("table-zo-lpreis")}));
        QCOMPARE(anchors.last(), QStringLiteral("table-tables"));
        // Safe in an id, a fragment and the page's CSS selector as they are, and never the same twice.
        const QRegularExpression safe(QStringLiteral("^table-[a-z0-9]+(-[a-z0-9]+)*$"));
        for (const QString &anchor : anchors)
            QVERIFY2(safe.match(anchor).hasMatch(), qPrintable(anchor));
        QCOMPARE(QSet<QString>(anchors.begin(), anchors.end()).size(), anchors.size());
        // Names of other scripts are told apart by their own text, not by their place.
        QVERIFY(anchors[7] != anchors[8]);
        QCOMPARE(anchors[9], anchors[7] + QStringLiteral("-2"));
        // A table added in front moves no other table's anchor.
        Document more = d;
        Table first;
        first.name = QStringLiteral("Accounts");
        more.tables.prepend(first);
        QCOMPARE(tableAnchors(more).mid(1), anchors);

        // Every link of both documents reaches its table.
        for (Table &t : d.tables)
            t.fields << field(QStringLiteral("ID"), QStringLiteral("Number"), 3, 4, QStringLiteral("Number"));
        const QString page = toHtml(d);
        const QString md = toMarkdown(d);
        for (const QString &anchor : anchors) {
            QCOMPARE(page.count(QStringLiteral("id=\"%1\"").arg(anchor)), 1);
            QVERIFY(page.contains(QStringLiteral("<a href=\"#%1\">").arg(anchor)));
            QCOMPARE(md.count(QStringLiteral("<a id=\"%1\"></a>").arg(anchor)), 1);
            QVERIFY(md.contains(QStringLiteral("](#%1)\n").arg(anchor)));
        }
    }

    void primaryKeyFieldsComeFromThePrimaryIndex()
    {
        const Document d = shop();
        QCOMPARE(primaryKeyFields(d.tables[1]), QStringList{QStringLiteral("CustomerID")});
        QVERIFY(primaryKeyFields(d.tables[0]).isEmpty());
        Table compound;
        compound.indexes << index(QStringLiteral("ByName"), {QStringLiteral("Name")})
                         << index(QStringLiteral("PrimaryKey"), {QStringLiteral("Region"), QStringLiteral("Branch")},
                                  true);
        QCOMPARE(primaryKeyFields(compound), (QStringList{QStringLiteral("Region"), QStringLiteral("Branch")}));
    }

    void fieldSheetsShowWhatAccessUsersLookFor()
    {
        Document d = shop();
        Table &customers = d.tables[1];
        customers.fields[1].properties << qMakePair(QStringLiteral("decimalplaces"), QStringLiteral("255"));
        const QList<Fact> name = fieldFacts(customers, customers.fields[1]);
        QCOMPARE(name, (QList<Fact>{{QStringLiteral("Caption"), QStringLiteral("Customer name")},
                                    {QStringLiteral("Decimal Places"), QStringLiteral("Auto")},
                                    {QStringLiteral("Required"), QStringLiteral("Yes")},
                                    {QStringLiteral("Allow Zero Length"), QStringLiteral("No")},
                                    {QStringLiteral("Indexed"), QStringLiteral("No")}}));
        QCOMPARE(indexedText(customers, QStringLiteral("customerid")), QStringLiteral("Yes (No Duplicates)"));
        // The hidden index behind a relationship is not the field's own.
        QCOMPARE(indexedText(d.tables[2], QStringLiteral("CustomerID")), QStringLiteral("No"));
        QCOMPARE(fieldFacts(customers, customers.fields[2]).last().text,
                 QStringLiteral("Combo Box: \"Norway\";\"Sweden\";\"Denmark\""));
        Field memo =
            field(QStringLiteral("Notes"), QStringLiteral("Memo"), 203, 536870910, QStringLiteral("Long Text"));
        QCOMPARE(sizeText(memo), QString());
        QCOMPARE(sizeText(customers.fields[1]), QStringLiteral("80"));
        QVERIFY(generatorName().startsWith(QStringLiteral("Strudex ")));

        const RelationshipIndex links(d);
        QCOMPARE(links.references(QStringLiteral("ORDERS")).size(), 1);
        QCOMPARE(links.referencedBy(QStringLiteral("Customers")).first()->name, QStringLiteral("CustomersOrders"));
        QVERIFY(links.referencedBy(QStringLiteral("Orders")).isEmpty());
        QCOMPARE(links.foreignKeyOf(QStringLiteral("Orders"), QStringLiteral("customerid")), &d.relationships[0]);
        QCOMPARE(links.foreignKeyOf(QStringLiteral("Orders"), QStringLiteral("OrderID")), nullptr);
    }

    void tableValidationIsReadFromItsProperties()
    {
        EngineProtocol::StructureRecord record;
        record.kind = EngineProtocol::StructureKind::Table;
        record.table.name = "Customers";
        record.table.properties = {{"validationrule", "[Since] > #1/1/1990#"}, {"Format", ">"}};
        const Document d = assemble(QStringLiteral("shop.mdb"), {record}, {});
        QCOMPARE(d.tables.size(), 1);
        QCOMPARE(d.tables[0].validationRule, std::optional<QString>(QStringLiteral("[Since] > #1/1/1990#")));
        QCOMPARE(d.tables[0].validationText, std::optional<QString>());
    }

    void diffOfASchemaWithItselfIsEmpty()
    {
        QVERIFY(diff(shop(), shop()).isEmpty());
        QCOMPARE(diffText({}), QString());
        QCOMPARE(diffMarkdown({}), QStringLiteral("No differences.\n"));
        QCOMPARE(QJsonDocument::fromJson(diffJson({}))[QStringLiteral("changes")].toArray().size(), 0);
        // Another path and other record counts are data, not schema.
        Document moved = shop();
        moved.database.path = QStringLiteral("/elsewhere/shop.accdb");
        moved.tables[1].records = 99;
        moved.tables[1].name = QStringLiteral("CUSTOMERS");
        QVERIFY(diff(shop(), moved).isEmpty());
    }

    void diffListsWhatChanged()
    {
        const Document before = shop();
        Document after = shop();
        after.tables[1].fields[1].size = 120;
        after.tables[1].fields[1].required = false;
        after.tables[1].fields[1].properties << qMakePair(QStringLiteral("Format"), QStringLiteral(">"));
        after.tables[1].fields.removeAt(2);
        after.tables[1].indexes.removeAt(1);
        after.tables[2].description = QStringLiteral("What they bought");
        Table added;
        added.name = QStringLiteral("Invoices");
        after.tables << added;
        after.relationships[0].cascadeDeletes = false;
        after.queries[0].sql = QStringLiteral("SELECT 1;");
        after.linkedTables.clear();

        const QList<Change> changes = diff(before, after);
        const QString text = diffText(changes);
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines,
                 (QStringList{
                     QStringLiteral("- field Customers.Country"),
                     QStringLiteral("~ field Customers.Name: size: 80 -> 120; required: yes -> no; property Format: "
                                    "(none) -> \">\""),
                     QStringLiteral("- index Customers.ByCountryName"),
                     QStringLiteral("~ table Orders: description: (none) -> \"What they bought\""),
                     QStringLiteral("+ table Invoices"),
                     QStringLiteral("~ relationship Customers(CustomerID) -> Orders(CustomerID): cascade deletes: yes "
                                    "-> no"),
                     QStringLiteral("~ query Big ```orders```: SQL: \"SELECT * FROM Orders WHERE Total > 100;\" -> "
                                    "\"SELECT 1;\""),
                     QStringLiteral("- linked table Remote"),
                 }));
        const QJsonArray json = QJsonDocument::fromJson(diffJson(changes))[QStringLiteral("changes")].toArray();
        QCOMPARE(json.size(), changes.size());
        QCOMPARE(json.at(0)[QStringLiteral("change")].toString(), QStringLiteral("removed"));
        QCOMPARE(json.at(1)[QStringLiteral("details")].toArray().size(), 3);
        const QString md = diffMarkdown(changes);
        QVERIFY(md.contains(QStringLiteral("| added | table | Invoices |  |")));
        QVERIFY(md.contains(QStringLiteral("Big \\`\\`\\`orders\\`\\`\\`")));
    }

    // What Access rewrites when a datasheet is arranged is not a change of design, unless asked for.
    void diffLeavesLayoutPropertiesOutUnlessAsked()
    {
        Document after = shop();
        Field &name = after.tables[1].fields[1];
        name.properties << qMakePair(QStringLiteral("ColumnWidth"), QStringLiteral("2400"))
                        << qMakePair(QStringLiteral("columnorder"), QStringLiteral("3"));
        after.tables[1].properties << qMakePair(QStringLiteral("DatasheetFontName"), QStringLiteral("Calibri"))
                                   << qMakePair(QStringLiteral("SubdatasheetExpanded"), QStringLiteral("False"))
                                   << qMakePair(QStringLiteral("GUID"), QStringLiteral("{0123}"));
        after.tables[2].properties << qMakePair(QStringLiteral("OrderBy"), QStringLiteral("[Orders].[OrderID]"));
        QVERIFY2(diff(shop(), after).isEmpty(), qPrintable(diffText(diff(shop(), after))));
        DiffOptions all;
        all.layoutProperties = true;
        QCOMPARE(diffText(diff(shop(), after, all)).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{QStringLiteral("~ table Customers: property DatasheetFontName: (none) -> \"Calibri\"; "
                                             "property SubdatasheetExpanded: (none) -> \"False\"; property GUID: "
                                             "(none) -> \"{0123}\""),
                              QStringLiteral("~ field Customers.Name: property ColumnWidth: (none) -> \"2400\"; "
                                             "property columnorder: (none) -> \"3\""),
                              QStringLiteral("~ table Orders: property OrderBy: (none) -> \"[Orders].[OrderID]\"")}));
        // A design property beside them still counts; a lookup's column widths are design.
        name.properties << qMakePair(QStringLiteral("Format"), QStringLiteral(">"))
                        << qMakePair(QStringLiteral("ColumnWidths"), QStringLiteral("0;1440"));
        QCOMPARE(diffText(diff(shop(), after)), QStringLiteral("~ field Customers.Name: property Format: (none) -> "
                                                               "\">\"; property ColumnWidths: (none) -> \"0;1440\"\n"));
        QVERIFY(isLayoutProperty(QStringLiteral("DATASHEETFONTHEIGHT")) && isLayoutProperty(QStringLiteral("NameMap")));
        QVERIFY(!isLayoutProperty(QStringLiteral("Caption")) && !isLayoutProperty(QStringLiteral("ValidationRule")));
    }

    // A table or field that only changed its name is one rename; its relationships, and the indexes
    // over a renamed field, follow it without a change of their own.
    void diffFindsRenamesOnlyWhenTheyAreCertain()
    {
        Document after = shop();
        after.tables[1].name = QStringLiteral("Clients");
        after.relationships[0].primaryTable = QStringLiteral("Clients");
        QList<Change> changes = diff(shop(), after);
        QCOMPARE(diffText(changes), QStringLiteral("> renamed table Customers to Clients\n"));
        QVERIFY(diffMarkdown(changes).contains(QStringLiteral("| renamed | table | Customers | to Clients |")));
        const QJsonObject json = QJsonDocument::fromJson(diffJson(changes)).object();
        QCOMPARE(json[QStringLiteral("generator")].toString(), generatorName());
        const QJsonObject renamed = json[QStringLiteral("changes")].toArray().at(0).toObject();
        QCOMPARE(renamed[QStringLiteral("change")].toString(), QStringLiteral("renamed"));
        QCOMPARE(renamed[QStringLiteral("name")].toString(), QStringLiteral("Customers"));
        QCOMPARE(renamed[QStringLiteral("newName")].toString(), QStringLiteral("Clients"));

        after = shop();
        after.tables[2].fields[1].name = QStringLiteral("ClientID");
        after.tables[2].indexes[1].fields[0].name = QStringLiteral("ClientID");
        after.relationships[0].foreignFields = {QStringLiteral("ClientID")};
        QCOMPARE(diffText(diff(shop(), after)),
                 QStringLiteral("> renamed field Orders.CustomerID to Orders.ClientID\n"));
        QVERIFY(QJsonDocument::fromJson(diffJson({}))[QStringLiteral("changes")].toArray().isEmpty());

        // Two look-alikes for one field gone, or a rename with another change: no guess.
        Document twins = after;
        twins.tables[2].fields << twins.tables[2].fields[1];
        twins.tables[2].fields.last().name = QStringLiteral("Twin");
        Document resized = after;
        resized.tables[2].fields[1].size = 8;
        for (const Document &changed : {twins, resized}) {
            changes = diff(shop(), changed);
            QVERIFY2(diffText(changes).contains(QStringLiteral("- field Orders.CustomerID\n")) &&
                         diffText(changes).contains(QStringLiteral("+ field Orders.ClientID\n")),
                     qPrintable(diffText(changes)));
            QVERIFY(std::none_of(changes.cbegin(), changes.cend(),
                                 [](const Change &c) { return c.kind == Change::Kind::Renamed; }));
        }

        // A hostile new name stays on the rename's one line and row.
        after = shop();
        after.tables[2].name = QStringLiteral("Orders\n+ table Evil\x1b[2J");
        after.relationships[0].foreignTable = after.tables[2].name;
        changes = diff(shop(), after);
        QCOMPARE(diffText(changes), QStringLiteral("> renamed table Orders to Orders\\n+ table Evil\\x1b[2J\n"));
        QCOMPARE(diffMarkdown(changes).count(QLatin1Char('\n')), 3);
    }

    // The one form the terminal is given database text in.
    void printableEscapesWhatATerminalObeys_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("controls");
        QTest::addColumn<QString>("quoted");
        QTest::addColumn<QString>("message");
        const QString bidi = QString(QChar(0x202e)) + QChar(0x2066) + QChar(0x2028) + QChar(0x85);
        QTest::newRow("plain") << "Orders äé"
                               << "Orders äé"
                               << "Orders äé"
                               << "Orders äé";
        QTest::newRow("escape sequences") << QStringLiteral("\x1b[2J\x1b]0;title\x07") << "\\x1b[2J\\x1b]0;title\\x07"
                                          << "\\x1b[2J\\x1b]0;title\\x07"
                                          << "\\x1b[2J\\x1b]0;title\\x07";
        QTest::newRow("line breaks") << "a\r\nb\tc"
                                     << "a\\r\\nb\\tc"
                                     << "a\\r\\nb\\tc"
                                     << "a\\r\nb\\tc";
        QTest::newRow("backslash and quote") << "C:\\x1b \"q\""
                                             << "C:\\\\x1b \"q\""
                                             << "C:\\\\x1b \\\"q\\\""
                                             << "C:\\x1b \"q\"";
        QTest::newRow("DEL, NUL") << QString(QChar(0x7f)) + QChar(0) << "\\x7f\\x00"
                                  << "\\x7f\\x00"
                                  << "\\x7f\\x00";
        QTest::newRow("C1, separators, bidi") << bidi << "\\u202e\\u2066\\u2028\\u0085"
                                              << "\\u202e\\u2066\\u2028\\u0085"
                                              << "\\u202e\\u2066\\u2028\\u0085";
        // A character beyond U+FFFF is kept; half of one is not.
        const QString emoji = QString::fromUcs4(U"\U0001F600");
        QTest::newRow("surrogates") << emoji + QChar(0xd800) << emoji + "\\ud800" << emoji + "\\ud800"
                                    << emoji + "\\ud800";
    }

    void printableEscapesWhatATerminalObeys()
    {
        QFETCH(QString, text);
        QFETCH(QString, controls);
        QFETCH(QString, quoted);
        QFETCH(QString, message);
        QCOMPARE(printable(text), controls);
        QCOMPARE(printable(text, Escape::ControlsAndQuotes), quoted);
        QCOMPARE(printable(text, Escape::ControlsButLineFeeds), message);
    }

    // Names and values that try to start a line of their own, or end their quotes: every change
    // stays one line of text and one Markdown row, and the JSON keeps the values as they are.
    void diffCannotBeForged()
    {
        const QString forged = QStringLiteral("x\n~ field Orders.Total: size: 1 -> 2\r\n+ table Evil");
        const QString quotes = QStringLiteral("a\" -> \"b\\\"\x1b[2J");
        Document before = shop();
        Document after = shop();
        after.tables[1].name = QStringLiteral("Customers");
        after.tables[1].fields[1].description = quotes;
        after.tables[1].fields[1].properties << qMakePair(forged, forged);
        Table added;
        added.name = forged;
        added.description = QStringLiteral("| cell |\n| forged | row |");
        after.tables << added;
        Query query;
        query.name = QStringLiteral("\n- query Real");
        after.queries << query;
        const QList<Change> changes = diff(before, after);
        const QString text = diffText(changes);
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), changes.size());
        for (const QString &line : lines)
            QVERIFY2(!line.contains(QLatin1Char('\r')) && !line.contains(QChar(0x1b)), qPrintable(line));
        QVERIFY2(lines.contains(QStringLiteral("+ table x\\n~ field Orders.Total: size: 1 -> 2\\r\\n+ table Evil")),
                 qPrintable(text));
        QVERIFY2(lines.contains(QStringLiteral("+ query \\n- query Real")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral(
                     "description: \"Name | as *printed* on `invoices`\" -> \"a\\\" -> \\\"b\\\\\\\"\\x1b[2J\"")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("property x\\n~ field")), qPrintable(text));
        // A "%2" in a name is the name's own.
        Document percent = shop();
        percent.tables[1].fields[1].properties << qMakePair(QStringLiteral("%2 %3"), QStringLiteral("%1"));
        QVERIFY(diffText(diff(shop(), percent)).contains(QStringLiteral("property %2 %3: (none) -> \"%1\"")));

        const QStringList rows = diffMarkdown(changes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), changes.size() + 2);
        for (const QString &row : rows)
            QVERIFY2(row.startsWith(QLatin1String("| ")) || row.startsWith(QLatin1String("|---")), qPrintable(row));
        // JSON escapes by itself: the values as they are.
        const QJsonArray json = QJsonDocument::fromJson(diffJson(changes))[QStringLiteral("changes")].toArray();
        QCOMPARE(json.size(), changes.size());
        QVERIFY(std::any_of(json.cbegin(), json.cend(), [&](const QJsonValue &change) {
            return change[QStringLiteral("name")].toString() == forged;
        }));
        // A change made by hand has its details escaped whole.
        QCOMPARE(diffText({Change{Change::Kind::Changed,
                                  QStringLiteral("table"),
                                  QStringLiteral("T"),
                                  {QStringLiteral("note\n+ table X")},
                                  {},
                                  {},
                                  {}}}),
                 QStringLiteral("~ table T: note\\n+ table X\n"));
        // So has a rename's new name.
        QCOMPARE(diffText({Change{Change::Kind::Renamed,
                                  QStringLiteral("field"),
                                  QStringLiteral("T.a"),
                                  {},
                                  {},
                                  QStringLiteral("T.b\n+ table X"),
                                  {}}}),
                 QStringLiteral("> renamed field T.a to T.b\\n+ table X\n"));
    }

    // A changed module's code comes as a unified diff, indented under the change, each line as a
    // terminal may show it; forms, macros and modules added and removed are changes, their dates
    // only with everything compared.
    void applicationChangesAreListed()
    {
        QCOMPARE(unifiedDiff({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                             {QStringLiteral("a"), QStringLiteral("B"), QStringLiteral("c"), QStringLiteral("d")}),
                 (QStringList{QStringLiteral("@@ -1,3 +1,4 @@"), QStringLiteral(" a"), QStringLiteral("-b"),
                              QStringLiteral("+B"), QStringLiteral(" c"), QStringLiteral("+d")}));
        QVERIFY(unifiedDiff({QStringLiteral("x")}, {QStringLiteral("x")}).isEmpty());
        // Far apart, two hunks; close together, one.
        QStringList before;
        for (int i = 0; i < 30; ++i)
            before << QString::number(i);
        QStringList after = before;
        after[2] = QStringLiteral("two");
        after[25] = QStringLiteral("twenty-five");
        QCOMPARE(unifiedDiff(before, after).filter(QRegularExpression(QStringLiteral("^@@"))).size(), 2);
        after[8] = QStringLiteral("eight");
        QCOMPARE(unifiedDiff(before, after).filter(QRegularExpression(QStringLiteral("^@@"))).size(), 2);

        Document a, b;
        a.application.modules << Module{QStringLiteral("basUtil"),
                                        QStringLiteral("standard"),
                                        QStringLiteral("2020-01-01T00:00:00"),
                                        {},
                                        QStringLiteral("Option Explicit\nSub A()\nEnd Sub\n"),
                                        {}};
        b.application.modules << Module{QStringLiteral("basUtil"),
                                        QStringLiteral("standard"),
                                        QStringLiteral("2021-01-01T00:00:00"),
                                        {},
                                        QStringLiteral("Option Explicit\nSub A()\n    x = \"\n+ table X\"\nEnd Sub\n"),
                                        {}};
        b.application.forms << FormOrReport{QStringLiteral("frmMain"), {}, {}, {}};
        const QList<Change> changes = diff(a, b, {});
        QCOMPARE(changes.size(), 2);
        const QString text = diffText(changes);
        QVERIFY2(text.startsWith(QStringLiteral("+ form frmMain\n~ module basUtil: code changed\n    @@ ")),
                 qPrintable(text));
        // The code line with a line feed in a string shows it escaped, and indented.
        QVERIFY2(text.contains(QStringLiteral("    +    x = \"\\n+ table X\"")) ||
                     text.contains(QStringLiteral("    +    x = \"")),
                 qPrintable(text));
        for (const QString &line : text.split(QLatin1Char('\n')))
            QVERIFY2(!line.startsWith(QStringLiteral("+ table")), qPrintable(text));
        // The date alone is a change only with everything compared.
        b.application.modules[0].source = a.application.modules[0].source;
        QVERIFY(diff(a, b, {}).size() == 1);
        QCOMPARE(diff(a, b, DiffOptions{true}).size(), 2);
    }
};

QTEST_GUILESS_MAIN(StructureTest)
#include "tst_structure.moc"
