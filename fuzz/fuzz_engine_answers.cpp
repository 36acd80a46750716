// A lying worker: whatever bytes come down the pipe, in whatever pieces, the program's reading of
// them ends in a decoded answer or a refusal, never a read outside the bytes or a huge allocation.

#include "protocol/EngineProtocol.h"

#include <cstddef>
#include <cstdint>

namespace P = EngineProtocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte decides how the stream is cut into the pieces the pipe delivers.
    const std::size_t piece = 1 + data[0] % 61;
    P::FrameSplitter splitter(1u << 16);
    for (std::size_t at = 1; at < size; at += piece) {
        splitter.append(P::ByteView(data + at, std::min(piece, size - at)));
        while (auto payload = splitter.next()) {
            auto response = P::decodeResponse(*payload);
            if (!response)
                continue;
            if (response->status == P::Status::Part) {
                // A part of the streamed answer to Describe.
                P::Reader part = response->body;
                P::decodePart(part);
                continue;
            }
            if (response->status != P::Status::Ok)
                continue;
            // The same body read as every answer the program may be waiting for.
            P::Reader copy = response->body;
            P::decodeEmptyResult(copy);
            copy = response->body;
            P::decodeHelloResult(copy);
            copy = response->body;
            P::decodeTablesResult(copy);
            copy = response->body;
            P::decodeFieldsResult(copy);
            copy = response->body;
            P::decodeDescriptionResult(copy);
            copy = response->body;
            P::decodeColumnDescriptionsResult(copy);
            copy = response->body;
            P::decodeDescribeEnd(copy);
        }
        if (splitter.failed())
            break;
    }
    // Requests too: the worker reads them from the program.
    P::decodeRequest(P::ByteView(data, size));
    return 0;
}
