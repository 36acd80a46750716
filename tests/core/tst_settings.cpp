#include "core/Failure.h"
#include "core/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QFileDevice::Permissions permissionsOf(const QString &path)
{
    // Qt reports the owner's bits twice (as "owner" and as "user"); compare the owner, group and
    // other bits only.
    return QFile::permissions(path) & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                       QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString file;

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        // A file of its own for every test: Qt keeps each store's parsed content for the whole process.
        static int count = 0;
        file = dir.filePath(QStringLiteral("store%1/settings.ini").arg(++count));
        Settings::SetStoreFile(file);
    }

    void cleanupTestCase() { Settings::SetStoreFile(QString()); }

    void valuesComeBackExactlyAsWritten()
    {
        const QStringList values{QStringLiteral("  /data/shop.mdb  "), QStringLiteral("Pa;ss=w0rd"),
                                 QStringLiteral("@Variant(x)"),        QStringLiteral("\"quoted\" \\ back"),
                                 QStringLiteral("Клиенты 顧客 Café"),  QStringLiteral("#not a comment"),
                                 QStringLiteral("two\nlines")};
        for (const QString &value : values) {
            Settings::SaveSetting(QLatin1String(Settings::Password), value);
            QCOMPARE(Settings::GetSetting(QLatin1String(Settings::Password)), value);
        }
    }

    void missingKeyGivesTheDefaultButAnEmptyValueDoesNot()
    {
        QCOMPARE(Settings::GetSetting(QLatin1String(Settings::OutputFolder), QStringLiteral("/home/u/Desktop/")),
                 QStringLiteral("/home/u/Desktop/"));
        Settings::SaveSetting(QLatin1String(Settings::OutputFolder), QString());
        QCOMPARE(Settings::GetSetting(QLatin1String(Settings::OutputFolder), QStringLiteral("/home/u/Desktop/")),
                 QString());
    }

    void keysLiveUnderTheApplicationsSection()
    {
        Settings::SaveSetting(QLatin1String(Settings::Database), QStringLiteral("/data/shop.mdb"));
        Settings::SaveSetting(QLatin1String(Settings::OutputFolder), QStringLiteral("/reports/"));
        // A test's store has no keyring: the password is kept in the store, as without one.
        Settings::SaveSetting(QLatin1String(Settings::Password), QStringLiteral("secret"));
        QSettings raw(file, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Strudex Software/Database")).toString(), QStringLiteral("/data/shop.mdb"));
        QCOMPARE(raw.value(QStringLiteral("Strudex Software/Output Folder")).toString(), QStringLiteral("/reports/"));
        QCOMPARE(raw.value(QStringLiteral("Strudex Software/Password")).toString(), QStringLiteral("secret"));
        QCOMPARE(raw.childGroups(), QStringList{QStringLiteral("Strudex Software")});
    }

    void fileIsOwnerOnlyFromTheFirstWriteOn()
    {
        Settings::SaveSetting(QLatin1String(Settings::Password), QStringLiteral("secret"));
        QCOMPARE(permissionsOf(file), OwnerOnly);
        QCOMPARE(permissionsOf(QFileInfo(file).absolutePath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // A file that others could read is made private again at the next write.
        QVERIFY(QFile::setPermissions(file, OwnerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        Settings::SaveSetting(QLatin1String(Settings::Password), QStringLiteral("secret2"));
        QCOMPARE(permissionsOf(file), OwnerOnly);
        Settings::SaveSetting(QLatin1String(Settings::Database), QStringLiteral("x"));
        QCOMPARE(permissionsOf(file), OwnerOnly);
    }

    void storeThatCannotBeUsedFailsCleanly()
    {
        // A folder where the file should be: nothing can be read or written there.
        QVERIFY(QDir().mkpath(file));
        bool readFailed = false;
        try {
            Settings::GetSetting(QLatin1String(Settings::Database), QStringLiteral("default"));
        } catch (const Failure &failure) {
            readFailed = true;
            QVERIFY(failure.description().contains(QDir::toNativeSeparators(file)));
        }
        QVERIFY(readFailed);
        bool writeFailed = false;
        try {
            Settings::SaveSetting(QLatin1String(Settings::Database), QStringLiteral("x"));
        } catch (const Failure &) {
            writeFailed = true;
        }
        QVERIFY(writeFailed);
        QVERIFY(QDir(file).removeRecursively());
    }

    void damagedFileIsReportedThenSetAsideAtTheNextWrite()
    {
        const QByteArray bytes = TestSupport::writeDamagedSettings(file);

        bool reported = false;
        try {
            Settings::GetSetting(QLatin1String(Settings::Password), QStringLiteral("default"));
        } catch (const Failure &failure) {
            reported = failure.description().contains(QStringLiteral("damaged"));
        }
        QVERIFY(reported);
        // Told once: the next read gives the default instead of a second message.
        QCOMPARE(Settings::GetSetting(QLatin1String(Settings::Database), QStringLiteral("default")),
                 QStringLiteral("default"));

        // Typing goes on working: the damaged file is kept aside and a sound one takes its place.
        Settings::SaveSetting(QLatin1String(Settings::Password), QStringLiteral("typed"));
        QCOMPARE(Settings::GetSetting(QLatin1String(Settings::Password)), QStringLiteral("typed"));
        QFile kept(file + QStringLiteral(".damaged"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), bytes);
        QCOMPARE(permissionsOf(kept.fileName()), OwnerOnly);
        QCOMPARE(permissionsOf(file), OwnerOnly);
    }

    void usersOwnStoreIsInTheConfigurationFolder()
    {
#ifndef Q_OS_WIN
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        Settings::SetStoreFile(QString());
        QCOMPARE(Settings::StoreLocation(), config.filePath(QStringLiteral("Quenmar/Quenmar.ini")));
        Settings::SaveSetting(QLatin1String(Settings::Database), QStringLiteral("/data/shop.mdb"));
        QCOMPARE(Settings::GetSetting(QLatin1String(Settings::Database)), QStringLiteral("/data/shop.mdb"));
        QCOMPARE(permissionsOf(Settings::StoreLocation()), OwnerOnly);
        Settings::SetStoreFile(file);
#endif
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
