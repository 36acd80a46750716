#include "core/ErrorReport.h"

#include "core/Dialogs.h"

#include <cstdio>

namespace ErrorReport {

QString routineTag(const QString &module, const QString &routine)
{
    return QStringLiteral("in Strudex2021/08/31.") + module + QLatin1Char('.') + routine + QLatin1Char(' ');
}

QString compose(const QString &description, const QString &tag, int line)
{
    return description + QStringLiteral("\r\n") + tag + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
           QLatin1String(SupportAddress);
}

void show(Dialogs &dialogs, const QString &tag, int line, const QString &description)
{
    QString text;
    try {
        text = compose(description, tag, line);
        dialogs.message(QLatin1String(Title), text, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    } catch (...) {
        // The report is the last resort; if even it cannot be shown, leave a trace on the terminal.
        const QByteArray bytes = (text.isEmpty() ? description : text).toLocal8Bit();
        std::fprintf(stderr, "%s\n", bytes.constData());
    }
}

} // namespace ErrorReport
