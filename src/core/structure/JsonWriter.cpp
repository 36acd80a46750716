#include "core/structure/JsonWriter.h"

#include "core/structure/TextSink.h"

#include <QCryptographicHash>
#include <QIODevice>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace Structure {

namespace {

// The most bytes a JSON string literal of a text of this many UTF-16 units can take.
constexpr qsizetype literalBound(qsizetype units)
{
    return 6 * units + 2;
}

// Writes a JSON string literal of the text in UTF-8 at `out`, which has room for literalBound()
// bytes, and returns where it ends.
char *writeLiteral(char *out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    const auto escape = [&](char16_t unit) {
        *out++ = '\\';
        *out++ = 'u';
        *out++ = hex[(unit >> 12) & 0xF];
        *out++ = hex[(unit >> 8) & 0xF];
        *out++ = hex[(unit >> 4) & 0xF];
        *out++ = hex[unit & 0xF];
    };
    *out++ = '"';
    const QChar *chars = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        // Four characters at a time while they are printable ASCII other than '"' and '\\', as
        // nearly all of a database's text is: each of the four UTF-16 units, read as one
        // little-endian word, must be below 0x80, at least 0x20, and neither of the two.
        if constexpr (std::endian::native == std::endian::little) {
            constexpr std::uint64_t ones = 0x0001000100010001u;
            constexpr std::uint64_t tops = 0x8000800080008000u;
            const auto hasZeroUnit = [](std::uint64_t w) { return ((w - ones) & ~w & tops) != 0; };
            while (i + 4 <= size) {
                std::uint64_t word;
                std::memcpy(&word, chars + i, 8);
                if ((word & 0xFF80FF80FF80FF80u) != 0 || ((word + 0x0060 * ones) & 0x0080 * ones) != 0x0080 * ones ||
                    hasZeroUnit(word ^ (0x22 * ones)) || hasZeroUnit(word ^ (0x5C * ones)))
                    break;
                word = (word | word >> 8) & 0x0000FFFF0000FFFFu;
                const auto packed = static_cast<std::uint32_t>(word | word >> 16);
                std::memcpy(out, &packed, 4);
                out += 4;
                i += 4;
            }
            if (i == size)
                break;
        }
        const char16_t unit = chars[i].unicode();
        if (unit >= 0x20 && unit < 0x80 && unit != u'"' && unit != u'\\') {
            *out++ = char(unit);
        } else if (unit == u'"' || unit == u'\\') {
            *out++ = '\\';
            *out++ = char(unit);
        } else if (unit == u'\n') {
            *out++ = '\\';
            *out++ = 'n';
        } else if (unit == u'\r') {
            *out++ = '\\';
            *out++ = 'r';
        } else if (unit == u'\t') {
            *out++ = '\\';
            *out++ = 't';
        } else if (unit < 0x20) {
            escape(unit);
        } else if (unit < 0x800) {
            *out++ = char(0xC0 | (unit >> 6));
            *out++ = char(0x80 | (unit & 0x3F));
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size && chars[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(unit, chars[i + 1].unicode());
            *out++ = char(0xF0 | (code >> 18));
            *out++ = char(0x80 | ((code >> 12) & 0x3F));
            *out++ = char(0x80 | ((code >> 6) & 0x3F));
            *out++ = char(0x80 | (code & 0x3F));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            // A lone half of a pair has no UTF-8 form: it stays an escape.
            escape(unit);
        } else {
            *out++ = char(0xE0 | (unit >> 12));
            *out++ = char(0x80 | ((unit >> 6) & 0x3F));
            *out++ = char(0x80 | (unit & 0x3F));
        }
    }
    *out++ = '"';
    return out;
}

// The document's bytes as they are made. Each writer first makes room for the most it can write
// and then writes without further checks: the document is millions of small pieces.
class Bytes
{
public:
    explicit Bytes(qsizetype capacity) : m_data(new char[std::size_t(capacity)]), m_capacity(capacity) {}

    const char *data() const { return m_data.get(); }
    qsizetype size() const { return m_end; }
    void clear() { m_end = 0; }
    void room(qsizetype bytes)
    {
        if (m_capacity - m_end < bytes)
            grow(bytes);
    }
    // These need room() first.
    void put(char c) { m_data[std::size_t(m_end++)] = c; }
    void put(const char *text, qsizetype size)
    {
        std::memcpy(m_data.get() + m_end, text, std::size_t(size));
        m_end += size;
    }
    void spaces(qsizetype count)
    {
        std::memset(m_data.get() + m_end, ' ', std::size_t(count));
        m_end += count;
    }
    void literal(const QString &text)
    {
        room(literalBound(text.size()));
        m_end = writeLiteral(m_data.get() + m_end, text) - m_data.get();
    }

private:
    void grow(qsizetype bytes)
    {
        const qsizetype capacity = std::max(2 * m_capacity, m_end + bytes);
        std::unique_ptr<char[]> data(new char[std::size_t(capacity)]);
        std::memcpy(data.get(), m_data.get(), std::size_t(m_end));
        m_data = std::move(data);
        m_capacity = capacity;
    }

    std::unique_ptr<char[]> m_data;
    qsizetype m_capacity;
    qsizetype m_end = 0;
};

// Writes one JSON value at a time, keeping the indentation and the commas. An object opened
// "on one line" keeps itself and everything in it on one line: a field or an index is one line
// of the document, which keeps a big database's JSON a third of the size and still easy to read
// and to compare line by line.
class JsonOut
{
public:
    // With a device, the text goes to it in pieces as flush() is called; without, it is kept whole.
    JsonOut(QIODevice *device, qsizetype wholeSize) : m_device(device), m_out(device ? kPiece + kPiece / 4 : wholeSize)
    {
    }
    QByteArray take()
    {
        m_out.room(1);
        m_out.put('\n');
        return QByteArray(m_out.data(), m_out.size());
    }
    // Sends what has gathered once it is a piece's worth; only between values.
    void flush(qsizetype atLeast = kPiece)
    {
        if (!m_device || m_out.size() < atLeast)
            return;
        // After a failed write the rest is dropped: the device keeps its first error.
        if (m_written)
            m_written = writeWhole(*m_device, m_out.data(), m_out.size());
        m_out.clear();
    }
    // Writes what is left; false when any piece could not be written.
    bool finish()
    {
        m_out.room(1);
        m_out.put('\n');
        flush(0);
        return m_written;
    }

    void beginObject(bool oneLine = false) { open('{', oneLine); }
    void endObject() { close('}'); }
    void beginArray() { open('[', false); }
    void endArray() { close(']'); }

    // The key of the next value in the current object.
    template <std::size_t N> void key(const char (&name)[N])
    {
        separate();
        m_out.room(N + 3);
        m_out.put('"');
        m_out.put(name, N - 1);
        m_out.put("\": ", 3);
        m_afterKey = true;
    }

    void value(const QString &text)
    {
        separate();
        m_out.literal(text);
    }
    void value(const std::optional<QString> &text) { text ? value(*text) : null(); }
    void value(bool flag) { flag ? scalar("true") : scalar("false"); }
    void value(const std::optional<bool> &flag) { flag ? value(*flag) : null(); }
    void value(qint64 number)
    {
        separate();
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        m_out.room(sizeof digits);
        m_out.put(digits, end - digits);
    }
    void value(int number) { value(qint64(number)); }
    void value(const std::optional<int> &number) { number ? value(*number) : null(); }
    void value(const std::optional<qint64> &number) { number ? value(*number) : null(); }
    void null() { scalar("null"); }
    // Writes the design alone: what the data, the file's place and the moments of change make
    // different between two copies of one design is left out.
    bool designOnly = false;
    // A moment of change, left out of the design.
    template <std::size_t N> void stamp(const char (&name)[N], const auto &content)
    {
        if (!designOnly)
            field(name, content);
    }
    // An empty note is no note.
    void note(const QString &text) { text.isEmpty() ? null() : value(text); }

    template <std::size_t N> void field(const char (&name)[N], const auto &content)
    {
        key(name);
        value(content);
    }

    void strings(const QStringList &texts)
    {
        beginArray();
        for (const QString &text : texts)
            value(text);
        endArray();
    }

    void properties(const Properties &properties)
    {
        beginObject(true);
        for (const auto &[name, text] : properties) {
            separate();
            m_out.literal(name);
            m_out.room(2);
            m_out.put(": ", 2);
            m_afterKey = true;
            value(text);
        }
        endObject();
    }

private:
    struct Level
    {
        bool empty = true;
        bool oneLine = false;
    };

    void separate()
    {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (m_levels.empty())
            return;
        Level &level = m_levels.back();
        const qsizetype indent = 2 * qsizetype(m_levels.size());
        m_out.room(3 + indent);
        if (!level.empty)
            level.oneLine ? m_out.put(", ", 2) : m_out.put(',');
        level.empty = false;
        if (!level.oneLine) {
            m_out.put('\n');
            m_out.spaces(indent);
        }
    }
    template <std::size_t N> void scalar(const char (&text)[N])
    {
        separate();
        m_out.room(N);
        m_out.put(text, N - 1);
    }
    void open(char bracket, bool oneLine)
    {
        separate();
        m_out.room(1);
        m_out.put(bracket);
        m_levels.push_back({true, oneLine || (!m_levels.empty() && m_levels.back().oneLine)});
    }
    void close(char bracket)
    {
        const Level level = m_levels.back();
        m_levels.pop_back();
        const qsizetype indent = 2 * qsizetype(m_levels.size());
        m_out.room(2 + indent);
        if (!level.empty && !level.oneLine) {
            m_out.put('\n');
            m_out.spaces(indent);
        }
        m_out.put(bracket);
    }

    static constexpr qsizetype kPiece = 1 << 18;

    QIODevice *m_device;
    Bytes m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
    bool m_written = true;
};

void writeLookup(JsonOut &out, const Rare<Lookup> &lookup)
{
    if (!lookup) {
        out.null();
        return;
    }
    out.beginObject();
    out.field("displayControl", lookup->displayControl);
    out.field("rowSourceType", lookup->rowSourceType);
    out.field("rowSource", lookup->rowSource);
    out.field("boundColumn", lookup->boundColumn);
    out.field("columnCount", lookup->columnCount);
    out.field("allowMultipleValues", lookup->allowMultipleValues);
    out.endObject();
}

void writeField(JsonOut &out, const Field &field)
{
    out.beginObject(true);
    out.field("name", field.name);
    out.field("type", field.type);
    out.field("adoType", field.adoType);
    out.field("size", field.size);
    out.field("accessType", field.accessType);
    out.field("fieldSize", field.fieldSize);
    out.field("precision", field.precision);
    out.field("scale", field.scale);
    out.field("description", field.description);
    out.field("required", field.required);
    out.field("allowZeroLength", field.allowZeroLength);
    out.field("defaultValue", field.defaultValue);
    out.field("validationRule", field.validationRule);
    out.field("validationText", field.validationText);
    out.field("multiValued", field.multiValued);
    out.key("lookup");
    writeLookup(out, field.lookup);
    out.field("expression", field.expression);
    out.key("properties");
    out.properties(field.properties);
    out.key("note");
    out.note(field.note);
    out.endObject();
}

void writeIndex(JsonOut &out, const Index &index)
{
    out.beginObject(true);
    out.field("name", index.name);
    out.key("fields");
    out.beginArray();
    for (const IndexField &field : index.fields) {
        out.beginObject();
        out.field("name", field.name);
        out.field("descending", field.descending);
        out.endObject();
    }
    out.endArray();
    out.field("primary", index.primary);
    out.field("unique", index.unique);
    out.field("ignoreNulls", index.ignoreNulls);
    out.field("required", index.required);
    out.field("foreignKey", index.foreignKey);
    out.key("note");
    out.note(index.note);
    out.endObject();
}

void writeTable(JsonOut &out, const Table &table)
{
    out.beginObject();
    out.field("name", table.name);
    out.field("description", table.description);
    if (!out.designOnly)
        out.field("records", table.records);
    // Unknown, not none, when the definition could not be read: the note says why.
    out.key("fields");
    if (table.definitionRead) {
        out.beginArray();
        for (const Field &field : table.fields)
            writeField(out, field);
        out.endArray();
    } else {
        out.null();
    }
    out.key("indexes");
    if (table.definitionRead) {
        out.beginArray();
        for (const Index &index : table.indexes)
            writeIndex(out, index);
        out.endArray();
    } else {
        out.null();
    }
    out.key("properties");
    out.properties(table.properties);
    out.key("dataMacros");
    out.properties(table.dataMacros);
    out.key("note");
    out.note(table.note);
    out.endObject();
}

template <class T, std::size_t N> void writeList(JsonOut &out, const char (&name)[N], const QList<T> &items, auto write)
{
    out.key(name);
    out.beginArray();
    for (const T &item : items) {
        write(out, item);
        out.flush();
    }
    out.endArray();
}

} // namespace

void appendJsonString(QByteArray &out, const QString &text)
{
    const qsizetype start = out.size();
    out.resize(start + literalBound(text.size()));
    out.truncate(writeLiteral(out.data() + start, text) - out.constData());
}

QByteArray jsonString(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    appendJsonString(out, text);
    return out;
}

namespace {

void writeProject(JsonOut &out, const std::optional<Project> &project)
{
    if (!project) {
        out.null();
        return;
    }
    out.beginObject();
    out.field("name", project->name);
    out.field("codePage", project->codePage);
    out.field("compiledOnly", project->compiledOnly);
    out.key("references");
    out.beginArray();
    for (const Reference &reference : project->references) {
        out.beginObject(true);
        out.field("name", reference.name);
        out.field("description", reference.description);
        out.field("path", reference.path);
        out.field("guid", reference.guid);
        out.endObject();
    }
    out.endArray();
    out.endObject();
}

void writeFormsOrReports(JsonOut &out, const QList<FormOrReport> &items)
{
    out.beginArray();
    for (const FormOrReport &item : items) {
        out.beginObject(true);
        out.field("name", item.name);
        out.stamp("created", item.created);
        out.stamp("updated", item.updated);
        out.field("module", item.module);
        out.endObject();
    }
    out.endArray();
}

void writeApplication(JsonOut &out, const Application &application)
{
    out.beginObject();
    out.key("project");
    writeProject(out, application.project);
    out.key("forms");
    writeFormsOrReports(out, application.forms);
    out.key("reports");
    writeFormsOrReports(out, application.reports);
    out.key("macros");
    out.beginArray();
    for (const Macro &macro : application.macros) {
        out.beginObject();
        out.field("name", macro.name);
        out.stamp("created", macro.created);
        out.stamp("updated", macro.updated);
        out.field("definition", macro.definition);
        out.key("note");
        out.note(macro.note);
        out.endObject();
    }
    out.endArray();
    out.key("modules");
    out.beginArray();
    for (const Module &module : application.modules) {
        out.beginObject();
        out.field("name", module.name);
        out.field("kind", module.kind);
        out.stamp("created", module.created);
        out.stamp("updated", module.updated);
        out.field("lines", module.lines());
        out.field("source", module.source);
        out.key("note");
        out.note(module.note);
        out.endObject();
        out.flush();
    }
    out.endArray();
    out.endObject();
}

void writeDatabase(JsonOut &out, const Database &database)
{
    out.beginObject();
    if (!out.designOnly)
        out.field("path", database.path);
    out.field("format", database.format);
    out.field("encrypted", database.encrypted);
    // What an index of many databases needs, when it was worked out: the file as it was read and
    // the design's hash.
    if (const auto &file = database.file; file && !out.designOnly) {
        out.key("file");
        out.beginObject(true);
        out.field("size", file->size);
        out.field("modified", file->modified);
        out.field("sha256", file->sha256);
        out.endObject();
    }
    if (!database.schemaHash.isEmpty() && !out.designOnly)
        out.field("schemaHash", database.schemaHash);
    out.endObject();
}

void writeDocument(JsonOut &out, const Document &document)
{
    out.beginObject();
    // Which program wrote the document, and which version of it: a reader knows what to expect.
    if (!out.designOnly)
        out.field("generator", generatorName());
    out.key("database");
    writeDatabase(out, document.database);
    writeList(out, "tables", document.tables, writeTable);
    writeList(out, "relationships", document.relationships, [](JsonOut &o, const Relationship &r) {
        o.beginObject();
        o.field("name", r.name);
        o.field("primaryTable", r.primaryTable);
        o.key("primaryFields");
        o.strings(r.primaryFields);
        o.field("foreignTable", r.foreignTable);
        o.key("foreignFields");
        o.strings(r.foreignFields);
        o.field("enforced", r.enforced);
        o.field("cascadeUpdates", r.cascadeUpdates);
        o.field("cascadeDeletes", r.cascadeDeletes);
        o.field("cascadeNull", r.cascadeNull);
        o.field("oneToOne", r.oneToOne);
        o.field("join", joinName(r.join));
        o.key("note");
        o.note(r.note);
        o.endObject();
    });
    writeList(out, "queries", document.queries, [](JsonOut &o, const Query &q) {
        o.beginObject();
        o.field("name", q.name);
        o.field("type", q.type);
        o.field("sql", q.sql);
        o.key("note");
        o.note(q.note);
        o.endObject();
    });
    writeList(out, "linkedTables", document.linkedTables, [](JsonOut &o, const LinkedTable &l) {
        o.beginObject();
        o.field("name", l.name);
        o.field("target", l.target);
        o.field("source", l.source);
        o.key("note");
        o.note(l.note);
        o.endObject();
    });
    out.key("application");
    writeApplication(out, document.application);
    out.key("migration");
    if (const auto &migration = document.migration) {
        out.beginObject();
        out.field("dialect", migration->dialect);
        writeList(out, "notes", migration->notes, [](JsonOut &o, const MigrationNote &note) {
            o.beginObject(true);
            o.field("what", note.what);
            o.field("where", note.where);
            o.field("why", note.why);
            o.endObject();
        });
        out.endObject();
    } else {
        out.null();
    }
    out.key("notes");
    out.strings(document.notes);
    out.endObject();
}

} // namespace

QByteArray toJson(const Document &document)
{
    qsizetype fields = 0;
    for (const Table &table : document.tables)
        fields += table.fields.size();
    JsonOut out(nullptr, 4096 + 600 * fields);
    writeDocument(out, document);
    return out.take();
}

QString designHash(const Document &document)
{
    // The design's JSON, hashed as it is made: a big database's is never held whole.
    class Hashing : public QIODevice
    {
    public:
        Hashing() { open(QIODevice::WriteOnly); }
        QCryptographicHash hash{QCryptographicHash::Sha256};

    protected:
        qint64 readData(char *, qint64) override { return -1; }
        qint64 writeData(const char *data, qint64 size) override
        {
            hash.addData(QByteArrayView(data, size));
            return size;
        }
    } device;
    JsonOut out(&device, 0);
    out.designOnly = true;
    writeDocument(out, document);
    out.finish();
    return QString::fromLatin1(device.hash.result().toHex());
}

bool writeJson(const Document &document, QIODevice &device)
{
    JsonOut out(&device, 0);
    writeDocument(out, document);
    return out.finish();
}

} // namespace Structure
