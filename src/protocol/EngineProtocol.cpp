#include "protocol/EngineProtocol.h"

#include <algorithm>
#include <cstring>

namespace EngineProtocol {

namespace {

// Length of the UTF-8 sequence starting at text[pos], or 0 when it is not a valid one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t pos) noexcept
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    const std::size_t left = text.size() - pos;
    if (lead < 0x80)
        return 1;
    const auto continuation = [&](std::size_t i) { return (byte(pos + i) & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF)
        return left >= 2 && continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !continuation(1) || !continuation(2))
            return 0;
        const unsigned char second = byte(pos + 1);
        if (lead == 0xE0 && second < 0xA0)
            return 0; // overlong
        if (lead == 0xED && second > 0x9F)
            return 0; // UTF-16 surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        const unsigned char second = byte(pos + 1);
        if (lead == 0xF0 && second < 0x90)
            return 0; // overlong
        if (lead == 0xF4 && second > 0x8F)
            return 0; // above U+10FFFF
        return 4;
    }
    return 0;
}

// The length of the leading run of ASCII characters, which are valid UTF-8 one by one. Eight
// at a time: names and texts are mostly ASCII, and there are hundreds of thousands of them.
std::size_t asciiPrefix(std::string_view text) noexcept
{
    std::size_t pos = 0;
    for (std::uint64_t word = 0; pos + 8 <= text.size(); pos += 8) {
        std::memcpy(&word, text.data() + pos, 8);
        if (word & 0x8080808080808080u)
            break;
    }
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) < 0x80)
        ++pos;
    return pos;
}

void putLittleEndian(Bytes &out, std::uint64_t value, int size)
{
    std::uint8_t bytes[8];
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    out.insert(out.end(), bytes, bytes + size);
}

std::uint64_t getLittleEndian(const std::uint8_t *data, int size) noexcept
{
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i)
        value |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    return value;
}

Bytes statusOnly(Status status)
{
    return Bytes{static_cast<std::uint8_t>(status)};
}

// A message with strings the writer refused is not sent as such: the peer gets an error instead,
// which it can show, rather than a half-built message.
Bytes finish(Writer &writer)
{
    if (!writer.valid())
        return encodeError(0, "The database engine produced an answer that cannot be sent.");
    return writer.take();
}

} // namespace

bool isValidUtf8(std::string_view text) noexcept
{
    std::size_t pos = asciiPrefix(text);
    while (pos < text.size()) {
        const std::size_t length = utf8SequenceLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes && asciiPrefix(text) == text.size())
        return std::string(text);
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = utf8SequenceLength(text, pos);
        const std::string_view piece = length ? text.substr(pos, length) : kReplacement;
        if (out.size() + piece.size() > maxBytes)
            break;
        out.append(piece);
        pos += length ? length : 1;
    }
    return out;
}

// ---- Writer -------------------------------------------------------------------------------------

Writer &Writer::u8(std::uint8_t value)
{
    m_bytes.push_back(value);
    return *this;
}

Writer &Writer::i32(std::int32_t value)
{
    putLittleEndian(m_bytes, static_cast<std::uint32_t>(value), 4);
    return *this;
}

Writer &Writer::u32(std::uint32_t value)
{
    putLittleEndian(m_bytes, value, 4);
    return *this;
}

Writer &Writer::i64(std::int64_t value)
{
    putLittleEndian(m_bytes, static_cast<std::uint64_t>(value), 8);
    return *this;
}

void Writer::patchU32(std::size_t at, std::uint32_t value) noexcept
{
    if (at + 4 > m_bytes.size())
        return;
    for (int i = 0; i < 4; ++i)
        m_bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

Writer &Writer::string(std::string_view value)
{
    if (value.size() > kMaxStringLength || !isValidUtf8(value)) {
        m_valid = false;
        value = {};
    }
    u32(static_cast<std::uint32_t>(value.size()));
    m_bytes.insert(m_bytes.end(), value.begin(), value.end());
    return *this;
}

// ---- Reader -------------------------------------------------------------------------------------

std::string Reader::string()
{
    return std::string(stringView());
}

std::string_view Reader::stringView()
{
    const std::uint32_t length = u32();
    if (!m_ok)
        return {};
    if (length > kMaxStringLength) {
        m_ok = false;
        return {};
    }
    const std::uint8_t *p = nullptr;
    if (!take(length, p))
        return {};
    const std::string_view value(reinterpret_cast<const char *>(p), length);
    if (!isValidUtf8(value)) {
        m_ok = false;
        return {};
    }
    return value;
}

// ---- framing ------------------------------------------------------------------------------------

Bytes frame(ByteView payload)
{
    if (payload.size() > kMaxFrameLength)
        return {};
    Bytes out;
    out.reserve(kFrameHeaderSize + payload.size());
    putLittleEndian(out, payload.size(), 4);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void FrameSplitter::append(ByteView data)
{
    if (m_failed)
        return;
    // Reclaim consumed bytes before growing, so a long session does not keep its whole history.
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), data.begin(), data.end());
}

std::optional<Bytes> FrameSplitter::next()
{
    if (m_failed || buffered() < kFrameHeaderSize)
        return std::nullopt;
    const std::uint8_t *head = m_buffer.data() + m_start;
    const auto length = static_cast<std::uint32_t>(getLittleEndian(head, 4));
    if (length > m_maxFrameLength) {
        m_failed = true;
        m_buffer.clear();
        m_start = 0;
        return std::nullopt;
    }
    if (buffered() - kFrameHeaderSize < length)
        return std::nullopt;
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start + kFrameHeaderSize);
    Bytes payload(begin, begin + length);
    m_start += kFrameHeaderSize + length;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    return payload;
}

// ---- requests -----------------------------------------------------------------------------------

Bytes encodeOpen(std::string_view path, std::string_view password)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Open)).string(path).string(password);
    return w.take();
}

Bytes encodeTables()
{
    return Bytes{static_cast<std::uint8_t>(Op::Tables)};
}

Bytes encodeFields(std::string_view tableName)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Fields)).string(tableName);
    return w.take();
}

Bytes encodeDescription(std::string_view tableName, std::string_view columnName)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::Description)).string(tableName).string(columnName);
    return w.take();
}

Bytes encodeClose()
{
    return Bytes{static_cast<std::uint8_t>(Op::Close)};
}

Bytes encodeHello()
{
    return Bytes{static_cast<std::uint8_t>(Op::Hello)};
}

Bytes encodeColumnDescriptions(std::string_view tableName)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Op::ColumnDescriptions)).string(tableName);
    return w.take();
}

namespace {

Bytes encodeTableList(Op op, const std::vector<std::string> &tableNames)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(op)).u32(static_cast<std::uint32_t>(tableNames.size()));
    for (const std::string &name : tableNames)
        w.string(name);
    if (!w.valid())
        return {};
    return w.take();
}

} // namespace

Bytes encodeDescribe(const std::vector<std::string> &tableNames)
{
    return encodeTableList(Op::Describe, tableNames);
}

Bytes encodeStructure(const std::vector<std::string> &tableNames)
{
    return encodeTableList(Op::Structure, tableNames);
}

Bytes encodeFileDigest()
{
    return Bytes{static_cast<std::uint8_t>(Op::FileDigest)};
}

std::optional<Request> decodeRequest(ByteView payload, RequestProblem *problem)
{
    const auto fail = [&](RequestProblem why) -> std::optional<Request> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (payload.empty())
        return fail(RequestProblem::Empty);

    Reader r(payload);
    Request request;
    const std::uint8_t op = r.u8();
    switch (op) {
    case static_cast<std::uint8_t>(Op::Open):
        request.path = r.string();
        request.password = r.string();
        break;
    case static_cast<std::uint8_t>(Op::Fields):
    case static_cast<std::uint8_t>(Op::ColumnDescriptions):
        request.table = r.string();
        break;
    case static_cast<std::uint8_t>(Op::Description):
        request.table = r.string();
        request.column = r.string();
        break;
    case static_cast<std::uint8_t>(Op::Describe):
    case static_cast<std::uint8_t>(Op::Structure): {
        const std::uint32_t count = r.u32();
        // Each name takes at least its length.
        if (!r.ok() || count > r.remaining() / 4)
            return fail(RequestProblem::Malformed);
        request.tables.reserve(count);
        for (std::uint32_t i = 0; i < count && r.ok(); ++i)
            request.tables.push_back(r.string());
        break;
    }
    case static_cast<std::uint8_t>(Op::Tables):
    case static_cast<std::uint8_t>(Op::Close):
    case static_cast<std::uint8_t>(Op::Hello):
    case static_cast<std::uint8_t>(Op::FileDigest):
        break;
    default:
        return fail(RequestProblem::UnknownOp);
    }
    if (!r.finished())
        return fail(RequestProblem::Malformed);
    request.op = static_cast<Op>(op);
    if (problem)
        *problem = RequestProblem::None;
    return request;
}

// ---- responses ----------------------------------------------------------------------------------

Bytes encodeOk()
{
    return statusOnly(Status::Ok);
}

Bytes encodeError(std::int32_t number, std::string_view description)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Error)).i32(number).string(sanitizeUtf8(description));
    return w.take();
}

Bytes encodeProgress()
{
    return statusOnly(Status::Progress);
}

Bytes encodeHelloResult(std::uint32_t version)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok)).u32(version);
    return w.take();
}

Bytes encodeTablesResult(const std::vector<TableRow> &rows, std::string_view incomplete)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok)).u32(static_cast<std::uint32_t>(rows.size()));
    for (const TableRow &row : rows)
        w.string(row.name).string(row.type);
    // A whole catalogue is answered as before version 5.
    if (!incomplete.empty())
        w.string(incomplete);
    return finish(w);
}

Bytes encodeFileDigestResult(const Sha256Digest &digest)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok));
    for (const std::uint8_t byte : digest)
        w.u8(byte);
    return w.take();
}

namespace {

void writeFields(Writer &w, const FieldsResult &result)
{
    w.u32(static_cast<std::uint32_t>(result.fields.size()));
    for (const FieldInfo &field : result.fields)
        w.string(field.name).i32(field.adoType).i64(field.definedSize).i32(field.attributes);
    w.i64(result.recordCount);
}

void writeColumns(Writer &w, const std::vector<ColumnDescription> &columns, const DescriptionResult &table)
{
    w.u32(static_cast<std::uint32_t>(columns.size()));
    for (const ColumnDescription &column : columns)
        w.string(column.column)
            .u8(column.present ? 1 : 0)
            .string(column.present ? std::string_view(column.value) : std::string_view());
    w.u8(table.present ? 1 : 0).string(table.present ? std::string_view(table.value) : std::string_view());
}

} // namespace

Bytes encodeFieldsResult(const FieldsResult &result)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok));
    writeFields(w, result);
    return finish(w);
}

Bytes encodeDescriptionResult(const DescriptionResult &result)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok))
        .u8(result.present ? 1 : 0)
        .string(result.present ? std::string_view(result.value) : std::string_view());
    return finish(w);
}

Bytes encodeColumnDescriptionsResult(const std::vector<ColumnDescription> &columns,
                                     const DescriptionResult &tableDescription)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok));
    writeColumns(w, columns, tableDescription);
    return finish(w);
}

void appendFieldsRecord(Writer &records, std::string_view table, const FieldsResult &fields)
{
    records.u8(static_cast<std::uint8_t>(RecordKind::Fields)).string(table);
    writeFields(records, fields);
}

void appendDescriptionsRecord(Writer &records, std::string_view table, const std::vector<ColumnDescription> &columns,
                              const DescriptionResult &tableDescription)
{
    records.u8(static_cast<std::uint8_t>(RecordKind::Descriptions)).string(table);
    writeColumns(records, columns, tableDescription);
}

void appendFailedRecord(Writer &records, RecordKind kind, std::string_view table, std::int32_t number,
                        std::string_view description)
{
    records.u8(static_cast<std::uint8_t>(kind)).string(table).i32(number).string(sanitizeUtf8(description));
}

void startPart(Writer &part)
{
    part.clear();
    part.u8(static_cast<std::uint8_t>(Status::Part)).u32(0);
}

void finishPart(Writer &part, std::uint32_t recordCount) noexcept
{
    part.patchU32(1, recordCount);
}

Bytes encodePart(std::uint32_t recordCount, ByteView records)
{
    if (records.size() + 5 > kMaxFrameLength)
        return {};
    Bytes out;
    out.reserve(records.size() + 5);
    out.push_back(static_cast<std::uint8_t>(Status::Part));
    putLittleEndian(out, recordCount, 4);
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

Bytes encodeDescribeEnd(std::uint32_t recordCount)
{
    Writer w;
    w.u8(static_cast<std::uint8_t>(Status::Ok)).u32(recordCount);
    return w.take();
}

std::optional<Response> decodeResponse(ByteView payload)
{
    Reader r(payload);
    const std::uint8_t status = r.u8();
    if (!r.ok())
        return std::nullopt;
    Response response;
    switch (status) {
    case static_cast<std::uint8_t>(Status::Ok):
        response.status = Status::Ok;
        response.body = r;
        return response;
    case static_cast<std::uint8_t>(Status::Error):
        response.status = Status::Error;
        response.error.number = r.i32();
        response.error.description = r.string();
        if (!r.finished())
            return std::nullopt;
        return response;
    case static_cast<std::uint8_t>(Status::Progress):
        if (!r.atEnd())
            return std::nullopt;
        response.status = Status::Progress;
        return response;
    case static_cast<std::uint8_t>(Status::Part):
        // A part carries at least one record: its count, a kind and a table name.
        if (r.remaining() < 4 + 1 + 4)
            return std::nullopt;
        response.status = Status::Part;
        response.body = r;
        return response;
    default:
        return std::nullopt;
    }
}

bool decodeEmptyResult(Reader &body)
{
    return body.finished();
}

std::optional<std::uint32_t> decodeHelloResult(Reader &body)
{
    const std::uint32_t version = body.u32();
    if (!body.finished())
        return std::nullopt;
    return version;
}

std::optional<std::vector<TableRow>> decodeTablesResult(Reader &body, std::string *incomplete)
{
    // Each row takes at least two string lengths: a count beyond that is a lie, and reserving
    // for it would let a broken peer make us allocate gigabytes.
    constexpr std::size_t kMinRowSize = 8;
    const std::uint32_t count = body.u32();
    if (!body.ok() || count > body.remaining() / kMinRowSize)
        return std::nullopt;
    std::vector<TableRow> rows;
    rows.reserve(count);
    for (std::uint32_t i = 0; i < count && body.ok(); ++i) {
        TableRow row;
        row.name = body.string();
        row.type = body.string();
        rows.push_back(std::move(row));
    }
    // Why the catalogue could not be read to its end, when it could not: never empty then.
    std::string why;
    if (body.ok() && !body.atEnd()) {
        why = body.string();
        if (why.empty())
            body.fail();
    }
    if (!body.finished())
        return std::nullopt;
    if (incomplete)
        *incomplete = std::move(why);
    return rows;
}

std::optional<Sha256Digest> decodeFileDigestResult(Reader &body)
{
    Sha256Digest digest{};
    for (std::uint8_t &byte : digest)
        byte = body.u8();
    if (!body.finished())
        return std::nullopt;
    return digest;
}

namespace {

// The fields of a table, as the Fields answer and the Fields record carry them. Fails the reader
// when they are malformed.
std::vector<FieldView> readFieldViews(Reader &body, std::int64_t &recordCount)
{
    constexpr std::size_t kMinFieldSize = 4 + 4 + 8 + 4; // name length, type, size, attributes
    constexpr std::size_t kRecordCountSize = 8;
    std::vector<FieldView> fields;
    const std::uint32_t count = body.u32();
    if (!body.ok() || body.remaining() < kRecordCountSize ||
        count > (body.remaining() - kRecordCountSize) / kMinFieldSize) {
        body.fail();
        return fields;
    }
    fields.reserve(count);
    for (std::uint32_t i = 0; i < count && body.ok(); ++i) {
        FieldView field;
        field.name = body.stringView();
        field.adoType = body.i32();
        field.definedSize = body.i64();
        field.attributes = body.i32();
        fields.push_back(field);
    }
    recordCount = body.i64();
    if (recordCount < 0)
        body.fail();
    return fields;
}

FieldsResult readFields(Reader &body)
{
    FieldsResult result;
    const std::vector<FieldView> views = readFieldViews(body, result.recordCount);
    result.fields.reserve(views.size());
    for (const FieldView &view : views)
        result.fields.push_back({std::string(view.name), view.adoType, view.definedSize, view.attributes});
    return result;
}

// A description that may be absent: u8 present, string value (empty when absent).
ColumnTextView readDescriptionView(Reader &body)
{
    ColumnTextView result;
    const std::uint8_t present = body.u8();
    result.value = body.stringView();
    if (present > 1 || (present == 0 && !result.value.empty()))
        body.fail();
    result.present = present == 1;
    return result;
}

DescriptionResult readDescription(Reader &body)
{
    const ColumnTextView view = readDescriptionView(body);
    return {view.present, std::string(view.value)};
}

std::vector<ColumnTextView> readColumnViews(Reader &body, ColumnTextView &table)
{
    constexpr std::size_t kMinColumnSize = 4 + 1 + 4; // name length, present, value length
    std::vector<ColumnTextView> columns;
    const std::uint32_t count = body.u32();
    if (!body.ok() || count > body.remaining() / kMinColumnSize) {
        body.fail();
        return columns;
    }
    columns.reserve(count);
    for (std::uint32_t i = 0; i < count && body.ok(); ++i) {
        const std::string_view name = body.stringView();
        ColumnTextView column = readDescriptionView(body);
        column.column = name;
        columns.push_back(column);
    }
    table = readDescriptionView(body);
    return columns;
}

std::vector<ColumnDescription> readColumns(Reader &body, DescriptionResult &table)
{
    ColumnTextView own;
    const std::vector<ColumnTextView> views = readColumnViews(body, own);
    std::vector<ColumnDescription> columns;
    columns.reserve(views.size());
    for (const ColumnTextView &view : views)
        columns.push_back({std::string(view.column), view.present, std::string(view.value)});
    table = {own.present, std::string(own.value)};
    return columns;
}

} // namespace

std::optional<FieldsResult> decodeFieldsResult(Reader &body)
{
    FieldsResult result = readFields(body);
    if (!body.finished())
        return std::nullopt;
    return result;
}

std::optional<DescriptionResult> decodeDescriptionResult(Reader &body)
{
    DescriptionResult result = readDescription(body);
    if (!body.finished())
        return std::nullopt;
    return result;
}

std::optional<std::vector<ColumnDescription>> decodeColumnDescriptionsResult(Reader &body,
                                                                             DescriptionResult *tableDescription)
{
    DescriptionResult table;
    std::vector<ColumnDescription> columns = readColumns(body, table);
    if (!body.finished())
        return std::nullopt;
    if (tableDescription)
        *tableDescription = std::move(table);
    return columns;
}

std::optional<std::vector<DescribeRecordView>> decodePartViews(Reader &body)
{
    // A record takes at least its kind and the table name's length.
    constexpr std::size_t kMinRecordSize = 1 + 4;
    const std::uint32_t count = body.u32();
    if (!body.ok() || count == 0 || count > body.remaining() / kMinRecordSize)
        return std::nullopt;
    std::vector<DescribeRecordView> records;
    records.reserve(count);
    for (std::uint32_t i = 0; i < count && body.ok(); ++i) {
        DescribeRecordView record;
        const std::uint8_t kind = body.u8();
        record.table = body.stringView();
        switch (kind) {
        case static_cast<std::uint8_t>(RecordKind::Fields):
            record.fields = readFieldViews(body, record.recordCount);
            break;
        case static_cast<std::uint8_t>(RecordKind::Descriptions):
            record.columns = readColumnViews(body, record.tableDescription);
            break;
        case static_cast<std::uint8_t>(RecordKind::FieldsFailed):
        case static_cast<std::uint8_t>(RecordKind::DescriptionsFailed):
            record.errorNumber = body.i32();
            record.errorDescription = body.stringView();
            break;
        default:
            body.fail();
            break;
        }
        record.kind = static_cast<RecordKind>(kind);
        records.push_back(std::move(record));
    }
    if (!body.finished())
        return std::nullopt;
    return records;
}

std::optional<std::vector<DescribeRecord>> decodePart(Reader &body)
{
    const auto views = decodePartViews(body);
    if (!views)
        return std::nullopt;
    std::vector<DescribeRecord> records;
    records.reserve(views->size());
    for (const DescribeRecordView &view : *views) {
        DescribeRecord record;
        record.kind = view.kind;
        record.table = std::string(view.table);
        record.fields.recordCount = view.recordCount;
        record.fields.fields.reserve(view.fields.size());
        for (const FieldView &field : view.fields)
            record.fields.fields.push_back(
                {std::string(field.name), field.adoType, field.definedSize, field.attributes});
        record.columns.reserve(view.columns.size());
        for (const ColumnTextView &column : view.columns)
            record.columns.push_back({std::string(column.column), column.present, std::string(column.value)});
        record.tableDescription = {view.tableDescription.present, std::string(view.tableDescription.value)};
        record.error = {view.errorNumber, std::string(view.errorDescription)};
        records.push_back(std::move(record));
    }
    return records;
}

std::optional<std::uint32_t> decodeDescribeEnd(Reader &body)
{
    const std::uint32_t count = body.u32();
    if (!body.finished())
        return std::nullopt;
    return count;
}

} // namespace EngineProtocol
