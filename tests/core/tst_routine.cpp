#include "core/ErrorReport.h"
#include "core/Failure.h"
#include "core/Routine.h"
#include "support/ScriptedDialogs.h"

#include <QTest>

namespace {

const QString Request = QStringLiteral("Please email screenshot of this message to support@strudex.org");

QString expected(const QString &description, const QString &routine, int line)
{
    return description + QStringLiteral("\r\nin Strudex2021/08/31.") + routine + QStringLiteral(" at line ") +
           QString::number(line) + QStringLiteral("\r\r") + Request;
}

// A utility without a report of its own: its failure travels to the calling step.
QString failingUtility()
{
    throw Failure::invalidArgument();
}

} // namespace

class RoutineTest : public QObject
{
    Q_OBJECT

private slots:
    void composesTheMessageByteForByte()
    {
        const QString tag = ErrorReport::routineTag(QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"));
        QCOMPARE(tag, QStringLiteral("in Strudex2021/08/31.Form1.PushButton1_Click "));
        QCOMPARE(ErrorReport::compose(QStringLiteral("Disk full"), tag, 100),
                 QStringLiteral("Disk full\r\nin Strudex2021/08/31.Form1.PushButton1_Click at line 100\r\r") + Request);
        // A description of several lines is kept as it is; an empty one leaves the first line empty.
        QCOMPARE(ErrorReport::compose(QStringLiteral("a\r\nb"), tag, 224).left(5), QStringLiteral("a\r\nb\r"));
        QVERIFY(ErrorReport::compose(QString(), tag, 102).startsWith(QStringLiteral("\r\nin Strudex")));
    }

    void showsAWarningBoxWithOneOkButton()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("Form_Load"));
        r.step(106, [] { throw Failure(0, QStringLiteral("Bad pointer image")); });
        QCOMPARE(dialogs.messages.size(), 1);
        const auto &shown = dialogs.messages.constFirst();
        QCOMPARE(shown.title, QStringLiteral("Application Error"));
        QCOMPARE(shown.buttons, Dialogs::Buttons::Ok);
        QCOMPARE(shown.icon, Dialogs::Icon::Warning);
        QCOMPARE(shown.text, expected(QStringLiteral("Bad pointer image"), QStringLiteral("Form2.Form_Load"), 106));
    }

    void failedStepIsReportedAndTheNextStepRuns()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("PushButton5_Click"));
        QString value = QStringLiteral("old");
        QStringList ran;
        QVERIFY(!r.step(100, [&] {
            ran << QStringLiteral("100");
            throw Failure(53, QStringLiteral("File not found"));
            value = QStringLiteral("new"); // never reached: the old value stays
        }));
        QVERIFY(r.step(102, [&] { ran << QStringLiteral("102"); }));
        QCOMPARE(ran, (QStringList{QStringLiteral("100"), QStringLiteral("102")}));
        QCOMPARE(value, QStringLiteral("old"));
        QCOMPARE(dialogs.texts(), QStringList{expected(QStringLiteral("File not found"),
                                                       QStringLiteral("Form2.PushButton5_Click"), 100)});
    }

    void consecutiveFailuresGiveOneMessageEachInOrder()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Access"), QStringLiteral("GetFieldDesc_ADO"));
        r.step(102, [] { throw Failure(3265, QStringLiteral("Item cannot be found")); });
        r.step(104, [] { throw Failure(91, QStringLiteral("Object variable not set")); });
        r.step(106, [] {});
        QCOMPARE(dialogs.texts(), (QStringList{expected(QStringLiteral("Item cannot be found"),
                                                        QStringLiteral("Access.GetFieldDesc_ADO"), 102),
                                               expected(QStringLiteral("Object variable not set"),
                                                        QStringLiteral("Access.GetFieldDesc_ADO"), 104)}));
        QCOMPARE(r.failures(), 2);
    }

    void failedTestEntersTheTrueBranch()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("generateStructure"));
        QString branch;
        if (r.test(144, []() -> bool { throw Failure(0, QStringLiteral("Row gone")); }))
            r.step(146, [&] { branch = QStringLiteral("then"); });
        else
            r.step(148, [&] { branch = QStringLiteral("else"); });
        QCOMPARE(branch, QStringLiteral("then"));
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages.constFirst().text.contains(QStringLiteral("at line 144")));
        // A test that works answers for itself.
        QVERIFY(!r.test(150, [] { return false; }));
    }

    void failedLastStepOfABranchSkipsTheElseBranch()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form1"), QStringLiteral("PushButton5_Click"));
        QStringList ran;
        if (r.test(110, [] { return true; })) {
            r.step(112, [&] {
                ran << QStringLiteral("112");
                throw Failure(0, QStringLiteral("x"));
            });
        } else {
            r.step(114, [&] { ran << QStringLiteral("114"); });
        }
        r.step(116, [&] { ran << QStringLiteral("116"); });
        QCOMPARE(ran, (QStringList{QStringLiteral("112"), QStringLiteral("116")}));
    }

    void utilityFailureIsReportedUnderTheCallersTagAndLine()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form1"), QStringLiteral("Form_Load"));
        QString title = QStringLiteral("kept");
        r.step(100, [&] { title = failingUtility(); });
        r.step(106, [&] { title = QStringLiteral("Strudex Software"); });
        QCOMPARE(dialogs.texts(), QStringList{expected(QStringLiteral("Invalid procedure call or argument"),
                                                       QStringLiteral("Form1.Form_Load"), 100)});
        QCOMPARE(title, QStringLiteral("Strudex Software"));
        QVERIFY(!dialogs.texts().constFirst().contains(QStringLiteral("failingUtility")));
    }

    void foreignExceptionsAreReportedToo()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("generateStructure"));
        r.step(116, [] { throw std::runtime_error("No space left on device"); });
        r.step(118, [] { throw std::bad_alloc(); });
        r.step(120, [] { throw 42; });
        QCOMPARE(dialogs.messages.size(), 3);
        QVERIFY(dialogs.texts().at(0).startsWith(QStringLiteral("No space left on device\r\n")));
        QVERIFY(dialogs.texts().at(1).startsWith(QStringLiteral("Out of memory\r\n")));
        QVERIFY(dialogs.texts().at(2).contains(QStringLiteral("at line 120")));
    }

    void emptyDescriptionStillNamesRoutineAndLine()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("PushButton8_Click"));
        r.step(102, [] { throw Failure(0, QString()); });
        QCOMPARE(dialogs.texts(), QStringList{expected(QString(), QStringLiteral("Form2.PushButton8_Click"), 102)});
    }

    void failureInEveryPassOfALoopIsReportedEachTime()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Form2"), QStringLiteral("generateStructure"));
        int after = 0;
        for (int i = 0; i < 3; ++i) {
            r.step(154, [] { throw Failure(3078, QStringLiteral("no table")); });
            r.step(156, [&] { ++after; });
        }
        QCOMPARE(dialogs.messages.size(), 3);
        QCOMPARE(after, 3);
    }

    void stoppingRoutineReportsOnceAndSkipsTheRest()
    {
        ScriptedDialogs dialogs;
        Routine r(dialogs, QStringLiteral("Access"), QStringLiteral("NonSystemTables"), Routine::OnFailure::Stop);
        bool closed = false;
        QStringList names;
        r.step(106, [] { throw Failure(3031, QStringLiteral("Not a valid password.")); });
        // The read loop must end at once instead of counting its failed test as true.
        int passes = 0;
        while (r.test(112, [] { return true; }) && passes < 10) {
            ++passes;
            r.step(116, [&] { names << QStringLiteral("t"); });
        }
        QVERIFY(!r.step(120, [&] { names << QStringLiteral("result"); }));
        r.quietly([&] {
            closed = true;
            throw Failure(0, QStringLiteral("close failed"));
        });
        QCOMPARE(passes, 0);
        QVERIFY(names.isEmpty());
        QVERIFY(closed);
        QVERIFY(r.failed());
        QCOMPARE(dialogs.texts(), QStringList{expected(QStringLiteral("Not a valid password."),
                                                       QStringLiteral("Access.NonSystemTables"), 106)});
    }
};

QTEST_GUILESS_MAIN(RoutineTest)
#include "tst_routine.moc"
