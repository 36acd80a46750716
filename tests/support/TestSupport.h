#pragma once

#include <QString>

namespace TestSupport {
// Folder of the project's own test databases (tests/data).
QString dataDir();
// Folder of the shared fixture databases; empty when it is absent.
QString fixturesDir();
// Folder that holds the built programs (strudex-engine, strudex-export).
QString binDir();
} // namespace TestSupport
