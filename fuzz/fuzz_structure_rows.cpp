// The rows of MSysQueries and MSysRelationships, turned into SQL and relationships in-process:
// whatever the rows say (unknown attributes and kinds, joins naming tables that are not there,
// parts of a union missing, pairs of fields at impossible positions), the readers end with a
// result and a note, never a failure or a read outside what they were given.
//
// Input: one byte choosing the reader (bit 0 clear: queries, set: relationships), for queries an
// int32 of catalogue flags, then rows: a byte of which values are present, the numbers as int32,
// the texts as a length byte and that many bytes.

#include "engine/QueryText.h"
#include "engine/Relationships.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

class Input
{
public:
    explicit Input(std::span<const std::uint8_t> data) : m_data(data) {}
    bool empty() const { return m_pos >= m_data.size(); }
    std::uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    std::int32_t number()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= std::uint32_t(byte()) << (8 * i);
        return static_cast<std::int32_t>(value);
    }
    std::string text()
    {
        // The length byte is read first: it moves the position that the rest is counted from.
        const std::size_t wanted = byte();
        const std::size_t length = std::min(wanted, m_data.size() - std::min(m_pos, m_data.size()));
        std::string out(reinterpret_cast<const char *>(m_data.data() + m_pos), length);
        m_pos += length;
        return out;
    }
    template <class T> std::optional<T> maybe(std::uint8_t present, int bit, T value)
    {
        return (present >> bit) & 1 ? std::optional<T>(std::move(value)) : std::nullopt;
    }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(std::span(data, size));
    const bool relationships = in.byte() & 1;
    if (!relationships) {
        const std::int32_t flags = in.number();
        std::vector<Engine::QueryRow> rows;
        while (!in.empty() && rows.size() < 256) {
            const std::uint8_t present = in.byte();
            Engine::QueryRow row;
            row.attribute = in.byte();
            row.flag = in.maybe(present, 0, in.number());
            row.extra = in.maybe(present, 1, in.number());
            row.expression = in.maybe(present, 2, in.text());
            row.name1 = in.maybe(present, 3, in.text());
            row.name2 = in.maybe(present, 4, in.text());
            rows.push_back(std::move(row));
        }
        const Engine::QueryText query = Engine::rebuildQuery(flags, rows);
        if (query.type.empty() || (query.type == "unknown" && !query.sql.empty()))
            __builtin_trap();
        return 0;
    }
    std::vector<Engine::RelationshipRow> rows;
    std::vector<std::string> tables;
    while (!in.empty() && rows.size() < 256) {
        const std::uint8_t present = in.byte();
        Engine::RelationshipRow row;
        row.columnCount = in.maybe(present, 0, in.number());
        row.flags = in.maybe(present, 1, in.number());
        row.position = in.maybe(present, 2, in.number());
        row.foreignColumn = in.maybe(present, 3, in.text());
        row.foreignTable = in.maybe(present, 4, in.text());
        row.primaryColumn = in.maybe(present, 5, in.text());
        row.primaryTable = in.maybe(present, 6, in.text());
        row.name = in.maybe(present, 7, in.text());
        if (row.primaryTable && (present & 0x81) == 0x81)
            tables.push_back(*row.primaryTable);
        rows.push_back(std::move(row));
    }
    for (const Engine::Relationship &r : Engine::readRelationships(rows, tables)) {
        if (r.primaryFields.size() != r.foreignFields.size() || r.primaryFields.size() > 32)
            __builtin_trap();
        if (r.join != "inner" && r.join != "left" && r.join != "right")
            __builtin_trap();
    }
    return 0;
}
