// The report's lines as they are built and written in bulk: every short cut taken for the common
// case (ASCII text, text fields, parts of the worker's answer read in place) must give exactly the
// bytes of the plain way.

#include "core/report/ReportFile.h"
#include "core/report/StructureReport.h"
#include "protocol/EngineProtocol.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

// Each line through one encoder, as the report was always written.
QByteArray plainlyEncoded(const QStringList &lines)
{
    QStringEncoder encoder(QStringConverter::System);
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += QByteArray(encoder.encode(line)) + "\r\n";
    return bytes;
}

QString naiveFieldLine(const QString &name, qint32 typeCode, const QString &typeText, const QString &description)
{
    if (name.size() >= 25)
        return name + QString::number(typeCode);
    return QLatin1Char(' ') + name.leftJustified(25) + QLatin1Char(' ') + typeText.leftJustified(12) +
           QLatin1Char(' ') + description;
}

} // namespace

class TestReportLines : public QObject
{
    Q_OBJECT

private slots:
    void linesAreWrittenAsTheEncoderWritesThem()
    {
        const QChar high(0xD83D);
        const QChar low(0xDE00);
        QStringList lines{
            QStringLiteral(" Printing From /data/Shop.accdb"),
            QString(),
            QStringLiteral(" Größe                     Text[50]     Beschreibung é"),
            QStringLiteral("中文表名"),
            QString(high) + low + QStringLiteral(" a pair"),
            QStringLiteral("ends in half a pair ") + high,
            QStringLiteral("plain ASCII after it"),
            QString(low) + QStringLiteral(" a lone low half"),
            QStringLiteral("ends in half a pair again ") + high,
            QString(),
            QStringLiteral("\t control \x01 characters"),
            QString(200000, QLatin1Char('x')), // longer than what waits before it is written
        };
        for (int i = 0; i < 5000; ++i) // past the point where what waits is written out
            lines.append(
                QStringLiteral(" Field%1                  Number       Column %1").arg(i, 3, 10, QLatin1Char('0')));
        lines.append(QStringLiteral("last é"));

        QTemporaryDir folder;
        const QString name = folder.filePath(QStringLiteral("lines.txt"));
        ReportFile file;
        file.open(name);
        for (const QString &line : lines)
            file.writeLine(line);
        file.close();
        QVERIFY(file.saved());
        QFile written(name);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        QCOMPARE(bytes.size(), plainlyEncoded(lines).size());
        QVERIFY(bytes == plainlyEncoded(lines));
    }

    void fieldLinesAndTypeTextsAreTheirPlainForms()
    {
        const QStringList names{QString(), QStringLiteral("A"), QString(24, QLatin1Char('n')),
                                QString(25, QLatin1Char('n')), QStringLiteral("Größe")};
        const QStringList types{QStringLiteral("Number"), QString(12, QLatin1Char('t')),
                                QStringLiteral("UnsignedTinyInt"), QStringLiteral("Text[255]")};
        for (const QString &name : names)
            for (const QString &type : types)
                for (const QString &description : {QString(), QStringLiteral("Who buys, é")})
                    QCOMPARE(StructureReport::FieldLine(name, 202, type, description),
                             naiveFieldLine(name, 202, type, description));

        for (const qint64 size : {qint64(0), qint64(1), qint64(255), qint64(-1), qint64(1234567890123),
                                  std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()})
            for (const qint32 code : {129, 130, 200, 201, 202})
                QCOMPARE(StructureReport::TypeText(code, size),
                         QStringLiteral("Text[") + QString::number(size) + QLatin1Char(']'));
        QCOMPARE(StructureReport::TypeText(203, 100), QStringLiteral("Memo"));
        QCOMPARE(StructureReport::TypeText(999, 100), QStringLiteral("999"));
    }

    // The report's side reads the worker's parts as views into the frame: they say what the copies
    // say, and a part refused one way is refused the other.
    void partViewsSayWhatThePartSays()
    {
        using namespace EngineProtocol;
        Writer records;
        appendFieldsRecord(records, "Kunden", {{{"ID", 3, 4, 0x70}, {"Größe", 202, 50, 0x4}}, 91});
        appendDescriptionsRecord(records, "Kunden", {{"ID", false, ""}, {"Größe", true, "Wie groß"}},
                                 {true, "Unsere Kunden"});
        appendFailedRecord(records, RecordKind::FieldsFailed, "Broken", 3343, "Unrecognized database format.");
        appendFailedRecord(records, RecordKind::DescriptionsFailed, "Broken", 3265, "Item cannot be found");
        const Bytes part = encodePart(4, records.bytes());
        const Bytes body(part.begin() + 1, part.end());

        Reader copies(body);
        Reader views(body);
        const auto owned = decodePart(copies);
        const auto viewed = decodePartViews(views);
        QVERIFY(owned && viewed);
        QCOMPARE(viewed->size(), owned->size());
        for (std::size_t i = 0; i < owned->size(); ++i) {
            const DescribeRecord &o = (*owned)[i];
            const DescribeRecordView &v = (*viewed)[i];
            QCOMPARE(v.kind, o.kind);
            QCOMPARE(std::string(v.table), o.table);
            QCOMPARE(v.fields.size(), o.fields.fields.size());
            for (std::size_t f = 0; f < v.fields.size(); ++f) {
                QCOMPARE(std::string(v.fields[f].name), o.fields.fields[f].name);
                QCOMPARE(v.fields[f].definedSize, o.fields.fields[f].definedSize);
                QCOMPARE(v.fields[f].attributes, o.fields.fields[f].attributes);
            }
            QCOMPARE(v.recordCount, o.fields.recordCount);
            QCOMPARE(v.columns.size(), o.columns.size());
            for (std::size_t c = 0; c < v.columns.size(); ++c) {
                QCOMPARE(std::string(v.columns[c].column), o.columns[c].column);
                QCOMPARE(v.columns[c].present, o.columns[c].present);
                QCOMPARE(std::string(v.columns[c].value), o.columns[c].value);
            }
            QCOMPARE(v.tableDescription.present, o.tableDescription.present);
            QCOMPARE(std::string(v.tableDescription.value), o.tableDescription.value);
            QCOMPARE(v.errorNumber, o.error.number);
            QCOMPARE(std::string(v.errorDescription), o.error.description);
        }

        // Cut short anywhere, or with a text that is not UTF-8, the part is refused both ways.
        for (std::size_t cut = 0; cut < body.size(); cut += 7) {
            const Bytes shorter(body.begin(), body.begin() + std::ptrdiff_t(cut));
            Reader a(shorter);
            Reader b(shorter);
            QVERIFY(!decodePart(a));
            QVERIFY(!decodePartViews(b));
        }
        Bytes damaged = body;
        const auto at = std::search(damaged.begin(), damaged.end(), std::begin("Wie"), std::end("Wie") - 1);
        QVERIFY(at != damaged.end());
        *at = 0xFF;
        Reader a(damaged);
        Reader b(damaged);
        QVERIFY(!decodePart(a));
        QVERIFY(!decodePartViews(b));
    }
};

QTEST_GUILESS_MAIN(TestReportLines)
#include "tst_report_lines.moc"
