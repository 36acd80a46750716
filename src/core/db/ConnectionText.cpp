#include "core/db/ConnectionText.h"

#include "core/Failure.h"

#include <QStringList>

namespace Ado {

namespace {

const QString ProviderKey = QStringLiteral("Provider=");
const QString DataSourceKey = QStringLiteral("Data Source=");
const QString PasswordClause = QStringLiteral(";JET OLEDB:Database Password=");

Failure badArguments()
{
    return Failure(3001, QStringLiteral("Arguments are of the wrong type, are out of acceptable range, or are in "
                                        "conflict with one another."));
}

} // namespace

ConnectionTarget ParseConnectionText(const QString &text)
{
    if (!text.startsWith(ProviderKey, Qt::CaseInsensitive))
        throw badArguments();
    const qsizetype providerEnd = text.indexOf(QLatin1Char(';'), ProviderKey.size());
    if (providerEnd < 0)
        throw badArguments();

    ConnectionTarget target;
    target.provider = text.mid(ProviderKey.size(), providerEnd - ProviderKey.size());
    static const QStringList providers{QStringLiteral("Microsoft.Jet.OLEDB.4.0"),
                                       QStringLiteral("Microsoft.ACE.OLEDB.12.0"),
                                       QStringLiteral("Microsoft.ACE.OLEDB.16.0")};
    if (!providers.contains(target.provider, Qt::CaseInsensitive))
        throw Failure(3706, QStringLiteral("Provider cannot be found. It may not be properly installed."));

    const qsizetype sourceStart = providerEnd + 1;
    if (QStringView(text).mid(sourceStart, DataSourceKey.size()).compare(DataSourceKey, Qt::CaseInsensitive) != 0)
        throw badArguments();
    const qsizetype pathStart = sourceStart + DataSourceKey.size();
    const qsizetype clause = text.indexOf(PasswordClause, pathStart, Qt::CaseInsensitive);
    if (clause < 0) {
        target.dataSource = text.mid(pathStart);
    } else {
        target.dataSource = text.mid(pathStart, clause - pathStart);
        target.password = text.mid(clause + PasswordClause.size());
    }
    return target;
}

} // namespace Ado
