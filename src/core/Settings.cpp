#include "core/Settings.h"

#include "core/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace Settings {

namespace {

QString overrideFile;

// Qt keeps the parsed store of a file for the whole process and reports damage only when it
// parses; the files found damaged are remembered here until they are rewritten.
QSet<QString> damagedFiles;

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool usesIniFile()
{
#ifdef Q_OS_WIN
    return !overrideFile.isEmpty();
#else
    return true;
#endif
}

QString iniFile()
{
    if (!overrideFile.isEmpty())
        return overrideFile;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           QLatin1String(AppName) + QLatin1Char('/') + QLatin1String(AppName) + QStringLiteral(".ini");
}

std::unique_ptr<QSettings> openStore()
{
    std::unique_ptr<QSettings> store;
    if (usesIniFile()) {
        store = std::make_unique<QSettings>(iniFile(), QSettings::IniFormat);
    } else {
        store = std::make_unique<QSettings>(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + QLatin1String(AppName),
            QSettings::NativeFormat);
    }
    store->beginGroup(QLatin1String(Section));
    return store;
}

Failure storeFailure(QSettings::Status status, const QString &doing)
{
    const QString where = StoreLocation();
    if (status == QSettings::FormatError)
        return Failure(0, QStringLiteral("The settings file '%1' is damaged and cannot be %2.").arg(where, doing));
    return Failure(75, QStringLiteral("The settings store '%1' cannot be %2.").arg(where, doing));
}

// The file is created owner-only before anything is written to it, so the password never stands
// in a file that others may read, not even for a moment.
void prepareIniFile(const QString &path)
{
    const QFileInfo info(path);
    QDir folder = info.absoluteDir();
    if (!folder.exists()) {
        if (!QDir().mkpath(folder.absolutePath()))
            throw Failure::fileAccess(folder.absolutePath(), QStringLiteral("the folder cannot be created"));
        QFile::setPermissions(folder.absolutePath(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (!info.exists()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly, OwnerOnly))
            throw Failure::fileAccess(path, file.errorString());
    }
}

} // namespace

QString GetSetting(const QString &key, const QString &defaultValue)
{
    if (usesIniFile()) {
        const QFileInfo info(iniFile());
        if (info.exists() && (!info.isFile() || !info.isReadable()))
            throw storeFailure(QSettings::AccessError, QStringLiteral("read"));
    }
    auto store = openStore();
    // The file is parsed at the first look-up, and only then is its status known.
    const QVariant value = store->value(key);
    QSettings::Status status = store->status();
    if (status == QSettings::FormatError || (status == QSettings::NoError && damagedFiles.contains(iniFile()))) {
        // A damaged store is told once; after that it reads as if it were empty until it is
        // rewritten, rather than handing out what the damage left.
        if (damagedFiles.contains(iniFile()))
            return defaultValue;
        damagedFiles.insert(iniFile());
        throw storeFailure(QSettings::FormatError, QStringLiteral("read"));
    }
    if (status != QSettings::NoError)
        throw storeFailure(status, QStringLiteral("read"));
    if (!value.isValid())
        return defaultValue;
    return value.toString();
}

void SaveSetting(const QString &key, const QString &value)
{
    if (usesIniFile())
        prepareIniFile(iniFile());
    auto store = openStore();
    store->contains(key); // parses the file, so that damage shows in the status
    const bool wasDamaged = store->status() == QSettings::FormatError || damagedFiles.contains(iniFile());
    if (wasDamaged && usesIniFile()) {
        // The store is rewritten with what could still be read of it; the damaged file is kept
        // beside it, so nothing of it is lost.
        const QString kept = iniFile() + QStringLiteral(".damaged");
        QFile::remove(kept);
        if (!QFile::copy(iniFile(), kept))
            throw storeFailure(QSettings::FormatError, QStringLiteral("written"));
        QFile::setPermissions(kept, OwnerOnly);
    }
    store->setValue(key, value);
    store->sync();
    QSettings::Status status = store->status();
    if (usesIniFile())
        QFile::setPermissions(iniFile(), OwnerOnly);
    // A damaged store keeps saying so after it was rewritten; ask the new file itself.
    if (wasDamaged && status == QSettings::FormatError)
        status = openStore()->status();
    if (status == QSettings::NoError)
        damagedFiles.remove(iniFile());
    if (status != QSettings::NoError)
        throw storeFailure(status, QStringLiteral("written"));
}

QString StoreLocation()
{
    if (usesIniFile())
        return QDir::toNativeSeparators(iniFile());
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\%1\\%2")
        .arg(QLatin1String(AppName), QLatin1String(Section));
}

void SetStoreFile(const QString &file)
{
    overrideFile = file;
}

} // namespace Settings
