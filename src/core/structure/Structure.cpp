#include "core/structure/Structure.h"

#include <QCryptographicHash>
#include <QSet>

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
    return name.toLower();
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

QStringList tableAnchors(const Document &document)
{
    QStringList anchors;
    QSet<QString> taken;
    for (const Table &table : document.tables) {
        QString base = slug(table.name);
        // A name of other scripts only: its hash keeps the anchor from depending on the table's place.
        if (base.isEmpty())
            base = QString::fromLatin1(
                QCryptographicHash::hash(table.name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
        base.prepend(QStringLiteral("table-"));
        QString anchor = base;
        for (int n = 2; taken.contains(anchor); ++n)
            anchor = base + QLatin1Char('-') + QString::number(n);
        taken.insert(anchor);
        anchors << anchor;
    }
    return anchors;
}

QString typeDescription(const Field &field)
{
    QString text = field.accessType.isEmpty() ? field.type : field.accessType;
    if (field.fieldSize && !field.fieldSize->isEmpty()) {
        QString size = *field.fieldSize;
        if (field.precision)
            size += QStringLiteral(" (%1, %2)").arg(*field.precision).arg(field.scale.value_or(0));
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

} // namespace Structure
