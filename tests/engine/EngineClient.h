#pragma once

// Drives the real strudex-engine binary over its pipes with the shared protocol code, the way
// the program does, but synchronously: an answer (or at least a heartbeat) must come within the
// time-out, else the worker is killed and the reply says so.

#include "protocol/EngineProtocol.h"

#include <QProcess>
#include <QStringList>

class EngineClient
{
public:
    explicit EngineClient(const QStringList &arguments = {});
    ~EngineClient();

    static QString program();

    struct Reply
    {
        enum Kind { Ok, Error, Malformed, TimedOut, Died } kind = Died;
        EngineProtocol::EngineError error;
        EngineProtocol::Bytes body; // of an Ok answer
        int progressFrames = 0;
    };

    Reply request(const EngineProtocol::Bytes &payload, int silenceTimeoutMs = 15000);
    Reply requestRaw(const QByteArray &bytes, int silenceTimeoutMs = 15000);
    // Decodes the body of an Ok reply with one of the protocol's decoders.
    template <typename Decode>
    static auto decoded(const Reply &reply, Decode decode) -> decltype(decode(std::declval<EngineProtocol::Reader &>()))
    {
        EngineProtocol::Reader body(reply.body);
        if (reply.kind != Reply::Ok)
            return {};
        return decode(body);
    }

    Reply open(const QString &path, const QString &password = {});
    // incomplete, when given, receives why the catalogue could not be read to its end (empty when whole).
    std::optional<std::vector<EngineProtocol::TableRow>> tables(std::string *incomplete = nullptr);
    std::optional<EngineProtocol::FieldsResult> fields(const QString &table, Reply *reply = nullptr);
    std::optional<EngineProtocol::DescriptionResult> description(const QString &table, const QString &column,
                                                                 Reply *reply = nullptr);
    std::optional<std::vector<EngineProtocol::ColumnDescription>>
    columnDescriptions(const QString &table, Reply *reply = nullptr,
                       EngineProtocol::DescriptionResult *tableDescription = nullptr);
    // Close, then the exit code (-1 when the worker crashed or had to be killed).
    int close();
    int finish(int timeoutMs = 10000); // without Close: end of input
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    EngineProtocol::FrameSplitter m_splitter;
};
