#include "core/Routine.h"

#include "core/ErrorReport.h"

Routine::Routine(Dialogs &dialogs, const QString &module, const QString &name, OnFailure mode)
    : m_dialogs(dialogs), m_tag(ErrorReport::routineTag(module, name)), m_mode(mode)
{
}

void Routine::report(const QString &description)
{
    ++m_failures;
    ErrorReport::show(m_dialogs, m_tag, m_line, description);
}
