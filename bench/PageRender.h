#pragma once

// How long a browser takes to open the HTML page strudex-export writes for a big database: headless
// Chromium loads the page and renders it to a screenshot, timed end to end, next to the same for a
// tiny page, which is what starting the browser costs by itself.

#include <QString>

namespace PageRender {

struct Timing
{
    // Medians of three runs, in seconds.
    double page = 0;
    double reference = 0;
    // Why there is no figure (no browser, a failed export or run); empty when measured.
    QString problem;
};

// Writes the database's page with the exporter into folder and times the browser on it.
Timing measure(const QString &exporter, const QString &database, const QString &folder);

// Prints the benchmark's line for a page of that many tables, or why it was skipped. False when
// the page took longer than the target beyond the browser's own start.
bool report(const Timing &timing, qsizetype tables);

} // namespace PageRender
