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

// A text read as the record's kind keeps it: copied, or as a view into the bytes.
template <class Text> Text readText(Reader &in)
{
    if constexpr (std::is_same_v<Text, std::string_view>)
        return in.stringView();
    else
        return in.string();
}

template <class Text> std::vector<Text> readStrings(Reader &in)
{
    std::vector<Text> items;
    const auto n = count(in, 4);
    items.reserve(n.value_or(0));
    for (std::uint32_t i = 0; n && i < *n && in.ok(); ++i)
        items.push_back(readText<Text>(in));
    return items;
}

template <class Text> std::vector<BasicProperty<Text>> readProperties(Reader &in)
{
    std::vector<BasicProperty<Text>> items;
    const auto n = count(in, 8);
    items.reserve(n.value_or(0));
    for (std::uint32_t i = 0; n && i < *n && in.ok(); ++i) {
        BasicProperty<Text> p;
        p.name = readText<Text>(in);
        p.text = readText<Text>(in);
        items.push_back(std::move(p));
    }
    return items;
}

template <class Text> std::optional<Text> readOptionalString(Reader &in)
{
    return flag(in) ? std::optional<Text>(readText<Text>(in)) : std::nullopt;
}

std::optional<std::int32_t> readOptionalNumber(Reader &in)
{
    return flag(in) ? std::optional<std::int32_t>(in.i32()) : std::nullopt;
}

template <class Text> BasicStructureDatabase<Text> readDatabase(Reader &in)
{
    BasicStructureDatabase<Text> d;
    d.version = in.u8();
    d.accessVersion = readText<Text>(in);
    d.encrypted = flag(in);
    d.databasePassword = flag(in);
    return d;
}

template <class Text> BasicStructureField<Text> readField(Reader &in)
{
    BasicStructureField<Text> f;
    f.name = readText<Text>(in);
    f.adoType = in.i32();
    f.definedSize = in.i64();
    f.accessType = readText<Text>(in);
    f.fieldSize = readOptionalString<Text>(in);
    f.precision = readOptionalNumber(in);
    f.scale = readOptionalNumber(in);
    f.multiValued = flag(in);
    f.properties = readProperties<Text>(in);
    f.note = readText<Text>(in);
    return f;
}

template <class Text> BasicStructureIndex<Text> readIndex(Reader &in)
{
    BasicStructureIndex<Text> index;
    index.name = readText<Text>(in);
    const auto fields = count(in, 5);
    index.fields.reserve(fields.value_or(0));
    for (std::uint32_t j = 0; fields && j < *fields && in.ok(); ++j) {
        Text name = readText<Text>(in);
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
    index.note = readText<Text>(in);
    return index;
}

template <class Text> BasicStructureTable<Text> readTable(Reader &in)
{
    BasicStructureTable<Text> t;
    t.name = readText<Text>(in);
    const bool counted = flag(in);
    const std::int64_t records = in.i64();
    if (counted)
        t.records = records;
    t.properties = readProperties<Text>(in);
    t.definitionRead = flag(in);
    // A field takes at least 4+4+8+4+1+1+1+1+4+4 bytes.
    const auto fieldCount = count(in, 32);
    // Made in place: a field moved when the list grows costs as much as reading it.
    t.fields.reserve(fieldCount.value_or(0));
    for (std::uint32_t i = 0; fieldCount && i < *fieldCount && in.ok(); ++i)
        t.fields.push_back(readField<Text>(in));
    const auto indexCount = count(in, 13);
    t.indexes.reserve(indexCount.value_or(0));
    for (std::uint32_t i = 0; indexCount && i < *indexCount && in.ok(); ++i)
        t.indexes.push_back(readIndex<Text>(in));
    t.note = readText<Text>(in);
    t.dataMacros = readProperties<Text>(in);
    // What was not read cannot have parts.
    if (!t.definitionRead && (!t.fields.empty() || !t.indexes.empty()))
        in.fail();
    return t;
}

template <class Text> BasicStructureRelationship<Text> readRelationship(Reader &in)
{
    BasicStructureRelationship<Text> r;
    r.name = readText<Text>(in);
    r.primaryTable = readText<Text>(in);
    r.primaryFields = readStrings<Text>(in);
    r.foreignTable = readText<Text>(in);
    r.foreignFields = readStrings<Text>(in);
    const std::uint32_t flags = in.u32();
    if (flags > 31)
        in.fail();
    r.enforced = flags & kRelEnforced;
    r.cascadeUpdates = flags & kRelCascadeUpdates;
    r.cascadeDeletes = flags & kRelCascadeDeletes;
    r.cascadeNull = flags & kRelCascadeNull;
    r.oneToOne = flags & kRelOneToOne;
    r.join = readText<Text>(in);
    r.note = readText<Text>(in);
    if (r.join != "inner" && r.join != "left" && r.join != "right")
        in.fail();
    return r;
}

template <class Text> BasicStructureQuery<Text> readQuery(Reader &in)
{
    BasicStructureQuery<Text> q;
    q.name = readText<Text>(in);
    q.type = readText<Text>(in);
    q.sql = readText<Text>(in);
    q.note = readText<Text>(in);
    return q;
}

template <class Text> BasicStructureLink<Text> readLink(Reader &in)
{
    BasicStructureLink<Text> l;
    l.name = readText<Text>(in);
    l.target = readText<Text>(in);
    l.database = readText<Text>(in);
    l.connection = readText<Text>(in);
    l.note = readText<Text>(in);
    return l;
}

template <class Text> BasicStructureObject<Text> readObject(Reader &in)
{
    BasicStructureObject<Text> o;
    const std::uint8_t type = in.u8();
    if (type < 1 || type > 4)
        in.fail();
    o.type = static_cast<ObjectType>(type);
    o.name = readText<Text>(in);
    o.created = readOptionalString<Text>(in);
    o.updated = readOptionalString<Text>(in);
    return o;
}

template <class Text> BasicStructureProject<Text> readProject(Reader &in)
{
    BasicStructureProject<Text> p;
    p.name = readText<Text>(in);
    p.codePage = in.u32();
    p.compiledOnly = flag(in);
    // A reference takes at least two string lengths and a flag.
    if (const auto n = count(in, 9))
        for (std::uint32_t i = 0; i < *n && in.ok(); ++i) {
            BasicStructureReference<Text> r;
            r.name = readText<Text>(in);
            r.libid = readText<Text>(in);
            r.project = flag(in);
            p.references.push_back(std::move(r));
        }
    return p;
}

template <class Text> BasicStructureModule<Text> readModule(Reader &in)
{
    BasicStructureModule<Text> m;
    m.name = readText<Text>(in);
    m.classModule = flag(in);
    m.source = readOptionalString<Text>(in);
    m.note = readText<Text>(in);
    return m;
}

template <class Text> BasicStructureMacro<Text> readMacro(Reader &in)
{
    BasicStructureMacro<Text> m;
    m.name = readText<Text>(in);
    m.definition = readOptionalString<Text>(in);
    m.note = readText<Text>(in);
    return m;
}

template <class Text> std::optional<BasicStructureRecord<Text>> readRecord(Reader &in)
{
    BasicStructureRecord<Text> record;
    const std::uint8_t kind = in.u8();
    if (!in.ok() || kind < 1 || kind > 10) {
        in.fail();
        return std::nullopt;
    }
    record.kind = static_cast<StructureKind>(kind);
    switch (record.kind) {
    case StructureKind::Database:
        record.database = readDatabase<Text>(in);
        break;
    case StructureKind::Table:
        record.table = readTable<Text>(in);
        break;
    case StructureKind::Relationship:
        record.relationship = readRelationship<Text>(in);
        break;
    case StructureKind::Query:
        record.query = readQuery<Text>(in);
        break;
    case StructureKind::Link:
        record.link = readLink<Text>(in);
        break;
    case StructureKind::Note:
        record.note = readText<Text>(in);
        break;
    case StructureKind::Object:
        record.object = readObject<Text>(in);
        break;
    case StructureKind::Project:
        record.project = readProject<Text>(in);
        break;
    case StructureKind::Module:
        record.module = readModule<Text>(in);
        break;
    case StructureKind::Macro:
        record.macro = readMacro<Text>(in);
        break;
    }
    if (!in.ok())
        return std::nullopt;
    return record;
}

template <class Text> std::optional<std::vector<BasicStructureRecord<Text>>> decodePart(Reader &body)
{
    const std::uint32_t count = body.u32();
    // A record takes at least its kind and one string's length.
    if (!body.ok() || count > body.remaining() / 5)
        return std::nullopt;
    std::vector<BasicStructureRecord<Text>> records;
    records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto record = readRecord<Text>(body);
        if (!record)
            return std::nullopt;
        records.push_back(std::move(*record));
    }
    if (!body.finished())
        return std::nullopt;
    return records;
}

} // namespace

namespace {

void appendTable(Writer &out, const StructureTable &t)
{
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
    properties(out, t.dataMacros);
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
    case StructureKind::Table:
        appendTable(out, record.table);
        break;
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
    case StructureKind::Object:
        out.u8(static_cast<std::uint8_t>(record.object.type)).string(record.object.name);
        optional(out, record.object.created);
        optional(out, record.object.updated);
        break;
    case StructureKind::Project:
        out.string(record.project.name).u32(record.project.codePage).u8(record.project.compiledOnly ? 1 : 0);
        out.u32(static_cast<std::uint32_t>(record.project.references.size()));
        for (const auto &r : record.project.references)
            out.string(r.name).string(r.libid).u8(r.project ? 1 : 0);
        break;
    case StructureKind::Module:
        out.string(record.module.name).u8(record.module.classModule ? 1 : 0);
        optional(out, record.module.source);
        out.string(record.module.note);
        break;
    case StructureKind::Macro:
        out.string(record.macro.name);
        optional(out, record.macro.definition);
        out.string(record.macro.note);
        break;
    }
}

std::optional<StructureRecord> readStructureRecord(Reader &in)
{
    return readRecord<std::string>(in);
}

std::optional<std::vector<StructureRecord>> decodeStructurePart(Reader &body)
{
    return decodePart<std::string>(body);
}

std::optional<std::vector<StructureRecordView>> decodeStructurePartViews(Reader &body)
{
    return decodePart<std::string_view>(body);
}

} // namespace EngineProtocol
