// What a table definition says beyond the report, on real files: each field's type as Access names
// it, and the table's indexes: the project's structure
// fixtures (Access 2002-2003 and 2016) and a public Access 97 file. libmdb finds the definitions'
// pages and decodes names, as it does in the worker.

#include "engine/AccessTypes.h"
#include "engine/TableDefinition.h"
#include "support/DefinitionFormats.h"
#include "support/TestSupport.h"

#include <mdbtools.h>

#include <QDir>
#include <QTest>

#include <cstring>
#include <map>

using namespace Engine;

namespace {

struct Opened
{
    MdbHandle *mdb = nullptr;
    ~Opened()
    {
        if (mdb)
            mdb_close(mdb);
    }
};

// "Name(field, field desc) primary unique ignoreNulls required foreignKey", easy to read in a
// failure.
QStringList describe(const TableDefinition &table)
{
    std::map<unsigned int, std::string> names;
    for (const DefinedColumn &c : table.columns)
        names[c.number] = c.name;
    QStringList out;
    for (const IndexDefinition &index : table.indexes.indexes) {
        QStringList fields;
        for (const IndexColumn &c : index.columns)
            fields << QString::fromStdString(names[c.columnNumber]) +
                          (c.descending ? QStringLiteral(" desc") : QString());
        QString line = QString::fromStdString(index.name) + QLatin1Char('(') + fields.join(QStringLiteral(", ")) +
                       QLatin1Char(')');
        for (const auto &[flag, word] : {std::pair{index.primary, "primary"},
                                         {index.unique, "unique"},
                                         {index.ignoreNulls, "ignoreNulls"},
                                         {index.required, "required"},
                                         {index.foreignKey, "foreignKey"}})
            if (flag)
                line += QLatin1Char(' ') + QLatin1String(word);
        if (!index.problem.empty())
            line += QStringLiteral(" PROBLEM ") + QString::fromStdString(index.problem);
        out << line;
    }
    return out;
}

// The definitions of every user table of the file, with their indexes.
std::map<QString, TableDefinition> definitions(const QString &path)
{
    std::map<QString, TableDefinition> out;
    Opened opened;
    opened.mdb = mdb_open(path.toLocal8Bit().constData(), MDB_NOFLAGS);
    if (!opened.mdb || !mdb_read_catalog(opened.mdb, MDB_TABLE))
        return out;
    MdbHandle *mdb = opened.mdb;
    const auto layout = TestSupport::definitionLayout<DefinitionLayout>(TestSupport::accessFormat(mdb->f->jet_version));
    PageReader pages;
    if (!pages.open(path.toStdString(), layout.page.pageSize, 0))
        return out;
    const TextDecoder decode = [mdb](std::span<const std::uint8_t> text, std::size_t maxBytes) {
        std::string out(maxBytes, '\0');
        const int length =
            mdb_unicode2ascii(mdb, reinterpret_cast<const char *>(text.data()), text.size(), out.data(), out.size());
        out.resize(static_cast<std::size_t>(std::max(length, 0)));
        return out;
    };
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry))
            continue;
        const auto table = readTableDefinition(pages, layout, entry->table_pg, decode, true);
        if (table)
            out[QString::fromUtf8(entry->object_name)] = *table;
    }
    return out;
}

// The indexes a user made, by name (the file keeps them in its own order).
QStringList withoutRelationshipIndexes(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines) {
        if (!line.contains(QStringLiteral("foreignKey")))
            out << line;
    }
    out.sort();
    return out;
}

} // namespace

class TableDesignTest : public QObject
{
    Q_OBJECT

private slots:
    void structureFixtures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("Access 2016") << QStringLiteral("structure.accdb");
        QTest::newRow("Access 2002-2003") << QStringLiteral("structure.mdb");
    }
    void structureFixtures()
    {
        QFETCH(QString, file);
        const auto tables = definitions(QDir(TestSupport::dataDir()).filePath(file));
        QCOMPARE(tables.size(), std::size_t(6));
        for (const auto &[name, table] : tables)
            QVERIFY2(table.indexes.problem.empty(), qPrintable(name));
        QCOMPARE(withoutRelationshipIndexes(describe(tables.at(QStringLiteral("Customers")))),
                 (QStringList{QStringLiteral("ByCountryName(Country, Name desc)"),
                              QStringLiteral("ByEmail(Email) unique ignoreNulls"),
                              QStringLiteral("PrimaryKey(CustomerID) primary unique required")}));
        QCOMPARE(withoutRelationshipIndexes(describe(tables.at(QStringLiteral("Orders")))),
                 (QStringList{QStringLiteral("ByPlaced(Placed desc)"),
                              QStringLiteral("PrimaryKey(OrderID) primary unique required")}));
        QCOMPARE(withoutRelationshipIndexes(describe(tables.at(QStringLiteral("Order Lines")))),
                 (QStringList{QStringLiteral("PrimaryKey(OrderID, LineNo) primary unique required")}));
        QCOMPARE(withoutRelationshipIndexes(describe(tables.at(QStringLiteral("Branches")))),
                 (QStringList{QStringLiteral("PrimaryKey(Region, Branch) primary unique required")}));
        // The enforced relationships are backed by indexes of the foreign side, on its key fields.
        const QStringList orders = describe(tables.at(QStringLiteral("Orders")));
        QVERIFY2(orders.filter(QStringLiteral("(CustomerID) foreignKey")).size() == 1, qPrintable(orders.join('\n')));
        const QStringList lines = describe(tables.at(QStringLiteral("Order Lines")));
        QVERIFY2(lines.filter(QStringLiteral("(OrderID) foreignKey")).size() == 1, qPrintable(lines.join('\n')));
        QVERIFY(describe(tables.at(QStringLiteral("<script>alert(1)</script>"))).isEmpty());
    }

    void accessTypes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("expected");
        const QStringList common{
            "Flag Yes/No",
            "Tiny Number Byte",
            "Small Number Integer",
            "Whole Number Long Integer",
            "Counter AutoNumber Long Integer",
            "Price Currency",
            "Ratio Number Single",
            "Measure Number Double",
            "Stamp Date/Time",
            "Raw Binary",
            "Letter Short Text 1",
            "Name Short Text 50",
            "LongText Short Text 255",
            "Picture OLE Object",
            "Notes Long Text",
            "Link Hyperlink",
            "Ident Number Replication ID",
            "Amount Number Decimal 18 4",
        };
        QTest::newRow("Access 2002-2003") << QStringLiteral("types.mdb") << common;
        QTest::newRow("Access 2019") << QStringLiteral("types2019.accdb")
                                     << common + QStringList{"Huge Large Number", "Precise Date/Time Extended",
                                                             "Doubled Calculated", "Label Calculated"};
    }
    void accessTypes()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, expected);
        const auto tables = definitions(QDir(TestSupport::dataDir()).filePath(file));
        QCOMPARE(tables.size(), std::size_t(1));
        QStringList seen;
        for (const DefinedColumn &column : tables.begin()->second.columns) {
            ColumnDesign design{column.stored, column.flags, column.precision, column.scale, std::nullopt};
            const AccessFieldType type = accessFieldType(design);
            QString line = QString::fromStdString(column.name + ' ' + type.accessType);
            if (type.fieldSize)
                line += QLatin1Char(' ') + QString::fromStdString(*type.fieldSize);
            if (type.precision)
                line += QStringLiteral(" %1 %2").arg(*type.precision).arg(type.scale.value_or(-1));
            seen << line;
        }
        QCOMPARE(seen, expected);
    }

    void multiValuedAndAttachmentFields()
    {
        ColumnDesign complex;
        complex.stored.type = kComplex;
        complex.complexTemplate = "MSysComplexType_Attachment";
        QCOMPARE(accessFieldType(complex).accessType, std::string("Attachment"));
        QVERIFY(!accessFieldType(complex).multiValued);
        complex.complexTemplate = "MSysComplexType_Long";
        QCOMPARE(accessFieldType(complex).accessType, std::string("Number"));
        QCOMPARE(*accessFieldType(complex).fieldSize, std::string("Long Integer"));
        QVERIFY(accessFieldType(complex).multiValued);
        complex.complexTemplate = "MSysComplexType_Text";
        QCOMPARE(accessFieldType(complex).accessType, std::string("Short Text"));
        QVERIFY(accessFieldType(complex).multiValued);
        complex.complexTemplate.reset();
        QCOMPARE(accessFieldType(complex).accessType, std::string("Complex"));
        ColumnDesign strange;
        strange.stored.type = 0x42;
        QCOMPARE(accessFieldType(strange).accessType, std::string("Unknown (66)"));
    }

    void damagedIndexEntries()
    {
        // A hand-made Jet 4 block: one physical index on column 3 (ascending, unique), then two
        // logical ones, the second naming a physical index that is not there, then their names.
        std::vector<std::uint8_t> bytes(10, 0xAA); // what comes before: not read
        std::vector<std::uint8_t> physical(52, 0);
        physical[4] = 3;
        physical[6] = 0x01;
        for (std::size_t slot = 1; slot < 10; ++slot)
            physical[4 + 3 * slot] = physical[5 + 3 * slot] = 0xFF;
        physical[46] = 0x01;
        bytes.insert(bytes.end(), physical.begin(), physical.end());
        for (std::uint8_t target : {0, 5}) {
            std::vector<std::uint8_t> logical(28, 0);
            logical[8] = target;
            logical[23] = target == 0 ? 1 : 0;
            bytes.insert(bytes.end(), logical.begin(), logical.end());
        }
        for (const char *name : {"PK", "Bad"}) {
            bytes.push_back(static_cast<std::uint8_t>(2 * std::strlen(name)));
            bytes.push_back(0);
            for (const char *c = name; *c; ++c) {
                bytes.push_back(static_cast<std::uint8_t>(*c));
                bytes.push_back(0);
            }
        }
        const TextDecoder utf16 = [](std::span<const std::uint8_t> text, std::size_t) {
            std::string out;
            for (std::size_t i = 0; i + 1 < text.size(); i += 2)
                out += static_cast<char>(text[i]);
            return out;
        };
        IndexBlock block = readIndexDefinitions(bytes, false, 10, 1, 2, utf16, 257);
        QVERIFY(block.problem.empty());
        QCOMPARE(block.indexes.size(), std::size_t(2));
        QCOMPARE(block.indexes[0].name, std::string("PK"));
        QVERIFY(block.indexes[0].primary && block.indexes[0].unique && block.indexes[0].required);
        QCOMPARE(block.indexes[0].columns.size(), std::size_t(1));
        QCOMPARE(block.indexes[0].columns[0].columnNumber, 3u);
        QVERIFY(!block.indexes[0].columns[0].descending);
        QCOMPARE(block.indexes[1].name, std::string("Bad"));
        QVERIFY(!block.indexes[1].problem.empty());

        // Cut anywhere, the reading stops with a problem and keeps what it read; never beyond.
        for (std::size_t cut = 10; cut < bytes.size(); ++cut) {
            const std::vector<std::uint8_t> shorter(bytes.begin(), bytes.begin() + static_cast<long>(cut));
            const IndexBlock partial = readIndexDefinitions(shorter, false, 10, 1, 2, utf16, 257);
            QVERIFY2(!partial.problem.empty(), qPrintable(QString::number(cut)));
            QVERIFY(partial.indexes.size() < 2);
        }
        // Counts no table has, and a start past the end.
        QVERIFY(!readIndexDefinitions(bytes, false, 10, 70000, 2, utf16, 257).problem.empty());
        QVERIFY(!readIndexDefinitions(bytes, false, 10, 1, 0xFFFFFFFF, utf16, 257).problem.empty());
        QVERIFY(!readIndexDefinitions(bytes, false, bytes.size() + 100, 1, 2, utf16, 257).problem.empty());
    }

    void accessNinetySeven()
    {
        const QString path =
            TestSupport::realFile(QStringLiteral("jahlborn+jackcess/src/test/data/V1997/indexTestV1997.mdb"));
        if (path.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("the public Access 97 index file is not available");
        const auto tables = definitions(path);
        QVERIFY(tables.size() >= 3);
        for (const auto &[name, table] : tables) {
            QVERIFY2(table.indexes.problem.empty(), qPrintable(name));
            for (const IndexDefinition &index : table.indexes.indexes) {
                QVERIFY2(index.problem.empty(), index.name.c_str());
                QVERIFY(!index.columns.empty());
            }
        }
        const QStringList table1 = describe(tables.at(QStringLiteral("Table1")));
        QVERIFY2(!table1.isEmpty(), "Table1 has indexes");
        qInfo("%s", qPrintable(table1.join(QStringLiteral(" | "))));
    }
};

QTEST_GUILESS_MAIN(TableDesignTest)
#include "tst_tabledesign.moc"
