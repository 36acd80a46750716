// The relationship diagram of the HTML page: what it draws and leaves out, lines that join the
// related fields' rows, and names that reach the SVG exactly as they are, whatever they hold.

#include "core/structure/Diagram.h"
#include "core/structure/Html.h"
#include "core/structure/Structure.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QPointF>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace Structure;

namespace {

Table table(const QString &name, const QStringList &fields, const QStringList &key = {})
{
    Table t;
    t.name = name;
    for (const QString &field : fields) {
        Field f;
        f.name = field;
        f.type = QStringLiteral("Number");
        f.adoType = 3;
        f.accessType = QStringLiteral("Number");
        t.fields << f;
    }
    if (!key.isEmpty()) {
        Index primary;
        primary.name = QStringLiteral("PrimaryKey");
        for (const QString &field : key)
            primary.fields << IndexField{field, false};
        primary.primary = primary.unique = primary.required = true;
        t.indexes << primary;
    }
    return t;
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

// A box or a line of the drawing, as a browser would show it.
struct Shape
{
    QString title;
    QString link;
    QString linkTitle;
    QList<QPair<QPointF, QString>> texts;
    QString path;
    bool dashed = false;
    int polygons = 0;

    // Where the text first reads exactly so (no-break spaces around it aside).
    QPointF at(const QString &text) const
    {
        for (const auto &item : texts) {
            if (item.second.trimmed() == text)
                return item.first;
        }
        return QPointF(-1e9, -1e9);
    }
    bool shows(const QString &text) const { return at(text).x() > -1e9; }
    // The ends of the line: where it starts (the pointing field) and ends (the field pointed at).
    QPair<QPointF, QPointF> ends() const
    {
        const QRegularExpression number(QStringLiteral("-?[0-9.]+"));
        QList<double> values;
        for (const auto &match : number.globalMatch(path))
            values << match.captured().toDouble();
        if (values.size() < 4)
            return {};
        return {QPointF(values[0], values[1]), QPointF(values[values.size() - 2], values.last())};
    }
};

// The drawing's boxes and lines by their id; fails the test when the SVG is not well-formed.
QHash<QString, Shape> shapes(const QString &svg)
{
    QHash<QString, Shape> found;
    QXmlStreamReader reader(svg);
    reader.setNamespaceProcessing(false);
    Shape *current = nullptr;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        const QStringView name = reader.qualifiedName();
        const QString kind = attributes.value(QLatin1String("class")).toString();
        if (name == QLatin1String("g") && (kind == QLatin1String("node") || kind == QLatin1String("edge")))
            current = &found[attributes.value(QLatin1String("id")).toString()];
        if (!current)
            continue;
        if (name == QLatin1String("title"))
            current->title = reader.readElementText();
        else if (name == QLatin1String("a")) {
            current->link = attributes.value(QLatin1String("xlink:href")).toString();
            current->linkTitle = attributes.value(QLatin1String("xlink:title")).toString();
        } else if (name == QLatin1String("polygon")) {
            ++current->polygons;
        } else if (name == QLatin1String("path")) {
            current->path = attributes.value(QLatin1String("d")).toString();
            current->dashed = attributes.hasAttribute(QLatin1String("stroke-dasharray"));
        } else if (name == QLatin1String("text"))
            current->texts << qMakePair(QPointF(attributes.value(QLatin1String("x")).toDouble(),
                                                attributes.value(QLatin1String("y")).toDouble()),
                                        reader.readElementText());
    }
    if (reader.hasError())
        qWarning("%s at %lld", qPrintable(reader.errorString()), reader.characterOffset());
    return reader.hasError() ? QHash<QString, Shape>() : found;
}

QString svgOf(const Document &document)
{
    return relationshipDiagramSvg(document, diagramPlan(document).drawn, tableAnchors(document));
}

// A line reaches the row of a field when it meets the box at the height of the field's name.
bool joins(const QPointF &end, const Shape &box, const QString &field)
{
    const QPointF text = box.at(field);
    return std::abs(end.y() - (text.y() - 3.5)) < 6;
}

Document shop()
{
    Document d;
    d.tables << table(QStringLiteral("Branches"),
                      {QStringLiteral("Region"), QStringLiteral("Branch"), QStringLiteral("City")},
                      {QStringLiteral("Region"), QStringLiteral("Branch")})
             << table(QStringLiteral("Customers"), {QStringLiteral("CustomerID"), QStringLiteral("Name")},
                      {QStringLiteral("CustomerID")})
             << table(QStringLiteral("Lonely"), {QStringLiteral("Alone")})
             << table(QStringLiteral("Orders"),
                      {QStringLiteral("OrderID"), QStringLiteral("Note"), QStringLiteral("CustomerID"),
                       QStringLiteral("Region"), QStringLiteral("Branch")},
                      {QStringLiteral("OrderID")})
             << table(QStringLiteral("Profile"), {QStringLiteral("Text"), QStringLiteral("Customer")});
    Relationship orders =
        relationship(QStringLiteral("CustomersOrders"), QStringLiteral("Customers"), {QStringLiteral("CustomerID")},
                     QStringLiteral("Orders"), {QStringLiteral("CustomerID")});
    orders.cascadeUpdates = orders.cascadeDeletes = true;
    Relationship branches = relationship(QStringLiteral("BranchesOrders"), QStringLiteral("Branches"),
                                         {QStringLiteral("Region"), QStringLiteral("Branch")}, QStringLiteral("Orders"),
                                         {QStringLiteral("Region"), QStringLiteral("Branch")});
    branches.enforced = false;
    branches.join = Join::Left;
    Relationship profile =
        relationship(QStringLiteral("CustomersProfile"), QStringLiteral("Customers"), {QStringLiteral("CustomerID")},
                     QStringLiteral("Profile"), {QStringLiteral("Customer")});
    profile.oneToOne = profile.cascadeNull = true;
    profile.join = Join::Right;
    d.relationships << orders << branches << profile;
    return d;
}

} // namespace

class DiagramTest : public QObject
{
    Q_OBJECT

private slots:
    // Graphviz reads \N, \G, \E, ... even in HTML-like labels; a name is shown as it is anyway,
    // and control characters, "]]>", quotes, "<", "&" and bidirectional overrides cannot break
    // the SVG or reorder a box.
    void hostileNamesAreShownLiterally()
    {
        const QString escapes = QStringLiteral("Esc \\N \\G \\E \\T \\H \\L \\l \\n \\r \\ end\\");
        const QString controls = QStringLiteral("Ctl") + QChar(1) + QChar(0x1b) + QStringLiteral("\t\n\r]]>\"'<&amp;") +
                                 QChar(0x7f) + QChar(0x202e) + QStringLiteral("gpj.exe") + QChar(0x2066);
        const QString field = QStringLiteral("F\\N") + QChar(0x202e) + QChar(0);
        Document d;
        d.tables << table(escapes, {QStringLiteral("ID\\G"), QStringLiteral("\\E\\T")}, {QStringLiteral("ID\\G")})
                 << table(controls, {field});
        d.relationships << relationship(QStringLiteral("R\\N<&>") + QChar(7), escapes, {QStringLiteral("ID\\G")},
                                        controls, {field});
        const QString svg = svgOf(d);
        QVERIFY(svg.startsWith(QStringLiteral("<svg")));
        for (const QChar c : svg) {
            QVERIFY2(c.unicode() >= 0x20 || c == QLatin1Char('\n'), qPrintable(QString::number(c.unicode())));
            QVERIFY(!(c.unicode() >= 0x202a && c.unicode() <= 0x202e) &&
                    !(c.unicode() >= 0x2066 && c.unicode() <= 0x2069));
        }
        const QHash<QString, Shape> drawn = shapes(svg);
        QCOMPARE(drawn.size(), 3);

        const Shape &first = drawn[QStringLiteral("diagram-t1")];
        QCOMPARE(first.title, escapes);
        QCOMPARE(first.linkTitle, escapes);
        QVERIFY(first.shows(escapes));
        QVERIFY(first.shows(QStringLiteral("ID\\G")) && first.shows(QStringLiteral("\\E\\T")));

        const QString shown = QStringLiteral("Ctl\\x01\\x1b\\t\\n\\r]]>\"'<&amp;\\x7f\\u202egpj.exe\\u2066");
        QCOMPARE(diagramName(controls), shown);
        const Shape &second = drawn[QStringLiteral("diagram-t2")];
        QCOMPARE(second.title, shown);
        QCOMPARE(second.linkTitle, shown);
        QVERIFY(second.shows(shown));
        QVERIFY(second.shows(QStringLiteral("F\\N\\u202e\\x00")));

        const Shape &line = drawn[QStringLiteral("diagram-r1-1")];
        QCOMPARE(line.title, shown + QStringLiteral(".F\\N\\u202e\\x00 \u2192 ") + escapes +
                                 QStringLiteral(".ID\\G (R\\N<&>\\x07: one-to-many, integrity enforced)"));
    }

    // Each line leaves the pointing field's row and reaches the row of the field it points at,
    // and carries its relationship's rules; keys are marked in their rows.
    void linesJoinTheRelatedFieldsRows()
    {
        const Document d = shop();
        const QStringList anchors = tableAnchors(d);
        const QString svg = svgOf(d);
        const QHash<QString, Shape> drawn = shapes(svg);
        const Shape &branches = drawn[QStringLiteral("diagram-t1")];
        const Shape &customers = drawn[QStringLiteral("diagram-t2")];
        const Shape &orders = drawn[QStringLiteral("diagram-t4")];
        const Shape &profile = drawn[QStringLiteral("diagram-t5")];
        QVERIFY(!drawn.contains(QStringLiteral("diagram-t3"))); // the table without relationships
        QCOMPARE(customers.link, QLatin1Char('#') + anchors[1]);
        QCOMPARE(orders.link, QLatin1Char('#') + anchors[3]);

        const Shape &bought = drawn[QStringLiteral("diagram-r1-1")];
        QVERIFY(joins(bought.ends().first, orders, QStringLiteral("CustomerID")));
        QVERIFY(joins(bought.ends().second, customers, QStringLiteral("CustomerID")));
        QVERIFY(!joins(bought.ends().first, orders, QStringLiteral("Note")));
        QVERIFY(bought.shows(QStringLiteral("CU CD")) && bought.shows(QStringLiteral("1")) &&
                bought.shows(QStringLiteral("\u221e")));
        QVERIFY(!bought.dashed);
        QCOMPARE(bought.polygons, 0);

        for (const QString &pair : {QStringLiteral("1"), QStringLiteral("2")}) {
            const Shape &branch = drawn[QStringLiteral("diagram-r2-") + pair];
            const QString field = pair == QLatin1String("1") ? QStringLiteral("Region") : QStringLiteral("Branch");
            QVERIFY(joins(branch.ends().first, orders, field));
            QVERIFY(joins(branch.ends().second, branches, field));
            QVERIFY(branch.dashed);
            QCOMPARE(branch.polygons, 1); // the outer join's arrow
            QVERIFY(branch.title.contains(QStringLiteral("every row of Branches, the matching rows of Orders")));
        }
        const Shape &profiled = drawn[QStringLiteral("diagram-r3-1")];
        QVERIFY(joins(profiled.ends().first, profile, QStringLiteral("Customer")));
        QVERIFY(profiled.shows(QStringLiteral("CN")) && !profiled.shows(QStringLiteral("\u221e")));
        QCOMPARE(profiled.polygons, 1);

        // Keys are marked in their own rows.
        QVERIFY(std::abs(customers.at(QStringLiteral("PK")).y() - customers.at(QStringLiteral("CustomerID")).y()) < 1);
        QVERIFY(std::abs(orders.at(QStringLiteral("FK")).y() - orders.at(QStringLiteral("CustomerID")).y()) < 1);
        QVERIFY(std::abs(orders.at(QStringLiteral("PK")).y() - orders.at(QStringLiteral("OrderID")).y()) < 1);

        const QString legend = diagramLegendHtml(d, diagramPlan(d).drawn);
        for (const QString &mark : {QStringLiteral("CU"), QStringLiteral("CD"), QStringLiteral("CN"),
                                    QStringLiteral("dashed"), QStringLiteral("outer join"), QStringLiteral("PK")})
            QVERIFY2(legend.contains(mark), qPrintable(mark));
        QVERIFY(!diagramLegendHtml(d, {1, 3}).contains(QStringLiteral("dashed")));
    }

    // A wide table's box keeps the rows its lines need and counts the others; a table whose
    // fields could not be read says so in its box.
    void wideAndUnreadTablesKeepTheirRelatedRows()
    {
        Document d;
        QStringList fields;
        for (int i = 0; i < 40; ++i)
            fields << QStringLiteral("F%1").arg(i);
        d.tables << table(QStringLiteral("Wide"), fields, {QStringLiteral("F0")});
        Table unread;
        unread.name = QStringLiteral("Damaged");
        unread.definitionRead = false;
        d.tables << unread;
        d.relationships << relationship(QStringLiteral("WideDamaged"), QStringLiteral("Damaged"),
                                        {QStringLiteral("ID")}, QStringLiteral("Wide"), {QStringLiteral("F35")});
        const QHash<QString, Shape> drawn = shapes(svgOf(d));
        const Shape &wide = drawn[QStringLiteral("diagram-t1")];
        QVERIFY(wide.shows(QStringLiteral("F0")) && wide.shows(QStringLiteral("F35")) &&
                wide.shows(QStringLiteral("F13")) && wide.shows(QStringLiteral("F12")));
        QVERIFY(!wide.shows(QStringLiteral("F14")) && !wide.shows(QStringLiteral("F36")));
        QVERIFY(wide.shows(QStringLiteral("\u2026 25 more fields")));
        QVERIFY(joins(drawn[QStringLiteral("diagram-r1-1")].ends().first, wide, QStringLiteral("F35")));
        QVERIFY(drawn[QStringLiteral("diagram-t2")].shows(QStringLiteral("fields not read")));

        // In a drawing of many tables every box lists only its key and related fields.
        Document many;
        for (int i = 0; i < 50; ++i) {
            many.tables << table(
                QStringLiteral("M%1").arg(i),
                {QStringLiteral("ID"), QStringLiteral("Up"), QStringLiteral("Name"), QStringLiteral("Notes")},
                {QStringLiteral("ID")});
            if (i > 0)
                many.relationships << relationship(QString(), QStringLiteral("M%1").arg(i / 2), {QStringLiteral("ID")},
                                                   QStringLiteral("M%1").arg(i), {QStringLiteral("Up")});
        }
        const Shape box = shapes(svgOf(many)).value(QStringLiteral("diagram-t8"));
        QVERIFY(box.shows(QStringLiteral("ID")) && box.shows(QStringLiteral("Up")) &&
                !box.shows(QStringLiteral("Name")));
        QVERIFY(box.shows(QStringLiteral("\u2026 2 more fields")));
    }

    // Only related tables are drawn, group by group up to a limit; the page says plainly what
    // is left out, and a database without relationships draws nothing.
    void bigDatabasesDrawOnlyRelatedTables()
    {
        Document big = shop();
        for (int i = 0; i < 1995; ++i)
            big.tables << table(QStringLiteral("Lonely%1").arg(i), {QStringLiteral("x")});
        const DiagramPlan plan = diagramPlan(big);
        QCOMPARE(plan.drawn, (QList<int>{0, 1, 3, 4}));
        QCOMPARE(plan.unrelated.size(), 1996);
        QVERIFY(plan.leftOut.isEmpty());
        const QString summary = QStringLiteral("The diagram shows the 4 tables that take part in relationships. The "
                                               "1,996 tables without relationships are listed under it.");
        QCOMPARE(diagramSummary(big, plan), summary);
        const QString page = toHtml(big);
        QVERIFY(page.contains(summary));
        QVERIFY(page.contains(QStringLiteral("<details><summary>1,996 tables without relationships</summary>")));
        QVERIFY(page.contains(QStringLiteral("<li><a href=\"#table-lonely1994\"><bdi>Lonely1994</bdi></a></li>")));
        QCOMPARE(page.count(QStringLiteral("class=\"node\"")), 4);

        Document none;
        for (int i = 0; i < 2001; ++i)
            none.tables << table(QStringLiteral("T%1").arg(i), {QStringLiteral("x")});
        QCOMPARE(diagramSummary(none, diagramPlan(none)),
                 QStringLiteral("None of the 2,001 tables takes part in a relationship: there is nothing to draw."));
        QVERIFY(!toHtml(none).contains(QStringLiteral("<svg")));
        QVERIFY(!toHtml(none).contains(QStringLiteral("without relationships")));
        none.tables.resize(1);
        none.relationships << relationship(QString(), QStringLiteral("T0"), {QStringLiteral("x")},
                                           QStringLiteral("Linked"), {QStringLiteral("x")});
        QCOMPARE(diagramSummary(none, diagramPlan(none)),
                 QStringLiteral("The database's one table takes part in no relationship with a table of this "
                                "database: there is nothing to draw. 1 relationship is not drawn: one of its tables "
                                "is not a table of this database (a linked table, or a damaged entry); see "
                                "Relationships."));
        QCOMPARE(diagramSummary(Document{}, diagramPlan(Document{})), QStringLiteral("No tables to draw."));
        QVERIFY(relationshipDiagramSvg(Document{}, {}, {}).isEmpty());
        QVERIFY(toHtml(Document{}).contains(QStringLiteral("No tables to draw.")));

        // Groups: 0-1, 2-3-4, 5 with itself; a link to a table that is not there is not drawn.
        Document groups;
        for (int i = 0; i < 6; ++i)
            groups.tables << table(QStringLiteral("G%1").arg(i), {QStringLiteral("x")});
        for (const auto &[primary, foreign] : QList<std::pair<int, int>>{{0, 1}, {2, 3}, {4, 3}, {5, 5}, {5, 9}})
            groups.relationships << relationship(QString(), QStringLiteral("G%1").arg(primary), {QStringLiteral("x")},
                                                 QStringLiteral("G%1").arg(foreign), {QStringLiteral("x")});
        const DiagramPlan limited = diagramPlan(groups, 3);
        QCOMPARE(limited.drawn, (QList<int>{0, 1, 5}));
        QCOMPARE(limited.leftOut, (QList<int>{2, 3, 4}));
        QCOMPARE(limited.unresolved, 1);
        QCOMPARE(diagramSummary(groups, limited),
                 QStringLiteral("The diagram shows 3 of the 6 tables that take part in relationships, as many as "
                                "stay legible and quick to draw; the relationships of the other 3 are listed under "
                                "Relationships. 1 relationship is not drawn: one of its tables is not a table of "
                                "this database (a linked table, or a damaged entry); see Relationships."));
        // A group too big for the room left is drawn in part, its tables joined to each other.
        QCOMPARE(diagramPlan(groups, 4).drawn, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(diagramPlan(groups, 4).leftOut, (QList<int>{4, 5}));

        // The Markdown diagram keeps its own scope.
        QVERIFY(diagramScope(big).onlyRelated);
        QCOMPARE(diagramScope(big).tables, (QList<int>{0, 1, 3, 4}));
        QVERIFY(!diagramScope(shop()).onlyRelated);
    }

    // A real database through the exporter: the page's diagram draws its related tables with a
    // line per pair of related fields, each box linking to its table.
    void realDatabaseDrawsItsRelationships()
    {
        const QString database = TestSupport::fixturesDir() + QStringLiteral("/structure.accdb");
        if (TestSupport::fixturesDir().isEmpty() || !QFile::exists(database))
            STRUDEX_WITHOUT_FIXTURE("structure.accdb is not there");
        QTemporaryDir folder;
        const TestSupport::ProgramRun run = TestSupport::runExporter(
            {QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--output"), folder.path(), database});
        QCOMPARE(run.exitCode, 0);
        const QString page =
            QString::fromUtf8(TestSupport::readFile(folder.filePath(QStringLiteral("structure_Structure.html"))));
        const QString svg =
            page.section(QStringLiteral("<div class=\"diagram\">\n"), 1).section(QStringLiteral("\n</div>"), 0, 0);
        QVERIFY(svg.startsWith(QStringLiteral("<svg")) && svg.contains(QStringLiteral("viewBox")));
        const QHash<QString, Shape> drawn = shapes(svg);
        QStringList titles;
        for (const Shape &shape : drawn)
            titles << shape.title;
        titles.sort();
        QCOMPARE(titles.filter(QStringLiteral("\u2192")).size(), 5);
        QVERIFY(titles.contains(QStringLiteral("Orders.Region \u2192 Branches.Region (BranchesOrders: one-to-many, "
                                               "integrity not enforced, outer join: every row of Branches, the "
                                               "matching rows of Orders)")));
        for (const QString &name :
             {QStringLiteral("Branches"), QStringLiteral("Customer Profile"), QStringLiteral("Customers"),
              QStringLiteral("Order Lines"), QStringLiteral("Orders")})
            QVERIFY2(titles.contains(name), qPrintable(name));
        QVERIFY(page.contains(QStringLiteral("xlink:href=\"#table-customer-profile\"")));
        QVERIFY(page.contains(QStringLiteral("1 table without relationships")));
    }
};

QTEST_GUILESS_MAIN(DiagramTest)
#include "tst_diagram.moc"
