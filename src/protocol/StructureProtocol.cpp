#include "protocol/StructureProtocol.h"

#include <type_traits>

namespace EngineProtocol {

namespace {

constexpr std::uint32_t kRelEnforced = 1, kRelCascadeUpdates = 2, kRelCascadeDeletes = 4, kRelCascadeNull = 8,
                        kRelOneToOne = 16;
constexpr std::uint8_t kIdxPrimary = 1, kIdxUnique = 2, kIdxIgnoreNulls = 4, kIdxRequired = 8, kIdxForeignKey = 16;

void strings(Writer &out, const std::vector<std::string> &items)
{
    out.u32(static_cast<std::uint32_t>(items.size()));
    for (const std::string &item : items)
        out.string(item);
}

void properties(Writer &out, const std::vector<Property> &items)
{
    out.u32(static_cast<std::uint32_t>(items.size()));
    for (const Property &p : items)
        out.string(p.name).string(p.text);
}

template <class T> void optional(Writer &out, const std::optional<T> &value)
{
    out.u8(value ? 1 : 0);
    if (value) {
        if constexpr (std::is_same_v<T, std::string>)
            out.string(*value);
        else
            out.i32(*value);
    }
}

// A count read from the bytes, bounded by what can follow: every item takes at least minBytes.
std::optional<std::uint32_t> count(Reader &in, std::size_t minBytes)
{
    const std::uint32_t n = in.u32();
    if (!in.ok() || n > in.remaining() / minBytes) {
        in.fail();
        return std::nullopt;
    }
    return n;
}

bool flag(Reader &in)
{
    const std::uint8_t value = in.u8();
    if (value > 1)
        in.fail();
    return value == 1;
}

std::vector<std::string> readStrings(Reader &in)
{
    std::vector<std::string> items;
    const auto n = count(in, 4);
    items.reserve(n.value_or(0));
    for (std::uint32_t i = 0; n && i < *n && in.ok(); ++i)
        items.push_back(in.string());
    return items;
}

std::vector<Property> readProperties(Reader &in)
{
    std::vector<Property> items;
    const auto n = count(in, 8);
    items.reserve(n.value_or(0));
    for (std::uint32_t i = 0; n && i < *n && in.ok(); ++i) {
        Property p;
        p.name = in.string();
        p.text = in.string();
        items.push_back(std::move(p));
    }
    return items;
}

std::optional<std::string> readOptionalString(Reader &in)
{
    return flag(in) ? std::optional<std::string>(in.string()) : std::nullopt;
}

std::optional<std::int32_t> readOptionalNumber(Reader &in)
{
    return flag(in) ? std::optional<std::int32_t>(in.i32()) : std::nullopt;
}

StructureDatabase readDatabase(Reader &in)
{
    StructureDatabase d;
    d.version = in.u8();
    d.accessVersion = in.string();
    d.encrypted = flag(in);
    d.databasePassword = flag(in);
    return d;
}

StructureField readField(Reader &in)
{
    StructureField f;
    f.name = in.string();
    f.adoType = in.i32();
    f.definedSize = in.i64();
    f.accessType = in.string();
    f.fieldSize = readOptionalString(in);
    f.precision = readOptionalNumber(in);
    f.scale = readOptionalNumber(in);
    f.multiValued = flag(in);
    f.properties = readProperties(in);
    f.note = in.string();
    return f;
}

StructureIndex readIndex(Reader &in)
{
    StructureIndex index;
    index.name = in.string();
    const auto fields = count(in, 5);
    index.fields.reserve(fields.value_or(0));
    for (std::uint32_t j = 0; fields && j < *fields && in.ok(); ++j) {
        std::string name = in.string();
        index.fields.emplace_back(std::move(name), flag(in));
    }
    const std::uint8_t flags = in.u8();
    if (flags > 31)
        in.fail();
    index.primary = flags & kIdxPrimary;
    index.unique = flags & kIdxUnique;
    index.ignoreNulls = flags & kIdxIgnoreNulls;
    index.required = flags & kIdxRequired;
    index.foreignKey = flags & kIdxForeignKey;
    index.note = in.string();
    return index;
}

StructureTable readTable(Reader &in)
{
    StructureTable t;
    t.name = in.string();
    const bool counted = flag(in);
    const std::int64_t records = in.i64();
    if (counted)
        t.records = records;
    t.properties = readProperties(in);
    t.definitionRead = flag(in);
    // A field takes at least 4+4+8+4+1+1+1+1+4+4 bytes.
    const auto fieldCount = count(in, 32);
    // Made in place: a field moved when the list grows costs as much as reading it.
    t.fields.reserve(fieldCount.value_or(0));
    for (std::uint32_t i = 0; fieldCount && i < *fieldCount && in.ok(); ++i)
        t.fields.push_back(readField(in));
    const auto indexCount = count(in, 13);
    t.indexes.reserve(indexCount.value_or(0));
    for (std::uint32_t i = 0; indexCount && i < *indexCount && in.ok(); ++i)
        t.indexes.push_back(readIndex(in));
    t.note = in.string();
    // What was not read cannot have parts.
    if (!t.definitionRead && (!t.fields.empty() || !t.indexes.empty()))
        in.fail();
    return t;
}

StructureRelationship readRelationship(Reader &in)
{
    StructureRelationship r;
    r.name = in.string();
    r.primaryTable = in.string();
    r.primaryFields = readStrings(in);
    r.foreignTable = in.string();
    r.foreignFields = readStrings(in);
    const std::uint32_t flags = in.u32();
    if (flags > 31)
        in.fail();
    r.enforced = flags & kRelEnforced;
    r.cascadeUpdates = flags & kRelCascadeUpdates;
    r.cascadeDeletes = flags & kRelCascadeDeletes;
    r.cascadeNull = flags & kRelCascadeNull;
    r.oneToOne = flags & kRelOneToOne;
    r.join = in.string();
    r.note = in.string();
    if (r.join != "inner" && r.join != "left" && r.join != "right")
        in.fail();
    return r;
}

StructureQuery readQuery(Reader &in)
{
    StructureQuery q;
    q.name = in.string();
    q.type = in.string();
    q.sql = in.string();
    q.note = in.string();
    return q;
}

StructureLink readLink(Reader &in)
{
    StructureLink l;
    l.name = in.string();
    l.target = in.string();
    l.database = in.string();
    l.connection = in.string();
    l.note = in.string();
    return l;
}

} // namespace

void appendStructureRecord(Writer &out, const StructureRecord &record)
{
    out.u8(static_cast<std::uint8_t>(record.kind));
    switch (record.kind) {
    case StructureKind::Database: {
        const StructureDatabase &d = record.database;
        out.u8(d.version).string(d.accessVersion).u8(d.encrypted ? 1 : 0).u8(d.databasePassword ? 1 : 0);
        break;
    }
    case StructureKind::Table: {
        const StructureTable &t = record.table;
        out.string(t.name).u8(t.records ? 1 : 0).i64(t.records.value_or(0));
        properties(out, t.properties);
        out.u8(t.definitionRead ? 1 : 0);
        out.u32(static_cast<std::uint32_t>(t.fields.size()));
        for (const StructureField &f : t.fields) {
            out.string(f.name).i32(f.adoType).i64(f.definedSize).string(f.accessType);
            optional(out, f.fieldSize);
            optional(out, f.precision);
            optional(out, f.scale);
            out.u8(f.multiValued ? 1 : 0);
            properties(out, f.properties);
            out.string(f.note);
        }
        out.u32(static_cast<std::uint32_t>(t.indexes.size()));
        for (const StructureIndex &i : t.indexes) {
            out.string(i.name).u32(static_cast<std::uint32_t>(i.fields.size()));
            for (const auto &[name, descending] : i.fields)
                out.string(name).u8(descending ? 1 : 0);
            out.u8(static_cast<std::uint8_t>((i.primary ? kIdxPrimary : 0) | (i.unique ? kIdxUnique : 0) |
                                             (i.ignoreNulls ? kIdxIgnoreNulls : 0) | (i.required ? kIdxRequired : 0) |
                                             (i.foreignKey ? kIdxForeignKey : 0)));
            out.string(i.note);
        }
        out.string(t.note);
        break;
    }
    case StructureKind::Relationship: {
        const StructureRelationship &r = record.relationship;
        out.string(r.name).string(r.primaryTable);
        strings(out, r.primaryFields);
        out.string(r.foreignTable);
        strings(out, r.foreignFields);
        out.u32((r.enforced ? kRelEnforced : 0) | (r.cascadeUpdates ? kRelCascadeUpdates : 0) |
                (r.cascadeDeletes ? kRelCascadeDeletes : 0) | (r.cascadeNull ? kRelCascadeNull : 0) |
                (r.oneToOne ? kRelOneToOne : 0));
        out.string(r.join).string(r.note);
        break;
    }
    case StructureKind::Query:
        out.string(record.query.name).string(record.query.type).string(record.query.sql).string(record.query.note);
        break;
    case StructureKind::Link:
        out.string(record.link.name)
            .string(record.link.target)
            .string(record.link.database)
            .string(record.link.connection)
            .string(record.link.note);
        break;
    case StructureKind::Note:
        out.string(record.note);
        break;
    }
}

std::optional<StructureRecord> readStructureRecord(Reader &in)
{
    StructureRecord record;
    const std::uint8_t kind = in.u8();
    if (!in.ok() || kind < 1 || kind > 6) {
        in.fail();
        return std::nullopt;
    }
    record.kind = static_cast<StructureKind>(kind);
    switch (record.kind) {
    case StructureKind::Database:
        record.database = readDatabase(in);
        break;
    case StructureKind::Table:
        record.table = readTable(in);
        break;
    case StructureKind::Relationship:
        record.relationship = readRelationship(in);
        break;
    case StructureKind::Query:
        record.query = readQuery(in);
        break;
    case StructureKind::Link:
        record.link = readLink(in);
        break;
    case StructureKind::Note:
        record.note = in.string();
        break;
    }
    if (!in.ok())
        return std::nullopt;
    return record;
}

std::optional<std::vector<StructureRecord>> decodeStructurePart(Reader &body)
{
    const std::uint32_t count = body.u32();
    // A record takes at least its kind and one string's length.
    if (!body.ok() || count > body.remaining() / 5)
        return std::nullopt;
    std::vector<StructureRecord> records;
    records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto record = readStructureRecord(body);
        if (!record)
            return std::nullopt;
        records.push_back(std::move(*record));
    }
    if (!body.finished())
        return std::nullopt;
    return records;
}

} // namespace EngineProtocol
