#pragma once

#include "cli/CommandLineMessages.h"
#include "core/Dialogs.h"
#include "core/report/ExportView.h"

#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

// The command-line exporter's side of the report writer: the table list it was asked for and a
// progress bar on standard error when that is a terminal.
class ConsoleView : public ExportView
{
public:
    struct Row
    {
        QString name;
        bool ticked;
    };

    ConsoleView(std::vector<Row> rows, std::FILE *terminal);

    int rowCount() const override;
    QString rowText(int row) const override;
    bool rowTicked(int row) const override;
    void setProgressValue(double value) override;
    void setProgressCaption(const QString &caption) override;
    void setPointer(Pointer) override {}
    void yield() override;

    // Wipes the progress bar so that a message can be printed in its place.
    void clearProgress();
    // The table the report writer is at, as its progress caption names it; empty between tables.
    QString currentTable() const;

private:
    void draw();

    std::vector<Row> m_rows;
    std::FILE *m_terminal; // null when standard error is not a terminal
    double m_value = 0;
    QString m_caption;
    bool m_drawn = false;
    QElapsedTimer m_sinceYield;
    unsigned m_yieldsUnlooked = 0;
};

// Messages go to standard error in the words of a command line (CommandLineMessages), each naming
// the file it concerns; every one of them but the closing "Done." counts as a failure.
class ConsoleDialogs : public Dialogs
{
public:
    explicit ConsoleDialogs(ConsoleView *view = nullptr) : m_view(view) {}

    void setView(ConsoleView *view) { m_view = view; }
    void setFiles(const CommandLineMessages::Files &files) { m_files = files; }
    bool failed() const { return m_failed; }
    // Whether a message said so already: what it says is not printed twice. The text is compared
    // in its printed form (Structure::printable), as the lines of StructureOutput::unreadParts are.
    bool said(const QString &printedText) const
    {
        return std::any_of(m_said.cbegin(), m_said.cend(), [&](const QString &m) { return m.contains(printedText); });
    }

    Answer message(const QString &title, const QString &text, Buttons buttons, Icon icon) override;
    std::optional<QString> openFile(const OpenFileRequest &) override { return std::nullopt; }
    QString browseForFolder(const QString &, const QString &) override { return QString(); }
    bool openUrl(const QUrl &) override { return false; }

    // A message text as the terminal is given it: its CR LF and lone CR line breaks made into plain
    // line feeds, which it keeps; every other control character in it (names from the database
    // among them) shown as an escape, as Structure::printable does with ControlsButLineFeeds.
    static QString forTerminal(const QString &text);

private:
    ConsoleView *m_view;
    CommandLineMessages::Files m_files;
    bool m_failed = false;
    QStringList m_said;
};
