// The Markdown document: names that try to become markup, links or terminal commands render as
// they are typed; each table carries its keys, Access's field properties and its relationships;
// the Mermaid diagram lists the key fields without a name being able to break it. Where cmark-gfm
// (GitHub's Markdown implementation, a Debian package) is installed, the document is rendered
// with it and read back.

#include "core/structure/Markdown.h"
#include "core/structure/Printable.h"
#include "core/structure/Structure.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace Structure;

namespace {

Field field(const QString &name, const QString &accessType, qint64 size, const QString &fieldSize = QString())
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

Index primaryKey(const QStringList &fields)
{
    Index i;
    i.name = QStringLiteral("PrimaryKey");
    for (const QString &f : fields)
        i.fields << IndexField{f, false};
    i.primary = i.unique = i.required = true;
    return i;
}

Relationship relationship(const QString &name, const QString &primary, const QStringList &primaryFields,
                          const QString &foreign, const QStringList &foreignFields)
{
    Relationship r;
    r.name = name;
    r.primaryTable = primary;
    r.primaryFields = primaryFields;
    r.foreignTable = foreign;
    r.foreignFields = foreignFields;
    r.enforced = true;
    return r;
}

// Customers, Orders pointing at them, and Lines with a key of two fields pointing at Orders and at
// a table the document does not hold.
Document shop()
{
    Document d;
    d.database = {QStringLiteral("/data/shop.accdb"), QStringLiteral("Access 2016/2019"), false, {}, {}};
    Table customers;
    customers.name = QStringLiteral("Customers");
    Field id = field(QStringLiteral("CustomerID"), QStringLiteral("AutoNumber"), 4, QStringLiteral("Long Integer"));
    id.description = QStringLiteral("Customer number");
    Field name = field(QStringLiteral("Name"), QStringLiteral("Short Text"), 80, QStringLiteral("80"));
    name.required = true;
    name.allowZeroLength = false;
    name.validationRule = QStringLiteral("<> \"x\"");
    name.validationText = QStringLiteral("Not x,\r\nplease");
    name.properties << qMakePair(QStringLiteral("Caption"), QStringLiteral("Customer name"));
    Field country = field(QStringLiteral("Country"), QStringLiteral("Short Text"), 40, QStringLiteral("40"));
    country.lookup =
        Lookup{QStringLiteral("Combo Box"), QStringLiteral("Value List"), QStringLiteral("\"N\";\"S\""), 1, 1, false};
    Field notes = field(QStringLiteral("Notes"), QStringLiteral("Long Text"), 536870910);
    customers.fields << id << name << country << notes;
    customers.indexes << primaryKey({QStringLiteral("CustomerID")});

    Table orders;
    orders.name = QStringLiteral("Orders");
    orders.fields << field(QStringLiteral("OrderID"), QStringLiteral("AutoNumber"), 4, QStringLiteral("Long Integer"))
                  << field(QStringLiteral("CustomerID"), QStringLiteral("Number"), 4, QStringLiteral("Long Integer"));
    orders.indexes << primaryKey({QStringLiteral("OrderID")});

    Table lines;
    lines.name = QStringLiteral("Order Lines");
    lines.fields << field(QStringLiteral("OrderID"), QStringLiteral("Number"), 4, QStringLiteral("Long Integer"))
                 << field(QStringLiteral("Line"), QStringLiteral("Number"), 2, QStringLiteral("Integer"))
                 << field(QStringLiteral("Product"), QStringLiteral("Short Text"), 20, QStringLiteral("20"));
    lines.indexes << primaryKey({QStringLiteral("OrderID"), QStringLiteral("Line")});

    d.tables << customers << orders << lines;
    d.relationships << relationship(QStringLiteral("CustomersOrders"), QStringLiteral("Customers"),
                                    {QStringLiteral("CustomerID")}, QStringLiteral("Orders"),
                                    {QStringLiteral("CustomerID")})
                    << relationship(QStringLiteral("OrdersLines"), QStringLiteral("Orders"),
                                    {QStringLiteral("OrderID")}, QStringLiteral("Order Lines"),
                                    {QStringLiteral("OrderID")})
                    << relationship(QStringLiteral("ProductsLines"), QStringLiteral("Products"),
                                    {QStringLiteral("Code")}, QStringLiteral("Order Lines"),
                                    {QStringLiteral("Product")});
    return d;
}

// The names that turn careless Markdown into something else.
const QStringList Hostile{
    QStringLiteral("10. Ten"),
    QStringLiteral("2) Two"),
    QStringLiteral("Orders #"),
    QStringLiteral("Hash ## "),
    QStringLiteral("https://x.y/a"),
    QStringLiteral("see www.example.com"),
    QStringLiteral("mailto:me@example.com"),
    QStringLiteral("write a.b+c@mail.example.org now"),
    QStringLiteral("&amp; &copy;"),
    QStringLiteral("~~gone~~ ~x~"),
    QStringLiteral("$x^2$"),
    QStringLiteral("<b>bold</b><br>"),
    QStringLiteral("a|b\\|c"),
    QStringLiteral("*star* _under_ __bold__"),
    QStringLiteral("`tick` ```"),
    QStringLiteral("[link](http://e.vil) ![i](x) [^1]"),
    QStringLiteral("- dash"),
    QStringLiteral("+ plus"),
    QStringLiteral("> quote"),
    QStringLiteral("    indented"),
    QStringLiteral("==="),
    QStringLiteral("---"),
    QStringLiteral("\x1b[31mred\x07"),
    QStringLiteral("right") + QChar(0x202e) + QStringLiteral("left"),
    QStringLiteral("line\nbreak\r\n"),
    QStringLiteral("C:\\path\\*x*"),
    QStringLiteral("\"PK\" x }"),
};

// What a name shows as: itself, with its control characters as C-style escapes.
QString shown(const QString &name)
{
    return printable(name, Escape::ControlsButLineFeeds).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

// What a description shows as: its lines, with their other control characters as C-style escapes.
QString described(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return printable(text, Escape::ControlsButLineFeeds);
}

// Renderers drop a line's trailing spaces.
QString chopped(QString text)
{
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

// The text of rendered HTML, without its tags and with its entities read.
QString plainText(QString html)
{
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    html.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    return html.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
}

QStringList captures(const QString &text, const QString &pattern)
{
    QStringList found;
    const QRegularExpression re(pattern, QRegularExpression::DotMatchesEverythingOption);
    for (auto it = re.globalMatch(text); it.hasNext();)
        found << it.next().captured(1);
    return found;
}

QString section(const QString &md, const QString &from, const QString &to)
{
    return md.section(from, 1).section(to, 0, 0);
}

} // namespace

class TestMarkdown : public QObject
{
    Q_OBJECT

private slots:
    void textIsEscapedToRenderAsTyped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ordered list") << "10. x"
                                      << "10\\. x";
        QTest::newRow("ordered list, parenthesis") << "2) y"
                                                   << "2\\) y";
        QTest::newRow("numbered item alone") << "10."
                                             << "10\\.";
        QTest::newRow("bullets") << "- a - b"
                                 << "\\- a - b";
        QTest::newRow("rules") << "---"
                               << "\\---";
        QTest::newRow("heading underline") << "== "
                                           << "\\== ";
        QTest::newRow("heading") << "## x"
                                 << "\\## x";
        QTest::newRow("values that start no block") << "=Now() -5 1.5"
                                                    << "=Now() -5 1.5";
        QTest::newRow("a date's hashes") << "#1/1/1990#"
                                         << "#1/1/1990#";
        QTest::newRow("indented code") << "    x"
                                       << "&#32;   x";
        QTest::newRow("heading's closing hashes") << "Orders ##"
                                                  << "Orders \\#\\#";
        QTest::newRow("a hash in a word") << "C# a.b-c (d) #e"
                                          << "C# a.b-c (d) #e";
        QTest::newRow("URL") << "see https://x.y/a"
                             << "see https\\://x.y/a";
        QTest::newRow("www") << "www.example.com"
                             << "www\\.example.com";
        QTest::newRow("e-mail") << "mail a.b+c@mail.example.org!"
                                << "mail `a.b+c@mail.example.org`!";
        QTest::newRow("mailto") << "mailto:x@y.z"
                                << "mailto:`x@y.z`";
        QTest::newRow("e-mail at the start") << "1.x@y.z"
                                             << "`1.x@y.z`";
        QTest::newRow("not an e-mail") << "a @b c@d"
                                       << "a @b c@d";
        QTest::newRow("entities and HTML") << "&amp; <b>"
                                           << "&amp;amp; &lt;b&gt;";
        QTest::newRow("strikethrough, maths") << "~~x~~ $y$"
                                              << "\\~\\~x\\~\\~ \\$y\\$";
        QTest::newRow("inline markup") << "a|b*c_d`e[f]\\"
                                       << "a\\|b\\*c\\_d\\`e\\[f\\]\\\\";
        QTest::newRow("terminal controls") << "\x1b[2J\x07"
                                           << "\\x1b\\[2J\\x07";
        QTest::newRow("bidirectional override")
            << QStringLiteral("a") + QChar(0x202e) + QStringLiteral("b") << "a\\u202eb";
        QTest::newRow("line breaks") << "a\r\nb\nc\rd"
                                     << "a<br>b<br>c<br>d";
    }
    void textIsEscapedToRenderAsTyped()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(markdownText(text), expected);
    }

    void namesShowTheirLineBreaks()
    {
        QCOMPARE(markdownText(QStringLiteral("a\r\nb"), LineBreaks::Show), QStringLiteral("a\\r\\nb"));
        // Code keeps its tabs and lines; other controls are shown.
        QCOMPARE(markdownFence(QStringLiteral("SELECT\t1\r\nFROM x\x1b;"), QStringLiteral("sql")),
                 QStringLiteral("```sql\nSELECT\t1\nFROM x\\x1b;\n```\n"));
        // Letters beyond ASCII and whole surrogate pairs are code like any other; lone CRs end
        // lines; a direction override or half a pair is shown even where nothing else is special.
        QCOMPARE(markdownFence(QString::fromUtf16(u"' Größe \U0001F600\rx = 1\n"), QStringLiteral("vb")),
                 QString::fromUtf16(u"```vb\n' Größe \U0001F600\nx = 1\n```\n"));
        QCOMPARE(markdownFence(QString::fromUtf16(u"a\u202Eb \xD800"), QStringLiteral("vb")),
                 QStringLiteral("```vb\na\\u202eb \\ud800\n```\n"));
    }

    void tableSectionsCarryKeysPropertiesAndRelationships()
    {
        const QString md = toMarkdown(shop());
        QVERIFY(md.contains(QStringLiteral("- Written by: ") + generatorName() + QLatin1Char('\n')));
        QVERIFY(generatorName().startsWith(QStringLiteral("Strudex ")));

        const QString customers = section(md, QStringLiteral("### Customers\n"), QStringLiteral("<a id="));
        QVERIFY2(customers.contains(QStringLiteral("| Field | Key | Type | Description | Properties |\n")),
                 qPrintable(customers));
        QVERIFY(customers.contains(QStringLiteral("| CustomerID | Primary key | AutoNumber, Long Integer | Customer "
                                                  "number | Indexed: Yes (No Duplicates) |\n")));
        QVERIFY(customers.contains(
            QStringLiteral("| Name |  | Short Text (80) |  | Caption: Customer name<br>Validation Rule: &lt;&gt; "
                           "\"x\"<br>Validation Text: Not x,<br>please<br>Required: Yes<br>Allow Zero Length: "
                           "No<br>Indexed: No |\n")));
        QVERIFY(
            customers.contains(QStringLiteral("| Country |  | Short Text (40) |  | Indexed: No<br>Lookup: Combo Box: "
                                              "\"N\";\"S\" |\n")));
        // Long Text has no size of its own.
        QVERIFY(customers.contains(QStringLiteral("| Notes |  | Long Text |  | Indexed: No |\n")));
        QVERIFY(!md.contains(QStringLiteral("536870910")));
        QVERIFY(customers.contains(QStringLiteral("Referenced by:\n\n- [Orders](#table-orders) (CustomerID) → "
                                                  "CustomerID, relationship CustomersOrders\n\n")));
        QVERIFY(!customers.contains(QStringLiteral("References:")));

        const QString orders = section(md, QStringLiteral("### Orders\n"), QStringLiteral("<a id="));
        QVERIFY(orders.contains(QStringLiteral("| CustomerID | Foreign key to [Customers](#table-customers) | Number, "
                                               "Long Integer |  | Indexed: No |\n")));
        QVERIFY(orders.contains(QStringLiteral("References:\n\n- CustomerID → [Customers](#table-customers) "
                                               "(CustomerID), relationship CustomersOrders\n\nReferenced by:\n\n- "
                                               "[Order Lines](#table-order-lines) (OrderID) → OrderID, relationship "
                                               "OrdersLines\n")));

        // A key of two fields marks both; a table the document does not hold is named, not linked.
        const QString lines = section(md, QStringLiteral("### Order Lines\n"), QStringLiteral("## Relationships"));
        QVERIFY(lines.contains(QStringLiteral("| OrderID | Primary key<br>Foreign key to [Orders](#table-orders) | "
                                              "Number, Long Integer |")));
        QVERIFY(lines.contains(QStringLiteral("| Line | Primary key | Number, Integer |")));
        QVERIFY(lines.contains(QStringLiteral("| Product | Foreign key to Products | Short Text (20) |")));
        QVERIFY(lines.contains(QStringLiteral("- Product → Products (Code), relationship ProductsLines\n")));
    }

    void diagramListsKeyFieldsInMermaidsOwnWords()
    {
        Document d = shop();
        // Hostile names in a key: the diagram's words are made of what Mermaid accepts.
        for (const QString &name : Hostile) {
            Table t;
            t.name = name;
            t.fields << field(name, QStringLiteral("Short Text"), 10, QStringLiteral("10"));
            t.indexes << primaryKey({name});
            d.tables << t;
        }
        const QString md = toMarkdown(d);
        const QString diagram = section(md, QStringLiteral("```mermaid\nerDiagram\n"), QStringLiteral("```\n"));
        QVERIFY(md.endsWith(QStringLiteral("```\n")));
        QVERIFY2(diagram.contains(QStringLiteral("    T1[\"Customers\"] {\n        AutoNumber CustomerID PK\n    }\n")),
                 qPrintable(diagram));
        QVERIFY(diagram.contains(QStringLiteral("    T2[\"Orders\"] {\n        AutoNumber OrderID PK\n        "
                                                "Long_Integer CustomerID FK\n    }\n")));
        QVERIFY(diagram.contains(QStringLiteral("    T3[\"Order Lines\"] {\n        Long_Integer OrderID PK, FK\n"
                                                "        Integer Line PK\n        Short_Text_20 Product FK\n    }\n")));
        QVERIFY(diagram.contains(QStringLiteral("        Short_Text_10 field_10_Ten PK \"10. Ten\"\n")));
        QVERIFY(diagram.contains(QStringLiteral("        Short_Text_10 field_PK_x PK \"#quot;PK#quot; x }\"\n")));
        QVERIFY(diagram.contains(QStringLiteral("        Short_Text_10 line_break PK \"line#92;nbreak#92;r#92;n\"\n")));
        QVERIFY(diagram.contains(QStringLiteral("    T2 ||--o{ T3 : \"OrdersLines\"\n")));
        const QRegularExpression entity(QStringLiteral("^    T\\d+(\\[\"[^\"]*\"\\])?( \\{)?$"));
        const QRegularExpression attribute(
            QStringLiteral("^        (?!PK|FK|UK)[A-Za-z][A-Za-z0-9_-]* (?!PK|FK|UK)[A-Za-z][A-Za-z0-9_-]* "
                           "(PK|FK|PK, FK)( \"[^\"%\\\\`~:#*_$&<>]*(#\\w+;[^\"%\\\\`~:#*_$&<>]*)*\")?$"));
        const QRegularExpression relationshipLine(
            QStringLiteral("^    T\\d+ \\|\\|(--|\\.\\.)o[|{] T\\d+ : \"[^\"]*\"$"));
        const QStringList lines = diagram.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.count(QStringLiteral("    }")), d.tables.size());
        for (const QString &line : lines) {
            QVERIFY2(line == QStringLiteral("    }") || entity.match(line).hasMatch() ||
                         attribute.match(line).hasMatch() || relationshipLine.match(line).hasMatch(),
                     qPrintable(line));
        }
    }

    // The document as GitHub renders it, read back: each hostile name is the text of its heading,
    // table cell and description; nothing links out, strikes through, lists or quotes.
    void bigDatabasesSayWhatTheDiagramLeavesOut()
    {
        Document big;
        for (int i = 0; i < 201; ++i) {
            Table t;
            t.name = QStringLiteral("T%1").arg(i);
            big.tables << t;
        }
        QVERIFY(toMarkdown(big).contains(
            QStringLiteral("None of the 201 tables takes part in a relationship: there is nothing to draw.\n")));
        Relationship r;
        r.primaryTable = QStringLiteral("T1");
        r.foreignTable = QStringLiteral("T7");
        big.relationships << r;
        const QString md = toMarkdown(big);
        QVERIFY(md.contains(QStringLiteral("The diagram shows the 2 tables that take part in relationships; the 199 "
                                           "without relationships are left out.")));
        QCOMPARE(md.count(QRegularExpression(QStringLiteral("^    T\\d+\\["), QRegularExpression::MultilineOption)), 2);
    }

    void hostileNamesRenderAsTyped()
    {
        const QString cmark = QStandardPaths::findExecutable(QStringLiteral("cmark-gfm"));
        if (cmark.isEmpty())
            QSKIP("cmark-gfm is not installed (scripts/install-deps installs it)");
        Document d;
        d.database = {QStringLiteral("/data/x.accdb"), QStringLiteral("Access 2000"), false, {}, {}};
        for (const QString &name : Hostile) {
            Table t;
            t.name = name;
            t.description = name + QStringLiteral("\r\n") + name;
            Field f = field(name, QStringLiteral("Number"), 4, QStringLiteral("Long Integer"));
            f.description = name;
            t.fields << f;
            d.tables << t;
        }
        const QString md = toMarkdown(d);
        const TestSupport::ProgramRun run = TestSupport::runProgram(
            cmark,
            {QStringLiteral("--unsafe"), QStringLiteral("-e"), QStringLiteral("table"), QStringLiteral("-e"),
             QStringLiteral("autolink"), QStringLiteral("-e"), QStringLiteral("strikethrough"), QStringLiteral("-e"),
             QStringLiteral("tagfilter")},
            QString(), md.toUtf8());
        QCOMPARE(run.exitCode, 0);
        const QString html = QString::fromUtf8(run.out);

        QStringList expected;
        for (const QString &name : Hostile)
            expected << chopped(shown(name));
        QStringList headings;
        // The tables' part: the application's headings and paragraphs follow it.
        const QString tables = html.section(QStringLiteral("<h2>Application</h2>"), 0, 0);
        for (const QString &heading : captures(tables, QStringLiteral("<h3>(.*?)</h3>")))
            headings << plainText(heading);
        QCOMPARE(headings, expected);
        // Each table: its description (two lines), then its one field's row.
        const QStringList rows = captures(tables, QStringLiteral("<tbody>\n<tr>\n(.*?)</tr>"));
        const QStringList paragraphs = captures(tables, QStringLiteral("</h3>\n<p>(.*?)</p>"));
        QCOMPARE(rows.size(), Hostile.size());
        QCOMPARE(paragraphs.size(), Hostile.size());
        for (qsizetype i = 0; i < Hostile.size(); ++i) {
            const QStringList cells = captures(rows[i], QStringLiteral("<td>(.*?)</td>"));
            QCOMPARE(cells.size(), 5);
            QCOMPARE(plainText(cells[0]), expected[i]);
            // A description's line breaks are the document's.
            QCOMPARE(plainText(QString(cells[3]).replace(QStringLiteral("<br>"), QStringLiteral("\n"))),
                     chopped(described(Hostile[i])));
            QCOMPARE(plainText(QString(paragraphs[i]).replace(QStringLiteral("<br>"), QStringLiteral("\n"))),
                     chopped(described(*d.tables[i].description)));
        }
        // Every link stays in the page; nothing else became markup.
        QVERIFY2(!html.contains(QRegularExpression(QStringLiteral("href=\"(?!#)"))), qPrintable(html));
        for (const char *tag : {"<del>", "<ol", "<blockquote", "<hr", "<em>", "<strong>", "<img", "<b>", "<h4"})
            QVERIFY2(!html.contains(QLatin1String(tag)), tag);
        QCOMPARE(html.count(QStringLiteral("<pre>")), 1);
        QCOMPARE(html.count(QStringLiteral("<h2>")), 7);
    }
};

QTEST_GUILESS_MAIN(TestMarkdown)
#include "tst_markdown.moc"
