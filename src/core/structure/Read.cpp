#include "core/structure/Read.h"

#include "core/Failure.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"
#include "core/structure/Assembly.h"
#include "protocol/StructureProtocol.h"

namespace Structure {

Document read(Ado::Connection &connection, const QStringList &tables)
{
    std::vector<std::string> names;
    for (const QString &table : tables)
        names.push_back(table.toStdString());
    QStringList order;
    for (const Ado::TableRow &row : connection.tables()) {
        if (row.type == QStringLiteral("TABLE"))
            order << row.name;
    }

    Ado::Worker &worker = connection.worker();
    const EngineProtocol::Bytes request = EngineProtocol::encodeStructure(names);
    if (request.empty())
        throw Failure(3265, QStringLiteral("Item cannot be found in the collection corresponding to the requested "
                                           "name or ordinal."));
    worker.send(request);
    // Each part is taken into the document as it comes, while the worker reads the next.
    Assembler assembler(connection.dataSource());
    std::size_t received = 0;
    for (;;) {
        const EngineProtocol::Bytes payload = worker.receive();
        auto response = EngineProtocol::decodeResponse(payload);
        if (!response)
            throw worker.broken();
        if (response->status == EngineProtocol::Status::Part) {
            // Read in place: each text is made into the program's once, straight from the frame.
            const auto part = EngineProtocol::decodeStructurePartViews(response->body);
            if (!part)
                throw worker.broken();
            for (const auto &record : *part)
                assembler.add(record);
            received += part->size();
            continue;
        }
        if (response->status == EngineProtocol::Status::Error)
            throw Failure(response->error.number, QString::fromUtf8(response->error.description));
        if (response->status != EngineProtocol::Status::Ok)
            throw worker.broken();
        const auto count = EngineProtocol::decodeDescribeEnd(response->body);
        if (!count || *count != received)
            throw worker.broken();
        break;
    }
    return assembler.finish(order);
}

} // namespace Structure
