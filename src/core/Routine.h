#pragma once

#include "core/Failure.h"

#include <QString>

#include <exception>
#include <new>
#include <utility>

class Dialogs;

// The error convention of every reporting routine: each step carries a line label; a step that
// fails is reported (description, routine tag, line label) and the routine goes on with its next
// step. A failing decision test counts as true, so the branch that runs when the condition holds
// is entered. Failures thrown by the utilities a step calls are reported here, under this
// routine's tag and the calling step's line.
//
//   Routine r(dialogs, "Form2", "generateStructure");
//   r.step(100, [&] { recordset = engine.createRecordset(); });
//   if (r.test(144, [&] { return row.isTicked(); })) { ... }
//
// A routine made with OnFailure::Stop reports its first failure only: every later step is passed
// over and every later test answers false, so loops end and branches are not entered; clean-up
// that must still run goes through quietly().
class Routine
{
public:
    enum class OnFailure { Continue, Stop };

    Routine(Dialogs &dialogs, const QString &module, const QString &name, OnFailure mode = OnFailure::Continue);

    Routine(const Routine &) = delete;
    Routine &operator=(const Routine &) = delete;

    // Runs one step; returns whether it completed.
    template <class F> bool step(int line, F &&body)
    {
        if (stopped())
            return false;
        m_line = line;
        return guarded([&] { std::forward<F>(body)(); });
    }

    // Runs a decision test; its answer, or true when the test itself failed.
    template <class F> bool test(int line, F &&condition)
    {
        if (stopped())
            return false;
        m_line = line;
        bool answer = true;
        if (!guarded([&] { answer = static_cast<bool>(std::forward<F>(condition)()); }))
            return m_mode == OnFailure::Continue;
        return answer;
    }

    // Runs clean-up that reports nothing, whatever happened before.
    template <class F> void quietly(F &&body) noexcept
    {
        try {
            std::forward<F>(body)();
        } catch (...) {
        }
    }

    // Reports a failure that arrived outside a step, under the current line.
    void report(const QString &description);
    // The description a routine reports for what a step threw.
    static QString describe(const std::exception_ptr &thrown);

    const QString &tag() const;
    int line() const { return m_line; }
    bool failed() const { return m_failures > 0; }
    int failures() const { return m_failures; }

private:
    bool stopped() const { return m_mode == OnFailure::Stop && m_failures > 0; }

    template <class F> bool guarded(F &&body)
    {
        try {
            body();
            return true;
        } catch (...) {
            report(describe(std::current_exception()));
        }
        return false;
    }

    Dialogs &m_dialogs;
    // The tag is made when it is first needed: most routines never fail, and some run once per
    // field of a report.
    QString m_module;
    QString m_name;
    mutable QString m_tag;
    OnFailure m_mode;
    int m_line = 0;
    int m_failures = 0;
};
