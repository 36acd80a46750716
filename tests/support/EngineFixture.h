#pragma once

#include "core/Failure.h"

#include <QString>

namespace TestSupport {
// Points the program at the freshly built strudex-engine.
void useBuiltEngine();
// A copy of tests/data/<name> in a folder of its own that the test may damage; removed at exit.
QString copyOfTestDatabase(const QString &name);
// A path in the project's test data.
QString testDatabase(const QString &name);

// The failure the call throws, or one numbered -1 when it throws none.
template <class F> Failure failureOf(F &&call)
{
    try {
        call();
    } catch (const Failure &failure) {
        return failure;
    }
    return Failure(-1, QStringLiteral("no failure"));
}
} // namespace TestSupport
