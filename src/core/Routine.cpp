#include "core/Routine.h"

#include "core/ErrorReport.h"

#include <new>

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

QString Routine::describe(const std::exception_ptr &thrown)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const Failure &failure) {
        return failure.description();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure");
    }
}
