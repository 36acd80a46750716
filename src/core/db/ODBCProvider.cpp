#include "core/db/ODBCProvider.h"

#include "core/Dialogs.h"
#include "core/ErrorReport.h"
#include "core/Failure.h"
#include "core/PathUtilities.h"
#include "core/db/Ado.h"
#include "core/db/WorkerProcess.h"

#include <QDir>
#include <QStringList>
#include <QUrl>

namespace ODBCProvider {

QString ProviderMissingMessage(const QString &engineProgram)
{
    QStringList paragraphs{
        QStringLiteral("Error #3706: Provider cannot be found. It may not be properly installed."),
        QStringLiteral("You are getting this error because:"),
        QStringLiteral("1. Microsoft Access is not installed on your computer."),
        QStringLiteral("2. A set of Microsoft components to transfer data is not installed on your computer."),
        QStringLiteral("You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve this "
                       "problem."),
        QStringLiteral("Would you like me to open the Microsoft site now so you can do this?"),
        QStringLiteral("(If you have any further questions please email a screenshot of this error message to ") +
            QLatin1String(ErrorReport::SupportAddress) + QLatin1Char(')'),
    };
#ifndef Q_OS_WIN
    paragraphs.insert(
        paragraphs.size() - 1,
        QStringLiteral("On this computer Strudex reads databases with its own engine, the program \"%1\", "
                       "which is missing or cannot be started. Reinstall Strudex to solve this problem.")
            .arg(QDir::toNativeSeparators(engineProgram)));
#else
    Q_UNUSED(engineProgram);
#endif
    return paragraphs.join(QStringLiteral("\r\n\r\n"));
}

bool IsProviderInstalled(Dialogs &dialogs)
{
    try {
        auto connection = Ado::CreateConnection();
        return true;
    } catch (const Failure &failure) {
        const bool providerMissing =
            failure.description().contains(QStringLiteral("provider cannot be found"), Qt::CaseInsensitive) ||
            failure.number() == 3706;
        if (!providerMissing)
            return false;
        try {
            const auto answer =
                dialogs.message(Main::AppTitle(), ProviderMissingMessage(Ado::WorkerSettings::program()),
                                Dialogs::Buttons::YesNo, Dialogs::Icon::None);
            if (answer == Dialogs::Answer::Yes) {
                dialogs.openUrl(QUrl(QLatin1String(FirstDownloadPage)));
                dialogs.openUrl(QUrl(QLatin1String(SecondDownloadPage)));
            }
        } catch (...) {
        }
        return false;
    } catch (...) {
        return false;
    }
}

} // namespace ODBCProvider
