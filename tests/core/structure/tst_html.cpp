// The HTML page on documents made here: hostile names and texts stay text, the page's own script is
// the only one allowed to run, each table shows its keys and relationships, and the contents and
// the search reach every table and query.

#include "core/structure/Html.h"
#include "core/structure/Structure.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

using namespace Structure;

namespace {

// A right-to-left override that would turn the rest of its line around, markup that would close
// the deferred details early, and a terminal escape.
const QString Reversing = QStringLiteral("Cust\u202Eomers</noscript><script>x</script>\x1b[31m");
const QString ReversingText =
    QStringLiteral("Cust<span class=\"ctl\">\\u202e</span>omers&lt;/noscript&gt;&lt;script&gt;x&lt;/script&gt;");

Field field(const QString &name, const QString &accessType, qint64 size = 4)
{
    Field f;
    f.name = name;
    f.type = accessType;
    f.accessType = accessType;
    f.size = size;
    return f;
}

Index primaryKey(const QString &fieldName)
{
    Index index;
    index.name = QStringLiteral("PrimaryKey");
    index.fields << IndexField{fieldName, false};
    index.primary = index.unique = index.required = true;
    return index;
}

Document shop()
{
    Document d;
    d.database = {QStringLiteral("/data/shop.accdb"), QStringLiteral("Access 2016/2019"), false, {}, {}};
    Table customers;
    customers.name = QStringLiteral("Customers");
    customers.records = 2;
    Field name = field(QStringLiteral("CompanyName"), QStringLiteral("Short Text"), 80);
    name.fieldSize = QStringLiteral("80");
    name.required = true;
    name.description = QStringLiteral("Line one\r\nline two\rline three\nline four\x07 end");
    name.properties << qMakePair(QStringLiteral("Caption"), QStringLiteral("Company"));
    Field notes = field(QStringLiteral("Notes"), QStringLiteral("Long Text"), 536870910);
    notes.description = QStringLiteral("See https://example.org/a/very/long/address/that/has/no/spaces/at/all");
    customers.fields << field(QStringLiteral("CustomerID"), QStringLiteral("AutoNumber")) << name << notes;
    customers.indexes << primaryKey(QStringLiteral("CustomerID"));

    Table orders;
    orders.name = QStringLiteral("Orders");
    orders.records = 1;
    Field total = field(QStringLiteral("Total"), QStringLiteral("Currency"), 8);
    total.defaultValue = QStringLiteral("0\r\n+ 1");
    orders.fields << field(QStringLiteral("OrderID"), QStringLiteral("AutoNumber"))
                  << field(QStringLiteral("CustomerID"), QStringLiteral("Number")) << total;
    orders.indexes << primaryKey(QStringLiteral("OrderID"));

    Table hostile;
    hostile.name = Reversing;
    hostile.description = QStringLiteral("\x1b]0;title\x07");
    hostile.fields << field(Reversing, QStringLiteral("Number"));

    d.tables << customers << orders << hostile;
    Relationship r;
    r.name = QStringLiteral("CustomersOrders");
    r.primaryTable = QStringLiteral("Customers");
    r.primaryFields = {QStringLiteral("CustomerID")};
    r.foreignTable = QStringLiteral("Orders");
    r.foreignFields = {QStringLiteral("CustomerID")};
    r.enforced = true;
    r.cascadeDeletes = true;
    d.relationships << r;
    d.queries << Query{QStringLiteral("Orders"), QStringLiteral("select"), QStringLiteral("SELECT *\r\nFROM Orders;"),
                       QString()}
              << Query{Reversing, QStringLiteral("select"), QStringLiteral("SELECT 1;"), QString()};
    return d;
}

// The part of the page from the element with this id to the end of its section.
QString sectionOf(const QString &page, const QString &anchor)
{
    const qsizetype start = page.indexOf(QStringLiteral("id=\"%1\"").arg(anchor));
    return start < 0 ? QString() : page.mid(start, page.indexOf(QStringLiteral("</section>"), start) - start);
}

} // namespace

class HtmlTest : public QObject
{
    Q_OBJECT

private slots:
    // A module's code and every name of the application are text: no piece of them reaches the
    // page as markup; comments, strings and keywords are marked.
    void applicationCodeIsShownAsCode()
    {
        Document d;
        d.application.project = Project{QStringLiteral("<b>Project</b>"), 1252, false, {}};
        d.application.forms << FormOrReport{QStringLiteral("F<i>"), QStringLiteral("2020-05-01T10:00:00"), std::nullopt,
                                            QStringLiteral("Form_F<i>")};
        d.application.modules << Module{
            QStringLiteral("Form_F<i>"),
            QStringLiteral("form"),
            std::nullopt,
            std::nullopt,
            QStringLiteral("Dim s As String\ns = \"</code></pre><script>x()</script>\" ' <b>\n"
                           "Rem \"not a string\""),
            QString()};
        const QString page = toHtml(d);
        QVERIFY(!page.contains(QStringLiteral("<script>x()")));
        QVERIFY(!page.contains(QStringLiteral("<b>Project")));
        QVERIFY(page.contains(QStringLiteral("<span class=\"k\">Dim</span>")));
        QVERIFY(page.contains(QStringLiteral(
            "<span class=\"s\">&quot;&lt;/code&gt;&lt;/pre&gt;&lt;script&gt;x()&lt;/script&gt;&quot;</span>")));
        QVERIFY(page.contains(QStringLiteral("<span class=\"c\">&#39; &lt;b&gt;</span>")));
        QVERIFY(page.contains(QStringLiteral("<span class=\"c\">Rem &quot;not a string&quot;</span>")));
        QVERIFY(page.contains(QStringLiteral("2 lines")) || page.contains(QStringLiteral("3 lines")));
    }

    void hostileTextStaysText()
    {
        const QString page = toHtml(shop());
        // Line breaks are line breaks; every other control character shows as its escape.
        QVERIFY(page.contains(
            QStringLiteral("Line one<br>line two<br>line three<br>line four<span class=\"ctl\">\\x07</span> end")));
        QVERIFY(page.contains(QStringLiteral("Default Value:</span> 0<br>+ 1")));
        QVERIFY(page.contains(QStringLiteral("<pre><code>SELECT *\nFROM Orders;</code></pre>")));
        QVERIFY(
            page.contains(QStringLiteral("<span class=\"ctl\">\\x1b</span>]0;title<span class=\"ctl\">\\x07</span>")));
        // (The diagram is drawn elsewhere and checked there.)
        const QString drawn = page.section(QStringLiteral("<div class=\"diagram\">"), 1)
                                  .section(QStringLiteral("<h2 id=\"tables\">"), 0, 0);
        const QString outside = QString(page).remove(drawn);
        for (const QChar c : outside)
            QVERIFY2(c.unicode() >= 0x20 || c == QLatin1Char('\n'), qPrintable(QString::number(c.unicode(), 16)));
        QVERIFY2(!page.contains(QChar(0xFFFD)), qPrintable(page.mid(page.indexOf(QChar(0xFFFD)) - 300, 400)));
        // Every name shown is isolated, so that its direction stays its own; the marks that would
        // turn it around show. The title uses the isolating marks of plain text.
        const qsizetype shown = outside.count(ReversingText);
        QVERIFY(shown >= 5);
        QCOMPARE(outside.count(QStringLiteral("<bdi>") + ReversingText), shown);
        QVERIFY(
            toHtml(Document{{QStringLiteral("/x/Sh\u202Eop<b>.accdb"), {}, false, {}, {}}, {}, {}, {}, {}, {}, {}, {}})
                .contains(QStringLiteral("<title>Structure of \u2068Sh\\u202eop&lt;b&gt;.accdb\u2069</title>")));
        QVERIFY(!outside.contains(QChar(0x202E)));
        // No name can open an element or close the details it stands in.
        QCOMPARE(page.count(QStringLiteral("<script")), 1);
        QCOMPARE(page.count(QStringLiteral("</noscript>")), page.count(QStringLiteral("<noscript")));
    }

    void onlyThePagesOwnScriptMayRun()
    {
        const QString page = toHtml(shop());
        const QString script = page.section(QStringLiteral("<script>"), 1).section(QStringLiteral("</script>"), 0, 0);
        QVERIFY(script.contains(QStringLiteral("beforeprint")));
        const QString hash =
            QString::fromLatin1(QCryptographicHash::hash(script.toUtf8(), QCryptographicHash::Sha256).toBase64());
        const QString policy = page.section(QStringLiteral("http-equiv=\"Content-Security-Policy\" content=\""), 1)
                                   .section(QLatin1Char('"'), 0, 0);
        QVERIFY2(policy.contains(QStringLiteral("script-src 'sha256-%1';").arg(hash)), qPrintable(policy));
        QVERIFY(!policy.section(QStringLiteral("script-src"), 1)
                     .section(QLatin1Char(';'), 0, 0)
                     .contains(QStringLiteral("unsafe")));
        // The page names its maker.
        QVERIFY(page.contains(QStringLiteral("<meta name=\"generator\" content=\"%1\">").arg(generatorName())));
        QVERIFY(page.contains(QStringLiteral("<footer>Written by %1</footer>").arg(generatorName())));
    }

    void tablesShowTheirKeysRelationshipsAndFieldSheets()
    {
        const QString page = toHtml(shop());
        const QString customers = sectionOf(page, QStringLiteral("table-customers"));
        const QString orders = sectionOf(page, QStringLiteral("table-orders"));
        QVERIFY(customers.contains(QStringLiteral("<bdi>CustomerID</bdi><span class=\"pk\"")));
        QVERIFY(orders.contains(QStringLiteral("<bdi>OrderID</bdi><span class=\"pk\"")));
        QVERIFY(!orders.contains(QStringLiteral("<bdi>CustomerID</bdi><span class=\"pk\"")));
        // The foreign key links to the table it points at; each side lists the other.
        QVERIFY(orders.contains(QStringLiteral("<bdi>CustomerID</bdi><a class=\"fk\" href=\"#table-customers\"")));
        QVERIFY(orders.contains(QStringLiteral("<h4>References</h4>")));
        QVERIFY(orders.contains(QStringLiteral("<li><bdi>CustomerID</bdi> &rarr; <a href=\"#table-customers\">"
                                               "<bdi>Customers</bdi></a> (<bdi>CustomerID</bdi>)")));
        QVERIFY(orders.contains(QStringLiteral("<bdi>CustomersOrders</bdi>: enforced, one-to-many, cascade deletes")));
        QVERIFY(!orders.contains(QStringLiteral("Referenced by")));
        QVERIFY(customers.contains(QStringLiteral("<h4>Referenced by</h4>\n<ul class=\"links\">\n<li><a "
                                                  "href=\"#table-orders\"><bdi>Orders</bdi></a>")));
        QVERIFY(!customers.contains(QStringLiteral("<h4>References</h4>")));
        // The field's sheet in one cell; the size beside the type, once, and none made up.
        QVERIFY(
            customers.contains(QStringLiteral("<th>Field</th><th>Type</th><th>Description</th><th>Properties</th>")));
        QVERIFY(customers.contains(QStringLiteral("<td>Short Text (80)</td>")));
        QVERIFY(customers.contains(QStringLiteral("<span class=\"k\">Caption:</span> Company<br><span "
                                                  "class=\"k\">Required:</span> Yes<br><span class=\"k\">Indexed:"
                                                  "</span> No</td>")));
        QVERIFY(!page.contains(QStringLiteral("536870910")));
        // Only a cell holding a token too long for any column may break inside a word.
        QVERIFY(customers.contains(QStringLiteral("<td class=\"long\">See https://")));
        QVERIFY(customers.contains(QStringLiteral("<td>Line one<br>")));
        QVERIFY(!page.contains(QStringLiteral("word-break")));
    }

    void contentsAndSearchReachTablesAndQueries()
    {
        const Document d = shop();
        const QString page = toHtml(d);
        const QStringList queries = queryAnchors(d);
        // A query named like a table has an anchor of its own.
        QCOMPARE(queries.first(), QStringLiteral("query-orders"));
        QCOMPARE(queries.size(), 2);
        QVERIFY(QRegularExpression(QStringLiteral("^query-[a-z0-9]+(-[a-z0-9]+)*$")).match(queries.last()).hasMatch());
        QVERIFY(queries.last() != queries.first());
        for (const QString &anchor : queries) {
            QCOMPARE(page.count(QStringLiteral("<a href=\"#%1\">").arg(anchor)), 1);
            QVERIFY(page.contains(QStringLiteral("<section class=\"query\" id=\"%1\" data-search=\"").arg(anchor)));
        }
        QVERIFY(page.contains(QStringLiteral("id=\"table-orders\" data-search=\"orders orderid customerid total\"")));
        // The details wait in the page itself: shown as they are without scripts, built by the
        // script when needed, and all of them before printing.
        QCOMPARE(page.count(QStringLiteral("<noscript class=\"later\">")), d.tables.size());
        QVERIFY(page.contains(QStringLiteral("content-visibility: auto")));
        QVERIFY(page.contains(QStringLiteral("addEventListener('beforeprint'")));
        // The search box, which needs the script, is shown by it; it waits for typing to pause.
        QVERIFY(page.contains(QStringLiteral("aria-label=\"Find a table, field or query\" hidden>")));
        QVERIFY(page.contains(QStringLiteral("timer = setTimeout(filter, 150)")));
    }
};

QTEST_GUILESS_MAIN(HtmlTest)
#include "tst_html.moc"
