#include "support/EngineFixture.h"

#include "core/db/WorkerProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace TestSupport {

void useBuiltEngine()
{
    Ado::WorkerSettings::setProgram(QDir(binDir()).filePath(QStringLiteral("strudex-engine")));
}

QString testDatabase(const QString &name)
{
    return QDir(dataDir()).filePath(name);
}

QString copyOfTestDatabase(const QString &name)
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    folders.push_back(std::make_unique<QTemporaryDir>());
    const QString copy = folders.back()->filePath(name);
    QFile::copy(testDatabase(name), copy);
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return copy;
}

} // namespace TestSupport
