// What the worker decides and reads on its own, beside libmdb: the database header and its
// password, the ADO type of a column, property blocks, the live rows of a data page, and the
// TABLE_TYPE of objects.

#include "engine/AdoTypes.h"
#include "engine/Bytes.h"
#include "engine/DataPages.h"
#include "engine/DatabaseHeader.h"
#include "engine/PropertyBlock.h"
#include "engine/StoredText.h"
#include "engine/TableTypes.h"
#include "protocol/EngineProtocol.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>
#include <cstring>

using namespace Engine;
using Page = std::vector<std::uint8_t>;

namespace {

DatabaseHeader headerOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(qint64(kHeaderBytes));
    return readDatabaseHeader(Page(bytes.begin(), bytes.end()), std::uint64_t(file.size()));
}

// A header page as Access writes it: the fields in clear, then the fixed mask over them.
Page makeHeader(int version, const Page &password, double created = 0, std::uint16_t codePage = 1252)
{
    Page page(version == kJet3 ? 2048 : 4096, 0);
    page[1] = 1;
    std::memcpy(page.data() + 4, version >= 2 ? "Standard ACE DB" : "Standard Jet DB", 15);
    page[0x14] = std::uint8_t(version);
    page[0x3C] = std::uint8_t(codePage);
    page[0x3D] = std::uint8_t(codePage >> 8);
    std::copy(password.begin(), password.end(), page.begin() + 0x42);
    const auto date = std::bit_cast<std::uint64_t>(created);
    for (int i = 0; i < 8; ++i)
        page[0x72 + std::size_t(i)] = std::uint8_t(date >> (8 * i));
    applyHeaderMask(page, version);
    return page;
}

// Jet 4: UTF-16LE, each byte XORed with the creation date's integer part.
Page jet4Password(const std::u16string &text, double created)
{
    Page bytes(40, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = std::uint8_t(text[i]);
        bytes[2 * i + 1] = std::uint8_t(text[i] >> 8);
    }
    const auto mask = std::uint32_t(std::int32_t(created));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] ^= std::uint8_t(mask >> (8 * (i % 4)));
    return bytes;
}

std::string passwordIn(const Page &page)
{
    return readDatabaseHeader(page, page.size()).password;
}

// Stored names as the tests write them: UCS-2 of ASCII, or single bytes.
std::string ascii(std::span<const std::uint8_t> text, std::size_t maxBytes)
{
    std::string out;
    for (std::uint8_t byte : text)
        if (byte != 0 && out.size() + 1 < maxBytes)
            out.push_back(char(byte));
    return out;
}

// A property block: "KKD", a record of names, a record of values for one column.
Page propertyBlock(std::uint16_t valueLength)
{
    Page names = {22, 0, 'D', 0, 'e', 0, 's', 0, 'c', 0, 'r', 0, 'i', 0, 'p', 0, 't', 0, 'i', 0, 'o', 0, 'n', 0};
    Page values = {0, 0, 0, 0, 1, 0, 'c'}; // block length (patched below), name length, name
    const Page value = {std::uint8_t(valueLength), 0, 0, 0x0A, 0, 0, 4, 0, 'N', 'a', 'm', 'e'};
    values.insert(values.end(), value.begin(), value.end());
    values[0] = std::uint8_t(values.size());
    Page block = {'K', 'K', 'D', 0};
    for (auto [type, body] : {std::pair<int, Page>{0x80, names}, {0x01, values}}) {
        const std::size_t length = body.size() + 6;
        block.insert(block.end(), {std::uint8_t(length), 0, 0, 0, std::uint8_t(type), 0});
        block.insert(block.end(), body.begin(), body.end());
    }
    return block;
}

struct StoredValue
{
    std::uint16_t nameIndex;
    std::uint8_t type;
    Page bytes;
};

// A whole property block: one names record, then one value list per (name, values); an empty name
// is the object's own list. Names are written as single bytes (the tests' decoder reads them so).
Page propertyBlockOf(const std::vector<std::string> &names,
                     const std::vector<std::pair<std::string, std::vector<StoredValue>>> &lists)
{
    Page block = {'M', 'R', '2', 0};
    const auto record = [&](std::uint8_t type, const Page &body) {
        const std::size_t length = body.size() + 6;
        block.insert(block.end(), {std::uint8_t(length), std::uint8_t(length >> 8), 0, 0, type, 0});
        block.insert(block.end(), body.begin(), body.end());
    };
    Page nameRecord;
    for (const std::string &name : names) {
        nameRecord.insert(nameRecord.end(), {std::uint8_t(name.size()), 0});
        nameRecord.insert(nameRecord.end(), name.begin(), name.end());
    }
    record(0x80, nameRecord);
    for (const auto &[listName, values] : lists) {
        Page body = {0, 0, 0, 0, std::uint8_t(listName.size()), 0};
        body.insert(body.end(), listName.begin(), listName.end());
        for (const StoredValue &v : values) {
            const std::size_t length = 8 + v.bytes.size();
            body.insert(body.end(), {std::uint8_t(length), 0, 0, v.type, std::uint8_t(v.nameIndex), 0,
                                     std::uint8_t(v.bytes.size()), 0});
            body.insert(body.end(), v.bytes.begin(), v.bytes.end());
        }
        body[0] = std::uint8_t(body.size());
        record(listName.empty() ? 0x00 : 0x01, body);
    }
    return block;
}

Page le(std::uint64_t value, std::size_t size)
{
    Page bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = std::uint8_t(value >> (8 * i));
    return bytes;
}

Page doubleBytes(double value)
{
    return le(std::bit_cast<std::uint64_t>(value), 8);
}

} // namespace

class TestEngineRules : public QObject
{
    Q_OBJECT

private slots:
    void littleEndianNumbersAndUtf8();
    void storedTextKeepsCharactersBeyondU16();
    void headersAndPasswordsOfRealFiles();
    void jet4PasswordIsMaskedWithTheCreationDate();
    void jet3PasswordInItsCodePage();
    void brokenHeaders();
    void adoTypes_data();
    void adoTypes();
    void jet3TextAndResultTypes();
    void propertyBlocks();
    void everyPropertyAndItsText();
    void propertyBlocksReadInPart();
    void dataPageRows();
    void rowsFromMappedPages();
    void storedRowsAgainstTheFile();
    void tableTypes();
};

void TestEngineRules::littleEndianNumbersAndUtf8()
{
    const Page bytes{0x34, 0x12, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12, 0x01};
    QCOMPARE(Raw::u16(bytes, 0), 0x1234u);
    QCOMPARE(Raw::u16(bytes, 2), 0xFFFFu);
    QCOMPARE(Raw::u32(bytes, 4), 0x12345678u);
    QCOMPARE(Raw::u32(bytes, 2), 0x5678FFFFu);
    QCOMPARE(Raw::u32(bytes, 5), 0x01123456u);

    // The last code point of each UTF-8 length and the first of the next.
    std::string text;
    for (std::uint32_t codePoint : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu})
        Raw::appendUtf8(text, codePoint);
    QCOMPARE(QString::fromStdString(text), QString::fromUcs4(U"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF", 7));
    QCOMPARE(text.size(), std::size_t(1 + 2 + 2 + 3 + 3 + 4 + 4));
}

void TestEngineRules::storedTextKeepsCharactersBeyondU16()
{
    // UTF-16LE of the units given.
    const auto units = [](std::initializer_list<std::uint16_t> list) {
        Page bytes;
        for (const std::uint16_t unit : list) {
            bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        return bytes;
    };
    const auto decoded = [](const Page &stored, std::size_t maxBytes = 100, bool *cut = nullptr) {
        const std::string text = decodeStoredText(stored, maxBytes, cut);
        // Whatever the bytes, the text can be sent as it is.
        return EngineProtocol::isValidUtf8(text) ? QString::fromStdString(text) : QStringLiteral("<invalid UTF-8>");
    };
    const QString grin = QString::fromUcs4(U"\U0001F600", 1);
    const QString replacement(QChar(0xFFFD));

    QCOMPARE(decoded(units({'E', 0xD83D, 0xDE00})), "E" + grin);            // a pair
    QCOMPARE(decoded(units({'E', 0xD83D, 'x'})), "E" + replacement + "x");  // lone high
    QCOMPARE(decoded(units({0xDE00, 'x'})), replacement + "x");             // lone low
    QCOMPARE(decoded(units({0xDE00, 0xD83D})), replacement + replacement);  // reversed
    QCOMPARE(decoded(units({'E', 0xD83D})), "E" + replacement);             // split at the end
    QCOMPARE(decoded(units({0xD83D, 0xD83D, 0xDE00})), replacement + grin); // high, then a pair
    Page odd = units({'E'});
    odd.push_back(0x41);
    QCOMPARE(decoded(odd), "E" + replacement);
    QCOMPARE(decoded(units({'a', 0, 'b'})), QStringLiteral("a")); // a C string ends at U+0000

    // Compressed: a zero byte switches to two bytes per character (U+20BB7 is D842 DFB7).
    QCOMPARE(decoded(Page{0xFF, 0xFE, 'a', 0x00, 0x42, 0xD8, 0xB7, 0xDF, 0x00, 'z'}),
             "a" + QString::fromUcs4(U"\U00020BB7", 1) + "z");
    QCOMPARE(decoded(Page{0xFF, 0xFE, 'a', 0x00, 0x42, 0xD8}), "a" + replacement);

    // A character that does not fit its buffer (maxBytes counts the NUL) is left out whole.
    bool cut = false;
    QCOMPARE(decoded(units({'E', 0xD83D, 0xDE00}), 6, &cut), "E" + grin);
    QVERIFY(!cut);
    QCOMPARE(decoded(units({'E', 0xD83D, 0xDE00}), 5, &cut), QStringLiteral("E"));
    QVERIFY(cut);
    QCOMPARE(decoded(units({'E', 0xD83D, 0xDE00}), 0, &cut), QString());
}

void TestEngineRules::headersAndPasswordsOfRealFiles()
{
    const QDir data(TestSupport::dataDir());
    QCOMPARE(headerOf(data.filePath("password.mdb")).password, std::string("Pa;ss=w0rd"));
    QCOMPARE(headerOf(data.filePath("password-plain.mdb")).password, std::string("secret"));
    const DatabaseHeader sample = headerOf(data.filePath("sample.mdb"));
    QVERIFY(sample.valid() && !sample.hasPassword() && !sample.officeEncrypted());
    QCOMPARE(sample.pageSize, std::size_t(4096));
    QCOMPARE(headerOf(data.filePath("types2019.accdb")).version, 6);

    const QDir real(TestSupport::fixturesDir() + "/real");
    const QString withPassword = real.filePath("andipaetzold+mdb-reader/test/password/data/V2000_with-password.mdb");
    const QString agile = real.filePath("andipaetzold+mdb-reader/test/password/data/V2010_with-password.accdb");
    const QString jetEncoded = real.filePath("jahlborn+jackcessencrypt/src/test/data/db-enc.mdb");
    if (!QFile::exists(withPassword) || !QFile::exists(agile) || !QFile::exists(jetEncoded))
        STRUDEX_WITHOUT_FIXTURE("the real-world files are not available");
    QCOMPARE(headerOf(withPassword).password, std::string("password"));
    QVERIFY(headerOf(agile).officeEncrypted());
    // Jet's RC4 page encoding has a key too, but libmdb reads those files.
    const DatabaseHeader encoded = headerOf(jetEncoded);
    QVERIFY(encoded.encodingKey != 0 && !encoded.officeEncrypted());
}

void TestEngineRules::jet4PasswordIsMaskedWithTheCreationDate()
{
    const double created = 44568.6807; // mask (int) 44568 = 0x0000AE18
    QCOMPARE(passwordIn(makeHeader(kJet4, jet4Password(u"password", created), created)), std::string("password"));
    // The same bytes under another date say something else: the mask matters.
    QVERIFY(passwordIn(makeHeader(kJet4, jet4Password(u"password", created), 40000.5)) != "password");
    QCOMPARE(passwordIn(makeHeader(kJet4, jet4Password(u"", created), created)), std::string());
    // All twenty characters, no terminator; characters beyond the basic plane.
    QCOMPARE(passwordIn(makeHeader(kJet4, jet4Password(u"abcdefghijKLMNOPQRST", created), created)),
             std::string("abcdefghijKLMNOPQRST"));
    QCOMPARE(passwordIn(makeHeader(kJet4, jet4Password(u"Straße \U0001F511", created), created)),
             std::string("Straße \U0001F511"));
    // Dates no Access writes must not make the (int) conversion undefined.
    for (double odd : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1e300})
        QVERIFY(EngineProtocol::isValidUtf8(passwordIn(makeHeader(kJet4, Page(40, 0xD8), odd))));
}

void TestEngineRules::jet3PasswordInItsCodePage()
{
    const Page page = makeHeader(kJet3, {'s', 'e', 'c', 'r', 'e', 't', 0, 'x'});
    QCOMPARE(page.size(), std::size_t(2048));
    QVERIFY(readDatabaseHeader(page, 2048).valid());
    QCOMPARE(passwordIn(page), std::string("secret"));
    QCOMPARE(passwordIn(makeHeader(kJet3, {'C', 'a', 'f', 0xE9})), std::string("Café"));
    QCOMPARE(passwordIn(makeHeader(kJet3, {0xCF, 0xE0, 0xF0, 0xEE, 0xEB, 0xFC}, 0, 1251)), std::string("Пароль"));
}

void TestEngineRules::brokenHeaders()
{
    const Page good = makeHeader(kJet4, {});
    QVERIFY(readDatabaseHeader(good, good.size()).valid());
    QCOMPARE(readDatabaseHeader({}, 0).problem, HeaderProblem::TooShort);
    QCOMPARE(readDatabaseHeader(good, 4095).problem, HeaderProblem::TooShort); // less than a page
    QCOMPARE(readDatabaseHeader(std::span(good).first(200), 200).problem, HeaderProblem::TooShort);
    Page bad = good;
    bad[0] = 1;
    QCOMPARE(readDatabaseHeader(bad, bad.size()).problem, HeaderProblem::BadSignature);
    bad = good;
    bad[10] = 'x';
    QCOMPARE(readDatabaseHeader(bad, bad.size()).problem, HeaderProblem::BadSignature);
    bad = good;
    bad[0x14] = 7;
    QCOMPARE(readDatabaseHeader(bad, bad.size()).problem, HeaderProblem::BadVersion);

    QRandomGenerator random(99);
    for (int i = 0; i < 3000; ++i) {
        Page page = good;
        page.resize(std::size_t(random.bounded(int(good.size()) + 1)));
        for (int n = random.bounded(30); n > 0 && !page.empty(); --n)
            page[std::size_t(random.bounded(int(page.size())))] = std::uint8_t(random.bounded(256));
        QVERIFY(EngineProtocol::isValidUtf8(readDatabaseHeader(page, 1u << 20).password));
    }

    DatabaseHeader header;
    QVERIFY(passwordAccepted(header, "anything")); // no password: Jet takes any
    header.password = "Pa;ss=w0rd";
    QVERIFY(passwordAccepted(header, "Pa;ss=w0rd"));
    QVERIFY(!passwordAccepted(header, "pa;ss=w0rd"));
    QVERIFY(!passwordAccepted(header, ""));
}

void TestEngineRules::adoTypes_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("fixed");
    QTest::addColumn<int>("result"); // ResultType of a calculated field, -1 for none
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("definedSize");

    QTest::newRow("Yes/No") << 0x01 << 0 << true << -1 << 11 << qint64(2);
    QTest::newRow("Byte") << 0x02 << 1 << true << -1 << 17 << qint64(1);
    QTest::newRow("Currency") << 0x05 << 8 << true << -1 << 6 << qint64(8);
    QTest::newRow("Text, bytes to characters") << 0x0A << 100 << false << -1 << 202 << qint64(50);
    QTest::newRow("fixed Text") << 0x0A << 2 << true << -1 << 130 << qint64(1);
    QTest::newRow("Binary") << 0x09 << 16 << false << -1 << 204 << qint64(16);
    QTest::newRow("fixed Binary") << 0x09 << 16 << true << -1 << 128 << qint64(16);
    QTest::newRow("Memo") << 0x0C << 0 << false << -1 << 203 << qint64(536870910);
    QTest::newRow("OLE Object") << 0x0B << 0 << false << -1 << 205 << qint64(1073741823);
    QTest::newRow("Decimal") << 0x10 << 17 << false << -1 << 131 << qint64(19);
    QTest::newRow("attachment") << 0x12 << 4 << true << -1 << 136 << qint64(4);
    QTest::newRow("Large Number") << 0x13 << 8 << true << -1 << 20 << qint64(8);
    QTest::newRow("Date/Time Extended") << 0x14 << 42 << true << -1 << 135 << qint64(16);
    QTest::newRow("unknown fixed") << 0x47 << 4 << true << -1 << 128 << qint64(4);
    QTest::newRow("unknown variable") << 0x46 << 510 << false << -1 << 204 << qint64(510);
    QTest::newRow("damaged size") << 0x0A << -4 << false << -1 << 202 << qint64(0);
    QTest::newRow("calculated Currency in a Double") << 0x07 << 39 << false << 0x05 << 6 << qint64(8);
    QTest::newRow("calculated Text(100)") << 0x0A << 223 << false << 0x0A << 202 << qint64(100);
    QTest::newRow("calculated Memo in a Text") << 0x0A << 0 << false << 0x0C << 203 << qint64(536870910);
    QTest::newRow("calculated, unknown result") << 0x04 << 39 << false << 0x55 << 3 << qint64(4);
}

void TestEngineRules::adoTypes()
{
    QFETCH(int, stored);
    QFETCH(int, size);
    QFETCH(bool, fixed);
    QFETCH(int, result);
    QFETCH(int, type);
    QFETCH(qint64, definedSize);
    StoredColumn column{stored, size, fixed, result >= 0, std::nullopt, false};
    if (result >= 0)
        column.resultType = result;
    const AdoField field = adoFieldFor(column);
    QCOMPARE(field.type, type);
    QCOMPARE(field.definedSize, definedSize);
}

void TestEngineRules::jet3TextAndResultTypes()
{
    // Access 97 stores text sizes in characters already.
    QCOMPARE(adoFieldFor({0x0A, 50, false, false, std::nullopt, true}).definedSize, 50);
    QCOMPARE(parseResultType("10"), std::optional<int>(10));
    QCOMPARE(parseResultType("1x"), std::optional<int>());
    QCOMPARE(parseResultType(""), std::optional<int>());
}

void TestEngineRules::propertyBlocks()
{
    // What the worker reads from a block: per named block (a column), the wanted properties.
    static constexpr std::array<std::string_view, 2> wanted = {"Format", "Description"};
    auto blocks = readNamedProperties(propertyBlock(12), wanted, ascii);
    QCOMPARE(blocks.size(), std::size_t(1));
    QCOMPARE(blocks[0].name, std::string("c"));
    QVERIFY(!blocks[0].values[0]);
    QCOMPARE(blocks[0].values[1]->type, 0x0A);
    QCOMPARE(blocks[0].values[1]->bytes, (Page{'N', 'a', 'm', 'e'}));
    // A value longer than its block ends the block; one of length zero too (libmdb's endless loop).
    QVERIFY(!readNamedProperties(propertyBlock(0), wanted, ascii).empty());
    Page cut = propertyBlock(12);
    cut[cut.size() - 6] = 40; // the value's size
    QVERIFY(!readNamedProperties(cut, wanted, ascii)[0].values[1]);
    QVERIFY(readNamedProperties(Page{'X', 'Y', 'Z', 0, 0, 0, 0, 0}, wanted, ascii).empty());

    QVERIFY(propertyBlockIsSafe(propertyBlock(12)));
    // A value of length zero: libmdb's parser never moves on.
    QVERIFY(!propertyBlockIsSafe(propertyBlock(0)));
    // A record that claims more than there is, or a record of length zero.
    Page longRecord = propertyBlock(12);
    longRecord[4] = 200;
    QVERIFY(!propertyBlockIsSafe(longRecord));
    Page zeros(64, 0);
    std::memcpy(zeros.data(), "KKD", 4); // what a truncated file hands libmdb
    QVERIFY(!propertyBlockIsSafe(zeros));
    // What libmdb does not parse at all is harmless.
    QVERIFY(propertyBlockIsSafe({}));
    QVERIFY(propertyBlockIsSafe(Page{'X', 'Y', 'Z', 0, 0, 0, 0, 0}));

    QRandomGenerator random(5);
    const Page good = propertyBlock(12);
    for (int i = 0; i < 5000; ++i) {
        Page mutated = good;
        mutated[std::size_t(random.bounded(int(mutated.size())))] = std::uint8_t(random.bounded(256));
        mutated.resize(std::size_t(random.bounded(int(mutated.size()) + 1)));
        propertyBlockIsSafe(mutated); // whatever it answers, it stays inside the block
        readNamedProperties(mutated, std::array<std::string_view, 1>{"Description"}, ascii);
    }
}

void TestEngineRules::everyPropertyAndItsText()
{
    const Page block = propertyBlockOf({"Description", "Required", "DefaultValue", "DecimalPlaces"},
                                       {{"", {{0, 10, Page{'W', 'h', 'o'}}}},
                                        {"Total",
                                         {{1, 1, Page{1}},
                                          {2, 10, Page{'=', '0'}},
                                          {3, 2, Page{2}},
                                          {0, 10, Page{'o', 'l', 'd'}},
                                          {0, 10, Page{'n', 'e', 'w'}}}},
                                        {"Name", {{1, 1, Page{0}}}}});
    const auto lists = readAllProperties(block, ascii);
    QCOMPARE(lists.size(), std::size_t(3));
    QCOMPARE(lists[0].name, std::string()); // the table's own properties
    QCOMPARE(lists[0].values.size(), std::size_t(1));
    QCOMPARE(propertyText(lists[0].values[0].second, ascii), std::string("Who"));
    QCOMPARE(lists[1].name, std::string("Total"));
    std::vector<std::string> seen;
    for (const auto &[name, value] : lists[1].values)
        seen.push_back(name + "=" + propertyText(value, ascii));
    // Stored order; a property given twice keeps its place and its last value.
    QCOMPARE(seen, (std::vector<std::string>{"Required=Yes", "DefaultValue==0", "DecimalPlaces=2", "Description=new"}));
    QCOMPARE(propertyText(lists[2].values[0].second, ascii), std::string("No"));
    // The wanted-properties reading of the same block is unchanged: the object's list is left out.
    static constexpr std::array<std::string_view, 1> description = {"Description"};
    const auto named = readNamedProperties(block, description, ascii);
    QCOMPARE(named.size(), std::size_t(2));
    QCOMPARE(named[0].values[0]->bytes, (Page{'n', 'e', 'w'}));

    const auto text = [](int type, Page bytes) { return propertyText(PropertyValue{type, std::move(bytes)}, ascii); };
    QCOMPARE(text(3, le(0xFFFE, 2)), std::string("-2"));
    QCOMPARE(text(4, le(111, 4)), std::string("111"));
    QCOMPARE(text(5, le(12345678, 8)), std::string("1234.5678"));
    QCOMPARE(text(5, le(std::uint64_t(-5000), 8)), std::string("-0.5"));
    QCOMPARE(text(5, le(30000, 8)), std::string("3"));
    QCOMPARE(text(7, doubleBytes(0.25)), std::string("0.25"));
    QCOMPARE(text(8, doubleBytes(45000.5)), std::string("2023-03-15 12:00:00"));
    QCOMPARE(text(8, doubleBytes(0)), std::string("1899-12-30 00:00:00"));
    QCOMPARE(text(8, doubleBytes(-1.25)), std::string("1899-12-29 06:00:00"));
    QCOMPARE(text(15, Page{0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 1, 2, 3, 4, 5, 6, 7, 8}),
             std::string("{12345678-1234-5678-0102-030405060708}"));
    QCOMPARE(text(9, Page{0xDE, 0xAD}), std::string("DEAD"));
    // Values cut short show their bytes rather than a number read past them.
    QCOMPARE(text(4, Page{1, 2}), std::string("0102"));
    QCOMPARE(text(8, Page{1}), std::string("01"));
    QCOMPARE(text(1, Page{}), std::string("No"));

    QRandomGenerator random(11);
    for (int i = 0; i < 5000; ++i) {
        Page mutated = block;
        mutated[std::size_t(random.bounded(int(mutated.size())))] = std::uint8_t(random.bounded(256));
        mutated.resize(std::size_t(random.bounded(int(mutated.size()) + 1)));
        for (const auto &list : readAllProperties(mutated, ascii))
            for (const auto &entry : list.values)
                propertyText(entry.second, ascii);
    }
}

// Wherever the reading of a block stops before its end, the lists read so far are kept and the
// problem says where it stopped; a block read whole has none.
void TestEngineRules::propertyBlocksReadInPart()
{
    const Page block = propertyBlockOf({"Description", "Format"}, {{"", {{0, 10, Page{'W', 'h', 'o'}}}},
                                                                   {"Name", {{0, 10, Page{'N'}}, {1, 10, Page{'@'}}}},
                                                                   {"City", {{1, 10, Page{'>'}}}}});
    std::string problem = "not told";
    QCOMPARE(readAllProperties(block, ascii, &problem).size(), std::size_t(3));
    QVERIFY2(problem.empty(), problem.c_str());
    // Where "Name"'s second value starts: the block's signature, the names record (6 + 2 * 2 + 17),
    // the table's list (6 + 6 + 11), "Name"'s list header (6 + 6 + 4) and its first value (9).
    const std::size_t second = 4 + 27 + 23 + 16 + 9;
    QCOMPARE(block[second + 4], std::uint8_t(1)); // the value's name index: "Format"

    Page namesNoProperty = block;
    namesNoProperty[second + 4] = 7;
    auto lists = readAllProperties(namesNoProperty, ascii, &problem);
    QCOMPARE(lists.size(), std::size_t(3));
    QCOMPARE(lists[1].values.size(), std::size_t(1)); // the value before it is kept
    QCOMPARE(lists[2].values.size(), std::size_t(1)); // and so is the next list
    QCOMPARE(problem, std::string("the list of Name: a value names a property the block does not name"));

    Page runsPast = block;
    runsPast[second + 6] = 200;
    readAllProperties(runsPast, ascii, &problem);
    QCOMPARE(problem, std::string("the list of Name: a value runs past the end of the list"));

    // Cut anywhere inside a part, the block says so (cut where a part ends, it is a whole block of
    // fewer parts).
    for (std::size_t cut = 5; cut < block.size(); ++cut) {
        if (cut == 31 || cut == 54 || cut == 88)
            continue;
        readAllProperties(Page(block.begin(), block.begin() + long(cut)), ascii, &problem);
        QVERIFY2(!problem.empty(), qPrintable(QString::number(cut)));
    }
    readAllProperties(Page{'X', 'Y', 'Z', 0, 1, 2}, ascii, &problem);
    QCOMPARE(problem, std::string("the block is not a property block"));
    readAllProperties(Page(), ascii, &problem);
    QVERIFY(problem.empty()); // no block: no properties, nothing missing
}

// A data page with rows stored from the end backwards, and its table of row offsets.
void TestEngineRules::dataPageRows()
{
    const PageLayout layout{4096, 0x0C};
    Page page(4096, 0);
    page[0] = kDataPageType;
    const auto entries = [&](std::initializer_list<std::uint16_t> offsets) {
        page[layout.rowCountOffset] = std::uint8_t(offsets.size());
        std::size_t at = layout.rowCountOffset + 2;
        for (std::uint16_t offset : offsets) {
            page[at++] = std::uint8_t(offset);
            page[at++] = std::uint8_t(offset >> 8);
        }
    };
    bool intact = false;
    entries({4000, 3900});
    QCOMPARE(liveRowsOnPage(page, layout, &intact), std::size_t(2));
    QVERIFY(intact);
    // Deleted rows do not count; a row moved away for want of room still does (its copy elsewhere
    // is flagged deleted).
    entries({4000, 3900 | kDeletedRowFlag, 3800 | kOverflowRowFlag, 3700 | kDeletedRowFlag | kOverflowRowFlag});
    QCOMPARE(liveRowsOnPage(page, layout, &intact), std::size_t(2));
    QVERIFY(intact);
    // A deleted row may point at nothing; a live one may not.
    entries({4000, 4000 | kDeletedRowFlag, 3900});
    liveRowsOnPage(page, layout, &intact);
    QVERIFY(intact);
    // Offsets outside the page, out of order, or of an empty row.
    entries({4000, 5000, 3900, 4050, 3900, 3800});
    QCOMPARE(liveRowsOnPage(page, layout, &intact), std::size_t(3));
    QVERIFY(!intact);
    // More entries than the page can hold: the ones that fit are read, nothing beyond the page.
    page[layout.rowCountOffset] = 0xFF;
    page[layout.rowCountOffset + 1] = 0xFF;
    intact = true;
    liveRowsOnPage(page, layout, &intact);
    QVERIFY(!intact);
    QCOMPARE(liveRowsOnPage(Page(10, 0), layout), std::size_t(0));
}

// Counting a table's rows through its usage map, in a small file of pages: only data pages of that
// very table count, whatever the map names.
void TestEngineRules::rowsFromMappedPages()
{
    constexpr std::size_t kPage = 4096;
    const PageLayout layout{kPage, 0x0C};
    constexpr std::uint32_t kTable = 1;
    std::vector<Page> pages(7, Page(kPage, 0));
    const auto dataPage = [&](std::size_t number, std::uint32_t owner, int rows) {
        Page &page = pages[number];
        page[0] = kDataPageType;
        page[4] = std::uint8_t(owner);
        page[layout.rowCountOffset] = std::uint8_t(rows);
        for (int row = 0; row < rows; ++row) {
            const int offset = int(kPage) - 10 * (row + 1);
            page[layout.rowCountOffset + 2 + 2 * row] = std::uint8_t(offset);
            page[layout.rowCountOffset + 3 + 2 * row] = std::uint8_t(offset >> 8);
        }
    };
    pages[1][0] = 0x02; // the table's definition
    dataPage(2, kTable, 2);
    dataPage(3, 9, 5);  // another table's
    pages[4][0] = 0x04; // an index page, owner byte aside
    pages[4][4] = kTable;
    dataPage(5, kTable, 3);
    // Page 6 is a map page of a reference map: a bitmap after 4 bytes, page 0 first.
    pages[6][0] = 0x05;
    for (int number : {2, 3, 4, 5})
        pages[6][4 + number / 8] |= std::uint8_t(1 << (number % 8));

    QTemporaryDir dir;
    const QString path = dir.filePath("pages.mdb");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (const Page &page : pages)
        file.write(reinterpret_cast<const char *>(page.data()), qint64(page.size()));
    file.close();
    PageReader reader;
    QVERIFY(reader.open(path.toStdString(), kPage, 0));

    // An inline map from page 0: pages 2 to 5, and pages far beyond the end.
    Page inlineMap = {0, 0, 0, 0, 0, 0b00111100, 0, 0, 0, 0xFF};
    QCOMPARE(countLiveRows(inlineMap, kTable, reader, layout, {}), 5);
    // The same through the map page.
    const Page referenceMap = {1, 6, 0, 0, 0};
    QCOMPARE(countLiveRows(referenceMap, kTable, reader, layout, {}), 5);
    // A map libmdb does not know: every page of the file is looked at, with the same answer.
    int looked = 0;
    QCOMPARE(countLiveRows(Page{7, 1, 2, 3}, kTable, reader, layout, [&] { ++looked; }), 5);
    QVERIFY(looked >= 6);
    // A map page beyond the end: the same.
    QCOMPARE(countLiveRows(Page{1, 0xFF, 0xFF, 0, 0}, kTable, reader, layout, {}), 5);
}

// What a table's data pages hold, for judging a walk through its rows, and the first page its map
// names that the file cannot give as one of them.
void TestEngineRules::storedRowsAgainstTheFile()
{
    constexpr std::size_t kPage = 4096;
    const PageLayout layout{kPage, 0x0C};
    constexpr std::uint32_t kTable = 2;
    Page image(6 * kPage, 0);
    const auto dataPage = [&](std::size_t number, std::uint32_t owner, std::initializer_list<std::uint16_t> offsets) {
        std::uint8_t *page = image.data() + number * kPage;
        page[0] = kDataPageType;
        page[4] = std::uint8_t(owner);
        page[layout.rowCountOffset] = std::uint8_t(offsets.size());
        std::size_t at = layout.rowCountOffset + 2;
        for (std::uint16_t offset : offsets) {
            page[at++] = std::uint8_t(offset);
            page[at++] = std::uint8_t(offset >> 8);
        }
    };
    // A row in place, one moved away for want of room, one deleted (or the copy of a moved one).
    dataPage(3, kTable, {4000, 3900 | kOverflowRowFlag, 3800 | kDeletedRowFlag});
    dataPage(4, 9, {4000}); // another table's
    dataPage(5, kTable, {4000, 3900});
    PageReader reader;
    QVERIFY(reader.openImage(image, kPage, 0));
    const auto stored = [&](const Page &map) { return storedRows(map, kTable, reader, layout); };

    const StoredRows whole = stored({0, 3, 0, 0, 0, 0b101});
    QVERIFY(whole.problem.empty());
    QVERIFY(whole.mapWalked);
    QCOMPARE(whole.live, 4);
    QVERIFY(whole.inPlace == (std::vector<RowPlace>{{3, 0}, {5, 0}, {5, 1}}));
    QCOMPARE(stored({0, 3, 0, 0, 0, 0b111}).problem,
             std::string("page 4 named by its usage map is not one of its data pages"));
    QCOMPARE(stored({0, 3, 0, 0, 0, 0b1001}).problem,
             std::string("page 6 named by its usage map lies beyond the end of the file"));
    // The map page of a reference map beyond the end takes its pages with it.
    QCOMPARE(stored({1, 0xFF, 0, 0, 0}).problem,
             std::string("its usage map's page 255 lies beyond the end of the file"));
    // A map of a kind libmdb does not know: every page is looked at, as libmdb does, and nothing is
    // missing.
    const StoredRows scanned = stored({7});
    QVERIFY(!scanned.mapWalked);
    QVERIFY(scanned.problem.empty());
    QCOMPARE(scanned.live, 4);
    // A last page the file cuts short.
    const Page cut(image.begin(), image.end() - kPage / 2);
    QVERIFY(reader.openImage(cut, kPage, 0));
    QCOMPARE(stored({0, 3, 0, 0, 0, 0b101}).problem,
             std::string("page 5 named by its usage map is cut short by the end of the file"));
}

void TestEngineRules::tableTypes()
{
    QCOMPARE(tableType(1, 0, false), std::string("TABLE"));
    QCOMPARE(tableType(1, 0x00000008, false), std::string("TABLE")); // hidden
    QCOMPARE(tableType(1, 0x800A0000, false), std::string("SYSTEM TABLE"));
    QCOMPARE(tableType(1, 0x0000000A, false), std::string("ACCESS TABLE"));
    QCOMPARE(tableType(6, 0x00200000, false), std::string("LINK"));
    QCOMPARE(tableType(4, 0x20100000, true), std::string("PASS-THROUGH"));
    QCOMPARE(tableType(4, 0, false), std::string()); // a report
    QCOMPARE(tableType(5, 0x3, false), std::string("VIEW"));
    QCOMPARE(tableType(5, 0x30, false), std::string()); // an update query
    QCOMPARE(tableType(0, 0, false), std::string());    // a form
}

QTEST_GUILESS_MAIN(TestEngineRules)
#include "tst_enginerules.moc"
