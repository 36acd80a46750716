#pragma once

#include "core/report/ExportView.h"

#include <QList>
#include <QStringList>

#include <functional>

// A table list of the test's choosing that records what the report writer did with it.
class RecordingView : public ExportView
{
public:
    struct Row
    {
        QString text;
        bool ticked = true;
    };

    QList<Row> rows;
    QList<double> values;
    QStringList captions;
    QList<Pointer> pointers;
    int yields = 0;
    // Runs at every yield, as clicks would.
    std::function<void()> onYield;

    int rowCount() const override { return int(rows.size()); }
    QString rowText(int row) const override { return rows.at(row - 1).text; }
    bool rowTicked(int row) const override { return rows.at(row - 1).ticked; }
    void setProgressValue(double value) override { values << value; }
    void setProgressCaption(const QString &caption) override { captions << caption; }
    void setPointer(Pointer pointer) override { pointers << pointer; }
    void yield() override
    {
        ++yields;
        if (onYield)
            onYield();
    }
};
