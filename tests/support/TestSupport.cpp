#include "support/TestSupport.h"

#include <QDir>

namespace TestSupport {

QString dataDir()
{
    return qEnvironmentVariable("STRUDEX_TEST_DATA");
}

QString fixturesDir()
{
    const QString dir = qEnvironmentVariable("STRUDEX_FIXTURES");
    return QDir(dir).exists() ? QDir(dir).canonicalPath() : QString();
}

QString binDir()
{
    return qEnvironmentVariable("STRUDEX_BIN_DIR");
}

} // namespace TestSupport
