#include "core/db/Access.h"
#include "gui/Form1.h"
#include "gui/Form2.h"
#include "gui/WindowHost.h"
#include "support/Controls.h"
#include "support/EngineFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using TestSupport::button;
using TestSupport::textBox;

namespace {

// Stands in for the program: records what a window asks of it, and names the database that the
// selection window's boxes would hold.
class StandInHost : public WindowHost
{
public:
    Dialogs &dialogs() override { return scripted; }
    void listTables(const Access::ConnectionParameters &database) override
    {
        asked << QStringLiteral("list %1 (%2)").arg(database.path, database.password);
    }
    void showExportWindow() override { asked << QStringLiteral("show export window"); }
    void showSelectionWindow() override { asked << QStringLiteral("show selection window"); }
    void end(int exitCode) override { asked << QStringLiteral("end %1").arg(exitCode); }
    void saveSetting(const QString &key, const QString &value) override
    {
        asked << QStringLiteral("save %1=%2").arg(key, value);
    }
    Access::ConnectionParameters connectionParameters() override
    {
        asked << QStringLiteral("connection parameters");
        return boxes;
    }

    ScriptedDialogs scripted;
    QStringList asked;
    Access::ConnectionParameters boxes;
};

} // namespace

class WindowHostTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::useBuiltEngine(); }

    void nextHandsTheHostThePathAndPasswordOfTheBoxes()
    {
        StandInHost host;
        Form1 form(host);
        form.show();
        const QString database = TestSupport::copyOfTestDatabase(QStringLiteral("password.mdb"));
        textBox(form, "Text1")->setText(database);
        textBox(form, "Text2")->setText(QStringLiteral("Pa;ss=w0rd"));
        QCOMPARE(host.asked, (QStringList{QStringLiteral("save Database=") + database,
                                          QStringLiteral("save Password=Pa;ss=w0rd")}));
        host.asked.clear();

        QTest::mouseClick(button(form, "PushButton3"), Qt::LeftButton);
        QCOMPARE(host.scripted.texts(), QStringList());
        QCOMPARE(host.asked, (QStringList{QStringLiteral("list %1 (Pa;ss=w0rd)").arg(database),
                                          QStringLiteral("show export window")}));
        QVERIFY(!form.isVisible());
    }

    void exportAndBackAskTheHost()
    {
        StandInHost host;
        Form2 form(host);
        form.show();
        host.boxes = {TestSupport::copyOfTestDatabase(QStringLiteral("sample.mdb")), QString()};
        form.listTables(host.boxes);
        QCOMPARE(form.rowCount(), 5);
        QTemporaryDir out;
        textBox(form, "Text1")->setText(out.path());
        host.asked.clear();

        // The database is the host's at the moment of the press.
        QTest::mouseClick(button(form, "PushButton5"), Qt::LeftButton);
        QCOMPARE(host.asked, QStringList{QStringLiteral("connection parameters")});
        QCOMPARE(host.scripted.texts(), QStringList{QStringLiteral("Done.")});
        const QByteArray report = TestSupport::readFile(out.filePath(QStringLiteral("sample_Structure.txt")));
        QVERIFY(report.startsWith(" Printing From " + host.boxes.path.toUtf8() + "\r\n"));

        QTest::mouseClick(button(form, "PushButton2"), Qt::LeftButton);
        QCOMPARE(host.asked.constLast(), QStringLiteral("show selection window"));
        QVERIFY(!form.isVisible());
        form.show();
        form.close();
        QCOMPARE(host.asked.constLast(), QStringLiteral("end 0"));
    }
};

QTEST_MAIN(WindowHostTest)
#include "tst_window_host.moc"
