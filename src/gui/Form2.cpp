#include "gui/Form2.h"

#include "core/Dialogs.h"
#include "core/Failure.h"
#include "core/PathUtilities.h"
#include "core/Routine.h"
#include "core/Settings.h"
#include "core/db/Access.h"
#include "core/report/StructureReport.h"
#include "gui/AccessListbox.h"
#include "gui/WindowHost.h"
#include "gui/WindowLook.h"
#include "ui_Form2.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QShowEvent>

#include <cmath>

Form2::Form2(WindowHost &host) : ProgramWindow(host), ui(std::make_unique<Ui::Form2>())
{
    ui->setupUi(this);
    setFixedSize(504, 405);
    Main::StyleWindow(*this, {ui->Frame2},
                      {ui->PushButton2, ui->PushButton4, ui->PushButton5, ui->PushButton8, ui->PushButton9});
    QPalette bar = ui->ProgressBar1->palette();
    bar.setColor(QPalette::Base, Qt::white);
    bar.setColor(QPalette::Window, Qt::white);
    bar.setColor(QPalette::Text, QApplication::palette().color(QPalette::ButtonText));
    ui->ProgressBar1->setPalette(bar);
    ui->ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_pointer = new PointerModes(*this);
    for (QWidget *button : {ui->PushButton2, ui->PushButton4, ui->PushButton5, ui->PushButton8, ui->PushButton9})
        m_pointer->switchToCustomOver(button);
    m_pointer->switchToDefaultOver(ui->Frame2);
    m_pointer->switchToDefaultOver(ui->ListView1->viewport());

    connect(ui->PushButton2, &QPushButton::clicked, this, &Form2::PushButton2_Click);
    connect(ui->PushButton4, &QPushButton::clicked, this, &Form2::PushButton4_Click);
    connect(ui->PushButton5, &QPushButton::clicked, this, &Form2::PushButton5_Click);
    connect(ui->PushButton8, &QPushButton::clicked, this, &Form2::PushButton8_Click);
    connect(ui->PushButton9, &QPushButton::clicked, this, &Form2::PushButton9_Click);
    connect(ui->Text1, &QLineEdit::textChanged, this, &Form2::Text1_Change);
    ui->Text1->installEventFilter(this);
    setUpKeyboard(*ui->ListView1);
}

Form2::~Form2() = default;

void Form2::showEvent(QShowEvent *event)
{
    ProgramWindow::showEvent(event);
    // Each "Next >" lands on the table list, whatever had the focus when the window was left: a
    // focus left on "< Back" would make the next Enter go straight back. The window coming back
    // from the task bar keeps its focus.
    if (!event->spontaneous())
        ui->ListView1->setFocus(Qt::TabFocusReason);
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in the folder box starts the export, as "Start Exporting" does.
    if (watched == ui->Text1 && isPlainEnter(event)) {
        if (!static_cast<const QKeyEvent *>(event)->isAutoRepeat() && ui->PushButton5->isEnabled())
            ui->PushButton5->animateClick();
        return true;
    }
    return ProgramWindow::eventFilter(watched, event);
}

void Form2::listTables(const Access::ConnectionParameters &database)
{
    Access::AddTablesToAccessListbox(m_host.dialogs(), *ui->ListView1, database);
}

void Form2::Form_Load()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form2"), QStringLiteral("Form_Load"));
    r.step(100, [&] { Main::SetButtonFaceBackColors(*this); });
    r.step(102, [&] { setWindowIcon(Main::ProgramIcon()); });
    const QString pointerFile = Main::ProgramFolder() + Main::separator() + QStringLiteral("HAND-M.CUR");
    if (r.test(104, [&] { return Main::FileExists(pointerFile); }))
        r.step(106, [&] { m_pointer->setCustomCursor(LoadCursorFile(pointerFile)); });
    r.step(108, [&] { setWindowTitle(QString::fromLatin1(Main::ProductName)); });
    r.step(110, [&] { ui->ListView1->setHeaderLabels({QStringLiteral("Table(s)")}); });
    r.step(112, [&] { ui->ListView1->setColumnWidth(0, 6000 / 15); });
    r.step(116, [&] {
        QString buffer;
        const QString desktop = Main::GetDesktopFolder(buffer);
        ui->Text1->setText(Settings::GetSetting(QLatin1String(Settings::OutputFolder), desktop));
    });
}

void Form2::PushButton2_Click()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form2"), QStringLiteral("PushButton2_Click"));
    r.step(100, [&] { m_host.showSelectionWindow(); });
    r.step(102, [&] { hide(); });
}

void Form2::PushButton4_Click()
{
    Routine r(m_host.dialogs(), QStringLiteral("Form2"), QStringLiteral("PushButton4_Click"));
    QString folder;
    r.step(100, [&] { folder = m_host.dialogs().browseForFolder(QStringLiteral("Please select folder:"), QString()); });
    if (r.test(102, [&] { return folder.isEmpty(); }))
        return;
    r.step(104, [&] { ui->Text1->setText(Main::RemoveDoubleBackslashes(folder + Main::separator())); });
}

void Form2::PushButton5_Click()
{
    // The database is what the selection window's boxes hold as the export starts.
    StructureReport::StartExporting(m_host.dialogs(), *this, m_host.connectionParameters(), ui->Text1->text());
}

void Form2::PushButton8_Click()
{
    tickEveryRow(QStringLiteral("PushButton8_Click"), Qt::Checked);
}

void Form2::PushButton9_Click()
{
    tickEveryRow(QStringLiteral("PushButton9_Click"), Qt::Unchecked);
}

void Form2::tickEveryRow(const QString &routine, Qt::CheckState state)
{
    Routine r(m_host.dialogs(), QStringLiteral("Form2"), routine);
    int rows = 0;
    r.step(100, [&] { rows = rowCount(); });
    for (int number = 1; number <= rows; ++number)
        r.step(102, [&] { row(number)->setCheckState(0, state); });
}

void Form2::Text1_Change()
{
    m_host.saveSetting(QLatin1String(Settings::OutputFolder), ui->Text1->text());
}

void Form2::generateStructure(const QString &fileName, const qint32 &tickedCount)
{
    StructureReport::generateStructure(m_host.dialogs(), *this, m_host.connectionParameters(), fileName, tickedCount);
}

QTreeWidgetItem *Form2::row(int number) const
{
    QTreeWidgetItem *item = number >= 1 ? ui->ListView1->topLevelItem(number - 1) : nullptr;
    if (!item)
        throw Failure(35600, QStringLiteral("Index out of bounds"));
    return item;
}

int Form2::rowCount() const
{
    return ui->ListView1->topLevelItemCount();
}

QString Form2::rowText(int number) const
{
    return row(number)->text(0);
}

bool Form2::rowTicked(int number) const
{
    return row(number)->checkState(0) == Qt::Checked;
}

void Form2::setProgressValue(double value)
{
    ui->ProgressBar1->setValue(int(std::lround(std::clamp(value, 0.0, 100.0))));
}

void Form2::setProgressCaption(const QString &caption)
{
    // The bar reads "%" followed by a letter as a placeholder; a table name is shown as it is.
    QString format = caption;
    format.replace(QLatin1Char('%'), QStringLiteral("%%"));
    ui->ProgressBar1->setFormat(format);
}

void Form2::setPointer(Pointer pointer)
{
    m_pointer->setMode(pointer == Pointer::Busy ? PointerModes::Busy : PointerModes::Default);
}

void Form2::yield()
{
    // The report yields before every table and every field. A look at the event loop every few
    // milliseconds keeps the window painting and answering; a look per field of a big database
    // (a hundred thousand of them) would cost several times the report itself.
    static QElapsedTimer sinceLastLook;
    if (sinceLastLook.isValid() && sinceLastLook.elapsed() < 5)
        return;
    sinceLastLook.start();
    QCoreApplication::processEvents();
}
