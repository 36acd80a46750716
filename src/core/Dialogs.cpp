#include "core/Dialogs.h"

#include <QStringList>

QString qtFileDialogFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts.at(i);
        QString patterns = parts.at(i + 1);
        if (patterns.isEmpty())
            continue;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}
