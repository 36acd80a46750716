#include "core/Failure.h"

Failure::Failure(long number, QString description)
    : m_number(number), m_description(std::move(description)), m_utf8(m_description.toUtf8())
{
}

Failure Failure::invalidArgument()
{
    return Failure(5, QStringLiteral("Invalid procedure call or argument"));
}

Failure Failure::overflow()
{
    return Failure(6, QStringLiteral("Overflow"));
}

Failure Failure::fileAccess(const QString &path, const QString &reason)
{
    QString text = QStringLiteral("Path/File access error");
    if (!path.isEmpty())
        text += QStringLiteral(": '%1'").arg(path);
    if (!reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(reason);
    return Failure(75, text);
}
