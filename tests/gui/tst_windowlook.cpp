#include "core/Failure.h"
#include "gui/WindowLook.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Window
{
    QWidget form;
    QGroupBox *frame;
    QLabel *label;
    QLineEdit *text;
    QPushButton *button;

    Window()
    {
        QPalette white = form.palette();
        white.setColor(QPalette::Window, Qt::white);
        form.setPalette(white);
        frame = new QGroupBox(QStringLiteral("Access Database"), &form);
        label = new QLabel(QStringLiteral("MDB or ACCDB File:"), frame);
        text = new QLineEdit(frame);
        button = new QPushButton(QStringLiteral("Next >"), &form);
    }
};

QColor face()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

} // namespace

class WindowLookTest : public QObject
{
    Q_OBJECT

private slots:
    void buttonFaceColoursForWindowFramesAndLabels()
    {
        Window w;
        const QColor textBase = w.text->palette().color(QPalette::Base);
        Main::SetButtonFaceBackColors(w.form);
        QCOMPARE(w.form.palette().color(QPalette::Window), face());
        QCOMPARE(w.frame->palette().color(QPalette::Window), face());
        QCOMPARE(w.label->palette().color(QPalette::Window), face());
        QVERIFY(w.label->autoFillBackground());
        QCOMPARE(w.text->palette().color(QPalette::Base), textBase);
        QVERIFY(!w.button->autoFillBackground());
    }

    void skinIsAppliedOnlyWhenItsFileIsThere()
    {
        QTemporaryDir program;
        QVERIFY(program.isValid());
        Window w;
        Main::ApplySkin(w.form, QDir::toNativeSeparators(program.path()));
        QCOMPARE(w.form.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(w.form.styleSheet().isEmpty());

        QVERIFY(QDir(program.path()).mkpath(QStringLiteral("x")));
        QFile skin(program.filePath(QStringLiteral("x/o.cjs")));
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QPushButton { font-weight: bold; }");
        skin.close();
        Main::ApplySkin(w.form, QDir::toNativeSeparators(program.path()));
        QCOMPARE(w.form.palette().color(QPalette::Window), face());
        QCOMPARE(w.label->palette().color(QPalette::Window), face());
        QCOMPARE(w.form.styleSheet(), QStringLiteral("QPushButton { font-weight: bold; }"));
    }

    void skinFolderInsteadOfFileDoesNothing()
    {
        QTemporaryDir program;
        QVERIFY(QDir(program.path()).mkpath(QStringLiteral("x/o.cjs")));
        Window w;
        Main::ApplySkin(w.form, QDir::toNativeSeparators(program.path()));
        QVERIFY(w.form.styleSheet().isEmpty());
        QCOMPARE(w.form.palette().color(QPalette::Window), QColor(Qt::white));
    }
};

QTEST_MAIN(WindowLookTest)
#include "tst_windowlook.moc"
