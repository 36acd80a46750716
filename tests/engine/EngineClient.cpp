#include "EngineClient.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>

using namespace EngineProtocol;

EngineClient::EngineClient(const QStringList &arguments)
{
    // libmdb's chatter goes to standard error; a full pipe nobody reads must not stall the worker.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(program(), arguments);
    m_process.waitForStarted(10000);
}

EngineClient::~EngineClient()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString EngineClient::program()
{
    return QDir(TestSupport::binDir()).filePath(QStringLiteral("strudex-engine"));
}

EngineClient::Reply EngineClient::request(const Bytes &payload, int silenceTimeoutMs)
{
    const Bytes framed = frame(payload);
    return requestRaw(QByteArray(reinterpret_cast<const char *>(framed.data()), qsizetype(framed.size())),
                      silenceTimeoutMs);
}

EngineClient::Reply EngineClient::requestRaw(const QByteArray &bytes, int silenceTimeoutMs)
{
    if (m_process.state() == QProcess::Running) {
        m_process.write(bytes);
        m_process.waitForBytesWritten(silenceTimeoutMs);
    }
    Reply reply;
    QElapsedTimer silence;
    silence.start();
    for (;;) {
        while (auto payload = m_splitter.next()) {
            silence.restart();
            const auto response = decodeResponse(*payload);
            if (!response) {
                reply.kind = Reply::Malformed;
                return reply;
            }
            if (response->status == Status::Progress) {
                ++reply.progressFrames;
                continue;
            }
            reply.kind = response->status == Status::Ok ? Reply::Ok : Reply::Error;
            reply.error = response->error;
            reply.body.assign(payload->begin() + 1, payload->end());
            return reply;
        }
        if (m_splitter.failed()) {
            reply.kind = Reply::Malformed;
            return reply;
        }
        const QByteArray available = m_process.readAllStandardOutput();
        if (!available.isEmpty()) {
            m_splitter.append(
                ByteView(reinterpret_cast<const std::uint8_t *>(available.constData()), std::size_t(available.size())));
            continue;
        }
        if (m_process.state() == QProcess::NotRunning) {
            reply.kind = Reply::Died;
            return reply;
        }
        if (silence.elapsed() > silenceTimeoutMs) {
            m_process.kill();
            m_process.waitForFinished(5000);
            reply.kind = Reply::TimedOut;
            return reply;
        }
        m_process.waitForReadyRead(100);
    }
}

EngineClient::Reply EngineClient::open(const QString &path, const QString &password)
{
    return request(encodeOpen(path.toStdString(), password.toStdString()));
}

std::optional<std::vector<TableRow>> EngineClient::tables(std::string *incomplete)
{
    return decoded(request(encodeTables()), [&](Reader &body) { return decodeTablesResult(body, incomplete); });
}

std::optional<FieldsResult> EngineClient::fields(const QString &table, Reply *reply)
{
    const Reply answer = request(encodeFields(table.toStdString()));
    if (reply)
        *reply = answer;
    return decoded(answer, decodeFieldsResult);
}

std::optional<DescriptionResult> EngineClient::description(const QString &table, const QString &column, Reply *reply)
{
    const Reply answer = request(encodeDescription(table.toStdString(), column.toStdString()));
    if (reply)
        *reply = answer;
    return decoded(answer, decodeDescriptionResult);
}

std::optional<std::vector<ColumnDescription>> EngineClient::columnDescriptions(const QString &table, Reply *reply,
                                                                               DescriptionResult *tableDescription)
{
    const Reply answer = request(encodeColumnDescriptions(table.toStdString()));
    if (reply)
        *reply = answer;
    return decoded(answer, [&](Reader &body) { return decodeColumnDescriptionsResult(body, tableDescription); });
}

int EngineClient::close()
{
    const Reply reply = request(encodeClose());
    if (!decoded(reply, [](Reader &body) { return std::optional<bool>(decodeEmptyResult(body)); }).value_or(false))
        return -2;
    return finish();
}

int EngineClient::finish(int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(5000);
            return -1;
        }
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
