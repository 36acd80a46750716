#include "engine/Worker.h"

#include "engine/CrashGuard.h"
#include "engine/EngineErrors.h"
#include "engine/crypto/FileDigest.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <optional>

namespace Engine {

namespace {

constexpr std::string_view kMalformedRequest = "The database engine received a request it does not understand.";

// A streamed answer goes out in parts: the first soon, so that the program can start on it while
// the rest is read; then parts of about an eighth of the whole answer (judged by the tables read
// so far), from 320 KB to one and a half megabytes. The program works on each part while the next
// is read, and is never left waiting long for one: parts that grow would keep it waiting for
// each, while a whole big database still takes ten frames or so. A slow read still sends what it
// has at every heartbeat interval.
constexpr std::chrono::milliseconds kFirstPartAfter{5};
constexpr std::size_t kFirstPart = 64u << 10;
constexpr std::size_t kSmallestPart = 320u << 10;
constexpr std::size_t kLargestPart = 1536u << 10;
constexpr std::size_t kPartsOfTheWhole = 8;

} // namespace

int Worker::run()
{
    for (;;) {
        EngineProtocol::Bytes payload;
        switch (m_channel.read(payload)) {
        case Channel::ReadResult::EndOfInput:
            return 0;
        case Channel::ReadResult::Broken:
            // Frame boundaries are lost: nothing after this can be trusted.
            m_channel.send(EngineProtocol::encodeError(0, kMalformedRequest));
            return kBrokenStreamExitCode;
        case Channel::ReadResult::Frame:
            break;
        }

        EngineProtocol::Bytes reply;
        const auto request = EngineProtocol::decodeRequest(payload);
        if (!request)
            reply = EngineProtocol::encodeError(0, kMalformedRequest);
        else if (request->op == EngineProtocol::Op::Describe)
            reply = describe(request->tables);
        else if (request->op == EngineProtocol::Op::Structure)
            reply = structure(request->tables);
        else
            reply = answer(*request);

        if (!m_channel.send(reply))
            return kParentGoneExitCode;
        if (m_closing)
            return 0;
    }
}

EngineProtocol::Bytes Worker::answer(const EngineProtocol::Request &request)
{
    using EngineProtocol::Op;
    try {
        // Whatever libmdb does from here on, the parent hears about the file in question.
        prepareCrashAnswer(request.op == Op::Open ? request.path : m_database.path());

        switch (request.op) {
        case Op::Hello:
            return EngineProtocol::encodeHelloResult();
        case Op::Open:
            m_database.open(request.path, request.password);
            return EngineProtocol::encodeOk();
        case Op::Tables:
            return EngineProtocol::encodeTablesResult(m_database.tables(), m_database.catalogueNote());
        case Op::Fields:
            return EngineProtocol::encodeFieldsResult(
                m_database.fields(request.table, [this] { m_channel.heartbeat(); }));
        case Op::Description:
            return EngineProtocol::encodeDescriptionResult(m_database.description(request.table, request.column));
        case Op::ColumnDescriptions: {
            EngineProtocol::DescriptionResult own;
            auto columns = m_database.columnDescriptions(request.table, own);
            return EngineProtocol::encodeColumnDescriptionsResult(columns, own);
        }
        case Op::FileDigest:
            if (!m_database.isOpen())
                throw Errors::objectClosed();
            // The file as stored, not the decrypted image libmdb reads: the same file gives the
            // same digest whoever opens it with whichever password.
            return EngineProtocol::encodeFileDigestResult(
                sha256OfFile(m_database.path(), [this] { m_channel.heartbeat(); }));
        case Op::Close:
            m_closing = true;
            return EngineProtocol::encodeOk();
        case Op::Describe:
        case Op::Structure:
            break; // answered in parts, by describe() and structure()
        }
        return EngineProtocol::encodeError(0, kMalformedRequest);
    } catch (...) {
        const EngineProtocol::EngineError error = errorOf(std::current_exception());
        return EngineProtocol::encodeError(error.number, error.description);
    }
}

void Worker::prepareCrashAnswer(const std::string &path)
{
    // Prepared once per path: the parent may send thousands of small requests.
    if (!m_crashAnswerPath || *m_crashAnswerPath != path) {
        CrashGuard::prepare(Errors::kUnrecognizedFormat, Errors::engineFailed(path, m_memoryLimitMb).what());
        m_crashAnswerPath = path;
    }
}

EngineProtocol::EngineError Worker::errorOf(std::exception_ptr failure) const
{
    try {
        std::rethrow_exception(failure);
    } catch (const EngineFailure &engine) {
        return {engine.number(), engine.what()};
    } catch (const std::bad_alloc &) {
        return {Errors::kOutOfMemory, Errors::outOfMemory(m_database.path(), m_memoryLimitMb).what()};
    } catch (const std::exception &other) {
        return {0, other.what()};
    } catch (...) {
        return {0, std::string(kMalformedRequest)};
    }
}

namespace {

// The Part frames of a streamed answer. Records are written straight into the next frame, whose
// memory serves every part; what is waiting goes out on flush(), or on alive() when the parent
// has heard nothing for a heartbeat interval (a heartbeat when nothing is waiting).
class PartStream
{
public:
    using Clock = std::chrono::steady_clock;

    explicit PartStream(Channel &channel) : m_channel(channel) { EngineProtocol::startPart(m_pending); }

    EngineProtocol::Writer &records() { return m_pending; }
    // Where the record about to be written starts; rollback() drops what was written of it.
    void mark() { m_mark = m_pending.bytes().size(); }
    void rollback() { m_pending.truncate(m_mark); }
    void recordWritten() { ++m_pendingRecords; }

    std::size_t waitingBytes() const { return m_pending.bytes().size(); }
    std::size_t bytesSent() const { return m_bytesSent; }
    std::uint32_t sent() const { return m_sent; }
    bool firstSent() const { return m_firstSent; }
    // Since the last sign of life of this answer (a part or a heartbeat).
    Clock::duration quiet() const { return Clock::now() - m_lastSign; }
    // The parent stopped reading, or a part could not be sent: nothing more goes out.
    bool stopped() const { return m_parentGone || m_unsendable; }
    bool unsendable() const { return m_unsendable; }

    void flush()
    {
        if (m_pendingRecords == 0 || m_unsendable)
            return;
        // Names and texts were made safe to send when they were read; a part that still cannot go
        // ends the answer with an error rather than half of it.
        if (!m_pending.valid() || m_pending.bytes().size() > EngineProtocol::kMaxFrameLength) {
            m_unsendable = true;
            return;
        }
        EngineProtocol::finishPart(m_pending, m_pendingRecords);
        if (!m_channel.send(m_pending.bytes()))
            m_parentGone = true;
        m_sent += m_pendingRecords;
        m_bytesSent += m_pending.bytes().size();
        m_pendingRecords = 0;
        EngineProtocol::startPart(m_pending);
        m_mark = m_pending.bytes().size();
        m_firstSent = true;
        m_lastSign = Clock::now();
    }

    void alive()
    {
        if (quiet() < m_channel.heartbeatInterval())
            return;
        if (m_pendingRecords > 0) {
            flush();
        } else {
            m_channel.send(EngineProtocol::encodeProgress());
            m_lastSign = Clock::now();
        }
    }

    // The final answer once the records are all written.
    EngineProtocol::Bytes end()
    {
        flush();
        if (m_unsendable)
            return EngineProtocol::encodeError(0, "The database engine produced an answer that cannot be sent.");
        return EngineProtocol::encodeDescribeEnd(m_sent);
    }

private:
    Channel &m_channel;
    EngineProtocol::Writer m_pending;
    std::uint32_t m_pendingRecords = 0;
    std::uint32_t m_sent = 0;
    std::size_t m_bytesSent = 0;
    std::size_t m_mark = 0;
    bool m_parentGone = false;
    bool m_unsendable = false;
    bool m_firstSent = false;
    Clock::time_point m_lastSign = Clock::now();
};

} // namespace

// Each table gets the two answers that Fields and ColumnDescriptions would give it, one after the
// other, exactly as if they had been asked one by one; a failure belongs to its record, and the
// next table is read all the same.
EngineProtocol::Bytes Worker::describe(const std::vector<std::string> &tables)
{
    using EngineProtocol::RecordKind;
    prepareCrashAnswer(m_database.path());
    if (!m_database.isOpen()) {
        const EngineProtocol::EngineError error = errorOf(std::make_exception_ptr(Errors::objectClosed()));
        return EngineProtocol::encodeError(error.number, error.description);
    }

    PartStream stream(m_channel);
    // During a long count the parent hears of progress: the records read so far, or a heartbeat.
    const auto alive = [&] { stream.alive(); };
    std::size_t tablesRead = 0;
    try {
        for (const std::string &table : tables) {
            const bool known = m_database.knows(table);
            // A record is written only once everything it says is known: a failure leaves no
            // half of it behind, and a heartbeat that sends what is waiting sends whole records.
            stream.mark();
            try {
                m_database.appendFieldsRecord(stream.records(), table, alive);
            } catch (...) {
                stream.rollback();
                const EngineProtocol::EngineError error = errorOf(std::current_exception());
                EngineProtocol::appendFailedRecord(stream.records(), RecordKind::FieldsFailed, table, error.number,
                                                   error.description);
            }
            stream.recordWritten();
            stream.mark();
            try {
                m_database.appendDescriptionsRecord(stream.records(), table);
            } catch (...) {
                stream.rollback();
                const EngineProtocol::EngineError error = errorOf(std::current_exception());
                EngineProtocol::appendFailedRecord(stream.records(), RecordKind::DescriptionsFailed, table,
                                                   error.number, error.description);
            }
            stream.recordWritten();
            // Each table is read once here, and the program keeps what it was told.
            if (!known)
                m_database.forget(table);

            const std::size_t size = stream.waitingBytes();
            ++tablesRead;
            const std::size_t perTable = (stream.bytesSent() + size) / tablesRead;
            const std::size_t partSize =
                std::clamp(perTable * tables.size() / kPartsOfTheWhole, kSmallestPart, kLargestPart);
            const auto quiet = stream.quiet();
            if (size >= partSize || quiet >= m_channel.heartbeatInterval() ||
                (!stream.firstSent() && (size >= kFirstPart || quiet >= kFirstPartAfter)))
                stream.flush();
            if (stream.stopped())
                break;
        }
        return stream.end();
    } catch (...) {
        const EngineProtocol::EngineError error = errorOf(std::current_exception());
        return EngineProtocol::encodeError(error.number, error.description);
    }
}

// The structure goes out record by record as it is read, in parts of about a megabyte, or sooner
// when the parent has heard nothing for a heartbeat interval.
EngineProtocol::Bytes Worker::structure(const std::vector<std::string> &tables)
{
    constexpr std::size_t kStructurePart = 1u << 20;
    prepareCrashAnswer(m_database.path());
    if (!m_database.isOpen()) {
        const EngineProtocol::EngineError error = errorOf(std::make_exception_ptr(Errors::objectClosed()));
        return EngineProtocol::encodeError(error.number, error.description);
    }
    PartStream stream(m_channel);
    try {
        m_database.structure(
            tables,
            [&](EngineProtocol::StructureRecord &&record) {
                if (stream.stopped())
                    return;
                EngineProtocol::appendStructureRecord(stream.records(), record);
                stream.recordWritten();
                if (stream.waitingBytes() >= kStructurePart)
                    stream.flush();
                else
                    stream.alive();
            },
            [&] { stream.alive(); });
        return stream.end();
    } catch (...) {
        const EngineProtocol::EngineError error = errorOf(std::current_exception());
        return EngineProtocol::encodeError(error.number, error.description);
    }
}

} // namespace Engine
