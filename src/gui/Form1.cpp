#include "gui/Form1.h"

#include "core/Dialogs.h"
#include "core/PathUtilities.h"
#include "core/Routine.h"
#include "core/Settings.h"
#include "core/db/Access.h"
#include "core/db/ODBCProvider.h"
#include "gui/WindowHost.h"
#include "gui/WindowLook.h"
#include "ui_Form1.h"

#include <QKeyEvent>

Form1::Form1(WindowHost &host) : ProgramWindow(host), ui(std::make_unique<Ui::Form1>())
{
    ui->setupUi(this);
    setFixedSize(536, 139);
    Main::StyleWindow(*this, {ui->Frame1, ui->Label5, ui->lblPassword},
                      {ui->PushButton1, ui->PushButton3, ui->PushButton5});
    Main::MaskWithAsterisks(*ui->Text2);

    m_pointer = new PointerModes(*this);
    for (QWidget *button : {static_cast<QWidget *>(ui->PushButton1), static_cast<QWidget *>(ui->PushButton3),
                            static_cast<QWidget *>(ui->PushButton5)})
        m_pointer->switchToCustomOver(button);
    for (QWidget *other :
         {static_cast<QWidget *>(ui->Text1), static_cast<QWidget *>(ui->Text2), static_cast<QWidget *>(ui->Frame1)})
        m_pointer->switchToDefaultOver(other);

    connect(ui->PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(ui->PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(ui->PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(ui->Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(ui->Text2, &QLineEdit::textChanged, this, &Form1::Text2_Change);
    ui->Text1->installEventFilter(this);
    ui->Text2->installEventFilter(this);
    setUpKeyboard(*ui->Text1);
}

Form1::~Form1() = default;

Access::ConnectionParameters Form1::connectionParameters() const
{
    return {ui->Text1->text(), ui->Text2->text()};
}

void Form1::Form_Load()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form1"), QStringLiteral("Form_Load"));
    r.step(100, [&] { Main::ApplySkin(*this); });
    r.step(106, [&] {
        setWindowTitle(QString::fromLatin1(Main::ProductName));
        setWindowIcon(Main::ProgramIcon());
        Main::SetAppTitle();
    });
    const QString pointerFile = Main::ProgramFolder() + Main::separator() + QStringLiteral("HAND-M.CUR");
    if (r.test(124, [&] { return Main::FileExists(pointerFile); }))
        r.step(126, [&] { m_pointer->setCustomCursor(LoadCursorFile(pointerFile)); });
    r.step(128, [&] { ui->Text1->setText(Settings::GetSetting(QLatin1String(Settings::Database))); });
    r.step(130, [&] { ui->Text2->setText(Settings::GetSetting(QLatin1String(Settings::Password))); });
    if (!r.test(138, [&] { return ODBCProvider::IsProviderInstalled(m_host.dialogs()); })) {
        m_host.end(1);
        return;
    }
    if (r.test(132, [&] { return !ui->Text1->text().isEmpty(); })) {
        if (r.test(134, [&] { return Main::FileExists(ui->Text1->text()); }))
            r.step(136, [&] { PushButton3_Click(); });
    }
}

void Form1::PushButton1_Click()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"));
    r.step(100, [&] {
        const QChar sep = Main::separator();
        ui->Text1->setText(Main::ProgramFolder() + sep + QStringLiteral("Samples") + sep +
                           QStringLiteral("sample.mdb"));
    });
}

void Form1::PushButton3_Click()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form1"), QStringLiteral("PushButton3_Click"));
    std::optional<QStringList> tables;
    // Only whether the database can be read: a catalogue read in part is reported once, by the list
    // that shows what could be read.
    r.step(100, [&] {
        tables = Access::NonSystemTables(m_host.dialogs(), connectionParameters(), Access::PartialCatalogue::ListOnly);
    });
    if (r.test(102, [&] { return !tables.has_value(); })) {
        r.step(104, [] {});
        return;
    }
    r.step(106, [&] { m_host.listTables(connectionParameters()); });
    r.step(108, [&] { m_host.showExportWindow(); });
    r.step(110, [&] { hide(); });
}

void Form1::PushButton5_Click()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form1"), QStringLiteral("PushButton5_Click"));
    Dialogs::OpenFileRequest request;
    r.step(102, [&] { request.readOnlyTicked = true; });
    r.step(104, [&] { request.title = QStringLiteral("Select Access Database"); });
    r.step(106, [&] {
        request.filter =
            QStringLiteral("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
                           "Microsoft 2007 Database (*.accdb)|*.accdb|");
    });
    std::optional<QString> chosen;
    r.step(108, [&] {
        request.fileName = m_dialogFileName;
        chosen = m_host.dialogs().openFile(request);
        if (chosen)
            m_dialogFileName = *chosen;
    });
    // Cancelling leaves the box as the user left it.
    if (r.test(110, [&] { return chosen.has_value() && !chosen->isEmpty(); }))
        r.step(112, [&] { ui->Text1->setText(*chosen); });
}

void Form1::Text1_Change()
{
    m_host.saveSetting(QLatin1String(Settings::Database), ui->Text1->text());
}

void Form1::Text2_Change()
{
    m_host.saveSetting(QLatin1String(Settings::Password), ui->Text2->text());
}

void Form1::Text1_GotFocus()
{
    ui->Text1->setSelection(0, int(ui->Text1->text().size()));
}

void Form1::Text2_GotFocus()
{
    ui->Text2->setSelection(0, int(ui->Text2->text().size()));
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in either box goes on to the tables, as "Next >" does: typing the path or the password
    // and pressing Enter is the quickest way through.
    if ((watched == ui->Text1 || watched == ui->Text2) && isPlainEnter(event)) {
        if (!static_cast<const QKeyEvent *>(event)->isAutoRepeat() && ui->PushButton3->isEnabled())
            ui->PushButton3->animateClick();
        return true;
    }
    if (event->type() == QEvent::FocusIn) {
        if (watched == ui->Text1)
            Text1_GotFocus();
        else if (watched == ui->Text2)
            Text2_GotFocus();
    }
    return ProgramWindow::eventFilter(watched, event);
}
