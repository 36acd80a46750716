// The page of an estate's index: it reaches nothing outside itself, hostile file and table names stay
// text in the HTML, the attributes and the drawing, links to the documents are relative, and the
// links between databases are drawn, the missing files dashed.

#include "core/estate/IndexPage.h"

#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

using namespace Estate;

namespace {

const QString ScriptName = QStringLiteral("sales/<script>alert(1)</script>.mdb");
const QString QuoteName = QStringLiteral("q\"uote's & <b>bold</b>.accdb");
const QString JavascriptName = QStringLiteral("javascript:alert(1).mdb");
const QString ControlName = QStringLiteral("ctl\x01\x1b[31m\nnew.mdb");
const QString ReversedName = QStringLiteral("Invoices\u202Etxt.exe.mdb");
const QString EscapeName = QStringLiteral("back\\N\\G\\E end.mdb");

DatabaseEntry database(const QString &path, qint64 tables)
{
    DatabaseEntry entry;
    entry.path = path;
    entry.size = 1 << 20;
    entry.modified = QStringLiteral("2026-12-08T10:52:00Z");
    entry.format = QStringLiteral("Access 2000");
    entry.tables = tables;
    entry.records = tables * 1000;
    entry.schemaHash = QStringLiteral("0123456789abcdef") + QString::number(tables);
    entry.documents << path + QStringLiteral(".json") << path + QStringLiteral(".html");
    return entry;
}

LinkedTableEntry linkedTable(const QString &name)
{
    return LinkedTableEntry{name, name, QStringLiteral("..\\back.mdb")};
}

// A front end linking to a back end in the tree and to one that is not, a damaged file, two copies
// of one design, and a name of each hostile kind.
Index hostile()
{
    Index index;
    index.generator = QStringLiteral("Strudex 1.0.0");
    index.root = QStringLiteral("/srv/<share>");
    DatabaseEntry back = database(EscapeName, 3);
    DatabaseEntry front = database(ScriptName, 1);
    front.linkedTables << linkedTable(QStringLiteral("Customers")) << linkedTable(QStringLiteral("Or<d>ers"))
                       << linkedTable(QStringLiteral("Gone"));
    front.unread << QStringLiteral("the query \"<q>\" could not be read");
    DatabaseEntry quoted = database(QuoteName, 2);
    DatabaseEntry javascript = database(JavascriptName, 2);
    javascript.schemaHash = quoted.schemaHash;
    DatabaseEntry control = database(ControlName, 4);
    DatabaseEntry reversed;
    reversed.path = ReversedName;
    reversed.size = 512;
    reversed.modified = QStringLiteral("2026-12-01T08:00:00Z");
    reversed.error = DatabaseError{ErrorKind::Damaged, QStringLiteral("Page 7 is <img src=x onerror=alert(2)>")};
    reversed.documents << ReversedName + QStringLiteral(".json");
    index.databases << back << control << javascript << quoted << front << reversed;

    Link inTree{ScriptName,
                EscapeName,
                QStringLiteral("..\\back\\N.mdb"),
                {QStringLiteral("Customers"), QStringLiteral("Or<d>ers")}};
    Link missing{ScriptName, std::nullopt, QStringLiteral("\\\\server\\G\\<gone>.mdb"), {QStringLiteral("Gone")}};
    index.links << inTree << missing;

    index.summary.databases = 6;
    index.summary.documented = 5;
    index.summary.errors = 1;
    index.summary.byFormat << qMakePair(QStringLiteral("Access 2000"), qint64(5));
    index.summary.byError << qMakePair(QStringLiteral("damaged"), qint64(1));
    index.summary.identicalDesigns << DesignGroup{quoted.schemaHash, {JavascriptName, QuoteName}};
    return index;
}

QString pageOf(const Index &index)
{
    return QString::fromUtf8(indexPage(index));
}

// The inline SVG of the page: the drawing of the links.
QString svgOf(const QString &page)
{
    const qsizetype start = page.indexOf(QLatin1String("<svg"));
    const qsizetype end = page.indexOf(QLatin1String("</svg>"));
    return start < 0 || end < start ? QString() : page.mid(start, end + 6 - start);
}

// A node or edge of the drawing: its title, its text and whether its outline is dashed.
struct Shape
{
    QString title;
    QStringList texts;
    bool dashed = false;
};

QHash<QString, Shape> shapes(const QString &svg)
{
    QHash<QString, Shape> found;
    QXmlStreamReader reader(svg);
    QString current;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = reader.name().toString();
        const QString kind = reader.attributes().value(QLatin1String("class")).toString();
        if (name == QLatin1String("g") && (kind == QLatin1String("node") || kind == QLatin1String("edge")))
            current = reader.attributes().value(QLatin1String("id")).toString();
        else if (current.isEmpty())
            continue;
        else if (name == QLatin1String("title"))
            found[current].title = reader.readElementText();
        else if (name == QLatin1String("text"))
            found[current].texts << reader.readElementText();
        else if (reader.attributes().hasAttribute(QLatin1String("stroke-dasharray")))
            found[current].dashed = true;
    }
    if (reader.hasError())
        qWarning() << reader.errorString();
    return found;
}

} // namespace

class IndexPageTest : public QObject
{
    Q_OBJECT

private slots:
    void errorKindsHaveTheirNames()
    {
        const QList<QPair<ErrorKind, QString>> kinds{
            {ErrorKind::Damaged, QStringLiteral("damaged")},
            {ErrorKind::NotAccess, QStringLiteral("notAccess")},
            {ErrorKind::Password, QStringLiteral("password")},
            {ErrorKind::Unsupported, QStringLiteral("unsupported")},
            {ErrorKind::Unreadable, QStringLiteral("unreadable")},
        };
        for (const auto &[kind, name] : kinds) {
            QCOMPARE(errorKindName(kind), name);
            QCOMPARE(errorKindFromName(name), std::optional<ErrorKind>(kind));
        }
        QVERIFY(!errorKindFromName(QStringLiteral("Damaged")));
        QVERIFY(!errorKindFromName(QString()));
    }

    // No part of the page is fetched: the page is one file, whatever the browser's settings.
    void nothingOutsideThePageIsRequested()
    {
        const QString page = pageOf(hostile());
        static const QRegularExpression reference(QStringLiteral("(?:src|href|action|srcset)\\s*=\\s*\"([^\"]*)\""),
                                                  QRegularExpression::CaseInsensitiveOption);
        int references = 0;
        for (const QRegularExpressionMatch &m : reference.globalMatch(page)) {
            const QString target = m.captured(1);
            ++references;
            QVERIFY2(!target.contains(u':') && !target.startsWith(QLatin1String("//")), qPrintable(target));
        }
        QVERIFY(references > 10);
        QVERIFY(!page.contains(QLatin1String("url(")) && !page.contains(QLatin1String("@import")));
        QVERIFY(page.contains(QLatin1String("Content-Security-Policy\" content=\"default-src 'none'")));
    }

    // Every hostile name is text: the page's own script is its only one, no markup of a name is
    // left raw, and no control character or direction override reaches the page.
    void hostileTextStaysText()
    {
        const QString page = pageOf(hostile());
        QCOMPARE(page.count(QLatin1String("<script")), 1);
        QVERIFY(!page.contains(QLatin1String("<img")) && !page.contains(QLatin1String("<b>bold")) &&
                !page.contains(QLatin1String("<d>")) && !page.contains(QLatin1String("<gone>")) &&
                !page.contains(QLatin1String("<q>")) && !page.contains(QLatin1String("<share>")));
        QVERIFY(page.contains(QLatin1String("<bdi>sales/&lt;script&gt;alert(1)&lt;/script&gt;.mdb</bdi>")));
        QVERIFY(page.contains(QLatin1String("Page 7 is &lt;img src=x onerror=alert(2)&gt;")));
        QVERIFY(page.contains(QLatin1String("q&quot;uote&#39;s &amp; &lt;b&gt;bold&lt;/b&gt;.accdb")));
        // The filter reads the quote inside its attribute, which it cannot leave.
        QVERIFY(page.contains(QLatin1String("data-search=\"q&quot;uote&#39;s &amp; &lt;b&gt;bold&lt;/b&gt;.accdb")));
        QVERIFY(page.contains(QLatin1String("Invoices<span class=\"ctl\">\\u202e</span>txt.exe.mdb")));
        QVERIFY(page.contains(QLatin1String("ctl<span class=\"ctl\">\\x01</span><span class=\"ctl\">\\x1b</span>"
                                            "[31m<span class=\"ctl\">\\x0a</span>new.mdb")));
        for (const QChar c : page) {
            const char16_t u = c.unicode();
            QVERIFY2((u >= 0x20 || u == u'\n') && u != 0x7f && !(u >= 0x202a && u <= 0x202e),
                     qPrintable(QString::number(u, 16)));
        }
    }

    // A name's colon, quote or slashes cannot make a link leave the output folder or run code.
    void linksToDocumentsAreRelativeAndEncoded()
    {
        QCOMPARE(documentHref(QStringLiteral("javascript:alert(1).mdb.html")),
                 QStringLiteral("javascript%3Aalert%281%29.mdb.html"));
        QCOMPARE(documentHref(QStringLiteral("a b/\"><x>&.html")), QStringLiteral("a%20b/%22%3E%3Cx%3E%26.html"));
        QCOMPARE(documentHref(QStringLiteral("back\\N.html")), QStringLiteral("back%5CN.html"));
        for (const char *outside : {"//evil.example/x.html", "/etc/x.html", "a/../../x.html", "./x.html", "a//x.html"})
            QCOMPARE(documentHref(QLatin1String(outside)), QString());

        const QString page = pageOf(hostile());
        QVERIFY(page.contains(QLatin1String("<a href=\"javascript%3Aalert%281%29.mdb.html\">")));
        QVERIFY(page.contains(QLatin1String("<a href=\"q%22uote%27s%20%26%20%3Cb%3Ebold%3C/b%3E.accdb.html\">")));
        QVERIFY(page.contains(QLatin1String("<a href=\"sales/%3Cscript%3Ealert%281%29%3C/script%3E.mdb.html\">")));
        // Without a page of its own, a database links to its JSON.
        QVERIFY(page.contains(QLatin1String("<a href=\"Invoices%E2%80%AEtxt.exe.mdb.json\">")));
    }

    // Each database is a row of the plain table, its figures as numbers the script sorts by.
    void everyDatabaseHasItsRow()
    {
        const QString page = pageOf(hostile());
        const qsizetype body = page.indexOf(QLatin1String("<tbody>"));
        const QString rows = page.mid(body, page.indexOf(QLatin1String("</tbody>")) - body);
        QCOMPARE(rows.count(QLatin1String("<tr")), 6);
        QVERIFY(rows.contains(QLatin1String("<td class=\"num\" data-v=\"4000\">4,000</td>")));
        QVERIFY(rows.contains(QLatin1String("<td class=\"num\" data-v=\"1048576\">1.0 MB</td>")));
        QVERIFY(
            rows.contains(QLatin1String("<td class=\"when\" data-v=\"2026-12-08T10:52:00Z\">2026-12-08 10:52</td>")));
        QVERIFY(rows.contains(QLatin1String("<span class=\"kind\"><bdi>damaged</bdi></span>")));
        // The shared design links to its group; the others show their label alone.
        QVERIFY(rows.contains(QLatin1String("<a href=\"#design-1\"><bdi>01234567</bdi></a>")));
        QCOMPARE(rows.count(QLatin1String("href=\"#design-1\"")), 2);
        QVERIFY(page.contains(QLatin1String("<tr id=\"design-1\">")));
        QVERIFY(page.contains(QLatin1String("<th class=\"num\">Code lines</th>")));
    }

    void errorsAreListedOrSaidToBeNone()
    {
        const QString page = pageOf(hostile());
        QVERIFY(!page.contains(QLatin1String("No errors.")));
        QVERIFY(page.contains(QLatin1String("<th>Kind</th><th>Message</th>")));
        QVERIFY(page.contains(QLatin1String("the query &quot;&lt;q&gt;&quot; could not be read")));

        Index clean = hostile();
        clean.databases.removeLast();
        clean.summary.errors = 0;
        clean.summary.byError.clear();
        const QString cleanPage = pageOf(clean);
        QVERIFY(cleanPage.contains(QLatin1String("<p>No errors.</p>")));
        QVERIFY(!cleanPage.contains(QLatin1String("<th>Kind</th>")));
    }

    // A node per file, a line per link labelled with its number of tables, the missing file dashed;
    // Graphviz reads no \N or markup of a name.
    void linksAreDrawn()
    {
        const QString page = pageOf(hostile());
        const QString svg = svgOf(page);
        QVERIFY2(svg.startsWith(QLatin1String("<svg")),
                 qPrintable(page.mid(page.indexOf(QLatin1String("id=\"links")))));
        const QHash<QString, Shape> drawn = shapes(svg);
        QCOMPARE(drawn.size(), 5);

        const Shape &front = drawn[QStringLiteral("links-n1")];
        QCOMPARE(front.title, ScriptName);
        QCOMPARE(front.texts.join(QString()), ScriptName);
        QVERIFY(!front.dashed);
        const Shape &back = drawn[QStringLiteral("links-n2")];
        QCOMPARE(back.texts.join(QString()), EscapeName);
        QVERIFY(!back.dashed);
        const Shape &missing = drawn[QStringLiteral("links-n3")];
        QCOMPARE(missing.texts,
                 (QStringList{QStringLiteral("\\\\server\\G\\<gone>.mdb"), QStringLiteral("(not found)")}));
        QVERIFY(missing.dashed);

        const Shape &inTree = drawn[QStringLiteral("links-e1")];
        QCOMPARE(inTree.texts, QStringList{QStringLiteral("2")});
        QCOMPARE(inTree.title, ScriptName + QStringLiteral(" \u2192 ") + EscapeName +
                                   QStringLiteral(": 2 linked tables (Customers, Or<d>ers)"));
        QVERIFY(drawn[QStringLiteral("links-e2")].dashed);

        // The same links for readers without the picture.
        QVERIFY(page.contains(QLatin1String("<bdi>\\\\server\\G\\&lt;gone&gt;.mdb</bdi> <span class=\"muted\">(not "
                                            "found)</span>: 1 linked table")));
    }

    void aTooBigDrawingIsLeftOutAndTheListKept()
    {
        Index index;
        for (int i = 0; i <= LinkDrawingLimit; ++i)
            index.links << Link{QStringLiteral("front%1.mdb").arg(i), std::nullopt, QStringLiteral("back.mdb"), {}};
        const QString page = pageOf(index);
        QVERIFY(!page.contains(QLatin1String("<svg")));
        QVERIFY(page.contains(QLatin1String("The drawing is left out: 302 files")));
        QCOMPARE(page.count(QLatin1String("(not found)</span>: 0 linked tables</li>")), LinkDrawingLimit + 1);

        index.links.removeLast();
        index.links.removeLast();
        QVERIFY(pageOf(index).contains(QLatin1String("<svg")));
    }

    void thePageIsWrittenToItsDevice()
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeIndexPage(hostile(), buffer));
        QCOMPARE(buffer.data(), indexPage(hostile()));
        // A place to look at the page in a browser.
        if (const QString sample = qEnvironmentVariable("STRUDEX_INDEX_PAGE_SAMPLE"); !sample.isEmpty()) {
            QFile file(sample);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(buffer.data()) == buffer.data().size());
        }
    }
};

QTEST_GUILESS_MAIN(IndexPageTest)
#include "tst_index_page.moc"
