#include "engine/Worker.h"

#include "engine/CrashGuard.h"
#include "engine/EngineErrors.h"

#include <new>

namespace Engine {

namespace {

constexpr std::string_view kMalformedRequest = "The database engine received a request it does not understand.";

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
        const std::string &path = request.op == Op::Open ? request.path : m_database.path();
        // Prepared once per path: the parent may send thousands of small requests.
        if (!m_crashAnswerPath || *m_crashAnswerPath != path) {
            CrashGuard::prepare(Errors::kUnrecognizedFormat, Errors::engineFailed(path, m_memoryLimitMb).what());
            m_crashAnswerPath = path;
        }

        switch (request.op) {
        case Op::Hello:
            return EngineProtocol::encodeHelloResult();
        case Op::Open:
            m_database.open(request.path, request.password);
            return EngineProtocol::encodeOk();
        case Op::Tables:
            return EngineProtocol::encodeTablesResult(m_database.tables());
        case Op::Fields:
            return EngineProtocol::encodeFieldsResult(
                m_database.fields(request.table, [this] { m_channel.heartbeat(); }));
        case Op::Description:
            return EngineProtocol::encodeDescriptionResult(m_database.description(request.table, request.column));
        case Op::ColumnDescriptions:
            return EngineProtocol::encodeColumnDescriptionsResult(m_database.columnDescriptions(request.table));
        case Op::Close:
            m_closing = true;
            return EngineProtocol::encodeOk();
        }
        return EngineProtocol::encodeError(0, kMalformedRequest);
    } catch (const EngineFailure &failure) {
        return EngineProtocol::encodeError(failure.number(), failure.what());
    } catch (const std::bad_alloc &) {
        return EngineProtocol::encodeError(Errors::kOutOfMemory,
                                           Errors::outOfMemory(m_database.path(), m_memoryLimitMb).what());
    } catch (const std::exception &other) {
        return EngineProtocol::encodeError(0, other.what());
    }
}

} // namespace Engine
