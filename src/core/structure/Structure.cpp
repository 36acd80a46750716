#include "core/structure/Structure.h"

namespace Structure {

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
