#pragma once

// The wire format between the program and its database worker (strudex-engine).
//
// Plain C++20 and the standard library only: the worker must not pull in Qt, and the Qt side must
// not pull in glib, yet both have to agree on every byte. All integers are little-endian.
//
//   frame    = u32 payload length, payload
//   request  = u8 opcode, fields of the operation
//   response = u8 status, then
//                Ok:       the operation's result
//                Error:    i32 number, string description
//                Progress: nothing (a heartbeat during long work, never the final answer)
//                Part:     u32 record count, records (a piece of a streamed answer, never the final
//                          answer; only Describe and Structure are answered in parts)
//   string   = u32 byte length, UTF-8 bytes (no terminator)
//
// The messages (this header is their one description; the worker's README says what it decides):
//
//   request                                   Ok answer
//   1  Open: path, password                   nothing
//   2  Tables                                 u32 count, then name, TABLE_TYPE per row, in catalogue order;
//                                             then, only when the catalogue could not be read to its
//                                             end, a string saying why and how many tables were read
//   3  Fields: table                          u32 count, then name, i32 ADO type, i64 DefinedSize,
//                                             i32 ADO attributes per field; i64 record count
//   4  Description: table, column             u8 present (0/1), string (empty when absent)
//   5  Close                                  nothing; then the worker exits
//   6  Hello                                  u32 protocol version (kProtocolVersion)
//   7  ColumnDescriptions: table              u32 count, then name, u8 present, string per field in
//                                             the order of Fields; then the table's own description:
//                                             u8 present, string
//   9  Describe: u32 count, table per table   Part frames of Describe records (below), then u32
//                                             the number of records sent
//   10 Structure: u32 count, table per table  Part frames of structure records (protocol/StructureProtocol.h),
//      (none: every user table)               then u32 the number of records sent
//   11 FileDigest                             32 bytes: the SHA-256 of the open database's file as it
//                                             lies on disk (encrypted or not)
//
// The program sends Hello once after starting a worker and refuses one that answers another
// version. The worker sends Progress as a heartbeat when it has said nothing for a while; the
// final answer to a streamed request is Ok, or an Error that belongs to the first record not sent.
//
// A worker started with --fork-per-database serves one database after another, each in a process
// of its own: after the Ok that answers Close it sends one more empty Ok once that process has
// ended, and only then may the next conversation (Hello first) begin.
//
// The reader treats its input as hostile: a worker that crashed halfway or a damaged pipe must
// give a clean "malformed" answer, never a read past the end or a huge allocation.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace EngineProtocol {

// Bumped whenever a message changes shape. Hello answers with it.
inline constexpr std::uint32_t kProtocolVersion = 8;

// Limits: nothing legitimate comes near them, and a length beyond them means a broken peer.
inline constexpr std::uint32_t kMaxStringLength = 1u << 20; // 1 MiB
inline constexpr std::uint32_t kMaxFrameLength = 64u << 20; // 64 MiB
inline constexpr std::size_t kFrameHeaderSize = 4;

enum class Op : std::uint8_t {
    Open = 1,               // string path, string password
    Tables = 2,             // -
    Fields = 3,             // string tableName
    Description = 4,        // string tableName, string columnName
    Close = 5,              // -
    Hello = 6,              // -
    ColumnDescriptions = 7, // string tableName (since version 2)
    Describe = 9,           // u32 count, string tableName per table (since version 3)
    Structure = 10,         // u32 count, string tableName per table; none: every table (since version 3;
                            // since version 6 its answer holds the application too, since 7 the
                            // tables' data macros)
    FileDigest = 11,        // - (since version 8)
};

enum class Status : std::uint8_t {
    Ok = 0,
    Error = 1,
    Progress = 2,
    Part = 3,
};

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
bool isValidUtf8(std::string_view text) noexcept;

// Makes arbitrary bytes (for instance a name read from a damaged file) safe to send: invalid
// sequences become U+FFFD, and the result is cut at a character boundary so that it is never
// longer than maxBytes.
std::string sanitizeUtf8(std::string_view text, std::size_t maxBytes = kMaxStringLength);

// Builds one payload. Strings must be valid UTF-8 and not longer than kMaxStringLength; a
// violation is a programming error on the sending side and is reported through valid().
class Writer
{
public:
    Writer &u8(std::uint8_t value);
    Writer &i32(std::int32_t value);
    Writer &u32(std::uint32_t value);
    Writer &i64(std::int64_t value);
    Writer &string(std::string_view value);

    // Overwrites four bytes written before (a count that is known only at the end).
    void patchU32(std::size_t at, std::uint32_t value) noexcept;
    // Drops what was written after the first size bytes (half of something that failed).
    void truncate(std::size_t size) noexcept
    {
        if (size < m_bytes.size())
            m_bytes.resize(size);
    }
    // Starts a new payload, keeping the memory of the last one.
    void clear() noexcept
    {
        m_bytes.clear();
        m_valid = true;
    }

    // False once a string was rejected; the payload must not be sent then.
    bool valid() const noexcept { return m_valid; }
    const Bytes &bytes() const noexcept { return m_bytes; }
    Bytes take() noexcept { return std::move(m_bytes); }

private:
    Bytes m_bytes;
    bool m_valid = true;
};

// Reads one payload. Every read checks the bytes that remain; the first failure makes the reader
// fail for good, and failed reads return zero or an empty string.
class Reader
{
public:
    Reader() = default;
    explicit Reader(ByteView data) noexcept : m_data(data) {}
    // The reader only points at its bytes: a temporary would be gone before the first read.
    explicit Reader(Bytes &&) = delete;
    explicit Reader(const Bytes &&) = delete;

    // Numbers are read inline: a part of a big answer holds hundreds of thousands of them.
    std::uint8_t u8() noexcept
    {
        const std::uint8_t *p = nullptr;
        return take(1, p) ? *p : 0;
    }
    std::int32_t i32() noexcept { return static_cast<std::int32_t>(u32()); }
    std::uint32_t u32() noexcept
    {
        const std::uint8_t *p = nullptr;
        return take(4, p) ? littleEndian<std::uint32_t>(p) : 0;
    }
    std::int64_t i64() noexcept
    {
        const std::uint8_t *p = nullptr;
        return take(8, p) ? static_cast<std::int64_t>(littleEndian<std::uint64_t>(p)) : 0;
    }
    std::string string();
    // The same string, pointing into the reader's bytes instead of copied out of them; valid as
    // long as they are.
    std::string_view stringView();

    bool ok() const noexcept { return m_ok; }
    bool atEnd() const noexcept { return m_pos == m_data.size(); }
    std::size_t remaining() const noexcept { return m_data.size() - m_pos; }
    // For decoders that know better than the bytes (a count that cannot fit, trailing garbage).
    void fail() noexcept { m_ok = false; }
    // ok() and nothing left over: what every complete message must satisfy.
    bool finished() const noexcept { return m_ok && atEnd(); }

private:
    bool take(std::size_t count, const std::uint8_t *&out) noexcept
    {
        if (!m_ok || count > remaining()) {
            m_ok = false;
            return false;
        }
        out = m_data.data() + m_pos;
        m_pos += count;
        return true;
    }
    template <class Unsigned> static Unsigned littleEndian(const std::uint8_t *p) noexcept
    {
        Unsigned value = 0;
        for (std::size_t i = sizeof(Unsigned); i-- > 0;)
            value = static_cast<Unsigned>(value << 8) | p[i];
        return value;
    }

    ByteView m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// Prefixes a payload with its length. Returns an empty vector when the payload is over the limit.
Bytes frame(ByteView payload);

// Cuts complete frames out of a byte stream that arrives in arbitrary pieces.
class FrameSplitter
{
public:
    explicit FrameSplitter(std::uint32_t maxFrameLength = kMaxFrameLength) noexcept : m_maxFrameLength(maxFrameLength)
    {
    }

    void append(ByteView data);
    // The next complete payload, or nothing when more bytes are needed or the stream failed.
    std::optional<Bytes> next();
    // A frame announced more than the limit: the stream cannot be trusted any more.
    bool failed() const noexcept { return m_failed; }
    std::size_t buffered() const noexcept { return m_buffer.size() - m_start; }

private:
    Bytes m_buffer;
    std::size_t m_start = 0;
    std::uint32_t m_maxFrameLength;
    bool m_failed = false;
};

// ---- requests -----------------------------------------------------------------------------------

struct Request
{
    Op op = Op::Hello;
    std::string path;                // Open
    std::string password;            // Open
    std::string table;               // Fields, Description, ColumnDescriptions
    std::string column;              // Description
    std::vector<std::string> tables; // Describe, Structure
};

Bytes encodeOpen(std::string_view path, std::string_view password);
Bytes encodeTables();
Bytes encodeFields(std::string_view tableName);
Bytes encodeDescription(std::string_view tableName, std::string_view columnName);
Bytes encodeClose();
Bytes encodeHello();
Bytes encodeColumnDescriptions(std::string_view tableName);
Bytes encodeDescribe(const std::vector<std::string> &tableNames);
Bytes encodeStructure(const std::vector<std::string> &tableNames);
Bytes encodeFileDigest();

enum class RequestProblem { None, Empty, UnknownOp, Malformed };

// Decodes a whole request payload; nothing when it is malformed (problem tells why).
std::optional<Request> decodeRequest(ByteView payload, RequestProblem *problem = nullptr);

// ---- responses ----------------------------------------------------------------------------------

struct EngineError
{
    std::int32_t number = 0;
    std::string description;
};

struct TableRow
{
    std::string name;
    std::string type; // TABLE, SYSTEM TABLE, ACCESS TABLE, LINK, PASS-THROUGH, VIEW
};

struct FieldInfo
{
    std::string name;
    std::int32_t adoType = 0;
    std::int64_t definedSize = 0;
    std::int32_t attributes = 0; // ADO's field attributes (adFldFixed, adFldLong, ...), since version 4
};

struct FieldsResult
{
    std::vector<FieldInfo> fields;
    std::int64_t recordCount = 0;
};

struct DescriptionResult
{
    bool present = false;
    std::string value; // empty when absent
};

// The Description of every column of a table at once, in the order of its fields.
struct ColumnDescription
{
    std::string column;
    bool present = false;
    std::string value; // empty when absent
};

Bytes encodeOk(); // the whole answer to Open and Close
Bytes encodeError(std::int32_t number, std::string_view description);
Bytes encodeProgress();
Bytes encodeHelloResult(std::uint32_t version = kProtocolVersion);
// The rows read of the catalogue and, since version 5, when it could not be read to its end, why
// (a whole catalogue leaves it empty, and is answered as before).
Bytes encodeTablesResult(const std::vector<TableRow> &rows, std::string_view incomplete = {});
Bytes encodeFieldsResult(const FieldsResult &result);
Bytes encodeDescriptionResult(const DescriptionResult &result);
// The columns' descriptions and, since version 4, the table's own.
Bytes encodeColumnDescriptionsResult(const std::vector<ColumnDescription> &columns,
                                     const DescriptionResult &tableDescription = {});

// The answer to FileDigest: the SHA-256 of the file.
inline constexpr std::size_t kDigestLength = 32;
using Sha256Digest = std::array<std::uint8_t, kDigestLength>;
Bytes encodeFileDigestResult(const Sha256Digest &digest);

// The first step of reading any answer. For Error the error is decoded; for Ok the body is left
// in the returned reader for the operation's decoder below; Progress must have no body.
// The body reader points into the payload, which must outlive it.
struct Response
{
    Status status = Status::Ok;
    EngineError error;
    Reader body;
};
std::optional<Response> decodeResponse(ByteView payload);

// Decoders of Ok bodies. Each consumes the reader completely and fails on leftovers.
bool decodeEmptyResult(Reader &body); // Open, Close
std::optional<std::uint32_t> decodeHelloResult(Reader &body);
// incomplete, when given, receives why the catalogue could not be read to its end (empty when it
// was read whole).
std::optional<std::vector<TableRow>> decodeTablesResult(Reader &body, std::string *incomplete = nullptr);
std::optional<FieldsResult> decodeFieldsResult(Reader &body);
std::optional<DescriptionResult> decodeDescriptionResult(Reader &body);
std::optional<std::vector<ColumnDescription>>
decodeColumnDescriptionsResult(Reader &body, DescriptionResult *tableDescription = nullptr);
std::optional<Sha256Digest> decodeFileDigestResult(Reader &body);

// ---- the streamed answer to Describe --------------------------------------------------------------
//
// Describe asks for what a report needs of each named table, in the order named: two records per
// table, first its fields (the answer Fields would give, or the error it would give: names, types,
// sizes, attributes and the record count), then its column descriptions and its own (likewise for
// ColumnDescriptions). The records come in Part frames, as many
// at a time as were read since the last one, and the final Ok answer gives the number of records
// sent. A final Error instead means the work stopped at the first record not sent.
//
//   record = u8 kind, string tableName, then
//              Fields:             the body of the Fields answer
//              Descriptions:       the body of the ColumnDescriptions answer
//              FieldsFailed,
//              DescriptionsFailed: i32 number, string description

enum class RecordKind : std::uint8_t {
    Fields = 1,
    Descriptions = 2,
    FieldsFailed = 3,
    DescriptionsFailed = 4,
};

struct DescribeRecord
{
    RecordKind kind = RecordKind::Fields;
    std::string table;
    FieldsResult fields;                    // Fields
    std::vector<ColumnDescription> columns; // Descriptions
    DescriptionResult tableDescription;     // Descriptions
    EngineError error;                      // FieldsFailed, DescriptionsFailed
};

// Starts a Part payload in the writer: the records are appended to it, and finishPart() puts
// their number in.
void startPart(Writer &part);
void finishPart(Writer &part, std::uint32_t recordCount) noexcept;
// Appends records to a writer that collects them for the next part.
void appendFieldsRecord(Writer &records, std::string_view table, const FieldsResult &fields);
// The same records from what the reader keeps, without copying it first: field(i) and column(i)
// give the i-th entry.
struct FieldView
{
    std::string_view name;
    std::int32_t adoType = 0;
    std::int64_t definedSize = 0;
    std::int32_t attributes = 0;
};
struct ColumnView
{
    std::string_view column;
    const std::string *value = nullptr; // null when absent
};
template <class Field>
void appendFieldsRecordOf(Writer &records, std::string_view table, std::size_t count, Field &&field,
                          std::int64_t recordCount)
{
    records.u8(static_cast<std::uint8_t>(RecordKind::Fields)).string(table).u32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const FieldView view = field(i);
        records.string(view.name).i32(view.adoType).i64(view.definedSize).i32(view.attributes);
    }
    records.i64(recordCount);
}
template <class Column>
void appendDescriptionsRecordOf(Writer &records, std::string_view table, std::size_t count, Column &&column,
                                const std::string *tableDescription)
{
    records.u8(static_cast<std::uint8_t>(RecordKind::Descriptions))
        .string(table)
        .u32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const ColumnView view = column(i);
        records.string(view.column)
            .u8(view.value ? 1 : 0)
            .string(view.value ? std::string_view(*view.value) : std::string_view());
    }
    records.u8(tableDescription ? 1 : 0)
        .string(tableDescription ? std::string_view(*tableDescription) : std::string_view());
}
void appendDescriptionsRecord(Writer &records, std::string_view table, const std::vector<ColumnDescription> &columns,
                              const DescriptionResult &tableDescription = {});
void appendFailedRecord(Writer &records, RecordKind kind, std::string_view table, std::int32_t number,
                        std::string_view description);
// One Part frame's payload from the collected record bytes; empty when they cannot be sent.
Bytes encodePart(std::uint32_t recordCount, ByteView records);
// The final answer to Describe.
Bytes encodeDescribeEnd(std::uint32_t recordCount);

// Decoders of the body of a Part and of the final Ok answer to Describe.
std::optional<std::vector<DescribeRecord>> decodePart(Reader &body);
// The records of a Part with their texts pointing into the body's bytes, for a reader that makes
// them into texts of its own at once; the same checks as decodePart.
struct ColumnTextView
{
    std::string_view column;
    bool present = false;
    std::string_view value; // empty when absent
};
struct DescribeRecordView
{
    RecordKind kind = RecordKind::Fields;
    std::string_view table;
    std::vector<FieldView> fields;       // Fields
    std::int64_t recordCount = 0;        // Fields
    std::vector<ColumnTextView> columns; // Descriptions
    ColumnTextView tableDescription;     // Descriptions: the table's own (no column name)
    std::int32_t errorNumber = 0;        // FieldsFailed, DescriptionsFailed
    std::string_view errorDescription;   // FieldsFailed, DescriptionsFailed
};
std::optional<std::vector<DescribeRecordView>> decodePartViews(Reader &body);
std::optional<std::uint32_t> decodeDescribeEnd(Reader &body);

} // namespace EngineProtocol
