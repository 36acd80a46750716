// The whole structure taken in part by part and written in pieces: the same document and the same
// bytes as taking it whole.

#include "core/structure/Assembly.h"
#include "core/structure/TextSink.h"

#include <QBuffer>
#include <QTest>

using namespace Structure;
using EngineProtocol::StructureKind;
using EngineProtocol::StructureRecord;

namespace {

StructureRecord tableRecord(const std::string &name, std::vector<EngineProtocol::Property> fieldProperties = {})
{
    StructureRecord record;
    record.kind = StructureKind::Table;
    record.table.name = name;
    record.table.records = 1;
    EngineProtocol::StructureField field;
    field.name = "F";
    field.adoType = 202;
    field.definedSize = 50;
    field.accessType = "Short Text";
    field.fieldSize = "50";
    field.properties = std::move(fieldProperties);
    record.table.fields.push_back(field);
    return record;
}

} // namespace

class TestStructureStreaming : public QObject
{
    Q_OBJECT

private slots:
    // Each place of a field is read from its properties as storedProperty() reads it: by the name
    // Access compares without regard to case, the first of a name winning, whatever the script.
    void fieldPlacesAreReadAsStoredPropertyReadsThem()
    {
        const std::vector<EngineProtocol::Property> stored{
            {"DESCRIPTION", "first"},
            {"Description", "second"},
            // Names beyond ASCII are "Required" or "AllowZeroLength" exactly when their lower case
            // is (U+0130, U+017F).
            {"Requ\xc4\xb0red", "Yes"},
            {"Allow\xc5\xbfZeroLength", "Yes"},
            {"required", "No"},
            {"defaultvalue", "=Now()"},
            {"ValidationRule", ">0"},
            {"validationTEXT", "Positive"},
            {"DisplayControl", "111"},
            {"RowSourceType", "Table/Query"},
            {"RowSource", "SELECT 1;"},
            {"BoundColumn", "2"},
            {"ColumnCount", "x"},
            {"AllowMultipleValues", "No"},
            {"Expression", "[A]+[B]"},
        };
        const Document d = assemble(QStringLiteral("x.accdb"), {tableRecord("T", stored)}, {});
        QCOMPARE(d.tables.size(), 1);
        const Field &f = d.tables[0].fields[0];
        const auto expect = [&](const char *name) { return storedProperty(f.properties, QString::fromLatin1(name)); };
        QCOMPARE(f.properties.size(), qsizetype(stored.size()));
        QCOMPARE(f.description, expect("Description"));
        QCOMPARE(f.description, std::optional<QString>(QStringLiteral("first")));
        const auto yesNo = [&](const char *name) -> std::optional<bool> {
            const auto text = expect(name);
            if (text == QStringLiteral("Yes"))
                return true;
            if (text == QStringLiteral("No"))
                return false;
            return std::nullopt;
        };
        QCOMPARE(f.required, yesNo("Required"));
        QVERIFY(f.required.has_value());
        QCOMPARE(f.allowZeroLength, yesNo("AllowZeroLength"));
        QCOMPARE(f.defaultValue, expect("DefaultValue"));
        QCOMPARE(f.validationRule, expect("ValidationRule"));
        QCOMPARE(f.validationText, expect("ValidationText"));
        QCOMPARE(f.expression, expect("Expression"));
        QVERIFY(f.lookup);
        QCOMPARE(f.lookup->displayControl, std::optional<QString>(QStringLiteral("Combo Box")));
        QCOMPARE(f.lookup->rowSourceType, expect("RowSourceType"));
        QCOMPARE(f.lookup->rowSource, expect("RowSource"));
        QCOMPARE(f.lookup->boundColumn, std::optional<int>(2));
        QCOMPARE(f.lookup->columnCount, std::optional<int>());
        QCOMPARE(f.lookup->allowMultipleValues, std::optional<bool>(false));
        // Shared texts are still the field's own values.
        QCOMPARE(f.accessType, QStringLiteral("Short Text"));
        QCOMPARE(f.fieldSize, std::optional<QString>(QStringLiteral("50")));
    }

    // Tables come in the table list's order, a name taking the first of its tables not yet taken;
    // what the list does not name follows in the order it came. Records added one by one make the
    // same document as all at once.
    void tablesFollowTheTableList()
    {
        const std::vector<StructureRecord> records{tableRecord("b"), tableRecord("Extra"), tableRecord("a"),
                                                   tableRecord("b"), tableRecord("c")};
        const QStringList order{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("missing"),
                                QStringLiteral("c")};
        const Document d = assemble(QStringLiteral("x.accdb"), records, order);
        QStringList names;
        for (const Table &table : d.tables)
            names << table.name;
        QCOMPARE(names, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                                     QStringLiteral("Extra"), QStringLiteral("b")}));
        Assembler assembler(QStringLiteral("x.accdb"));
        for (const StructureRecord &record : records)
            assembler.add(record);
        QCOMPARE(assembler.finish(order), d);
    }

    // Text a document's writer sends in pieces is the text's UTF-8, with surrogate pairs and lone
    // halves of them at the places where a piece would end.
    void textIsWrittenInPiecesAsItsUtf8()
    {
        const qsizetype piece = Structure::TextSink::kPiece;
        QString text(3 * piece + 7, QLatin1Char('a'));
        // A pair across the first boundary, a lone high half at the second, a lone low half at the
        // third, and a pair at the very end.
        text[piece - 1] = QChar(0xD83D);
        text[piece] = QChar(0xDE00);
        text[2 * piece - 1] = QChar(0xD83D);
        text[3 * piece - 1] = QChar(0xDE00);
        text[text.size() - 2] = QChar(0xD83D);
        text[text.size() - 1] = QChar(0xDE00);
        text[5] = QChar(0x00E9);
        for (const QString &sample : {text, QString(), QStringLiteral("\u00e9t\u00e9"), text.left(piece)}) {
            QBuffer buffer;
            QVERIFY(buffer.open(QIODevice::WriteOnly));
            Structure::TextSink sink(&buffer, 0);
            for (qsizetype at = 0; at < sample.size(); at += piece) {
                sink.text() += QStringView(sample).mid(at, piece);
                sink.flush();
            }
            QVERIFY(sink.finish());
            QCOMPARE(buffer.data(), sample.toUtf8());
        }
    }
};

QTEST_GUILESS_MAIN(TestStructureStreaming)
#include "tst_structure_streaming.moc"
