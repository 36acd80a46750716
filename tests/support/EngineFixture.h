#pragma once

#include <QString>

namespace TestSupport {
// Points the program at the freshly built strudex-engine.
void useBuiltEngine();
// A copy of tests/data/<name> in a folder of its own that the test may damage; removed at exit.
QString copyOfTestDatabase(const QString &name);
// A path in the project's test data.
QString testDatabase(const QString &name);
} // namespace TestSupport
