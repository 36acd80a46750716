#include "core/PathUtilities.h"
#include "core/Settings.h"
#include "core/db/WorkerProcess.h"
#include "gui/FocusFrame.h"
#include "gui/Form1.h"
#include "gui/Form2.h"
#include "gui/PointerModes.h"
#include "gui/Program.h"
#include "support/Controls.h"
#include "support/EngineFixture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using TestSupport::button;
using TestSupport::copyOfTestDatabase;
using TestSupport::frame;
using TestSupport::progressBar;
using TestSupport::tableList;
using TestSupport::textBox;

namespace {

QByteArray expectedReport(const QString &name, const QString &database)
{
    QByteArray bytes =
        TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(name + QStringLiteral(".expected.txt")));
    return " Printing From " + database.toUtf8() + bytes.mid(bytes.indexOf("\r\n"));
}

QStringList rowsOf(Form2 &form)
{
    QStringList rows;
    for (int i = 1; i <= form.rowCount(); ++i)
        rows << form.rowText(i);
    return rows;
}

void hover(QWidget *widget)
{
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(widget, &enter);
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

} // namespace

class WindowsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Program> program;
    QList<int> ends;

    void store(const QString &key, const QString &value) { Settings::SaveSetting(key, value); }
    QString stored(const QString &key) { return Settings::GetSetting(key, QStringLiteral("<none>")); }

private slots:
    void init()
    {
        home = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(home->path()).mkpath(QStringLiteral("Desktop")));
        qputenv("HOME", home->path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home->filePath(QStringLiteral(".config")).toLocal8Bit());
        Settings::SetStoreFile(home->filePath(QStringLiteral("settings.ini")));
        TestSupport::useBuiltEngine();
        ends.clear();
        Program::setEndAction([this](int code) { ends << code; });
        dialogs = std::make_unique<ScriptedDialogs>();
        program = std::make_unique<Program>(*dialogs);
    }

    void cleanup()
    {
        program.reset();
        dialogs.reset();
        Settings::SetStoreFile(QString());
    }

    void selectionWindowLayout()
    {
        Form1 &form = program->form1();
        QCOMPARE(form.size(), QSize(536, 139));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form.findChild<QGroupBox *>(QStringLiteral("Frame1"))->title(), QStringLiteral("Access Database"));
        QCOMPARE(form.findChild<QLabel *>(QStringLiteral("Label5"))->text(), QStringLiteral("MDB or ACCDB File:"));
        QCOMPARE(form.findChild<QLabel *>(QStringLiteral("lblPassword"))->text(),
                 QStringLiteral("Password (if required):"));
        QCOMPARE(form.findChild<QPushButton *>(QStringLiteral("PushButton1"))->text(),
                 QStringLiteral("Load Sample/Example Database"));
        QCOMPARE(form.findChild<QPushButton *>(QStringLiteral("PushButton3"))->text(), QStringLiteral("Next >"));
        QCOMPARE(form.findChild<QPushButton *>(QStringLiteral("PushButton5"))->text(), QStringLiteral("..."));
        auto *text1 = form.findChild<QLineEdit *>(QStringLiteral("Text1"));
        auto *text2 = form.findChild<QLineEdit *>(QStringLiteral("Text2"));
        QCOMPARE(text1->geometry(), QRect(152, 20, 313, 23));
        QCOMPARE(button(form, "PushButton3")->geometry(), QRect(272, 105, 256, 27));
        QCOMPARE(text2->echoMode(), QLineEdit::Password);
        QCOMPARE(text2->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, text2), int(u'*'));
        QCOMPARE(button(form, "PushButton1")->font().pointSizeF(), 11.25);
        QVERIFY(button(form, "PushButton1")->font().bold());
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));

        // Tab order: path, "...", password, sample, next, and round again.
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        text1->setFocus();
        const QList<QWidget *> order{button(form, "PushButton5"), text2, button(form, "PushButton1"),
                                     button(form, "PushButton3"), text1};
        for (QWidget *expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }

    void exportWindowLayout()
    {
        Form2 &form = program->form2();
        QCOMPARE(form.size(), QSize(504, 405));
        QCOMPARE(form.windowTitle(), QStringLiteral("Strudex Software"));
        QCOMPARE(tableList(form)->columnCount(), 1);
        QCOMPARE(tableList(form)->headerItem()->text(0), QStringLiteral("Table(s)"));
        QCOMPARE(tableList(form)->columnWidth(0), 400);
        QCOMPARE(progressBar(form)->minimum(), 0);
        QCOMPARE(progressBar(form)->maximum(), 100);
        QCOMPARE(progressBar(form)->value(), 0);
        QCOMPARE(progressBar(form)->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(frame(form, "Frame2")->title(), QStringLiteral("Save Results To This Folder"));
        QCOMPARE(button(form, "PushButton5")->text(), QStringLiteral("Start Exporting"));
        QCOMPARE(button(form, "PushButton2")->text(), QStringLiteral("< Back"));
        QCOMPARE(button(form, "PushButton8")->text(), QStringLiteral("Select All"));
        QCOMPARE(button(form, "PushButton9")->text(), QStringLiteral("Deselect All"));
        QCOMPARE(progressBar(form)->geometry(), QRect(8, 370, 488, 27));

        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        tableList(form)->setFocus();
        const QList<QWidget *> order{button(form, "PushButton8"),
                                     button(form, "PushButton9"),
                                     textBox(form, "Text1"),
                                     button(form, "PushButton4"),
                                     button(form, "PushButton5"),
                                     button(form, "PushButton2"),
                                     tableList(form)};
        for (QWidget *expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }

    void firstRunWithAnEmptyStore()
    {
        QVERIFY(program->start());
        Form1 &form = program->form1();
        QVERIFY(form.isVisible());
        QVERIFY(textBox(form, "Text1")->text().isEmpty());
        QVERIFY(textBox(form, "Text2")->text().isEmpty());
        QVERIFY(!program->hasForm2());
        QVERIFY(dialogs->messages.isEmpty());
        QCOMPARE(stored(QLatin1String(Settings::Database)), QStringLiteral("<none>"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Strudex Software"));
        QCOMPARE(Main::AppTitle(), QStringLiteral("Strudex"));
        QVERIFY(!form.windowIcon().isNull());
    }

    void damagedSettingsAreReportedOnceAndForgotten()
    {
        TestSupport::writeDamagedSettings(home->filePath(QStringLiteral("settings.ini")));
        QVERIFY(program->start());
        QVERIFY(program->form1().isVisible());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->texts().constFirst().contains(QStringLiteral("is damaged")));
        QVERIFY(dialogs->texts().constFirst().contains(QStringLiteral("Form1.Form_Load at line 128")));
        QVERIFY(textBox(program->form1(), "Text1")->text().isEmpty());
        // Typing puts a sound file in its place.
        textBox(program->form1(), "Text1")->setText(QStringLiteral("/data/new.mdb"));
        QCOMPARE(stored(QLatin1String(Settings::Database)), QStringLiteral("/data/new.mdb"));
    }

    void savedDatabaseThatWasDeleted()
    {
        const QString gone = home->filePath(QStringLiteral("gone.mdb"));
        store(QLatin1String(Settings::Database), gone);
        QVERIFY(program->start());
        QVERIFY(program->form1().isVisible());
        QCOMPARE(textBox(program->form1(), "Text1")->text(), gone);
        QVERIFY(!program->hasForm2());
        QVERIFY(dialogs->messages.isEmpty());
    }

    void savedGoodDatabaseLandsOnTheTableList()
    {
        store(QLatin1String(Settings::Database), copyOfTestDatabase(QStringLiteral("password.mdb")));
        store(QLatin1String(Settings::Password), QStringLiteral("Pa;ss=w0rd"));
        QVERIFY(program->start());
        QVERIFY(!program->form1().isVisible());
        Form2 &list = program->form2();
        QVERIFY(list.isVisible());
        QCOMPARE(rowsOf(list), QStringList{QStringLiteral("Secrets")});
        QVERIFY(list.rowTicked(1));
        QCOMPARE(tableList(list)->currentItem(), tableList(list)->topLevelItem(0));
        QVERIFY(tableList(list)->topLevelItem(0)->isSelected());
        QVERIFY(dialogs->messages.isEmpty());
        QCOMPARE(textBox(list, "Text1")->text(), home->filePath(QStringLiteral("Desktop")) + QLatin1Char('/'));
        QCOMPARE(stored(QLatin1String(Settings::OutputFolder)), textBox(list, "Text1")->text());
    }

    void wrongPasswordReportsOnceAndStays()
    {
        store(QLatin1String(Settings::Database), copyOfTestDatabase(QStringLiteral("password.mdb")));
        store(QLatin1String(Settings::Password), QStringLiteral("nope"));
        QVERIFY(program->start());
        QVERIFY(program->form1().isVisible());
        QVERIFY(!program->hasForm2());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->texts().constFirst().startsWith(
            QStringLiteral("Not a valid password.\r\nin Strudex2021/08/31.Access.NonSystemTables at line 106")));
    }

    void missingEngineEndsTheProgramBeforeAnyWindow()
    {
        Ado::WorkerSettings::setProgram(home->filePath(QStringLiteral("no-engine")));
        QVERIFY(!program->start());
        QCOMPARE(ends, QList<int>{1});
        QVERIFY(!program->form1().isVisible());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(
            dialogs->messages.constFirst().text.startsWith(QStringLiteral("Error #3706: Provider cannot be found.")));
    }

    void nextBackNextReplacesTheList()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("sample.mdb")));
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        Form2 &list = program->form2();
        QVERIFY(list.isVisible());
        QVERIFY(!selection.isVisible());
        QCOMPARE(list.rowCount(), 5);

        QTest::mouseClick(button(list, "PushButton2"), Qt::LeftButton);
        QVERIFY(selection.isVisible());
        QVERIFY(!list.isVisible());
        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("layout.mdb")));
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        QCOMPARE(rowsOf(list),
                 (QStringList{QStringLiteral("aardvark"), QStringLiteral("Empty Table"), QStringLiteral("Names"),
                              QStringLiteral("Zebra"), QStringLiteral("Клиенты"), QStringLiteral("顧客 Café")}));
        QCOMPARE(tableList(list)->columnCount(), 1);
        QVERIFY(dialogs->messages.isEmpty());

        // A database without user tables still moves on, to an empty list.
        QTest::mouseClick(button(list, "PushButton2"), Qt::LeftButton);
        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("linked.mdb")));
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        QCOMPARE(list.rowCount(), 0);
        QVERIFY(list.isVisible());
    }

    void catalogueReadInPartIsReportedOnceThenListed()
    {
        // The catalogue of structure.accdb continues on page 101, beyond a cut at 100,000 bytes.
        const QString cut = home->filePath(QStringLiteral("cut.accdb"));
        QFile file(cut);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(TestSupport::readFile(QDir(TestSupport::dataDir()).filePath(QStringLiteral("structure.accdb")))
                       .left(100000));
        file.close();
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        textBox(selection, "Text1")->setText(cut);
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        Form2 &list = program->form2();
        QVERIFY(list.isVisible());
        QCOMPARE(rowsOf(list), (QStringList{QStringLiteral("Customers"), QStringLiteral("Orders")}));
        QVERIFY(list.rowTicked(1) && list.rowTicked(2));
        QCOMPARE(dialogs->messages.size(), 1);
        QCOMPARE(dialogs->messages.constFirst().title, QStringLiteral("Application Error"));
        QVERIFY2(dialogs->texts().constFirst().contains(
                     QStringLiteral("Only 2 tables could be read; the database may have more.\r\nin "
                                    "Strudex2021/08/31.Access.NonSystemTables at line 118")),
                 qPrintable(dialogs->texts().constFirst()));
    }

    void nextWithNothingToReadDoesNothing()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        // The sample database button names the file beside the program, which the tests lack.
        QTest::mouseClick(button(selection, "PushButton1"), Qt::LeftButton);
        QCOMPARE(textBox(selection, "Text1")->text(), Main::ProgramFolder() + QStringLiteral("/Samples/sample.mdb"));
        QCOMPARE(stored(QLatin1String(Settings::Database)), textBox(selection, "Text1")->text());
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        QVERIFY(selection.isVisible());
        QVERIFY(!program->hasForm2());
        QVERIFY(dialogs->messages.isEmpty());
    }

    void fileDialogKeepsItsNameAndCancelKeepsTheBox()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        dialogs->setNextFileName(QStringLiteral("/data/first.mdb"));
        QTest::mouseClick(button(selection, "PushButton5"), Qt::LeftButton);
        QCOMPARE(textBox(selection, "Text1")->text(), QStringLiteral("/data/first.mdb"));
        const auto &request = dialogs->fileRequests.constFirst();
        QCOMPARE(request.title, QStringLiteral("Select Access Database"));
        QCOMPARE(request.filter,
                 QStringLiteral("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
                                "Microsoft 2007 Database (*.accdb)|*.accdb|"));
        QVERIFY(request.fileName.isEmpty());

        textBox(selection, "Text1")->setText(QStringLiteral("/typed/since.mdb"));
        QTest::mouseClick(button(selection, "PushButton5"), Qt::LeftButton); // cancelled
        QCOMPARE(textBox(selection, "Text1")->text(), QStringLiteral("/typed/since.mdb"));
        QCOMPARE(dialogs->fileRequests.at(1).fileName, QStringLiteral("/data/first.mdb"));
    }

    void typingThePasswordStoresEveryCharacter()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        QStringList seen;
        connect(textBox(selection, "Text2"), &QLineEdit::textChanged, this,
                [&] { seen << stored(QLatin1String(Settings::Password)); });
        textBox(selection, "Text2")->setFocus();
        QTest::keyClicks(textBox(selection, "Text2"), QStringLiteral("abcd"));
        QCOMPARE(seen, (QStringList{QStringLiteral("a"), QStringLiteral("ab"), QStringLiteral("abc"),
                                    QStringLiteral("abcd")}));
        textBox(selection, "Text2")->clear();
        QCOMPARE(stored(QLatin1String(Settings::Password)), QString());
    }

    void focusSelectsTheWholeText()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        QVERIFY(QTest::qWaitForWindowActive(&selection));
        textBox(selection, "Text2")->setText(QStringLiteral("secret"));
        textBox(selection, "Text1")->setFocus();
        QTest::keyClick(textBox(selection, "Text1"), Qt::Key_Tab);
        QTest::keyClick(button(selection, "PushButton5"), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), textBox(selection, "Text2"));
        QCOMPARE(textBox(selection, "Text2")->selectedText(), QStringLiteral("secret"));
    }

    void enterPressesTheFocusedButtonOnly()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        QVERIFY(QTest::qWaitForWindowActive(&selection));
        // The window opens on the first control of its tab order.
        QCOMPARE(QApplication::focusWidget(), textBox(selection, "Text1"));
        // Enter in the path box presses "Next >", which finds nothing to read in an empty box; a
        // push button without the focus is not pressed.
        QTest::keyClick(textBox(selection, "Text1"), Qt::Key_Return);
        QTest::qWait(300);
        QVERIFY(!program->hasForm2());
        QVERIFY(textBox(selection, "Text1")->text().isEmpty());

        button(selection, "PushButton1")->setFocus();
        QTest::keyClick(button(selection, "PushButton1"), Qt::Key_Return);
        QTRY_VERIFY(textBox(selection, "Text1")->text().endsWith(QStringLiteral("Samples/sample.mdb")));
        QVERIFY(!program->hasForm2());

        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("sample.mdb")));
        button(selection, "PushButton3")->setFocus();
        QTest::keyClick(button(selection, "PushButton3"), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_VERIFY(program->hasForm2() && program->form2().isVisible());
        Form2 &list = program->form2();
        QCOMPARE(list.rowCount(), 5);

        button(list, "PushButton9")->setFocus();
        QTest::keyClick(button(list, "PushButton9"), Qt::Key_Return);
        QTRY_VERIFY(!list.rowTicked(1) && !list.rowTicked(5));
        // With a modifier held, Enter is not a press.
        button(list, "PushButton8")->setFocus();
        QTest::keyClick(button(list, "PushButton8"), Qt::Key_Return, Qt::ControlModifier);
        QTest::qWait(300);
        QVERIFY(!list.rowTicked(1));
        QTest::keyClick(button(list, "PushButton8"), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_VERIFY(list.rowTicked(1) && list.rowTicked(5));
    }

    void theFocusedControlAlwaysShowsIt()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("sample.mdb")));
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        Form2 &list = program->form2();
        QVERIFY(QTest::qWaitForWindowActive(&list));
        // The export window opens with the focus on the table list, and the list shows it with a
        // frame in the highlight colour around its whole edge.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(tableList(list)));
        FocusFrame *frame = list.focusFrame();
        QVERIFY(frame);
        QCOMPARE(frame->target(), static_cast<QWidget *>(tableList(list)));
        QVERIFY(frame->isVisible());
        QCOMPARE(frame->geometry(), tableList(list)->rect());
        const QColor highlight = list.palette().color(QPalette::Active, QPalette::Highlight);
        const QImage focused = tableList(list)->grab().toImage();
        const QPoint leftEdge(0, focused.height() * 3 / 4);
        QCOMPARE(focused.pixelColor(leftEdge).rgb(), highlight.rgb());

        // Tab moves the frame to the next control; a click on a text box takes it away (the caret
        // shows the focus there).
        QTest::keyClick(tableList(list), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(button(list, "PushButton8")));
        QCOMPARE(frame->target(), static_cast<QWidget *>(button(list, "PushButton8")));
        QCOMPARE(frame->parentWidget(), static_cast<QWidget *>(button(list, "PushButton8")));
        const QImage unfocused = tableList(list)->grab().toImage();
        QVERIFY(unfocused.pixelColor(leftEdge).rgb() != highlight.rgb());
        QTest::mouseClick(textBox(list, "Text1"), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(textBox(list, "Text1")));
        QVERIFY(!frame->target());
        QVERIFY(frame->isHidden());

        // Back and Next again: the window opens on the table list again, not on "< Back", which
        // had the focus when it was left (Enter there would go straight back).
        button(list, "PushButton2")->setFocus();
        QTest::keyClick(button(list, "PushButton2"), Qt::Key_Return);
        QVERIFY(QTest::qWaitForWindowActive(&selection));
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowActive(&list));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(tableList(list)));
        QCOMPARE(frame->target(), static_cast<QWidget *>(tableList(list)));
    }

    void enterInABoxPressesTheWindowsNextStep()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        QVERIFY(QTest::qWaitForWindowActive(&selection));
        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("sample.mdb")));
        // With a modifier held, Enter in a box is not a press.
        QTest::keyClick(textBox(selection, "Text2"), Qt::Key_Return, Qt::ShiftModifier);
        QTest::qWait(300);
        QVERIFY(!program->hasForm2());
        // Enter in the password box presses "Next >"; the table window opens on the table list.
        textBox(selection, "Text2")->setFocus();
        QTest::keyClick(textBox(selection, "Text2"), Qt::Key_Return);
        QTRY_VERIFY(program->hasForm2() && program->form2().isVisible());
        Form2 &list = program->form2();
        QVERIFY(!selection.isVisible());
        QVERIFY(QTest::qWaitForWindowActive(&list));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(tableList(list)));
        QCOMPARE(list.rowCount(), 5);

        // Back, then keypad Enter in the path box: "Next >" again.
        QTest::mouseClick(button(list, "PushButton2"), Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowActive(&selection));
        textBox(selection, "Text1")->setFocus();
        QTest::keyClick(textBox(selection, "Text1"), Qt::Key_Enter, Qt::KeypadModifier);
        QTRY_VERIFY(list.isVisible() && !selection.isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(tableList(list)));

        // Enter in the folder box presses "Start Exporting": its checks first, then the export.
        textBox(list, "Text1")->setText(home->filePath(QStringLiteral("missing")));
        textBox(list, "Text1")->setFocus();
        QTest::keyClick(textBox(list, "Text1"), Qt::Key_Return);
        QTRY_COMPARE(dialogs->texts(),
                     QStringList{QStringLiteral("Folder does not exist. Please select another folder.")});
        dialogs->messages.clear();
        QTemporaryDir out;
        textBox(list, "Text1")->setText(out.path() + QLatin1Char('/'));
        QTest::keyClick(textBox(list, "Text1"), Qt::Key_Return);
        QTRY_COMPARE(dialogs->texts(), QStringList{QStringLiteral("Done.")});
        QVERIFY(QFileInfo(out.filePath(QStringLiteral("sample_Structure.txt"))).isFile());
        QVERIFY(list.isVisible());
    }

    void startExportingChecksAndTheWholeExport()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        const QString database = copyOfTestDatabase(QStringLiteral("sample.mdb"));
        textBox(selection, "Text1")->setText(database);
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        Form2 &list = program->form2();

        textBox(list, "Text1")->setText(home->filePath(QStringLiteral("missing")));
        QTest::mouseClick(button(list, "PushButton5"), Qt::LeftButton);
        QCOMPARE(dialogs->texts(), QStringList{QStringLiteral("Folder does not exist. Please select another folder.")});

        QTemporaryDir out;
        textBox(list, "Text1")->setText(out.path() + QLatin1Char('/'));
        QTest::mouseClick(button(list, "PushButton9"), Qt::LeftButton);
        for (int i = 1; i <= list.rowCount(); ++i)
            QVERIFY(!list.rowTicked(i));
        dialogs->messages.clear();
        QTest::mouseClick(button(list, "PushButton5"), Qt::LeftButton);
        QCOMPARE(dialogs->texts(), QStringList{QStringLiteral("Please select a table first.")});
        QVERIFY(QDir(out.path()).isEmpty());

        QTest::mouseClick(button(list, "PushButton8"), Qt::LeftButton);
        dialogs->messages.clear();
        QTest::mouseClick(button(list, "PushButton5"), Qt::LeftButton);
        QCOMPARE(dialogs->texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(TestSupport::readFile(out.filePath(QStringLiteral("sample_Structure.txt"))),
                 expectedReport(QStringLiteral("sample"), database));
        QCOMPARE(progressBar(list)->value(), 0);
        QCOMPARE(progressBar(list)->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(list.pointer().mode(), PointerModes::Default);
    }

    void theExportConnectsWithWhatTheBoxesHoldWhenItStarts()
    {
        store(QLatin1String(Settings::Database), copyOfTestDatabase(QStringLiteral("password.mdb")));
        store(QLatin1String(Settings::Password), QStringLiteral("Pa;ss=w0rd"));
        QVERIFY(program->start());
        Form2 &list = program->form2();
        QCOMPARE(list.rowCount(), 1);
        // Listed with the right password; the box changed behind the export window since.
        textBox(program->form1(), "Text2")->setText(QStringLiteral("nope"));
        QTemporaryDir out;
        textBox(list, "Text1")->setText(out.path());
        QTest::mouseClick(button(list, "PushButton5"), Qt::LeftButton);
        QVERIFY(!dialogs->texts().isEmpty());
        QVERIFY(dialogs->texts().constFirst().startsWith(
            QStringLiteral("Not a valid password.\r\nin Strudex2021/08/31.Form2.generateStructure at line 138")));
    }

    void folderPicker()
    {
        Form2 &list = program->form2();
        const QString before = textBox(list, "Text1")->text();
        QTest::mouseClick(button(list, "PushButton4"), Qt::LeftButton); // cancelled
        QCOMPARE(textBox(list, "Text1")->text(), before);
        QCOMPARE(dialogs->folderPrompts, QStringList{QStringLiteral("Please select folder:")});
        QCOMPARE(dialogs->folderStarts, QStringList{QString()});
        dialogs->setNextFolder(QStringLiteral("/"));
        QTest::mouseClick(button(list, "PushButton4"), Qt::LeftButton);
        QCOMPARE(textBox(list, "Text1")->text(), QStringLiteral("/"));
        dialogs->setNextFolder(QStringLiteral("/data/reports"));
        QTest::mouseClick(button(list, "PushButton4"), Qt::LeftButton);
        QCOMPARE(textBox(list, "Text1")->text(), QStringLiteral("/data/reports/"));
        QCOMPARE(stored(QLatin1String(Settings::OutputFolder)), QStringLiteral("/data/reports/"));
    }

    void pointerFollowsTheMouseButNeverLeavesBusy()
    {
        Form1 &selection = program->form1();
        hover(button(selection, "PushButton3"));
        QCOMPARE(selection.pointer().mode(), PointerModes::Custom);
        QCOMPARE(selection.cursor().shape(), Qt::PointingHandCursor);
        hover(TestSupport::control<QLabel>(selection, "lblPassword")); // labels leave it as it is
        QCOMPARE(selection.pointer().mode(), PointerModes::Custom);
        hover(textBox(selection, "Text1"));
        QCOMPARE(selection.pointer().mode(), PointerModes::Default);
        Form2 &list = program->form2();
        list.setPointer(ExportView::Pointer::Busy);
        hover(button(list, "PushButton5"));
        hover(tableList(list)->viewport());
        QCOMPARE(list.pointer().mode(), PointerModes::Busy);
        QCOMPARE(list.cursor().shape(), Qt::WaitCursor);
    }

    void closingEitherWindowEndsTheProgram()
    {
        QVERIFY(program->start());
        program->form2().show();
        program->form2().close();
        QCOMPARE(ends, QList<int>{0});
        QVERIFY(!program->form1().isVisible());
        QVERIFY(program->ended());
    }

    void closingDuringAnExportLeavesNoPartialReport()
    {
        QVERIFY(program->start());
        Form1 &selection = program->form1();
        textBox(selection, "Text1")->setText(copyOfTestDatabase(QStringLiteral("sample.mdb")));
        QTest::mouseClick(button(selection, "PushButton3"), Qt::LeftButton);
        Form2 &list = program->form2();
        QTemporaryDir out;
        textBox(list, "Text1")->setText(out.path());
        QFile earlier(out.filePath(QStringLiteral("sample_Structure.txt")));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier report");
        earlier.close();
        // Close the window as soon as the first table is being read.
        connect(progressBar(list), &QProgressBar::valueChanged, &list, [&](int value) {
            if (value > 0 && !program->ended())
                list.close();
        });
        QTest::mouseClick(button(list, "PushButton5"), Qt::LeftButton);
        QCOMPARE(ends, QList<int>{0});
        QCOMPARE(TestSupport::readFile(out.filePath(QStringLiteral("sample_Structure.txt"))),
                 QByteArray("earlier report"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
    }
};

QTEST_MAIN(WindowsTest)
#include "tst_windows.moc"
