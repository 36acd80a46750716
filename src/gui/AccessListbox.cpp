#include "gui/AccessListbox.h"

#include "core/Routine.h"
#include "core/db/Access.h"

#include <QTreeWidget>

namespace Access {

void AddTablesToAccessListbox(Dialogs &dialogs, QTreeWidget &listView, const ConnectionParameters &database)
{
    Routine r(dialogs, QStringLiteral("Access"), QStringLiteral("AddTablesToAccessListbox"));
    std::optional<QStringList> names;
    r.step(102, [&] { names = NonSystemTables(dialogs, database); });
    if (r.test(104, [&] { return !names.has_value(); })) {
        r.step(106, [] {});
        return;
    }
    r.step(108, [&] { listView.clear(); });
    if (names) {
        for (const QString &name : *names) {
            QTreeWidgetItem *row = nullptr;
            r.step(112, [&] {
                row = new QTreeWidgetItem(&listView, QStringList{name});
                row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                              Qt::ItemNeverHasChildren);
            });
            r.step(114, [&] {
                QTreeWidgetItem *last = listView.topLevelItem(listView.topLevelItemCount() - 1);
                if (!last)
                    throw Failure(35600, QStringLiteral("Index out of bounds"));
                last->setCheckState(0, Qt::Checked);
            });
        }
    }
    r.step(118, [&] { names.reset(); });
    if (r.test(120, [&] { return listView.topLevelItemCount() >= 1; })) {
        r.step(122, [&] { listView.topLevelItem(0)->setCheckState(0, Qt::Checked); });
        r.step(124, [&] {
            listView.setCurrentItem(listView.topLevelItem(0));
            listView.topLevelItem(0)->setSelected(true);
        });
    }
}

} // namespace Access
