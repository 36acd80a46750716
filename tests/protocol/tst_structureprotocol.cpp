// The structure records the worker sends: every kind comes through whole, and cut or damaged
// bytes are refused without reading past them or allocating what they claim.

#include "protocol/StructureProtocol.h"

#include <QRandomGenerator>
#include <QTest>

using namespace EngineProtocol;

namespace {

std::vector<StructureRecord> samples()
{
    StructureRecord database;
    database.kind = StructureKind::Database;
    database.database = {5, "09.50", true, false};

    StructureRecord table;
    table.kind = StructureKind::Table;
    table.table.name = "Order Lines";
    table.table.records = 1234567890123;
    table.table.properties = {{"ValidationRule", "[Quantity] > 0"}, {"Description", "Zoë 注文"}};
    StructureField field;
    field.name = "Amount";
    field.adoType = 131;
    field.definedSize = 19;
    field.accessType = "Number";
    field.fieldSize = "Decimal";
    field.precision = 18;
    field.scale = 4;
    field.properties = {{"Format", "Fixed"}};
    StructureField plain;
    plain.name = "Tags";
    plain.adoType = 136;
    plain.accessType = "Short Text";
    plain.multiValued = true;
    plain.note = "the complex column's template is missing";
    table.table.fields = {field, plain};
    table.table.indexes = {{"PrimaryKey", {{"OrderID", false}, {"LineNo", true}}, true, true, false, true, false, ""},
                           {".rC", {{"OrderID", false}}, false, false, false, false, true, "a note"}};
    table.table.note = "";

    // A table whose definition could not be read: its fields are unknown, not none.
    StructureRecord unread;
    unread.kind = StructureKind::Table;
    unread.table.name = "Damaged";
    unread.table.definitionRead = false;
    unread.table.note = "its definition is damaged: its fields and indexes could not be read";

    StructureRecord relationship;
    relationship.kind = StructureKind::Relationship;
    relationship.relationship = {"BranchesOrders",
                                 "Branches",
                                 {"Region", "Branch"},
                                 "Orders",
                                 {"Region", "Branch"},
                                 false,
                                 false,
                                 true,
                                 false,
                                 true,
                                 "left",
                                 ""};

    StructureRecord query;
    query.kind = StructureKind::Query;
    query.query = {"Big orders", "select", "SELECT *\nFROM Orders;", ""};

    StructureRecord link;
    link.kind = StructureKind::Link;
    link.link = {"Remote", "dbo.Remote", "", "ODBC;DSN=x;PWD=secret", ""};

    StructureRecord note;
    note.kind = StructureKind::Note;
    note.note = "MSysQueries cannot be read";
    return {database, table, unread, relationship, query, link, note};
}

bool same(const StructureRecord &a, const StructureRecord &b)
{
    return a.kind == b.kind && a.database == b.database && a.table == b.table && a.relationship == b.relationship &&
           a.query == b.query && a.link == b.link && a.note == b.note;
}

} // namespace

class StructureProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void everyKindComesThroughWhole()
    {
        Writer out;
        for (const StructureRecord &record : samples())
            appendStructureRecord(out, record);
        QVERIFY(out.valid());
        const Bytes bytes = out.bytes();
        Reader in(bytes);
        for (const StructureRecord &expected : samples()) {
            const auto record = readStructureRecord(in);
            QVERIFY(record);
            QVERIFY(same(*record, expected));
        }
        QVERIFY(in.finished());
    }

    void cutOrDamagedBytesAreRefused()
    {
        for (const StructureRecord &record : samples()) {
            Writer out;
            appendStructureRecord(out, record);
            const Bytes whole = out.bytes();
            for (std::size_t cut = 0; cut < whole.size(); ++cut) {
                const Bytes part(whole.begin(), whole.begin() + static_cast<long>(cut));
                Reader in(part);
                QVERIFY2(!readStructureRecord(in), qPrintable(QStringLiteral("cut at %1").arg(cut)));
            }
        }
        // An unknown kind, a flag that is neither 0 nor 1, a count beyond the bytes.
        const Bytes unknown{9};
        Reader a(unknown);
        QVERIFY(!readStructureRecord(a));
        const Bytes badFlag{1, 5, 0, 0, 0, 0, 7, 0};
        Reader b(badFlag);
        QVERIFY(!readStructureRecord(b));
        Writer huge;
        huge.u8(2).string("T").u8(0).i64(0).u32(0xFFFFFFFF);
        const Bytes hugeBytes = huge.bytes();
        Reader c(hugeBytes);
        QVERIFY(!readStructureRecord(c));
        // A table whose definition was not read cannot come with fields.
        StructureRecord contradiction = samples()[1];
        Writer said;
        appendStructureRecord(said, contradiction);
        contradiction.table.definitionRead = false;
        Writer unsaid;
        appendStructureRecord(unsaid, contradiction);
        const Bytes contradictory = unsaid.bytes();
        QVERIFY(contradictory != said.bytes());
        Reader d(contradictory);
        QVERIFY(!readStructureRecord(d));

        QRandomGenerator random(3);
        Writer out;
        for (const StructureRecord &record : samples())
            appendStructureRecord(out, record);
        const Bytes good = out.bytes();
        for (int i = 0; i < 20000; ++i) {
            Bytes mutated = good;
            for (int n = 0; n < 3; ++n)
                mutated[std::size_t(random.bounded(int(mutated.size())))] = std::uint8_t(random.bounded(256));
            Reader in(mutated);
            while (in.ok() && !in.atEnd() && readStructureRecord(in)) {
            }
        }
    }

    // The exporter reads parts in place: the same parts are taken or refused as when copied, and
    // a taken part says the same.
    void readInPlaceAgreesWithCopies()
    {
        Writer out;
        out.u32(static_cast<std::uint32_t>(samples().size()));
        for (const StructureRecord &record : samples())
            appendStructureRecord(out, record);
        const Bytes good = out.bytes();
        Reader copied(good), inPlace(good);
        const auto records = decodeStructurePart(copied);
        const auto views = decodeStructurePartViews(inPlace);
        QVERIFY(records && views && records->size() == views->size());
        for (std::size_t i = 0; i < records->size(); ++i) {
            const StructureRecord &r = (*records)[i];
            const StructureRecordView &v = (*views)[i];
            QVERIFY(r.kind == v.kind && r.note == v.note && r.table.name == v.table.name &&
                    r.table.fields.size() == v.table.fields.size() && r.table.note == v.table.note &&
                    r.relationship.join == v.relationship.join && r.query.sql == v.query.sql &&
                    r.link.connection == v.link.connection);
            for (std::size_t f = 0; f < r.table.fields.size(); ++f) {
                const StructureField &field = r.table.fields[f];
                const StructureFieldView &view = v.table.fields[f];
                QVERIFY(field.name == view.name && field.fieldSize == view.fieldSize &&
                        field.properties.size() == view.properties.size() && field.note == view.note);
                for (std::size_t p = 0; p < field.properties.size(); ++p)
                    QVERIFY(field.properties[p].name == view.properties[p].name &&
                            field.properties[p].text == view.properties[p].text);
            }
        }
        QRandomGenerator random(5);
        for (int i = 0; i < 5000; ++i) {
            Bytes mutated = good;
            mutated[std::size_t(random.bounded(int(mutated.size())))] = std::uint8_t(random.bounded(256));
            Reader a(mutated), b(mutated);
            QCOMPARE(decodeStructurePart(a).has_value(), decodeStructurePartViews(b).has_value());
        }
    }
};

QTEST_GUILESS_MAIN(StructureProtocolTest)
#include "tst_structureprotocol.moc"
