#include "core/structure/Structure.h"

#include <QCryptographicHash>
#include <QSet>

#include <algorithm>
#include <cstring>

namespace Structure {

namespace {

QString slug(const QString &name)
{
    QString out;
    bool gap = false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool kept = (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z');
        if (!kept) {
            gap = true;
            continue;
        }
        if (gap && !out.isEmpty())
            out += QLatin1Char('-');
        gap = false;
        out += QChar(u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u);
    }
    return out;
}

} // namespace

QString joinName(Join join)
{
    switch (join) {
    case Join::Inner:
        return QStringLiteral("inner");
    case Join::Left:
        return QStringLiteral("left");
    case Join::Right:
        return QStringLiteral("right");
    }
    return QStringLiteral("inner");
}

QString nameKey(const QString &name)
{
    // Nearly every name is ASCII, whose lower case needs no look-up in Unicode's tables; names are
    // keyed several times per field of every document.
    QString key = name;
    for (qsizetype i = 0; i < key.size(); ++i) {
        const char16_t c = key.at(i).unicode();
        if (c >= 0x80)
            return name.toLower();
        if (c >= u'A' && c <= u'Z')
            key[i] = QChar(c + (u'a' - u'A'));
    }
    return key;
}

QString yesNo(bool value, No no)
{
    if (value)
        return QStringLiteral("yes");
    return no == No::Word ? QStringLiteral("no") : QString();
}

QStringList primaryKeyFields(const Table &table)
{
    QStringList names;
    QSet<QString> seen;
    for (const Index &index : table.indexes) {
        if (!index.primary)
            continue;
        for (const IndexField &field : index.fields) {
            if (!seen.contains(nameKey(field.name))) {
                seen.insert(nameKey(field.name));
                names << field.name;
            }
        }
    }
    return names;
}

namespace {

// Anchors for a list of names: the prefix and a slug of each name, as tableAnchors describes.
QStringList anchorsOf(const QStringList &names, const QString &prefix)
{
    QStringList anchors;
    QSet<QString> taken;
    for (const QString &name : names) {
        QString base = slug(name);
        // A name of other scripts only: its hash keeps the anchor from depending on its place.
        if (base.isEmpty())
            base =
                QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
        base.prepend(prefix);
        QString anchor = base;
        for (int n = 2; taken.contains(anchor); ++n)
            anchor = base + QLatin1Char('-') + QString::number(n);
        taken.insert(anchor);
        anchors << anchor;
    }
    return anchors;
}

} // namespace

QStringList tableAnchors(const Document &document)
{
    QStringList names;
    for (const Table &table : document.tables)
        names << table.name;
    return anchorsOf(names, QStringLiteral("table-"));
}

QStringList queryAnchors(const Document &document)
{
    QStringList names;
    for (const Query &query : document.queries)
        names << query.name;
    return anchorsOf(names, QStringLiteral("query-"));
}

int Module::lines() const
{
    if (!source || source->isEmpty())
        return 0;
    // A last line feed ends the last line; it starts none.
    // Counted branch-free, many characters at a time.
    const auto *code = reinterpret_cast<const char16_t *>(source->utf16());
    int feeds = 0;
    for (qsizetype i = 0; i < source->size(); ++i)
        feeds += code[i] == u'\n';
    return feeds + (source->endsWith(QLatin1Char('\n')) ? 0 : 1);
}

QString migrationServer(const QString &dialect)
{
    if (dialect == QStringLiteral("postgresql"))
        return QStringLiteral("PostgreSQL");
    if (dialect == QStringLiteral("sqlite"))
        return QStringLiteral("SQLite");
    if (dialect == QStringLiteral("mysql"))
        return QStringLiteral("MySQL/MariaDB");
    return dialect;
}

QString lineFeeds(QString text)
{
    // Looked for with QStringView's fast search; nearly every text has no CR and is handed back as
    // it is, and code ends every line with one: the lines between are moved a whole line at a time.
    qsizetype from = QStringView(text).indexOf(u'\r');
    if (from < 0)
        return text;
    char16_t *data = reinterpret_cast<char16_t *>(text.data());
    const qsizetype size = text.size();
    const QStringView view(data, size);
    qsizetype to = from;
    while (from < size) {
        // data[from] is a CR.
        data[to++] = u'\n';
        from += from + 1 < size && data[from + 1] == u'\n' ? 2 : 1;
        qsizetype next = view.indexOf(u'\r', from);
        if (next < 0)
            next = size;
        std::memmove(data + to, data + from, std::size_t(next - from) * sizeof(char16_t));
        to += next - from;
        from = next;
    }
    text.truncate(to);
    return text;
}

QString typeDescription(const Field &field)
{
    const QString &type = field.accessType.isEmpty() ? field.type : field.accessType;
    const bool sized = field.fieldSize && !field.fieldSize->isEmpty();
    if (!sized && !field.multiValued)
        return type;
    // Made in one piece: the documents ask this of nearly every field of a big database.
    QString text;
    text.reserve(type.size() + (sized ? field.fieldSize->size() + 32 : 0) + 16);
    text += type;
    if (sized) {
        text += u", ";
        text += *field.fieldSize;
        if (field.precision) {
            text += u" (";
            text += QString::number(*field.precision);
            text += u", ";
            text += QString::number(field.scale.value_or(0));
            text += u')';
        }
    }
    if (field.multiValued)
        text += u", multi-valued";
    return text;
}

QString maskPasswords(const QString &connection)
{
    // Keys stand at the start or after a ";"; a value runs to the next ";", or is wrapped in
    // braces ("{a;b}", with "}}" for a brace inside) and may then hold ";" itself.
    QString out;
    qsizetype pos = 0;
    const qsizetype size = connection.size();
    while (pos < size) {
        qsizetype end = pos;
        const qsizetype equals = connection.indexOf(QLatin1Char('='), pos);
        const qsizetype semicolon = connection.indexOf(QLatin1Char(';'), pos);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
            end = semicolon < 0 ? size : semicolon + 1;
            out += connection.mid(pos, end - pos);
            pos = end;
            continue;
        }
        const QString key = connection.mid(pos, equals - pos).trimmed();
        qsizetype valueEnd = equals + 1;
        if (valueEnd < size && connection.at(valueEnd) == QLatin1Char('{')) {
            ++valueEnd;
            while (valueEnd < size) {
                if (connection.at(valueEnd) == QLatin1Char('}')) {
                    if (valueEnd + 1 < size && connection.at(valueEnd + 1) == QLatin1Char('}')) {
                        valueEnd += 2;
                        continue;
                    }
                    ++valueEnd;
                    break;
                }
                ++valueEnd;
            }
        }
        const qsizetype next = connection.indexOf(QLatin1Char(';'), valueEnd);
        valueEnd = next < 0 ? size : next;
        const bool secret = key.compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0 ||
                            key.compare(QLatin1String("PASSWORD"), Qt::CaseInsensitive) == 0;
        out += connection.mid(pos, equals + 1 - pos);
        out += secret ? QStringLiteral("***") : connection.mid(equals + 1, valueEnd - equals - 1);
        pos = valueEnd;
        if (pos < size) {
            out += QLatin1Char(';');
            ++pos;
        }
    }
    return out;
}

QString generatorName()
{
    return QStringLiteral("Strudex " STRUDEX_VERSION);
}

namespace {

// nameKey(a) == nameKey(b), without making either key while both names are ASCII (nearly every
// name): an ASCII name's key is the name with A-Z in lower case. The documents ask this for every
// field of a big database several times over, mostly of names that differ from the first letter.
bool sameKey(const QString &a, const QString &b)
{
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        // Lower case goes character by character, and up to here both names are ASCII: a
        // difference here is a difference of the keys.
        if ((x | y) >= 0x80)
            return nameKey(a) == nameKey(b);
        if (lower(x) != lower(y))
            return false;
    }
    // One name is the other and more: lower case never takes a character away, so the longer
    // name's key is the longer.
    return a.size() == b.size();
}

} // namespace

std::optional<QString> storedProperty(const Properties &properties, const QString &name)
{
    for (const auto &[key, value] : properties) {
        if (sameKey(key, name))
            return value;
    }
    return std::nullopt;
}

QString sizeText(const Field &field)
{
    if (field.accessType == QLatin1String("Short Text") || field.accessType == QLatin1String("Binary"))
        return QString::number(field.size);
    return QString();
}

QString typeWithSize(const Field &field)
{
    const QString size = sizeText(field);
    const QString &type = field.accessType.isEmpty() ? field.type : field.accessType;
    QString text;
    text.reserve(type.size() + size.size() + 20);
    text += type;
    text += u" (";
    text += size;
    text += u')';
    return text;
}

QString indexedText(const Table &table, const QString &field)
{
    QString text = QStringLiteral("No");
    for (const Index &index : table.indexes) {
        if (index.foreignKey || index.fields.size() != 1 || !sameKey(index.fields.first().name, field))
            continue;
        if (index.unique || index.primary)
            return QStringLiteral("Yes (No Duplicates)");
        text = QStringLiteral("Yes (Duplicates OK)");
    }
    return text;
}

namespace {

// Access keeps 255 for "Auto", the number of places the field's format gives.
QString decimalPlacesText(const QString &stored)
{
    return stored == QLatin1String("255") ? QStringLiteral("Auto") : stored;
}

QString lookupText(const Lookup &lookup)
{
    QStringList parts;
    if (lookup.displayControl)
        parts << *lookup.displayControl;
    if (lookup.rowSource && !lookup.rowSource->isEmpty())
        parts << *lookup.rowSource;
    if (lookup.allowMultipleValues.value_or(false))
        parts << QStringLiteral("multiple values");
    return parts.join(QStringLiteral(": "));
}

} // namespace

void fieldFacts(const Table &table, const Field &field, Facts &facts)
{
    // The stored properties are looked through once for the four shown, the first of each name
    // counting: the documents ask this for every field of a big database.
    std::optional<QString> caption, format, inputMask, decimalPlaces;
    const std::pair<QString, std::optional<QString> *> shown[] = {{QStringLiteral("Caption"), &caption},
                                                                  {QStringLiteral("Format"), &format},
                                                                  {QStringLiteral("InputMask"), &inputMask},
                                                                  {QStringLiteral("DecimalPlaces"), &decimalPlaces}};
    for (const auto &[key, value] : field.properties) {
        for (const auto &[name, slot] : shown) {
            if (!*slot && sameKey(key, name))
                *slot = value;
        }
    }
    facts.clear();
    // The labels are literals: no field's sheet makes one.
    const auto add = [&facts](const QString &label, const std::optional<QString> &text) {
        if (text && !text->isEmpty())
            facts << Fact{label, *text};
    };
    add(QStringLiteral("Caption"), caption);
    add(QStringLiteral("Format"), format);
    add(QStringLiteral("Input Mask"), inputMask);
    if (decimalPlaces)
        add(QStringLiteral("Decimal Places"), decimalPlacesText(*decimalPlaces));
    add(QStringLiteral("Default Value"), field.defaultValue);
    add(QStringLiteral("Validation Rule"), field.validationRule);
    add(QStringLiteral("Validation Text"), field.validationText);
    if (field.required)
        add(QStringLiteral("Required"), *field.required ? QStringLiteral("Yes") : QStringLiteral("No"));
    if (field.allowZeroLength)
        add(QStringLiteral("Allow Zero Length"), *field.allowZeroLength ? QStringLiteral("Yes") : QStringLiteral("No"));
    add(QStringLiteral("Indexed"), indexedText(table, field.name));
    if (field.lookup)
        add(QStringLiteral("Lookup"), lookupText(*field.lookup));
}

QList<Fact> fieldFacts(const Table &table, const Field &field)
{
    Facts facts;
    fieldFacts(table, field, facts);
    return QList<Fact>(facts.cbegin(), facts.cend());
}

RelationshipIndex::RelationshipIndex(const Document &document)
{
    for (const Relationship &relationship : document.relationships) {
        const QString foreign = nameKey(relationship.foreignTable);
        references_[foreign] << &relationship;
        referencedBy_[nameKey(relationship.primaryTable)] << &relationship;
        QHash<QString, const Relationship *> &fields = foreignKeys_[foreign];
        for (const QString &field : relationship.foreignFields)
            fields.insert(nameKey(field), fields.value(nameKey(field), &relationship));
    }
}

QList<const Relationship *> RelationshipIndex::references(const QString &table) const
{
    return references_.value(nameKey(table));
}

QList<const Relationship *> RelationshipIndex::referencedBy(const QString &table) const
{
    return referencedBy_.value(nameKey(table));
}

const Relationship *RelationshipIndex::foreignKeyOf(const QString &table, const QString &field) const
{
    return foreignKeys_.value(nameKey(table)).value(nameKey(field), nullptr);
}

} // namespace Structure
