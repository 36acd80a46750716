#include "core/Settings.h"

#include "core/Failure.h"
#include "core/Keyring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>

#include <memory>
#include <optional>

namespace Settings {

namespace {

QString overrideFile;

// Qt keeps the parsed store of a file for the whole process and reports damage only when it
// parses; the files found damaged are remembered here until they are rewritten.
QSet<QString> damagedFiles;

// The keyring chosen by SetKeyring; without a choice, the desktop's for the user's own store and
// none for a store a test points at.
std::shared_ptr<Keyring> chosenKeyring;
bool keyringChosen = false;

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

Keyring *currentKeyring()
{
    if (keyringChosen)
        return chosenKeyring.get();
    if (!overrideFile.isEmpty())
        return nullptr;
    static const std::unique_ptr<Keyring> desktop = Keyring::desktop(QLatin1String(KeyringService));
    return desktop.get();
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

// The value the store holds under the key, if any.
std::optional<QString> readStore(const QString &key)
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
            return std::nullopt;
        damagedFiles.insert(iniFile());
        throw storeFailure(QSettings::FormatError, QStringLiteral("read"));
    }
    if (status != QSettings::NoError)
        throw storeFailure(status, QStringLiteral("read"));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

// Stores the value under the key, or removes the key when there is no value.
void writeStore(const QString &key, const std::optional<QString> &value)
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
    if (value)
        store->setValue(key, *value);
    else
        store->remove(key);
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

// Whether the store holds the key; a store that cannot be read holds nothing here (its reader
// and writer report it).
bool storeHolds(const QString &key)
{
    if (usesIniFile() && !QFileInfo(iniFile()).isFile())
        return false;
    return openStore()->contains(key);
}

// A password the store still holds goes into the keyring, and leaves the store once the keyring
// has it.
void movePasswordToKeyring(Keyring &keyring)
{
    const QString key = QLatin1String(Password);
    if (!storeHolds(key))
        return;
    const QString password = openStore()->value(key).toString();
    if (keyring.write(key, password))
        writeStore(key, std::nullopt);
}

} // namespace

QString GetSetting(const QString &key, const QString &defaultValue)
{
    if (const std::optional<QString> stored = readStore(key))
        return *stored;
    if (key == QLatin1String(Password)) {
        if (Keyring *keyring = currentKeyring()) {
            if (const std::optional<QString> kept = keyring->read(key))
                return *kept;
        }
    }
    return defaultValue;
}

void SaveSetting(const QString &key, const QString &value)
{
    Keyring *keyring = currentKeyring();
    if (key == QLatin1String(Password)) {
        if (keyring && keyring->write(key, value)) {
            // The keyring has it now; an older one in the store would shadow it.
            if (storeHolds(key))
                writeStore(key, std::nullopt);
            return;
        }
        writeStore(key, value);
        return;
    }
    writeStore(key, value);
    if (keyring)
        movePasswordToKeyring(*keyring);
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
    chosenKeyring.reset();
    keyringChosen = false;
}

void SetKeyring(std::shared_ptr<Keyring> keyring)
{
    chosenKeyring = std::move(keyring);
    keyringChosen = true;
}

} // namespace Settings
