#include "core/structure/JsonWriter.h"

namespace Structure {

namespace {

// Writes one JSON value at a time, keeping the indentation and the commas.
class JsonOut
{
public:
    QByteArray take() { return std::move(m_out) + '\n'; }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    // The key of the next value in the current object.
    void key(const char *name)
    {
        separate();
        m_out += '"';
        m_out += name;
        m_out += "\": ";
        m_afterKey = true;
    }

    void value(const QString &text) { scalar(jsonString(text)); }
    void value(const std::optional<QString> &text) { text ? value(*text) : null(); }
    void value(bool flag) { scalar(flag ? "true" : "false"); }
    void value(const std::optional<bool> &flag) { flag ? value(*flag) : null(); }
    void value(qint64 number) { scalar(QByteArray::number(number)); }
    void value(int number) { scalar(QByteArray::number(number)); }
    void value(const std::optional<int> &number) { number ? value(*number) : null(); }
    void value(const std::optional<qint64> &number) { number ? value(*number) : null(); }
    void null() { scalar("null"); }
    // An empty note is no note.
    void note(const QString &text) { text.isEmpty() ? null() : value(text); }

    void field(const char *name, const auto &content)
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
        beginObject();
        for (const auto &[name, text] : properties) {
            separate();
            m_out += jsonString(name);
            m_out += ": ";
            m_afterKey = true;
            value(text);
        }
        endObject();
    }

private:
    void separate()
    {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (!m_first.isEmpty()) {
            if (!m_first.back())
                m_out += ',';
            m_first.back() = false;
            m_out += '\n';
            m_out += QByteArray(2 * m_first.size(), ' ');
        }
    }
    void scalar(const QByteArray &text)
    {
        separate();
        m_out += text;
    }
    void open(char bracket)
    {
        separate();
        m_out += bracket;
        m_first.push_back(true);
    }
    void close(char bracket)
    {
        const bool empty = m_first.back();
        m_first.pop_back();
        if (!empty) {
            m_out += '\n';
            m_out += QByteArray(2 * m_first.size(), ' ');
        }
        m_out += bracket;
    }

    QByteArray m_out;
    QList<bool> m_first; // per open bracket: nothing written in it yet
    bool m_afterKey = false;
};

void writeLookup(JsonOut &out, const std::optional<Lookup> &lookup)
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
    out.beginObject();
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
    out.beginObject();
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
    out.field("records", table.records);
    out.key("fields");
    out.beginArray();
    for (const Field &field : table.fields)
        writeField(out, field);
    out.endArray();
    out.key("indexes");
    out.beginArray();
    for (const Index &index : table.indexes)
        writeIndex(out, index);
    out.endArray();
    out.key("properties");
    out.properties(table.properties);
    out.key("note");
    out.note(table.note);
    out.endObject();
}

template <class T> void writeList(JsonOut &out, const char *name, const QList<T> &items, auto write)
{
    out.key(name);
    out.beginArray();
    for (const T &item : items)
        write(out, item);
    out.endArray();
}

} // namespace

QByteArray jsonString(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    const auto escape = [&](char16_t unit) { out += "\\u" + QByteArray::number(unit, 16).rightJustified(4, '0'); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t unit = c.unicode();
        if (unit == u'"') {
            out += "\\\"";
        } else if (unit == u'\\') {
            out += "\\\\";
        } else if (unit == u'\n') {
            out += "\\n";
        } else if (unit == u'\r') {
            out += "\\r";
        } else if (unit == u'\t') {
            out += "\\t";
        } else if (unit < 0x20) {
            escape(unit);
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += text.mid(i, 2).toUtf8();
            ++i;
        } else if (c.isSurrogate()) {
            // A lone half of a pair has no UTF-8 form: it is kept as an escape.
            escape(unit);
        } else {
            out += QString(c).toUtf8();
        }
    }
    out += '"';
    return out;
}

QByteArray toJson(const Document &document)
{
    JsonOut out;
    out.beginObject();
    out.key("database");
    out.beginObject();
    out.field("path", document.database.path);
    out.field("format", document.database.format);
    out.field("encrypted", document.database.encrypted);
    out.endObject();
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
    out.key("notes");
    out.strings(document.notes);
    out.endObject();
    return out.take();
}

} // namespace Structure
