// The wire format between the program and its worker. The decoder is the program's only defence
// against a worker that died halfway through a frame or talks nonsense, so most of these tests
// feed it broken input.

#include "protocol/EngineProtocol.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace EngineProtocol;

namespace {

Bytes bytesOf(std::initializer_list<int> values)
{
    Bytes out;
    for (int value : values)
        out.push_back(std::uint8_t(value));
    return out;
}

Bytes body(const Bytes &payload) // an Ok answer without its status byte
{
    return Bytes(payload.begin() + 1, payload.end());
}

} // namespace

class TestEngineProtocol : public QObject
{
    Q_OBJECT

private slots:
    void valuesRoundTripLittleEndian();
    void readerFailsOnShortInputAndStaysFailed();
    void stringsAreBoundedAndUtf8_data();
    void stringsAreBoundedAndUtf8();
    void messagesRoundTrip();
    void brokenMessagesAreRejected();
    void splitterCutsFramesFromPieces();
    void randomInputNeverCrashesTheDecoders();
};

void TestEngineProtocol::valuesRoundTripLittleEndian()
{
    Writer w;
    w.u8(0xAB).i32(-2).u32(0x01020304).i64(std::numeric_limits<std::int64_t>::min()).string("Café");
    QCOMPARE(Bytes(w.bytes().begin(), w.bytes().begin() + 9), bytesOf({0xAB, 0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1}));
    QCOMPARE(Bytes(w.bytes().end() - 9, w.bytes().end()), bytesOf({5, 0, 0, 0, 'C', 'a', 'f', 0xC3, 0xA9}));
    Reader r(w.bytes());
    QCOMPARE(r.u8(), std::uint8_t(0xAB));
    QCOMPARE(r.i32(), -2);
    QCOMPARE(r.u32(), 0x01020304u);
    QCOMPARE(r.i64(), std::numeric_limits<std::int64_t>::min());
    QCOMPARE(r.string(), std::string("Café"));
    QVERIFY(r.finished());
}

void TestEngineProtocol::readerFailsOnShortInputAndStaysFailed()
{
    const Bytes three = bytesOf({1, 2, 3});
    Reader r(three);
    QCOMPARE(r.u32(), 0u);
    // A reader that lost its place must not resync on later, smaller reads.
    QCOMPARE(r.u8(), std::uint8_t(0));
    QVERIFY(!r.ok());

    const Bytes cutString = bytesOf({10, 0, 0, 0, 'a', 'b'});
    Reader s(cutString);
    QCOMPARE(s.string(), std::string());
    QVERIFY(!s.ok());
}

void TestEngineProtocol::stringsAreBoundedAndUtf8_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("CJK and emoji") << QByteArray("顧客 \xF0\x9F\x98\x80") << true;
    QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("lone continuation") << QByteArray("\x80") << false;
    QTest::newRow("overlong NUL") << QByteArray("\xC0\x80") << false;
    QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("truncated at end") << QByteArray("price \xE2\x82") << false;
    QTest::newRow("ASCII after lead") << QByteArray("\xC3"
                                                    "A")
                                      << false;
}

void TestEngineProtocol::stringsAreBoundedAndUtf8()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    const std::string value(text.constData(), std::size_t(text.size()));
    Writer w;
    w.string(value);
    QCOMPARE(w.valid(), valid);
    Bytes raw = bytesOf({int(text.size()), 0, 0, 0});
    raw.insert(raw.end(), text.begin(), text.end());
    Reader r(raw);
    QCOMPARE(r.string(), valid ? value : std::string());
    QCOMPARE(r.ok(), valid);
    QVERIFY(isValidUtf8(sanitizeUtf8(value)));

    // Length limits are checked before any allocation; the limit itself is fine.
    Bytes tooLong = bytesOf({0x01, 0x00, 0x10, 0x00}); // kMaxStringLength + 1
    Reader big(tooLong);
    big.string();
    QVERIFY(!big.ok());
    Writer limit;
    limit.string(std::string(kMaxStringLength, 'x'));
    QVERIFY(limit.valid());
    limit.string(std::string(kMaxStringLength + 1, 'x'));
    QVERIFY(!limit.valid());
    // Sanitizing cuts at character boundaries.
    QCOMPARE(sanitizeUtf8("a\xC3\xA9", 2), std::string("a"));
}

void TestEngineProtocol::messagesRoundTrip()
{
    const auto open = decodeRequest(encodeOpen("/data/Kunden ä.mdb", "Pa;ss=w0rd"));
    QVERIFY(open && open->op == Op::Open);
    QCOMPARE(open->path, std::string("/data/Kunden ä.mdb"));
    QCOMPARE(open->password, std::string("Pa;ss=w0rd"));
    const auto description = decodeRequest(encodeDescription("顧客 Café", "名前"));
    QVERIFY(description && description->op == Op::Description);
    QCOMPARE(description->column, std::string("名前"));
    // The opcodes are the contract with the other side.
    QCOMPARE(encodeTables(), bytesOf({2}));
    QCOMPARE(encodeFields("")[0], std::uint8_t(3));
    QCOMPARE(encodeClose(), bytesOf({5}));
    QCOMPARE(encodeHello(), bytesOf({6}));
    QCOMPARE(encodeColumnDescriptions("")[0], std::uint8_t(7));
    QCOMPARE(encodeFileDigest(), bytesOf({11}));
    QVERIFY(decodeRequest(encodeFileDigest())->op == Op::FileDigest);
    const auto columnsRequest = decodeRequest(encodeColumnDescriptions("顧客 Café"));
    QVERIFY(columnsRequest && columnsRequest->op == Op::ColumnDescriptions);
    QCOMPARE(columnsRequest->table, std::string("顧客 Café"));

    const Bytes error = encodeError(3031, "Not a valid password.");
    const auto response = decodeResponse(error);
    QVERIFY(response && response->status == Status::Error);
    QCOMPARE(response->error.number, 3031);
    QCOMPARE(response->error.description, std::string("Not a valid password."));
    QCOMPARE(decodeResponse(encodeProgress())->status, Status::Progress);

    const Bytes tables = body(encodeTablesResult({{"Customers", "TABLE"}, {"Клиенты", "LINK"}}));
    Reader tablesReader(tables);
    const auto rows = decodeTablesResult(tablesReader);
    QVERIFY(rows && rows->size() == 2);
    QCOMPARE((*rows)[1].name, std::string("Клиенты"));
    QCOMPARE((*rows)[1].type, std::string("LINK"));
    // A whole catalogue is answered as before version 5: the rows and nothing after them.
    QCOMPARE(encodeTablesResult({{"Customers", "TABLE"}, {"Клиенты", "LINK"}}, ""),
             encodeTablesResult({{"Customers", "TABLE"}, {"Клиенты", "LINK"}}));
    std::string whole = "left from before";
    Reader wholeReader(tables);
    QVERIFY(decodeTablesResult(wholeReader, &whole));
    QVERIFY(whole.empty());
    // One read in part: the rows read, then why.
    const std::string why = "The table catalogue could not be read to its end: page 101 named by its usage map lies "
                            "beyond the end of the file. Only 1 table could be read; the database may have more.";
    const Bytes partial = body(encodeTablesResult({{"Customers", "TABLE"}}, why));
    QCOMPARE(partial.size(), tables.size() - (4 + 14 + 4 + 4) + 4 + why.size());
    Reader partialReader(partial);
    std::string said;
    const auto partialRows = decodeTablesResult(partialReader, &said);
    QVERIFY(partialRows && partialRows->size() == 1);
    QCOMPARE((*partialRows)[0].name, std::string("Customers"));
    QCOMPARE(said, why);
    Reader unaskedReader(partial);
    QVERIFY(decodeTablesResult(unaskedReader)); // a reader that does not ask still reads it all

    const Bytes fields = body(encodeFieldsResult({{{"Notes", 203, 536870910, 0xE6}}, 5000000000LL}));
    Reader fieldsReader(fields);
    const auto decoded = decodeFieldsResult(fieldsReader);
    QVERIFY(decoded && decoded->fields.size() == 1);
    QCOMPARE(decoded->fields[0].adoType, 203);
    QCOMPARE(decoded->fields[0].definedSize, 536870910);
    QCOMPARE(decoded->fields[0].attributes, 0xE6);
    QCOMPARE(decoded->recordCount, 5000000000LL);

    const Bytes absent = body(encodeDescriptionResult({false, "ignored"}));
    Reader absentReader(absent);
    const auto none = decodeDescriptionResult(absentReader);
    QVERIFY(none && !none->present && none->value.empty());

    const Bytes columns = body(encodeColumnDescriptionsResult(
        {{"Name", true, "Name of the company"}, {"Country", false, "ignored"}, {"名前", true, ""}}));
    Reader columnsReader(columns);
    const auto decodedColumns = decodeColumnDescriptionsResult(columnsReader);
    QVERIFY(decodedColumns && decodedColumns->size() == 3);
    QCOMPARE((*decodedColumns)[0].value, std::string("Name of the company"));
    QVERIFY(!(*decodedColumns)[1].present && (*decodedColumns)[1].value.empty());
    QVERIFY((*decodedColumns)[2].present && (*decodedColumns)[2].value.empty()); // an empty description
    QCOMPARE((*decodedColumns)[2].column, std::string("名前"));
    const Bytes noColumns = body(encodeColumnDescriptionsResult({}));
    Reader noColumnsReader(noColumns);
    DescriptionResult noTable{true, "left as it was"};
    QCOMPARE(decodeColumnDescriptionsResult(noColumnsReader, &noTable)->size(), std::size_t(0));
    QVERIFY(!noTable.present && noTable.value.empty());
    // The table's own description comes after its columns'.
    const Bytes withTable = body(encodeColumnDescriptionsResult({{"A", true, "x"}}, {true, "Who buys from us"}));
    Reader withTableReader(withTable);
    DescriptionResult table;
    QVERIFY(decodeColumnDescriptionsResult(withTableReader, &table));
    QVERIFY(table.present);
    QCOMPARE(table.value, std::string("Who buys from us"));

    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = std::uint8_t(0xF0 + i);
    const Bytes digestAnswer = encodeFileDigestResult(digest);
    QCOMPARE(digestAnswer.size(), std::size_t(1 + 32)); // the raw bytes, no length before them
    const Bytes digestBody = body(digestAnswer);
    Reader digestReader(digestBody);
    QCOMPARE(decodeFileDigestResult(digestReader), std::optional(digest));

    // A name that is not UTF-8 turns the whole answer into an error instead of a broken frame.
    const Bytes unsendable = encodeTablesResult({{"bad\xFF", "TABLE"}});
    QCOMPARE(decodeResponse(unsendable)->status, Status::Error);
}

void TestEngineProtocol::brokenMessagesAreRejected()
{
    RequestProblem problem = RequestProblem::None;
    QVERIFY(!decodeRequest({}, &problem));
    QCOMPARE(problem, RequestProblem::Empty);
    QVERIFY(!decodeRequest(bytesOf({0x08}), &problem));
    QCOMPARE(problem, RequestProblem::UnknownOp);
    QVERIFY(!decodeRequest(bytesOf({0x07}), &problem)); // ColumnDescriptions without its table
    QCOMPARE(problem, RequestProblem::Malformed);
    Bytes trailing = encodeFields("t");
    trailing.push_back(0);
    QVERIFY(!decodeRequest(trailing, &problem));
    QCOMPARE(problem, RequestProblem::Malformed);

    for (const Bytes &response :
         {Bytes{}, bytesOf({3}), bytesOf({2, 0}), bytesOf({1, 0, 0, 0, 0}), bytesOf({1, 0, 0, 0, 0, 1, 0, 0, 0, 0xFF})})
        QVERIFY(!decodeResponse(response));

    // Counts that the bytes cannot hold: four billion rows in a dozen bytes, one row too many.
    const Bytes lying = bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 'T', 0, 0, 0, 0});
    Reader lyingReader(lying);
    QVERIFY(!decodeTablesResult(lyingReader));
    Bytes oneShort = body(encodeTablesResult({{"A", "TABLE"}}));
    oneShort[0] = 2;
    Reader oneShortReader(oneShort);
    QVERIFY(!decodeTablesResult(oneShortReader));
    // After the rows only a reason can follow, and it is never empty.
    for (const Bytes &after : {bytesOf({0, 0, 0, 0}), bytesOf({1, 0, 0}), bytesOf({1, 0, 0, 0, 'x', 'y'})}) {
        Bytes tail = body(encodeTablesResult({{"A", "TABLE"}}));
        tail.insert(tail.end(), after.begin(), after.end());
        Reader tailReader(tail);
        std::string said;
        QVERIFY(!decodeTablesResult(tailReader, &said));
    }
    Bytes fieldCount = body(encodeFieldsResult({{{"", 3, 4}}, 0}));
    fieldCount[0] = 2; // would fit only by eating the record count
    Reader fieldReader(fieldCount);
    QVERIFY(!decodeFieldsResult(fieldReader));
    const Bytes negative = body(encodeFieldsResult({{}, -1}));
    Reader negativeReader(negative);
    QVERIFY(!decodeFieldsResult(negativeReader));

    // A digest is exactly 32 bytes; FileDigest asks for nothing more.
    for (const Bytes &digest : {Bytes(31, 0), Bytes(33, 0)}) {
        Reader digestReader(digest);
        QVERIFY(!decodeFileDigestResult(digestReader));
    }
    QVERIFY(!decodeRequest(bytesOf({11, 0}), &problem));
    QCOMPARE(problem, RequestProblem::Malformed);

    Bytes extra = body(encodeHelloResult());
    extra.push_back(0);
    Reader extraReader(extra);
    QVERIFY(!decodeHelloResult(extraReader));
    const Bytes absentWithText = bytesOf({0, 1, 0, 0, 0, 'x'});
    Reader absentReader(absentWithText);
    QVERIFY(!decodeDescriptionResult(absentReader));
    const Bytes notBoolean = bytesOf({2, 0, 0, 0, 0});
    Reader notBooleanReader(notBoolean);
    QVERIFY(!decodeDescriptionResult(notBooleanReader));

    // Column descriptions: the same rules per column, and a count the bytes can hold.
    const Bytes good = body(encodeColumnDescriptionsResult({{"A", true, "x"}, {"B", false, ""}}));
    Reader goodReader(good);
    QVERIFY(decodeColumnDescriptionsResult(goodReader));
    for (const Bytes &bad : {bytesOf({1, 0, 0, 0, 1, 0, 0, 0, 'A', 0, 1, 0, 0, 0, 'x'}),   // absent, with text
                             bytesOf({1, 0, 0, 0, 1, 0, 0, 0, 'A', 2, 0, 0, 0, 0}),        // present is 2
                             bytesOf({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 1, 0, 0, 0, 0}), // four billion
                             bytesOf({2, 0, 0, 0, 1, 0, 0, 0, 'A', 0, 0, 0, 0, 0}),        // one missing
                             bytesOf({1, 0, 0, 0, 1, 0, 0, 0, 'A', 0, 0, 0, 0, 0}),        // no table part
                             bytesOf({0, 0, 0, 0, 0, 1, 0, 0, 0, 'x'}),                    // table: absent, text
                             bytesOf({0, 0, 0, 0, 3, 0, 0, 0, 0, 0}),                      // table: present is 3
                             bytesOf({1, 0, 0, 0, 1, 0, 0, 0, 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})}) { // left over
        Reader reader(bad);
        QVERIFY(!decodeColumnDescriptionsResult(reader));
    }
}

void TestEngineProtocol::splitterCutsFramesFromPieces()
{
    const std::vector<Bytes> payloads = {encodeHello(), encodeFields("Customers"), {}, encodeOpen("a", "b")};
    Bytes stream;
    for (const Bytes &payload : payloads) {
        const Bytes framed = frame(payload);
        stream.insert(stream.end(), framed.begin(), framed.end());
    }
    for (std::size_t chunk : {std::size_t(1), std::size_t(7), stream.size()}) {
        FrameSplitter splitter;
        std::vector<Bytes> received;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            splitter.append(ByteView(stream).subspan(pos, std::min(chunk, stream.size() - pos)));
            while (auto payload = splitter.next())
                received.push_back(*payload);
        }
        QCOMPARE(received, payloads);
        QCOMPARE(splitter.buffered(), std::size_t(0));
    }

    // Over the limit: the stream is broken for good, even for good frames after it.
    FrameSplitter limited(100);
    Bytes oversized = frame(Bytes(100, 'x'));
    const Bytes over = bytesOf({101, 0, 0, 0});
    oversized.insert(oversized.end(), over.begin(), over.end());
    limited.append(oversized);
    QCOMPARE(limited.next()->size(), std::size_t(100));
    QVERIFY(!limited.next());
    QVERIFY(limited.failed());
    limited.append(frame(encodeHello()));
    QVERIFY(!limited.next());
    FrameSplitter real;
    real.append(bytesOf({0xFF, 0xFF, 0xFF, 0xFF})); // refused from the header alone
    QVERIFY(!real.next() && real.failed());
}

void TestEngineProtocol::randomInputNeverCrashesTheDecoders()
{
    // Valid messages with bytes flipped, cut or appended, and plain noise. Under the sanitizers
    // this also shows that no read leaves the buffer.
    const std::vector<Bytes> seeds = {encodeTablesResult({{"Customers", "TABLE"}, {"Orders", "VIEW"}}),
                                      encodeTablesResult({{"Customers", "TABLE"}}, "cut short"),
                                      encodeFieldsResult({{{"A", 202, 50}, {"B", 3, 4}}, 91}),
                                      encodeDescriptionResult({true, "Name"}),
                                      encodeColumnDescriptionsResult({{"A", true, "x"}, {"B", false, ""}}),
                                      encodeColumnDescriptions("t"),
                                      encodeError(3078, "x"),
                                      encodeOpen("/tmp/x.mdb", "pw"),
                                      encodeDescription("t", "c"),
                                      encodeFileDigestResult(Sha256Digest{})};
    QRandomGenerator random(2024);
    int decoded = 0;
    for (int i = 0; i < 20000; ++i) {
        Bytes payload = seeds[std::size_t(random.bounded(int(seeds.size())))];
        switch (random.bounded(4)) {
        case 0:
            payload[std::size_t(random.bounded(int(payload.size())))] = std::uint8_t(random.bounded(256));
            break;
        case 1:
            payload.resize(std::size_t(random.bounded(int(payload.size()) + 1)));
            break;
        case 2:
            payload.push_back(std::uint8_t(random.bounded(256)));
            break;
        default:
            for (auto &byte : payload)
                byte = std::uint8_t(random.bounded(256));
        }
        decoded += decodeRequest(payload).has_value();
        if (auto response = decodeResponse(payload)) {
            Reader a = response->body, b = a, c = a, d = a, e = a;
            decoded += decodeTablesResult(a).has_value() + decodeFieldsResult(b).has_value() +
                       decodeDescriptionResult(c).has_value() + decodeColumnDescriptionsResult(d).has_value() +
                       decodeFileDigestResult(e).has_value();
        }
    }
    QVERIFY(decoded > 0);
}

QTEST_GUILESS_MAIN(TestEngineProtocol)
#include "tst_engineprotocol.moc"
