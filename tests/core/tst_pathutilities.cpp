#include "core/Dialogs.h"
#include "core/Failure.h"
#include "core/PathUtilities.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Builds a path with the platform's separator from '/'-separated text.
QString p(const QString &text)
{
    return QDir::toNativeSeparators(text);
}

template <class F> long failureNumber(F &&call)
{
    try {
        call();
    } catch (const Failure &failure) {
        return failure.number();
    }
    return -1;
}

} // namespace

class PathUtilitiesTest : public QObject
{
    Q_OBJECT

private slots:
    void fileNameFromPath()
    {
        QCOMPARE(Main::FileNameFromPath(p("/data/shop.mdb")), QStringLiteral("shop.mdb"));
        QCOMPARE(Main::FileNameFromPath(QStringLiteral("shop.mdb")), QStringLiteral("shop.mdb"));
        QCOMPARE(Main::FileNameFromPath(p("/data/")), QString());
    }

    void stripExtension()
    {
        QCOMPARE(Main::StripExtension(p("/data/shop.mdb")), p("/data/shop"));
        QCOMPARE(Main::StripExtension(QStringLiteral(".profile")), QStringLiteral(".profile"));
        // The last dot may stand in a folder name.
        QCOMPARE(Main::StripExtension(p("/old.files/shop")), p("/old"));
        QCOMPARE(Main::StripExtension(QStringLiteral("shop")), QStringLiteral("shop"));
        QCOMPARE(Main::StripExtension(QStringLiteral("shop.")), QStringLiteral("shop"));
        QCOMPARE(Main::StripExtension(QString()), QString());
        // The dot's position is a 16-bit number: 32,767 is the last one that works.
        const QString longest = QString(32766, QLatin1Char('a')) + QStringLiteral(".mdb");
        QCOMPARE(Main::StripExtension(longest).size(), 32766);
        const QString tooLong = QString(32767, QLatin1Char('a')) + QStringLiteral(".mdb");
        QCOMPARE(failureNumber([&] { Main::StripExtension(tooLong); }), 6L);
    }

    void removeDoubleBackslashes()
    {
#ifdef Q_OS_WIN
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("C:\\\\data\\\\\\shop")),
                 QStringLiteral("C:\\data\\\\shop"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("\\\\server\\\\share")),
                 QStringLiteral("\\\\server\\share"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("\\data")), QStringLiteral("\\\\data"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("\\\\\\")), QStringLiteral("\\\\"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("C:\\\\")), QStringLiteral("C:\\"));
#else
        // The folder picker's root plus the appended separator comes back as the root itself.
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("//")), QStringLiteral("/"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("/")), QStringLiteral("/"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("/data/")), QStringLiteral("/data/"));
        // One pass over pairs: three separators become two.
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("/data//x///shop")), QStringLiteral("/data/x//shop"));
        QCOMPARE(Main::RemoveDoubleBackslashes(QStringLiteral("///")), QStringLiteral("//"));
#endif
    }

    void fileAndFolderTests()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("shop.mdb"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();

        QVERIFY(Main::FileExists(file));
        QVERIFY(!Main::FileExists(QString()));
        QVERIFY(!Main::FileExists(dir.filePath(QStringLiteral("missing.mdb"))));
        // A NUL would cut the name short at the system call and find the folder instead.
        QVERIFY(!Main::FileExists(dir.path() + QChar(u'\0') + QStringLiteral("x")));

        QCOMPARE(Main::IsFolder(dir.path()), std::optional<bool>(true));
        QCOMPARE(Main::IsFolder(file), std::optional<bool>(false));
        QVERIFY(!Main::IsFolder(dir.filePath(QStringLiteral("missing"))).has_value());
        QVERIFY(!Main::IsFolder(QString()).has_value());
    }

    void applicationTitle()
    {
        QCOMPARE(Main::TitleFromProductName(QStringLiteral("Strudex Software")), QStringLiteral("Strudex"));
        // Short enough already, yet the last word still goes.
        QCOMPARE(Main::TitleFromProductName(QStringLiteral("Alphaname Betanamexx Gammaname")),
                 QStringLiteral("Alphaname Betanamexx"));
        const QString sixWords = QStringLiteral("Abcdefghi Bcdefghij Cdefghijk Defghijkl Efghijklm Fghijklmn");
        QCOMPARE(sixWords.size(), 59);
        QCOMPARE(Main::TitleFromProductName(sixWords), QStringLiteral("Abcdefghi Bcdefghij Cdefghijk Defghijkl"));
        QCOMPARE(failureNumber([] { Main::TitleFromProductName(QStringLiteral("Strudex")); }), 5L);

        Main::SetAppTitle();
        QCOMPARE(Main::AppTitle(), QStringLiteral("Strudex"));
    }

    void desktopFolderFromTheUsersStandardLocations()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".config")));
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("Bureau")));
        QFile dirs(home.filePath(QStringLiteral(".config/user-dirs.dirs")));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
        dirs.close();
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toLocal8Bit());

        QString buffer = QStringLiteral("ignored");
        const QString desktop = Main::GetDesktopFolder(buffer);
#ifndef Q_OS_WIN
        QCOMPARE(desktop, home.path() + QStringLiteral("/Bureau/"));
        // The caller's variable holds the raw buffer: path, NUL, blank fill.
        QCOMPARE(buffer.size(), 512);
        QCOMPARE(buffer.left(desktop.size()), home.path() + QStringLiteral("/Bureau") + QChar(u'\0'));
        QVERIFY(buffer.endsWith(QLatin1Char(' ')));

        // A desktop folder that is not there: files go to the home folder instead.
        QVERIFY(QDir(home.filePath(QStringLiteral("Bureau"))).removeRecursively());
        QCOMPARE(Main::GetDesktopFolder(buffer), home.path() + QStringLiteral("/"));
#else
        QVERIFY(desktop.endsWith(QLatin1Char('\\')));
#endif
        QVERIFY(Main::GetSpecialFolderPath(5).isEmpty());
    }

    void folderFromShellBuffer()
    {
        QCOMPARE(failureNumber([] { Main::FolderFromShellBuffer(QString()); }), 5L);
        QCOMPARE(Main::FolderFromShellBuffer(p("/") + QChar(u'\0') + QStringLiteral("   ")), p("/"));
        QCOMPARE(Main::FolderFromShellBuffer(p("/home/u/Desktop") + QChar(u'\0')), p("/home/u/Desktop/"));
    }

    void fileDialogFilter()
    {
        QCOMPARE(qtFileDialogFilter(
                     QStringLiteral("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
                                    "Microsoft 2007 Database (*.accdb)|*.accdb|")),
                 QStringLiteral("All Microsoft Databases (*.mdb,*.accdb) (*.*db);;Microsoft Database (*.mdb) (*.mdb);;"
                                "Microsoft 2007 Database (*.accdb) (*.accdb)"));
        QCOMPARE(qtFileDialogFilter(QStringLiteral("Pictures|*.png;*.jpg")), QStringLiteral("Pictures (*.png *.jpg)"));
    }
};

QTEST_GUILESS_MAIN(PathUtilitiesTest)
#include "tst_pathutilities.moc"
