#include "core/Keyring.h"
#include "core/Settings.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

// The password in a real keyring: gnome-keyring on a D-Bus session of its own, which the CTest entry
// tst_keyring_session starts around this program (see CMakeLists.txt), with a home folder of its
// own, so that no user's keyring is touched. The keyring that is missing or silent is shown by
// running this program again as a child in such an environment.
namespace {

const QString PasswordKey = QLatin1String(Settings::Password);

// Set by the session around the program: "private" when the keyring runs, "missing" when the
// programs it needs are not installed.
QByteArray keyringSession()
{
    return qgetenv("STRUDEX_KEYRING_SESSION");
}

bool keyringRequired()
{
    return TestSupport::fixturesRequired() || qgetenv("CI") == "true";
}

// What gnome-keyring's own client finds under Strudex's entry; nothing when it finds none.
std::optional<QByteArray> secretToolLookup()
{
    const TestSupport::ProgramRun run = TestSupport::runProgram(
        QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("server"),
                                        QLatin1String(Settings::KeyringService), QStringLiteral("user"), PasswordKey});
    if (run.exitCode != 0)
        return std::nullopt;
    return run.out;
}

// A bus that takes every connection and never says a word: the kernel accepts on the listening
// socket's behalf, and nobody reads or answers.
class SilentBus
{
public:
    explicit SilentBus(const QString &path) : m_path(path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        if (size_t(name.size()) >= sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        m_socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (m_socket >= 0 && (::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
                              ::listen(m_socket, 16) != 0)) {
            ::close(m_socket);
            m_socket = -1;
        }
    }
    ~SilentBus()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    SilentBus(const SilentBus &) = delete;
    SilentBus &operator=(const SilentBus &) = delete;

    bool listening() const { return m_socket >= 0; }
    QString address() const { return QStringLiteral("unix:path=") + m_path; }

private:
    QString m_path;
    int m_socket = -1;
};

// A store the way earlier versions left it: the password in the file.
void writeEarlierStore(const QString &path, const QByteArray &password)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    file.write("[Strudex%20Software]\nDatabase=/data/shop.mdb\nPassword=" + password + "\n");
}

} // namespace

// Ends a test that needs the private keyring where there is none: skipped when the program runs on
// its own (outside the session it would reach the user's keyring), and when the programs are
// missing on a developer's machine; failed where they must be installed.
#define REQUIRE_PRIVATE_KEYRING()                                                                                      \
    do {                                                                                                               \
        if (keyringSession() == "missing") {                                                                           \
            const char *message = "dbus-run-session, gnome-keyring-daemon or secret-tool is not installed "            \
                                  "(scripts/install-deps installs them)";                                              \
            if (keyringRequired())                                                                                     \
                QFAIL(message);                                                                                        \
            QSKIP(message);                                                                                            \
        }                                                                                                              \
        if (keyringSession() != "private")                                                                             \
            QSKIP("needs the private keyring that the CTest entry tst_keyring_session starts");                        \
    } while (false)

class KeyringTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString file;

    void useDesktopKeyring(int timeoutMs = 5000)
    {
        Settings::SetKeyring(Keyring::desktop(QLatin1String(Settings::KeyringService), timeoutMs));
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        static int count = 0;
        file = dir.filePath(QStringLiteral("store%1/settings.ini").arg(++count));
        Settings::SetStoreFile(file);
    }

    void cleanupTestCase() { Settings::SetStoreFile(QString()); }

    void passwordGoesIntoTheKeyringNotTheFile()
    {
        REQUIRE_PRIVATE_KEYRING();
        useDesktopKeyring();
        Settings::SaveSetting(QLatin1String(Settings::Database), QStringLiteral("/data/shop.mdb"));
        const QStringList values{QStringLiteral("Pa;ss=w0rd"), QStringLiteral("  blanks  "),
                                 QStringLiteral("Клиенты 顧客 Café"), QStringLiteral("two\nlines"), QString()};
        for (const QString &value : values) {
            Settings::SaveSetting(PasswordKey, value);
            QCOMPARE(secretToolLookup(), std::optional<QByteArray>(value.toUtf8()));
            QCOMPARE(Keyring::desktop(QLatin1String(Settings::KeyringService))->read(PasswordKey), value);
            QCOMPARE(Settings::GetSetting(PasswordKey, QStringLiteral("default")), value);
            const QByteArray bytes = TestSupport::readFile(file);
            QVERIFY2(bytes.contains("Database=/data/shop.mdb"), bytes.constData());
            QVERIFY2(!bytes.contains("Password"), bytes.constData());
        }
        // Without the keyring (a test's store has none) the file keeps it, as it always did.
        Settings::SetKeyring(nullptr);
        Settings::SaveSetting(PasswordKey, QStringLiteral("kept in the file"));
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("Strudex Software/Password")).toString(),
                 QStringLiteral("kept in the file"));
    }

    void storedPasswordMovesToTheKeyringAtTheFirstSave()
    {
        REQUIRE_PRIVATE_KEYRING();
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        writeEarlierStore(file, "from before");
        useDesktopKeyring();
        // Read before any save: the file's, though the keyring may hold an older one.
        QCOMPARE(Settings::GetSetting(PasswordKey), QStringLiteral("from before"));
        QVERIFY(TestSupport::readFile(file).contains("Password=from before"));

        // The first save, of another key, moves it.
        Settings::SaveSetting(QLatin1String(Settings::OutputFolder), QStringLiteral("/reports/"));
        QCOMPARE(secretToolLookup(), std::optional<QByteArray>("from before"));
        QByteArray bytes = TestSupport::readFile(file);
        QVERIFY2(!bytes.contains("Password") && !bytes.contains("from before"), bytes.constData());
        QVERIFY2(bytes.contains("Database=/data/shop.mdb") && bytes.contains("Output%20Folder=/reports/"),
                 bytes.constData());
        QCOMPARE(Settings::GetSetting(PasswordKey), QStringLiteral("from before"));

        // Typed while the keyring was away, it went into the file: that one is the newer, and wins
        // until the next save moves it too.
        Settings::SetKeyring(nullptr);
        Settings::SaveSetting(PasswordKey, QStringLiteral("typed meanwhile"));
        useDesktopKeyring();
        QCOMPARE(Settings::GetSetting(PasswordKey), QStringLiteral("typed meanwhile"));
        Settings::SaveSetting(PasswordKey, QStringLiteral("typed meanwhile!"));
        QCOMPARE(secretToolLookup(), std::optional<QByteArray>("typed meanwhile!"));
        bytes = TestSupport::readFile(file);
        QVERIFY2(!bytes.contains("Password"), bytes.constData());
        QCOMPARE(Settings::GetSetting(PasswordKey), QStringLiteral("typed meanwhile!"));
    }

    // A keyring that cannot be reached (no session bus) or does not answer (a bus that accepts and
    // stays silent) counts as none: the password goes into the file, the first save waits at most
    // the time-out, and later saves do not wait at all. Each case runs in a child of its own, since
    // a process meets its session bus only once.
    void missingOrSilentKeyringLeavesThePasswordInTheFile()
    {
        const SilentBus silentBus(dir.filePath(QStringLiteral("silent-bus")));
        QVERIFY(silentBus.listening());
        QTemporaryDir runtime;
        QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "STRUDEX_KEYRING_SESSION"})
            base.remove(QLatin1String(name));
        base.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()); // no bus socket there
        for (const bool silent : {false, true}) {
            QProcessEnvironment environment = base;
            const QString store = dir.filePath(QStringLiteral("child-%1/settings.ini").arg(silent));
            environment.insert(QStringLiteral("STRUDEX_KEYRING_CHILD_STORE"), store);
            if (silent) {
                environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), silentBus.address());
                environment.insert(QStringLiteral("STRUDEX_KEYRING_CHILD_SILENT"), QStringLiteral("1"));
            }
            const TestSupport::ProgramRun run = TestSupport::runProgram(
                QCoreApplication::applicationFilePath(), {QStringLiteral("childSavesWithTheDesktopKeyring")}, QString(),
                QByteArray(), environment, 60000);
            QVERIFY2(run.exitCode == 0 && run.out.contains("PASS   : KeyringTest::childSavesWithTheDesktopKeyring"),
                     (run.out + run.err).constData());
            QCOMPARE(QSettings(store, QSettings::IniFormat).value(QStringLiteral("Strudex Software/Password")),
                     QVariant(QStringLiteral("second")));
        }
    }

    // The child of the test above.
    void childSavesWithTheDesktopKeyring()
    {
        const QString store = qEnvironmentVariable("STRUDEX_KEYRING_CHILD_STORE");
        if (store.isEmpty())
            QSKIP("runs as a child of missingOrSilentKeyringLeavesThePasswordInTheFile");
        Settings::SetStoreFile(store);
        const int timeoutMs = 1000;
        useDesktopKeyring(timeoutMs);
        QElapsedTimer clock;
        clock.start();
        Settings::SaveSetting(PasswordKey, QStringLiteral("first"));
        // A missing keyring says so at once; a silent one is waited for, once.
        const qint64 firstMs = clock.elapsed();
        if (qEnvironmentVariableIsSet("STRUDEX_KEYRING_CHILD_SILENT"))
            QVERIFY2(firstMs >= timeoutMs - 50, qPrintable(QString::number(firstMs)));
        QVERIFY2(firstMs < timeoutMs + 2000, qPrintable(QString::number(firstMs)));
        QCOMPARE(Settings::GetSetting(PasswordKey), QStringLiteral("first"));
        clock.restart();
        Settings::SaveSetting(PasswordKey, QStringLiteral("second"));
        QCOMPARE(Settings::GetSetting(PasswordKey), QStringLiteral("second"));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(KeyringTest)
#include "tst_keyring.moc"
