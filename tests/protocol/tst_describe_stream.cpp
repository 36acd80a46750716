// The streamed answer to Describe: the request, its parts and its end. Parts come from a worker
// that may have crashed in the middle of one, so the decoder must refuse every broken part.

#include "protocol/EngineProtocol.h"

#include <QtTest>

using namespace EngineProtocol;

namespace {

Bytes body(const Bytes &payload) // an answer without its status byte
{
    return Bytes(payload.begin() + 1, payload.end());
}

Bytes samplePart()
{
    Writer records;
    appendFieldsRecord(records, "Customers", {{{"ID", 3, 4, 0x70}, {"Name", 202, 50, 0x4}}, 91});
    appendDescriptionsRecord(records, "Customers", {{"ID", false, ""}, {"Name", true, "Who buys"}},
                             {true, "Our customers"});
    appendFailedRecord(records, RecordKind::FieldsFailed, "Broken", 3343, "Unrecognized database format 'x'.");
    appendFailedRecord(records, RecordKind::DescriptionsFailed, "Broken", 3265, "Item cannot be found");
    return encodePart(4, records.bytes());
}

} // namespace

class TestDescribeStream : public QObject
{
    Q_OBJECT

private slots:
    void requestRoundTrips()
    {
        const std::vector<std::string> names{"Customers", "Order Details", "", "Ünïcode"};
        const auto request = decodeRequest(encodeDescribe(names));
        QVERIFY(request);
        QCOMPARE(request->op, Op::Describe);
        QVERIFY(request->tables == names);

        const auto none = decodeRequest(encodeDescribe({}));
        QVERIFY(none && none->tables.empty());
        // A name that is not UTF-8 cannot be asked for.
        QVERIFY(encodeDescribe({"bad\xFF"}).empty());
    }

    void brokenRequestsAreRefused()
    {
        RequestProblem problem = RequestProblem::None;
        Bytes request = encodeDescribe({"A", "B"});
        request[1] = 3; // three names announced, two sent
        QVERIFY(!decodeRequest(request, &problem));
        QCOMPARE(problem, RequestProblem::Malformed);
        request = encodeDescribe({"A"});
        request[1] = 0xFF;
        request[4] = 0xFF; // four billion names in a few bytes
        QVERIFY(!decodeRequest(request, &problem));
        request = encodeDescribe({"A"});
        request.push_back(0);
        QVERIFY(!decodeRequest(request, &problem));
    }

    void partRoundTrips()
    {
        const Bytes part = samplePart();
        const auto response = decodeResponse(part);
        QVERIFY(response);
        QCOMPARE(response->status, Status::Part);
        Reader reader = response->body;
        const auto records = decodePart(reader);
        QVERIFY(records);
        QCOMPARE(records->size(), std::size_t(4));
        const DescribeRecord &fields = records->at(0);
        QCOMPARE(fields.kind, RecordKind::Fields);
        QCOMPARE(fields.table, std::string("Customers"));
        QCOMPARE(fields.fields.fields.size(), std::size_t(2));
        QCOMPARE(fields.fields.fields[1].name, std::string("Name"));
        QCOMPARE(fields.fields.fields[1].adoType, 202);
        QCOMPARE(fields.fields.fields[1].definedSize, qint64(50));
        QCOMPARE(fields.fields.fields[0].attributes, 0x70);
        QCOMPARE(fields.fields.fields[1].attributes, 0x4);
        QCOMPARE(fields.fields.recordCount, qint64(91));
        const DescribeRecord &descriptions = records->at(1);
        QCOMPARE(descriptions.kind, RecordKind::Descriptions);
        QCOMPARE(descriptions.columns.size(), std::size_t(2));
        QVERIFY(!descriptions.columns[0].present);
        QVERIFY(descriptions.columns[1].present);
        QCOMPARE(descriptions.columns[1].value, std::string("Who buys"));
        QVERIFY(descriptions.tableDescription.present);
        QCOMPARE(descriptions.tableDescription.value, std::string("Our customers"));
        QCOMPARE(records->at(2).kind, RecordKind::FieldsFailed);
        QCOMPARE(records->at(2).error.number, 3343);
        QCOMPARE(records->at(2).error.description, std::string("Unrecognized database format 'x'."));
        QCOMPARE(records->at(3).kind, RecordKind::DescriptionsFailed);
        QCOMPARE(records->at(3).table, std::string("Broken"));

        const Bytes endBytes = encodeDescribeEnd(4);
        const auto end = decodeResponse(endBytes);
        QVERIFY(end && end->status == Status::Ok);
        Reader endReader = end->body;
        QCOMPARE(decodeDescribeEnd(endReader), std::optional<std::uint32_t>(4));
    }

    void brokenPartsAreRefused()
    {
        const Bytes part = samplePart();
        // Every cut of the part is refused, by the first look or by the decoder.
        for (std::size_t size = 0; size < part.size(); ++size) {
            const Bytes cut(part.begin(), part.begin() + std::ptrdiff_t(size));
            const auto response = decodeResponse(cut);
            if (!response)
                continue;
            QCOMPARE(response->status, Status::Part);
            Reader reader = response->body;
            QVERIFY2(!decodePart(reader), qPrintable(QString::number(size)));
        }
        // Trailing bytes, an unknown kind, more records announced than sent, none at all, a
        // negative record count, a description that says it is absent yet has text.
        Bytes trailing = part;
        trailing.push_back(0);
        Bytes unknownKind = part;
        unknownKind[5] = 9;
        Bytes oneMore = part;
        oneMore[1] = 5;
        QVERIFY(!decodeResponse(encodePart(0, {})));
        Writer negative;
        appendFieldsRecord(negative, "T", {{}, -1});
        Writer absentWithText;
        appendDescriptionsRecord(absentWithText, "T", {{"c", true, "text"}});
        Bytes absent = encodePart(1, absentWithText.bytes());
        QCOMPARE(absent[20], std::uint8_t(1));
        absent[20] = 0; // kind, name "T", count, column "c", then the present flag
        Writer tableWithText;
        appendDescriptionsRecord(tableWithText, "T", {}, {true, "t"});
        Bytes absentTable = encodePart(1, tableWithText.bytes());
        QCOMPARE(absentTable[15], std::uint8_t(1));
        absentTable[15] = 0; // kind, name "T", no columns, then the table's present flag
        const std::vector<Bytes> brokenParts{trailing, unknownKind, oneMore, encodePart(1, negative.bytes()),
                                             absent,   absentTable};
        for (std::size_t i = 0; i < brokenParts.size(); ++i) {
            const auto response = decodeResponse(brokenParts[i]);
            QVERIFY(response);
            Reader reader = response->body;
            QVERIFY2(!decodePart(reader), qPrintable(QString::number(i)));
        }
        // The end of the answer is a record count and nothing else.
        Bytes longEnd = encodeDescribeEnd(4);
        longEnd.push_back(0);
        Reader longReader(longEnd);
        longReader.u8();
        QVERIFY(!decodeDescribeEnd(longReader));
    }

    void hugeAnnouncementsAllocateNothing()
    {
        // Four billion records announced in a dozen bytes: refused before anything is reserved.
        Bytes lying{std::uint8_t(Status::Part), 0xFF, 0xFF, 0xFF, 0xFF, 1, 1, 0, 0, 0, 'T', 0, 0, 0, 0};
        const auto response = decodeResponse(lying);
        QVERIFY(response);
        Reader reader = response->body;
        QVERIFY(!decodePart(reader));
        QCOMPARE(body(lying).size(), lying.size() - 1);
    }
};

QTEST_APPLESS_MAIN(TestDescribeStream)
#include "tst_describe_stream.moc"
