#include "core/Routine.h"

#include "core/ErrorReport.h"

Routine::Routine(Dialogs &dialogs, const QString &module, const QString &name, OnFailure mode)
    : m_dialogs(dialogs), m_module(module), m_name(name), m_mode(mode)
{
}

const QString &Routine::tag() const
{
    if (m_tag.isNull())
        m_tag = ErrorReport::routineTag(m_module, m_name);
    return m_tag;
}

void Routine::report(const QString &description)
{
    ++m_failures;
    ErrorReport::show(m_dialogs, tag(), m_line, description);
}
