#include "cli/ConsoleExport.h"

#include "core/PathUtilities.h"
#include "core/report/StructureReport.h"
#include "core/structure/Printable.h"

#include <QCoreApplication>

#include <cmath>

ConsoleView::ConsoleView(std::vector<Row> rows, std::FILE *terminal) : m_rows(std::move(rows)), m_terminal(terminal)
{
}

int ConsoleView::rowCount() const
{
    return int(m_rows.size());
}

QString ConsoleView::rowText(int row) const
{
    return m_rows.at(std::size_t(row - 1)).name;
}

bool ConsoleView::rowTicked(int row) const
{
    return m_rows.at(std::size_t(row - 1)).ticked;
}

void ConsoleView::setProgressValue(double value)
{
    m_value = value;
    draw();
}

void ConsoleView::setProgressCaption(const QString &caption)
{
    m_caption = caption;
    if (caption == QLatin1String(StructureReport::RestingCaption))
        clearProgress();
    else
        draw();
}

void ConsoleView::yield()
{
    // Nothing waits on the exporter's event loop but its own timers; a look every few
    // milliseconds is plenty, and a look per field would cost more than the field.
    // Even the clock is read only every few calls: a big report yields a hundred thousand times.
    if (++m_yieldsUnlooked % 16 != 0 && m_sinceYield.isValid())
        return;
    if (m_sinceYield.isValid() && m_sinceYield.elapsed() < 10)
        return;
    m_sinceYield.start();
    QCoreApplication::processEvents();
}

void ConsoleView::draw()
{
    if (!m_terminal || m_caption == QLatin1String(StructureReport::RestingCaption) || m_caption.isEmpty())
        return;
    constexpr int BarWidth = 30;
    const int percent = int(std::lround(std::clamp(m_value, 0.0, 100.0)));
    const int filled = percent * BarWidth / 100;
    int width = qEnvironmentVariableIntValue("COLUMNS");
    if (width < 40)
        width = 80;
    // The caption names the table being written: a name from the database, escaped.
    QString line = QLatin1Char('[') + QString(filled, u'#') + QString(BarWidth - filled, u'-') +
                   QStringLiteral("] %1% ").arg(percent, 3) + Structure::printable(m_caption);
    if (line.size() > width - 1)
        line.truncate(width - 1);
    line += QString(width - 1 - line.size(), u' ');
    std::fprintf(m_terminal, "\r%s", line.toLocal8Bit().constData());
    std::fflush(m_terminal);
    m_drawn = true;
}

void ConsoleView::clearProgress()
{
    if (!m_terminal || !m_drawn)
        return;
    int width = qEnvironmentVariableIntValue("COLUMNS");
    if (width < 40)
        width = 80;
    std::fprintf(m_terminal, "\r%s\r", QString(width - 1, u' ').toLocal8Bit().constData());
    std::fflush(m_terminal);
    m_drawn = false;
}

QString ConsoleView::currentTable() const
{
    static const QString processing = QStringLiteral("Processing: ");
    return m_caption.startsWith(processing) ? m_caption.mid(processing.size()) : QString();
}

QString ConsoleDialogs::forTerminal(const QString &text)
{
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // A database's line feed inside a message stays a line break, as the same message's CR LF
    // would in the desktop program's box; it cannot move the cursor back or send the terminal a
    // command, and it is all the message needs.
    return Structure::printable(result, Structure::Escape::ControlsButLineFeeds);
}

Dialogs::Answer ConsoleDialogs::message(const QString &title, const QString &text, Buttons buttons, Icon)
{
    if (title == Main::AppTitle() && text == QStringLiteral("Done."))
        return Answer::Ok;
    m_failed = true;
    m_said << Structure::printable(text);
    const QString said =
        CommandLineMessages::fromDesktop(title, text, m_files, m_view ? m_view->currentTable() : QString());
    if (m_view)
        m_view->clearProgress();
    std::fprintf(stderr, "%s\n", said.toLocal8Bit().constData());
    std::fflush(stderr);
    // Nobody is there to say yes.
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}
