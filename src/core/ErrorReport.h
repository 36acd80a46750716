#pragma once

#include <QString>

class Dialogs;

// The program's one failure message: what failed, in which routine and at which numbered line,
// and a request to send a screenshot to support.
namespace ErrorReport {

inline constexpr auto SupportAddress = "support@strudex.org";
inline constexpr auto Title = "Application Error";

// "in Strudex2021/08/31.<module>.<routine> "
QString routineTag(const QString &module, const QString &routine);

// description, CR LF, tag, "at line ", label, CR CR, the request.
QString compose(const QString &description, const QString &tag, int line);

// Composes the message and shows it as a warning box with one OK button. Never throws: a report
// that cannot be shown is written to standard error instead.
void show(Dialogs &dialogs, const QString &tag, int line, const QString &description);

} // namespace ErrorReport
