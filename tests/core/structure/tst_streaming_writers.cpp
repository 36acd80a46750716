// The documents written to a device in pieces as they are made: the same bytes as the whole text,
// sent in pieces far smaller than the document, and a device that stops taking bytes midway is
// reported, never taken for a finished document.

#include "core/structure/Html.h"
#include "core/structure/JsonWriter.h"
#include "core/structure/Markdown.h"
#include "core/structure/Structure.h"
#include "core/structure/TextSink.h"

#include <QBuffer>
#include <QTest>

#include <functional>

using namespace Structure;

namespace {

// A file that takes bytes up to its capacity and then fails, as a full disk does, counting the
// writes and the biggest one.
class LimitedDevice : public QIODevice
{
public:
    explicit LimitedDevice(qint64 capacity) : m_capacity(capacity) { open(QIODevice::WriteOnly); }

    QByteArray bytes;
    int writes = 0;
    qint64 biggest = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        ++writes;
        biggest = std::max(biggest, size);
        if (bytes.size() + size > m_capacity) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        bytes.append(data, size);
        return size;
    }

private:
    qint64 m_capacity;
};

// Big enough for many pieces, with names of every kind a writer escapes: markup, quotes, control
// characters, letters beyond ASCII (whose keys need Unicode's lower case), a surrogate pair and
// half of one.
Document bigDocument()
{
    const QStringList odd{QStringLiteral("Nom <b>&amp;\"'</b>"), QStringLiteral("Tab\tand\nline"),
                          QStringLiteral("Stra\u00dfe \u0130D"), QString::fromUcs4(U"Key \U0001F511", 5),
                          QStringLiteral("lone \xd800 half"),    QStringLiteral("# heading | pipe `tick`")};
    Document d;
    d.database.path = QStringLiteral("/data/big.accdb");
    d.database.format = QStringLiteral("Access 2007");
    for (int t = 0; t < 300; ++t) {
        Table table;
        table.name = QStringLiteral("Table %1 ").arg(t) + odd[t % odd.size()];
        table.records = t;
        for (int f = 0; f < 30; ++f) {
            Field field;
            field.name = QStringLiteral("Field%1 ").arg(f) + odd[f % odd.size()];
            field.type = QStringLiteral("Text");
            field.accessType = QStringLiteral("Short Text");
            field.adoType = 202;
            field.size = 50;
            field.description = odd[(t + f) % odd.size()];
            field.properties = {{QStringLiteral("CAPTION"), odd[f % odd.size()]},
                                {QStringLiteral("Requ\u0130red"), QStringLiteral("Yes")}};
            table.fields << field;
        }
        Index key;
        key.name = QStringLiteral("PrimaryKey");
        key.fields = {{table.fields[0].name, false}};
        key.primary = key.unique = true;
        table.indexes << key;
        d.tables << table;
    }
    Relationship r;
    r.name = QStringLiteral("R1");
    r.primaryTable = d.tables[0].name;
    r.primaryFields = QStringList{d.tables[0].fields[0].name};
    r.foreignTable = d.tables[1].name;
    r.foreignFields = QStringList{d.tables[1].fields[2].name};
    d.relationships << r;
    return d;
}

using Writer = std::function<bool(const Document &, QIODevice &)>;

} // namespace

class TestStreamingWriters : public QObject
{
    Q_OBJECT

private slots:
    void streamsAreTheWholeTextsBytesInPieces_data()
    {
        QTest::addColumn<Writer>("write");
        QTest::addColumn<QByteArray>("whole");
        const Document d = bigDocument();
        QTest::newRow("json") << Writer(writeJson) << toJson(d);
        QTest::newRow("markdown") << Writer(writeMarkdown) << toMarkdown(d).toUtf8();
        QTest::newRow("html") << Writer(writeHtml) << toHtml(d).toUtf8();
    }
    void streamsAreTheWholeTextsBytesInPieces()
    {
        QFETCH(Writer, write);
        QFETCH(QByteArray, whole);
        QVERIFY(whole.size() > 1024 * 1024);
        LimitedDevice device(1LL << 40);
        QVERIFY(write(bigDocument(), device));
        QCOMPARE(device.bytes.size(), whole.size());
        QVERIFY(device.bytes == whole);
        QVERIFY2(device.writes > 2 && device.biggest < whole.size() / 2, qPrintable(QString::number(device.writes)));

        // A disk that fills up midway.
        LimitedDevice full(whole.size() / 2);
        QVERIFY(!write(bigDocument(), full));
        QCOMPARE(full.errorString(), QStringLiteral("No space left on device"));
        QVERIFY(full.bytes.size() <= whole.size() / 2);
        QVERIFY(whole.startsWith(full.bytes));
    }

    // A name that looks like a placeholder of Qt's arg() reaches the page as it is, and so does
    // the section's height beside it.
    void namesLikePlaceholdersStayAsTheyAre()
    {
        Document d;
        Table table;
        table.name = QStringLiteral("Rate %1 %2 \u039f\u0394\u039f\u03a3");
        table.fields << Field{};
        table.fields[0].name = QStringLiteral("Cost %3 \u03a3\u0130");
        d.tables << table;
        const QString page = toHtml(d);
        // Lower-cased name by name, as the page's script lower-cases what is typed.
        const QString search = table.name.toLower() + QLatin1Char(' ') + table.fields[0].name.toLower();
        QVERIFY2(page.contains(QStringLiteral("data-search=\"") + search +
                               QStringLiteral("\" style=\"contain-intrinsic-size: auto ")),
                 qPrintable(page));
        QVERIFY(!page.contains(QStringLiteral("auto %3px")));
    }

    // The grids are appended through room made ahead: a row longer than that room grows it, and
    // the text ends where the last piece does.
    void appendsGrowPastTheRoomMadeAhead()
    {
        QString text = QStringLiteral("start:");
        QString expected = text;
        {
            Appender out(text, 4);
            for (int i = 0; i < 300; ++i) {
                const QString piece = QString(i % 17, QChar(u'a' + i % 26));
                out += piece;
                out += QLatin1Char('|');
                out += u"<td>"_sv;
                expected += piece + QLatin1Char('|') + QStringLiteral("<td>");
            }
        }
        QCOMPARE(text, expected);
    }

    // Names are keyed by their lower case, with or without letters beyond ASCII.
    void namesAreKeyedByTheirLowerCase()
    {
        for (const QString &name :
             {QStringLiteral("CustomerID"), QStringLiteral("abc"), QString(), QStringLiteral("Stra\u00dfe"),
              QStringLiteral("\u0130D"), QStringLiteral("X\u0130")})
            QCOMPARE(nameKey(name), name.toLower());
        const Properties stored{{QStringLiteral("Capt"), QStringLiteral("short")},
                                {QStringLiteral("CAPTIONS"), QStringLiteral("long")},
                                {QStringLiteral("x\u0130"), QStringLiteral("dotted")},
                                {QStringLiteral("cApTiOn"), QStringLiteral("found")}};
        QCOMPARE(storedProperty(stored, QStringLiteral("Caption")), std::optional<QString>(QStringLiteral("found")));
        QCOMPARE(storedProperty(stored, QStringLiteral("X\u0130")), std::optional<QString>(QStringLiteral("dotted")));
        QCOMPARE(storedProperty(stored, QStringLiteral("Capti")), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestStreamingWriters)
#include "tst_streaming_writers.moc"
