#include "core/structure/Structure.h"

#include <QCryptographicHash>
#include <QSet>

#include <algorithm>

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

QString typeDescription(const Field &field)
{
    QString text = field.accessType.isEmpty() ? field.type : field.accessType;
    if (field.fieldSize && !field.fieldSize->isEmpty()) {
        QString size = *field.fieldSize;
        if (field.precision)
            size += QStringLiteral(" (") + QString::number(*field.precision) + QStringLiteral(", ") +
                    QString::number(field.scale.value_or(0)) + QLatin1Char(')');
        text += QStringLiteral(", ") + size;
    }
    if (field.multiValued)
        text += QStringLiteral(", multi-valued");
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

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// nameKey(a) == nameKey(b), without making either key when both names are ASCII (nearly every
// name): an ASCII name's key is the name with A-Z in lower case. The documents ask this for every
// field of a big database several times over.
bool sameKey(const QString &a, const QString &b)
{
    if (!isAscii(a) || !isAscii(b))
        return nameKey(a) == nameKey(b);
    if (a.size() != b.size())
        return false;
    const auto lower = [](QChar c) { return c >= u'A' && c <= u'Z' ? char16_t(c.unicode() + 32) : c.unicode(); };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
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

QList<Fact> fieldFacts(const Table &table, const Field &field)
{
    QList<Fact> facts;
    const auto add = [&facts](const char *label, const std::optional<QString> &text) {
        if (text && !text->isEmpty())
            facts << Fact{QString::fromLatin1(label), *text};
    };
    add("Caption", storedProperty(field.properties, QStringLiteral("Caption")));
    add("Format", storedProperty(field.properties, QStringLiteral("Format")));
    add("Input Mask", storedProperty(field.properties, QStringLiteral("InputMask")));
    if (const auto places = storedProperty(field.properties, QStringLiteral("DecimalPlaces")))
        add("Decimal Places", decimalPlacesText(*places));
    add("Default Value", field.defaultValue);
    add("Validation Rule", field.validationRule);
    add("Validation Text", field.validationText);
    if (field.required)
        add("Required", *field.required ? QStringLiteral("Yes") : QStringLiteral("No"));
    if (field.allowZeroLength)
        add("Allow Zero Length", *field.allowZeroLength ? QStringLiteral("Yes") : QStringLiteral("No"));
    add("Indexed", indexedText(table, field.name));
    if (field.lookup)
        add("Lookup", lookupText(*field.lookup));
    return facts;
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
