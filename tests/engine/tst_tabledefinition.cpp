// The worker's reader of table definitions and long values, on definitions made by hand in the
// layouts of Jet 3 and Jet 4: the cases a reader of this format gets wrong. The layouts the tests
// share are checked against libmdb's own format constants on real files of every format.

#include "engine/DataPages.h"
#include "engine/Mdb.h"
#include "engine/TableDefinition.h"
#include "support/DefinitionFormats.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace Engine;
using Page = std::vector<std::uint8_t>;

namespace {

TestSupport::AccessFormat formatOf(bool jet3)
{
    return jet3 ? TestSupport::AccessFormat::Jet3 : TestSupport::AccessFormat::Jet4;
}

DefinitionLayout layoutOf(bool jet3)
{
    return TestSupport::definitionLayout<DefinitionLayout>(formatOf(jet3));
}

std::size_t variableIndexOffset(bool jet3)
{
    return TestSupport::definitionFormat(formatOf(jet3)).variableIndexOffset;
}

void put16(Page &page, std::size_t at, std::uint32_t value)
{
    page[at] = std::uint8_t(value);
    page[at + 1] = std::uint8_t(value >> 8);
}

void put32(Page &page, std::size_t at, std::uint32_t value)
{
    put16(page, at, value & 0xFFFF);
    put16(page, at + 2, value >> 16);
}

std::string ascii(std::span<const std::uint8_t> text, std::size_t maxBytes)
{
    std::string out;
    for (std::uint8_t byte : text)
        if (byte != 0 && out.size() + 1 < maxBytes)
            out.push_back(char(byte));
    return out;
}

struct ColumnSpec
{
    std::uint8_t type = 0;
    std::uint16_t number = 0;
    std::uint16_t size = 0;
    std::uint8_t flags = 0;
    std::uint16_t variableIndex = 0;
    std::string name;
    std::uint8_t extendedFlags = 0; // Jet 4 and later
};

// A data page with the given rows (the first ends at the end of the page, each next one where the
// one before starts).
Page dataPage(const DefinitionLayout &layout, std::uint32_t owner, const std::vector<Page> &rows)
{
    const std::size_t size = layout.page.pageSize;
    Page page(size, 0);
    page[0] = kDataPageType;
    put32(page, 4, owner);
    put16(page, layout.page.rowCountOffset, std::uint32_t(rows.size()));
    std::size_t end = size;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t start = end - rows[i].size();
        std::copy(rows[i].begin(), rows[i].end(), page.begin() + std::ptrdiff_t(start));
        put16(page, layout.page.rowCountOffset + 2 + 2 * i, std::uint32_t(start));
        end = start;
    }
    return page;
}

// A database image: page 0 (unused), page 1 the definition, page 2 the usage map (row 0: pages 3
// on) and the free-space map (row 1), page 3 a data page of the table with two rows, one deleted.
// bytes is the whole definition, which is cut into continuation pages (4, 5, ...) as Access does.
struct Image
{
    std::vector<Page> pages;
    Page bytes() const
    {
        Page all;
        for (const Page &page : pages)
            all.insert(all.end(), page.begin(), page.end());
        return all;
    }
};

Page definitionBytes(const DefinitionLayout &layout, const std::vector<ColumnSpec> &columns, int realIndexes = 0,
                     std::optional<std::uint16_t> claimedColumns = {})
{
    Page bytes(layout.columnsStartOffset + std::size_t(std::max(realIndexes, 0)) * layout.realIndexEntrySize, 0);
    bytes[0] = 0x02;
    bytes[1] = 0x01;
    put16(bytes, layout.numColumnsOffset, claimedColumns.value_or(std::uint16_t(columns.size())));
    put32(bytes, layout.numRealIndexesOffset, std::uint32_t(realIndexes));
    put32(bytes, layout.usageMapOffset, 2 << 8 | 0);
    put32(bytes, layout.freeMapOffset, 2 << 8 | 1);
    for (const ColumnSpec &column : columns) {
        Page descriptor(layout.columnEntrySize, 0);
        descriptor[0] = column.type;
        put16(descriptor, layout.columnNumberOffset, column.number);
        put16(descriptor, variableIndexOffset(layout.jet3), column.variableIndex);
        descriptor[layout.columnFlagsOffset] = column.flags;
        if (!layout.jet3)
            descriptor[layout.columnFlagsOffset + 1] = column.extendedFlags;
        put16(descriptor, layout.columnSizeOffset, column.size);
        bytes.insert(bytes.end(), descriptor.begin(), descriptor.end());
    }
    for (const ColumnSpec &column : columns) {
        if (layout.jet3) {
            bytes.push_back(std::uint8_t(column.name.size()));
            bytes.insert(bytes.end(), column.name.begin(), column.name.end());
        } else {
            const std::size_t at = bytes.size();
            bytes.resize(at + 2 + 2 * column.name.size(), 0);
            put16(bytes, at, std::uint32_t(2 * column.name.size()));
            for (std::size_t i = 0; i < column.name.size(); ++i)
                bytes[at + 2 + 2 * i] = std::uint8_t(column.name[i]);
        }
    }
    return bytes;
}

Image imageOf(const DefinitionLayout &layout, const Page &definition)
{
    const std::size_t size = layout.page.pageSize;
    Image image;
    image.pages.assign(4, Page(size, 0));
    // The definition: the first page whole, continuation pages from byte 8 on.
    std::vector<Page> parts;
    std::size_t at = 0;
    while (at < definition.size() || parts.empty()) {
        Page page(size, 0);
        const std::size_t from = parts.empty() ? 0 : 8;
        const std::size_t take = std::min(size - from, definition.size() - at);
        std::copy(definition.begin() + std::ptrdiff_t(at), definition.begin() + std::ptrdiff_t(at + take),
                  page.begin() + std::ptrdiff_t(from));
        if (!parts.empty())
            page[0] = 0x02;
        at += take;
        parts.push_back(page);
    }
    image.pages[1] = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i)
        image.pages.push_back(parts[i]);
    // The chain: page 1, then 4, 5, ...
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        put32(image.pages[i == 0 ? 1 : 3 + i], 4, std::uint32_t(4 + i));
    image.pages[2] = dataPage(layout, 1, {Page{0, 3, 0, 0, 0, 0x01}, Page{0, 0, 0, 0, 0, 0}});
    Page deleted = dataPage(layout, 1, {Page(10, 0xAA), Page(10, 0xBB)});
    deleted[layout.page.rowCountOffset + 5] |= 0x80; // row 1 deleted
    image.pages[3] = deleted;
    return image;
}

struct Read
{
    Page bytes;
    PageReader reader;
    std::optional<TableDefinition> definition;
};

std::unique_ptr<Read> readImage(const DefinitionLayout &layout, const Image &image)
{
    auto read = std::make_unique<Read>();
    read->bytes = image.bytes();
    read->reader.openImage(read->bytes, layout.page.pageSize, 0);
    read->definition = readTableDefinition(read->reader, layout, 1, ascii);
    return read;
}

const std::vector<ColumnSpec> kColumns = {
    {0x04, 0, 4, 0x01 | 0x02, 0, "ID"},       // long, fixed
    {0x0A, 1, 100, 0x02, 0, "Name"},          // text, variable 0
    {0x0C, 2, 0, 0x02, 1, "Notes"},           // memo, variable 1
    {0x0A, 4, 20, 0x02, 2, "Inserted Later"}, // inserted before the next one in design view
    {0x08, 3, 8, 0x01 | 0x02, 0, "Created"},  // date/time, fixed
};

} // namespace

class TestTableDefinition : public QObject
{
    Q_OBJECT

private slots:
    void layoutsAreLibmdbs();
    void imagesInMemoryReadLikeFiles();
    void jet3AndJet4LayoutsOfOneTable();
    void calculatedFieldsOnlyAfterJet3();
    void namesRunOntoContinuationPages();
    void columnCountOfZero();
    void nameLengthPastThePages();
    void variableColumnIndexOutOfRange();
    void damagedCountsAndPointers();
    void indexesCutShortByTheirPages();
    void continuationPagesThatLoop();
    void realIndexesMoveTheDescriptors();
    void rowsOfTheTableAreCountedThroughItsMap();
    void longValues();
};

void TestTableDefinition::layoutsAreLibmdbs()
{
    const QString real = TestSupport::fixturesDir() + "/real";
    const QStringList files = {TestSupport::dataDir() + "/sample.mdb", TestSupport::dataDir() + "/structure.accdb",
                               real + "/andipaetzold+mdb-reader/test/data/V1997/test.mdb"};
    int checked = 0;
    for (const QString &file : files) {
        if (!QFile::exists(file)) {
            if (TestSupport::fixturesRequired())
                QFAIL(qPrintable("Absent, and STRUDEX_REQUIRE_FIXTURES is set: " + file));
            qInfo("Not checked (absent): %s", qPrintable(file));
            continue;
        }
        MdbHandle *handle = mdb_open(file.toLocal8Bit().constData(), MDB_NOFLAGS);
        QVERIFY(handle);
        const MdbFormatConstants *format = handle->fmt;
        const auto accessFormat = TestSupport::accessFormat(handle->f->jet_version);
        const DefinitionLayout layout = TestSupport::definitionLayout<DefinitionLayout>(accessFormat);
        QCOMPARE(layout.jet3, bool(IS_JET3(handle)));
        QCOMPARE(layout.page.pageSize, std::size_t(format->pg_size));
        QCOMPARE(layout.page.rowCountOffset, std::size_t(format->row_count_offset));
        QCOMPARE(layout.numColumnsOffset, std::size_t(format->tab_num_cols_offset));
        QCOMPARE(layout.numRealIndexesOffset, std::size_t(format->tab_num_ridxs_offset));
        QCOMPARE(layout.usageMapOffset, std::size_t(format->tab_usage_map_offset));
        QCOMPARE(layout.freeMapOffset, std::size_t(format->tab_free_map_offset));
        QCOMPARE(layout.columnsStartOffset, std::size_t(format->tab_cols_start_offset));
        QCOMPARE(layout.realIndexEntrySize, std::size_t(format->tab_ridx_entry_size));
        QCOMPARE(layout.columnEntrySize, std::size_t(format->tab_col_entry_size));
        QCOMPARE(layout.columnNumberOffset, std::size_t(format->col_num_offset));
        QCOMPARE(layout.columnSizeOffset, std::size_t(format->col_size_offset));
        QCOMPARE(layout.columnFlagsOffset, std::size_t(format->col_flags_offset));
        QCOMPARE(TestSupport::definitionFormat(accessFormat).variableIndexOffset,
                 std::size_t(format->tab_col_offset_var));
        mdb_close(handle);
        ++checked;
    }
    QVERIFY(checked > 0);
}

void TestTableDefinition::imagesInMemoryReadLikeFiles()
{
    // The fuzz targets and these tests read images in memory; the worker reads files. Both give
    // the same pages, a last page cut short padded with zeros, nothing beyond.
    const QString path = TestSupport::dataDir() + "/sample.mdb";
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    const QByteArray cut = whole.left(whole.size() - 1000);
    QTemporaryDir dir;
    const QString cutPath = dir.filePath("cut.mdb");
    QFile cutFile(cutPath);
    QVERIFY(cutFile.open(QIODevice::WriteOnly));
    cutFile.write(cut);
    cutFile.close();
    for (const auto &[bytes, filePath] : {std::pair{whole, path}, std::pair{cut, cutPath}}) {
        const Page image(bytes.begin(), bytes.end());
        PageReader fromFile;
        PageReader fromMemory;
        QVERIFY(fromFile.open(filePath.toStdString(), 4096, 0));
        QVERIFY(fromMemory.openImage(image, 4096, 0));
        QCOMPARE(fromMemory.pageCount(), fromFile.pageCount());
        // Forwards (the file reader reads ahead), then jumping about.
        std::vector<std::uint64_t> order;
        for (std::uint64_t n = 0; n <= fromFile.pageCount(); ++n)
            order.push_back(n);
        for (std::uint64_t n = 0; n <= fromFile.pageCount(); n += 7)
            order.push_back(fromFile.pageCount() - n);
        for (const std::uint64_t n : order) {
            const auto a = fromFile.page(n);
            const Page expected(a.begin(), a.end());
            const auto b = fromMemory.page(n);
            QCOMPARE(Page(b.begin(), b.end()), expected);
            QCOMPARE(b.empty(), n >= fromFile.pageCount());
        }
        const auto last = fromMemory.page(fromMemory.pageCount() - 1);
        QCOMPARE(last.size(), std::size_t(4096));
    }
}

void TestTableDefinition::jet3AndJet4LayoutsOfOneTable()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        const auto read = readImage(layout, imageOf(layout, definitionBytes(layout, kColumns)));
        QVERIFY2(read->definition, jet3 ? "Jet 3" : "Jet 4");
        const TableDefinition &table = *read->definition;
        QCOMPARE(table.columns.size(), kColumns.size());
        for (std::size_t i = 0; i < kColumns.size(); ++i) {
            // In the order of the descriptors, whatever the column numbers say.
            QCOMPARE(table.columns[i].name, kColumns[i].name);
            QCOMPARE(table.columns[i].stored.type, int(kColumns[i].type));
            QCOMPARE(table.columns[i].stored.size, int(kColumns[i].size));
            QCOMPARE(table.columns[i].stored.fixedLength, bool(kColumns[i].flags & 0x01));
            QCOMPARE(table.columns[i].stored.jet3, jet3);
            QVERIFY(!table.columns[i].stored.calculated);
        }
        QCOMPARE(table.usageMap, (Page{0, 3, 0, 0, 0, 0x01}));
    }
}

void TestTableDefinition::calculatedFieldsOnlyAfterJet3()
{
    std::vector<ColumnSpec> columns = kColumns;
    columns[1].extendedFlags = 0xC0;
    const DefinitionLayout jet4 = layoutOf(false);
    const auto read = readImage(jet4, imageOf(jet4, definitionBytes(jet4, columns)));
    QVERIFY(read->definition);
    QVERIFY(read->definition->columns[1].stored.calculated);
    QVERIFY(!read->definition->columns[0].stored.calculated);
}

void TestTableDefinition::namesRunOntoContinuationPages()
{
    // 200 columns with long names: the descriptors and the names fill several pages, and names
    // are cut by page boundaries.
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        std::vector<ColumnSpec> columns;
        for (int i = 0; i < 200; ++i)
            columns.push_back({0x0A, std::uint16_t(i), 50, 0x02, std::uint16_t(i),
                               "Column number " + std::to_string(i) + " with a long name"});
        const Image image = imageOf(layout, definitionBytes(layout, columns));
        QVERIFY(image.pages.size() > 5);
        const auto read = readImage(layout, image);
        QVERIFY(read->definition);
        QCOMPARE(read->definition->columns.size(), columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i)
            QCOMPARE(read->definition->columns[i].name, columns[i].name);
    }
}

void TestTableDefinition::columnCountOfZero()
{
    // A table without columns (the columns of a damaged one lost): read, with no fields, and its
    // map still found.
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        const auto read = readImage(layout, imageOf(layout, definitionBytes(layout, {})));
        QVERIFY(read->definition);
        QVERIFY(read->definition->columns.empty());
        QVERIFY(!read->definition->usageMap.empty());
    }
}

void TestTableDefinition::nameLengthPastThePages()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        const std::size_t pageSize = layout.page.pageSize;
        // Indexes push the names towards the end of the page, so that the last name ("Created")
        // starts 20 bytes or less before it.
        const std::size_t nameLength = jet3 ? 1 + 7 : 2 + 14;
        const std::size_t lastNameAt = definitionBytes(layout, kColumns).size() - nameLength;
        const int indexes = int((pageSize - 20 - lastNameAt) / layout.realIndexEntrySize);
        Page bytes = definitionBytes(layout, kColumns, indexes);
        QVERIFY(bytes.size() <= pageSize && bytes.size() + 20 > pageSize);
        QVERIFY(readImage(layout, imageOf(layout, bytes))->definition);
        // The last name claims the longest length there is, past the end of the page, and there
        // is no continuation page.
        const std::size_t at = bytes.size() - nameLength;
        if (jet3)
            bytes[at] = 0xFF;
        else
            put16(bytes, at, 0xFFFF);
        Image image = imageOf(layout, bytes);
        QCOMPARE(image.pages.size(), std::size_t(4));
        QVERIFY(!readImage(layout, image)->definition);

        // The same name length within one page but beyond the definition's end, into a
        // continuation page that is not there (the chain points beyond the file).
        put32(image.pages[1], 4, 999);
        QVERIFY(!readImage(layout, image)->definition);
    }
}

void TestTableDefinition::variableColumnIndexOutOfRange()
{
    // The index among the variable columns is what libmdb uses to find a value in a row; the
    // reader of the definition does not use it, and nonsense there changes nothing it reads.
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        std::vector<ColumnSpec> columns = kColumns;
        columns[1].variableIndex = 0xFFFF;
        columns[2].variableIndex = 255;
        const auto read = readImage(layout, imageOf(layout, definitionBytes(layout, columns)));
        QVERIFY(read->definition);
        QCOMPARE(read->definition->columns.size(), kColumns.size());
        QCOMPARE(read->definition->columns[1].name, std::string("Name"));
        QCOMPARE(read->definition->columns[1].stored.size, 100);
        QCOMPARE(read->definition->columns[2].stored.type, 0x0C);
    }
}

void TestTableDefinition::damagedCountsAndPointers()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        // More columns than libmdb can hold.
        QVERIFY(!readImage(layout, imageOf(layout, definitionBytes(layout, kColumns, 0, 257)))->definition);
        // More columns claimed than are there: descriptors and names run out of pages.
        QVERIFY(!readImage(layout, imageOf(layout, definitionBytes(layout, kColumns, 0, 256)))->definition);
        // Two columns with one number.
        std::vector<ColumnSpec> twins = kColumns;
        twins[4].number = twins[0].number;
        QVERIFY(!readImage(layout, imageOf(layout, definitionBytes(layout, twins)))->definition);
        // A negative count of indexes.
        QVERIFY(!readImage(layout, imageOf(layout, definitionBytes(layout, kColumns, -1)))->definition);

        Image image = imageOf(layout, definitionBytes(layout, kColumns));
        QVERIFY(readImage(layout, image)->definition);
        // Not a definition page.
        Image notDefinition = image;
        notDefinition.pages[1][0] = 0x01;
        QVERIFY(!readImage(layout, notDefinition)->definition);
        // A usage map beyond the file, on a row that is not there, or empty.
        for (const std::uint32_t pointer : {0xFFFF00u, 2u << 8 | 7}) {
            Image moved = image;
            put32(moved.pages[1], layout.usageMapOffset, pointer);
            QVERIFY(!readImage(layout, moved)->definition);
        }
        Image emptyMap = image;
        put16(emptyMap.pages[2], layout.page.rowCountOffset + 2, std::uint32_t(layout.page.pageSize));
        QVERIFY(!readImage(layout, emptyMap)->definition);
        // A free-space map that cannot be found.
        Image noFreeMap = image;
        put32(noFreeMap.pages[1], layout.freeMapOffset, 0xFFFF01u);
        QVERIFY(!readImage(layout, noFreeMap)->definition);
        // A definition page cut short by the end of the file.
        Image cut = image;
        cut.pages.resize(2);
        cut.pages[1].resize(layout.columnsStartOffset + 3);
        QVERIFY(!readImage(layout, cut)->definition);
    }
}

void TestTableDefinition::continuationPagesThatLoop()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        std::vector<ColumnSpec> columns;
        for (int i = 0; i < 250; ++i)
            columns.push_back({0x04, std::uint16_t(i), 4, 0x01, 0, "Field number " + std::to_string(i)});
        Image image = imageOf(layout, definitionBytes(layout, columns));
        QVERIFY(image.pages.size() >= 6);
        QVERIFY(readImage(layout, image)->definition);
        // The last continuation page points back to the first, and to itself.
        put32(image.pages.back(), 4, 1);
        QVERIFY(readImage(layout, image)->definition); // the bytes end before the link is followed
        Image looping = imageOf(layout, definitionBytes(layout, columns, 0, 256));
        put32(looping.pages.back(), 4, 4);
        QVERIFY(!readImage(layout, looping)->definition);
        put32(looping.pages.back(), 4, std::uint32_t(looping.pages.size() - 1));
        QVERIFY(!readImage(layout, looping)->definition);
    }
}

void TestTableDefinition::realIndexesMoveTheDescriptors()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        const auto read = readImage(layout, imageOf(layout, definitionBytes(layout, kColumns, 3)));
        QVERIFY(read->definition);
        QCOMPARE(read->definition->columns.size(), kColumns.size());
        QCOMPARE(read->definition->columns[0].name, std::string("ID"));
        QCOMPARE(read->definition->columns[4].name, std::string("Created"));
    }
}

void TestTableDefinition::rowsOfTheTableAreCountedThroughItsMap()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        const auto read = readImage(layout, imageOf(layout, definitionBytes(layout, kColumns)));
        QVERIFY(read->definition);
        // Page 3 has two rows, one of them deleted.
        QCOMPARE(countLiveRows(read->definition->usageMap, 1, read->reader, layout.page, {}), 1);
    }
}

void TestTableDefinition::longValues()
{
    for (const bool jet3 : {true, false}) {
        const DefinitionLayout layout = layoutOf(jet3);
        const std::size_t size = layout.page.pageSize;
        // Page 1: a chain of three rows (row 0 -> row 2 -> page 2 row 0), and a single row (row 1).
        Page chain0 = {2, 1, 0, 0, 'a', 'b'};
        Page single = {'s', 'i', 'n', 'g', 'l', 'e'};
        Page chain1 = {0, 2, 0, 0, 'c', 'd'};
        std::vector<Page> pages = {Page(size, 0), dataPage(layout, 7, {chain0, single, chain1}),
                                   dataPage(layout, 7, {Page{0, 0, 0, 0, 'e'}})};
        Page bytes;
        for (const Page &page : pages)
            bytes.insert(bytes.end(), page.begin(), page.end());
        PageReader reader;
        QVERIFY(reader.openImage(bytes, size, 0));
        const auto header = [](std::uint32_t length, std::uint32_t pageRow) {
            Page h(12, 0);
            put32(h, 0, length);
            put32(h, 4, pageRow);
            return h;
        };
        const Page none;
        QCOMPARE(readLongValue(header(5, 1 << 8 | 0), none, reader, layout.page, 100), (Page{'a', 'b', 'c', 'd', 'e'}));
        QCOMPARE(readLongValue(header(0x40000000u | 6, 1 << 8 | 1), none, reader, layout.page, 100), single);
        QCOMPARE(readLongValue(header(0x80000000u | 3, 0), Page{'x', 'y', 'z'}, reader, layout.page, 100),
                 (Page{'x', 'y', 'z'}));
        // Longer than allowed.
        QVERIFY(!readLongValue(header(5, 1 << 8 | 0), none, reader, layout.page, 4));
        QVERIFY(!readLongValue(header(0x80000000u | 3, 0), Page{'x', 'y', 'z'}, reader, layout.page, 2));
        // A header cut short, or of a kind libmdb does not read: nothing.
        QCOMPARE(readLongValue(Page{1, 2, 3}, none, reader, layout.page, 100), Page());
        QCOMPARE(readLongValue(header(0x20000000u, 1 << 8 | 0), none, reader, layout.page, 100), Page());

        // A chain that points beyond the file, or at a row that is not there: an error, not a
        // value cut short.
        QVERIFY(!readLongValue(header(5, 0xFFFF00u), none, reader, layout.page, 100));
        QVERIFY(!readLongValue(header(5, 1 << 8 | 9), none, reader, layout.page, 100));
        QVERIFY(!readLongValue(header(0x40000000u | 6, 0xFFFF00u), none, reader, layout.page, 100));
        // Row 3 of a page of three: libmdb would read the bytes where its offset would stand.
        QVERIFY(!readLongValue(header(0x40000000u | 6, 1 << 8 | 3), none, reader, layout.page, 1u << 20));
        QVERIFY(!readLongValue(header(5, 2 << 8 | 1), none, reader, layout.page, 1u << 20));
        Page broken = bytes;
        put32(broken, size * 3 - 5, 0xFFFF00u); // the last link now points far beyond
        PageReader brokenReader;
        QVERIFY(brokenReader.openImage(broken, size, 0));
        QVERIFY(!readLongValue(header(5, 1 << 8 | 0), none, brokenReader, layout.page, 100));
        // A chain that loops back on itself ends.
        Page looping = bytes;
        put32(looping, size * 3 - 5, 1 << 8 | 0);
        PageReader loopingReader;
        QVERIFY(loopingReader.openImage(looping, size, 0));
        QVERIFY(!readLongValue(header(5, 1 << 8 | 0), none, loopingReader, layout.page, 1u << 20));
    }
}

// Indexes that stand on a continuation page the definition cannot reach: the columns are read,
// and the indexes' problem says why the definition ended before them.
void TestTableDefinition::indexesCutShortByTheirPages()
{
    const DefinitionLayout layout = layoutOf(false);
    constexpr std::uint32_t kPhysical = 60;
    Page definition = definitionBytes(layout, kColumns, kPhysical);
    put32(definition, LogicalIndexCountOffsetJet4, 1);
    for (std::uint32_t i = 0; i < kPhysical; ++i) {
        Page entry(52, 0xFF);
        put16(entry, 4, 0); // the first slot: column 0, the rest empty
        entry[6] = 0x01;
        definition.insert(definition.end(), entry.begin(), entry.end());
    }
    definition.insert(definition.end(), 28, 0); // one logical index, on physical index 0
    definition.insert(definition.end(), {4, 0, 'P', 0, 'K', 0});
    const Image whole = imageOf(layout, definition);
    QVERIFY(whole.pages.size() > 4); // the index entries run onto a continuation page
    const auto readWith = [&](const Image &image) {
        auto read = std::make_unique<Read>();
        read->bytes = image.bytes();
        read->reader.openImage(read->bytes, layout.page.pageSize, 0);
        read->definition = readTableDefinition(read->reader, layout, 1, ascii, true);
        return read;
    };
    auto read = readWith(whole);
    QVERIFY(read->definition);
    QVERIFY2(read->definition->indexes.problem.empty(), read->definition->indexes.problem.c_str());
    QCOMPARE(read->definition->indexes.indexes.size(), std::size_t(1));
    QCOMPARE(read->definition->indexes.indexes[0].name, std::string("PK"));

    for (const auto &[next, why] :
         {std::pair{0xFFFFu, "a page of the table definition lies beyond the end of the file"},
          {1u, "the pages of the table definition run in a circle"}}) {
        Image broken = whole;
        put32(broken.pages[1], 4, next);
        read = readWith(broken);
        QVERIFY(read->definition);
        QCOMPARE(read->definition->columns.size(), kColumns.size());
        QVERIFY(read->definition->indexes.indexes.empty());
        QCOMPARE(read->definition->indexes.problem,
                 "the index entries run past the end of the table definition (" + std::string(why) + ")");
    }
}

QTEST_GUILESS_MAIN(TestTableDefinition)
#include "tst_tabledefinition.moc"
