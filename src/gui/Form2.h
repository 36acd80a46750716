#pragma once

#include "core/report/ExportView.h"
#include "gui/PointerModes.h"
#include "gui/ProgramWindow.h"

#include <memory>

class QTreeWidgetItem;
class WindowHost;

namespace Access {
struct ConnectionParameters;
}

namespace Ui {
class Form2;
}

// The export window: the table list with its ticks, the output folder and "Start Exporting". The
// report writer drives its list, progress bar and pointer through ExportView.
//
// The controls keep the names of the window's layout (Form2.ui); what each one says:
//   PushButton2   "< Back"
//   PushButton4   "..."  (opens the folder picker)
//   PushButton5   "Start Exporting"
//   PushButton8   "Select All"
//   PushButton9   "Deselect All"
//   Text1         no caption: the output folder
//   Frame2        "Save Results To This Folder"  (around Text1 and PushButton4)
//   ListView1     the table list, one column "Table(s)"
//   ProgressBar1  "Progress Bar" at rest, "Processing: <table>" during an export
// The window has no labels. It opens with the focus on the table list; Enter in the folder box
// presses "Start Exporting".
class Form2 : public ProgramWindow, public ExportView
{
    Q_OBJECT

public:
    explicit Form2(WindowHost &host);
    ~Form2() override;

    // Fills the table list with the user tables of the database, every row ticked and the first
    // one selected. A database that cannot be listed is reported and the list kept.
    void listTables(const Access::ConnectionParameters &database);

    PointerModes &pointer() { return *m_pointer; }

    // ExportView
    int rowCount() const override;
    QString rowText(int row) const override;
    bool rowTicked(int row) const override;
    void setProgressValue(double value) override;
    void setProgressCaption(const QString &caption) override;
    void setPointer(Pointer pointer) override;
    void yield() override;

    // The report writer of this window, on the database the selection window names now.
    void generateStructure(const QString &fileName, const qint32 &tickedCount);

public slots:
    void Form_Load();
    void PushButton2_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton8_Click();
    void PushButton9_Click();
    void Text1_Change();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::Form2> ui;

    QTreeWidgetItem *row(int number) const;
    // "Select All" and "Deselect All".
    void tickEveryRow(const QString &routine, Qt::CheckState state);

    PointerModes *m_pointer;
};
