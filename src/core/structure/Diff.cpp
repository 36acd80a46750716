#include "core/structure/Diff.h"

#include "core/structure/JsonWriter.h"
#include "core/structure/Markdown.h"
#include "core/structure/Printable.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <optional>
#include <vector>

namespace Structure {

namespace {

// A name or value in a detail: as it is (for JSON) and as it is printed.
struct Shown
{
    QString raw;
    QString printed;
};

// The details of one changed item, in both forms.
struct Details
{
    QStringList raw;
    QStringList printed;

    bool isEmpty() const { return raw.isEmpty(); }
    // One detail: the pattern's %1 to %9 replaced by the parts, in one pass, so that a "%2" inside
    // a name stays what it is.
    void add(const QString &pattern, std::initializer_list<Shown> parts)
    {
        QString rawLine;
        QString printedLine;
        for (qsizetype i = 0; i < pattern.size(); ++i) {
            const QChar c = pattern.at(i);
            const int number = i + 1 < pattern.size() ? pattern.at(i + 1).digitValue() : -1;
            if (c == QLatin1Char('%') && number >= 1 && std::size_t(number) <= parts.size()) {
                rawLine += parts.begin()[number - 1].raw;
                printedLine += parts.begin()[number - 1].printed;
                ++i;
                continue;
            }
            rawLine += c;
            printedLine += c;
        }
        raw << rawLine;
        printed << printedLine;
    }
};

Shown plain(const QString &text)
{
    return {text, text};
}
Shown name(const QString &text)
{
    return {text, printable(text)};
}
Shown shown(const QString &text)
{
    const auto quoted = [](const QString &inside) { return QLatin1Char('"') + inside + QLatin1Char('"'); };
    return {quoted(text), quoted(printable(text, Escape::ControlsAndQuotes))};
}
Shown shown(const std::optional<QString> &text)
{
    return text ? shown(*text) : plain(QStringLiteral("(none)"));
}
Shown shown(bool flag)
{
    return plain(yesNo(flag));
}
Shown shown(const std::optional<bool> &flag)
{
    return flag ? shown(*flag) : plain(QStringLiteral("(none)"));
}
Shown shown(qint64 number)
{
    return plain(QString::number(number));
}
Shown shown(int number)
{
    return plain(QString::number(number));
}
Shown shown(const std::optional<int> &number)
{
    return number ? plain(QString::number(*number)) : plain(QStringLiteral("(none)"));
}
Shown shown(Join join)
{
    return plain(joinName(join));
}

template <class T> void compare(Details &details, const char *what, const T &before, const T &after)
{
    if (!(before == after))
        details.add(QStringLiteral("%1: %2 -> %3"), {plain(QLatin1String(what)), shown(before), shown(after)});
}

void compareProperties(Details &details, const Properties &before, const Properties &after, const DiffOptions &options)
{
    const auto compared = [&](const QString &key) { return options.layoutProperties || !isLayoutProperty(key); };
    QHash<QString, QString> old;
    QStringList oldOrder;
    for (const auto &[key, text] : before) {
        if (!compared(key))
            continue;
        old.insert(nameKey(key), text);
        oldOrder << key;
    }
    QHash<QString, QString> now;
    for (const auto &[key, text] : after) {
        if (!compared(key))
            continue;
        now.insert(nameKey(key), text);
        const auto found = old.constFind(nameKey(key));
        if (found == old.constEnd())
            details.add(QStringLiteral("property %1: (none) -> %2"), {name(key), shown(text)});
        else if (*found != text)
            details.add(QStringLiteral("property %1: %2 -> %3"), {name(key), shown(*found), shown(text)});
    }
    for (const QString &key : oldOrder) {
        if (!now.contains(nameKey(key)))
            details.add(QStringLiteral("property %1: %2 -> (none)"), {name(key), shown(old.value(nameKey(key)))});
    }
}

QString indexFields(const Index &index)
{
    QStringList names;
    for (const IndexField &field : index.fields)
        names << field.name + (field.descending ? QStringLiteral(" desc") : QString());
    return QLatin1Char('(') + names.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString lookupText(const Rare<Lookup> &lookup)
{
    if (!lookup)
        return QStringLiteral("(none)");
    return QStringLiteral("%1 %2").arg(lookup->rowSourceType.value_or(QString()),
                                       lookup->rowSource.value_or(QString()));
}

QString relationshipKey(const Relationship &r)
{
    return QStringLiteral("%1(%2) -> %3(%4)")
        .arg(r.primaryTable, r.primaryFields.join(QStringLiteral(", ")), r.foreignTable,
             r.foreignFields.join(QStringLiteral(", ")));
}

// Items of an old list and of a new one, taken to be the same item under another name.
template <class T> using Matches = QList<QPair<const T *, const T *>>;

// The items of `before` whose name `after` does not have, matched to the items of `after` whose
// name `before` does not have, when `same` finds them equal but for the name. Only a match that is
// the one and only for both of its items counts: a guess between look-alikes would be a wrong
// statement, and a removal and an addition are the safe answer. Only items of the same shape (a
// cheap summary that equal items share) are compared, so that two unrelated databases of
// thousands of tables are not compared table by table.
template <class T, class Key, class Shape, class Same>
Matches<T> renamed(const QList<T> &before, const QList<T> &after, Key key, Shape shape, Same same)
{
    QSet<QString> oldKeys;
    for (const T &entry : before)
        oldKeys.insert(nameKey(key(entry)));
    QSet<QString> newKeys;
    for (const T &entry : after)
        newKeys.insert(nameKey(key(entry)));
    QHash<QString, QList<const T *>> goneByShape;
    for (const T &entry : before) {
        if (!newKeys.contains(nameKey(key(entry))))
            goneByShape[shape(entry)] << &entry;
    }
    Matches<T> candidates;
    QHash<const T *, int> matchesOf;
    for (const T &entry : after) {
        if (goneByShape.isEmpty() || oldKeys.contains(nameKey(key(entry))))
            continue;
        for (const T *old : goneByShape.value(shape(entry))) {
            if (same(*old, entry)) {
                candidates.append(qMakePair(old, &entry));
                ++matchesOf[old];
                ++matchesOf[&entry];
            }
        }
    }
    Matches<T> found;
    for (const auto &candidate : std::as_const(candidates)) {
        if (matchesOf.value(candidate.first) == 1 && matchesOf.value(candidate.second) == 1)
            found.append(candidate);
    }
    return found;
}

// What a field's shape is made of: its types and size.
QString fieldShape(const Field &field)
{
    return QStringLiteral("%1 %2 %3 ").arg(field.adoType).arg(field.size).arg(field.accessType);
}

// A table's: its fields' shapes in order and its number of indexes.
QString tableShape(const Table &table)
{
    QString shape = QString::number(table.indexes.size()) + QLatin1Char(':');
    for (const Field &field : table.fields)
        shape += fieldShape(field);
    return shape;
}

// The renames of a list as pair() looks them up: the old key of the item each new key names.
struct RenameKeys
{
    QHash<QString, QString> oldByNew;
    QSet<QString> old;
};

template <class T, class Key> RenameKeys renameKeys(const Matches<T> &matches, Key key)
{
    RenameKeys keys;
    for (const auto &[old, now] : matches) {
        keys.oldByNew.insert(nameKey(key(*now)), key(*old));
        keys.old.insert(nameKey(key(*old)));
    }
    return keys;
}

// Pairs the items of two lists by a key, without regard to case: removed ones in the old order,
// then the changed, renamed and added ones in the new order. Items found in both go to
// compareItems.
template <class T, class Key, class Compare>
void pair(QList<Change> &changes, const QString &item, const QList<T> &before, const QList<T> &after, Key key,
          Compare compareItems, const RenameKeys &renames = {})
{
    QHash<QString, const T *> old;
    for (const T &entry : before)
        old.insert(nameKey(key(entry)), &entry);
    QHash<QString, const T *> now;
    for (const T &entry : after)
        now.insert(nameKey(key(entry)), &entry);
    for (const T &entry : before) {
        const QString oldKey = nameKey(key(entry));
        if (!now.contains(oldKey) && !renames.old.contains(oldKey))
            changes << Change{Change::Kind::Removed, item, key(entry), {}, {}, {}, {}};
    }
    for (const T &entry : after) {
        const T *earlier = old.value(nameKey(key(entry)));
        if (earlier) {
            compareItems(changes, *earlier, entry);
            continue;
        }
        const auto from = renames.oldByNew.constFind(nameKey(key(entry)));
        if (from != renames.oldByNew.constEnd())
            changes << Change{Change::Kind::Renamed, item, *from, {}, {}, key(entry), {}};
        else
            changes << Change{Change::Kind::Added, item, key(entry), {}, {}, {}, {}};
    }
}

void changed(QList<Change> &changes, const QString &item, const QString &name, const Details &details)
{
    if (!details.isEmpty())
        changes << Change{Change::Kind::Changed, item, name, details.raw, details.printed, {}, {}};
}

void compareDatabases(QList<Change> &changes, const Database &a, const Database &b)
{
    Details d;
    compare(d, "format", a.format, b.format);
    compare(d, "encrypted", a.encrypted, b.encrypted);
    changed(changes, QStringLiteral("database"), QString(), d);
}

Details fieldDetails(const Field &a, const Field &b, const DiffOptions &options)
{
    Details d;
    compare(d, "type", a.type, b.type);
    compare(d, "ADO type", a.adoType, b.adoType);
    compare(d, "size", a.size, b.size);
    compare(d, "Access type", a.accessType, b.accessType);
    compare(d, "field size", a.fieldSize, b.fieldSize);
    compare(d, "precision", a.precision, b.precision);
    compare(d, "scale", a.scale, b.scale);
    compare(d, "description", a.description, b.description);
    compare(d, "required", a.required, b.required);
    compare(d, "allow zero length", a.allowZeroLength, b.allowZeroLength);
    compare(d, "default value", a.defaultValue, b.defaultValue);
    compare(d, "validation rule", a.validationRule, b.validationRule);
    compare(d, "validation text", a.validationText, b.validationText);
    compare(d, "multi-valued", a.multiValued, b.multiValued);
    if (!(a.lookup == b.lookup))
        d.add(QStringLiteral("lookup: %1 -> %2"), {name(lookupText(a.lookup)), name(lookupText(b.lookup))});
    compare(d, "expression", a.expression, b.expression);
    compareProperties(d, a.properties, b.properties, options);
    return d;
}

Details indexDetails(const Index &a, const Index &b)
{
    Details d;
    if (indexFields(a) != indexFields(b))
        d.add(QStringLiteral("fields: %1 -> %2"), {name(indexFields(a)), name(indexFields(b))});
    compare(d, "primary key", a.primary, b.primary);
    compare(d, "unique", a.unique, b.unique);
    compare(d, "ignore nulls", a.ignoreNulls, b.ignoreNulls);
    compare(d, "required", a.required, b.required);
    compare(d, "for a relationship", a.foreignKey, b.foreignKey);
    return d;
}

// An index as the old database would have it had its fields carried the new names.
QList<Index> withFieldsRenamed(QList<Index> indexes, const QHash<QString, QString> &newNames)
{
    for (Index &index : indexes) {
        for (IndexField &field : index.fields)
            field.name = newNames.value(nameKey(field.name), field.name);
    }
    return indexes;
}

// The table's own changes, then those of its fields and of its indexes, named "<table>.<name>".
// The fields found renamed go to fieldRenames (the new name by the old one's key) when it is given.
void compareTables(QList<Change> &changes, const Table &a, const Table &b, const DiffOptions &options,
                   QHash<QString, QString> *fieldRenames = nullptr)
{
    Details d;
    compare(d, "description", a.description, b.description);
    // Validation and the rest of a table's settings are compared as the stored properties they are.
    compareProperties(d, a.properties, b.properties, options);
    // Fields that could not be read are unknown, not removed or added.
    if (!a.definitionRead || !b.definitionRead) {
        d.add(QStringLiteral("fields and indexes not compared: the table's definition could not be read in the %1"),
              {plain(!a.definitionRead && !b.definitionRead ? QStringLiteral("old and the new database")
                     : !a.definitionRead                    ? QStringLiteral("old database")
                                                            : QStringLiteral("new database"))});
        changed(changes, QStringLiteral("table"), b.name, d);
        return;
    }
    changed(changes, QStringLiteral("table"), b.name, d);
    const auto plainName = [](const Field &field) { return field.name; };
    const Matches<Field> renames =
        renamed(a.fields, b.fields, plainName, fieldShape,
                [&](const Field &old, const Field &now) { return fieldDetails(old, now, options).isEmpty(); });
    QHash<QString, QString> newNames;
    for (const auto &[old, now] : renames)
        newNames.insert(nameKey(old->name), now->name);
    if (fieldRenames)
        *fieldRenames = newNames;
    const QString prefix = b.name + QLatin1Char('.');
    const auto fieldName = [&](const Field &field) { return prefix + field.name; };
    pair(
        changes, QStringLiteral("field"), a.fields, b.fields, fieldName,
        [&](QList<Change> &out, const Field &old, const Field &now) {
            changed(out, QStringLiteral("field"), fieldName(now), fieldDetails(old, now, options));
        },
        renameKeys(renames, fieldName));
    const auto indexName = [&](const Index &index) { return prefix + index.name; };
    pair(changes, QStringLiteral("index"), withFieldsRenamed(a.indexes, newNames), b.indexes, indexName,
         [&](QList<Change> &out, const Index &old, const Index &now) {
             changed(out, QStringLiteral("index"), indexName(now), indexDetails(old, now));
         });
}

// Whether two tables are the same in every respect but their names, under the options.
bool sameButForName(const Table &a, const Table &b, const DiffOptions &options)
{
    if (!a.definitionRead || !b.definitionRead || a.fields.size() != b.fields.size() ||
        a.indexes.size() != b.indexes.size())
        return false;
    QList<Change> differences;
    compareTables(differences, a, b, options);
    return differences.isEmpty();
}

// A relationship of the old database with the names its tables and fields have in the new one.
Relationship withNewNames(Relationship r, const QHash<QString, QString> &tableRenames,
                          const QHash<QString, QHash<QString, QString>> &fieldRenames)
{
    const auto follow = [&](QString &table, QStringList &fields) {
        table = tableRenames.value(nameKey(table), table);
        const QHash<QString, QString> renames = fieldRenames.value(nameKey(table));
        for (QString &field : fields)
            field = renames.value(nameKey(field), field);
    };
    follow(r.primaryTable, r.primaryFields);
    follow(r.foreignTable, r.foreignFields);
    return r;
}

void compareRelationships(QList<Change> &changes, const Relationship &a, const Relationship &b)
{
    Details d;
    compare(d, "enforced", a.enforced, b.enforced);
    compare(d, "cascade updates", a.cascadeUpdates, b.cascadeUpdates);
    compare(d, "cascade deletes", a.cascadeDeletes, b.cascadeDeletes);
    compare(d, "cascade to null", a.cascadeNull, b.cascadeNull);
    compare(d, "one-to-one", a.oneToOne, b.oneToOne);
    compare(d, "join", a.join, b.join);
    changed(changes, QStringLiteral("relationship"), relationshipKey(b), d);
}

void compareQueries(QList<Change> &changes, const Query &a, const Query &b)
{
    Details d;
    compare(d, "type", a.type, b.type);
    compare(d, "SQL", a.sql, b.sql);
    changed(changes, QStringLiteral("query"), b.name, d);
}

void compareLinkedTables(QList<Change> &changes, const LinkedTable &a, const LinkedTable &b)
{
    Details d;
    compare(d, "target", a.target, b.target);
    compare(d, "source", a.source, b.source);
    changed(changes, QStringLiteral("linked table"), b.name, d);
}

// A form's or report's dates, and the module that holds its code.
template <class T> void compareDates(Details &d, const T &a, const T &b, const DiffOptions &options)
{
    // Access rewrites them without a change of design: compared only when everything is.
    if (!options.layoutProperties)
        return;
    compare(d, "created", a.created, b.created);
    compare(d, "updated", a.updated, b.updated);
}

void compareApplications(QList<Change> &changes, const Application &before, const Application &after,
                         const DiffOptions &options)
{
    Details project;
    compare(project, "VBA project", before.project.has_value(), after.project.has_value());
    if (before.project && after.project) {
        compare(project, "name", before.project->name, after.project->name);
        compare(project, "code page", before.project->codePage, after.project->codePage);
        compare(project, "compiled only", before.project->compiledOnly, after.project->compiledOnly);
        QStringList oldReferences, newReferences;
        for (const Reference &r : before.project->references)
            oldReferences << r.name;
        for (const Reference &r : after.project->references)
            newReferences << r.name;
        compare(project, "references", oldReferences.join(QStringLiteral(", ")),
                newReferences.join(QStringLiteral(", ")));
    }
    changed(changes, QStringLiteral("project"), QString(), project);
    const auto formsOrReports = [&](const QString &item, const QList<FormOrReport> &a, const QList<FormOrReport> &b) {
        pair(
            changes, item, a, b, [](const FormOrReport &f) { return f.name; },
            [&](QList<Change> &out, const FormOrReport &x, const FormOrReport &y) {
                Details d;
                compare(d, "module", x.module, y.module);
                compareDates(d, x, y, options);
                changed(out, item, y.name, d);
            });
    };
    formsOrReports(QStringLiteral("form"), before.forms, after.forms);
    formsOrReports(QStringLiteral("report"), before.reports, after.reports);
    pair(
        changes, QStringLiteral("macro"), before.macros, after.macros, [](const Macro &m) { return m.name; },
        [&](QList<Change> &out, const Macro &x, const Macro &y) {
            Details d;
            if (x.definition != y.definition)
                d.add(QStringLiteral("definition changed"), {});
            compareDates(d, x, y, options);
            changed(out, QStringLiteral("macro"), y.name, d);
        });
    pair(
        changes, QStringLiteral("module"), before.modules, after.modules, [](const Module &m) { return m.name; },
        [&](QList<Change> &out, const Module &x, const Module &y) {
            Details d;
            compare(d, "kind", x.kind, y.kind);
            compareDates(d, x, y, options);
            const QStringList lines = unifiedDiff(x.source.value_or(QString()).split(QLatin1Char('\n')),
                                                  y.source.value_or(QString()).split(QLatin1Char('\n')));
            if (x.source.has_value() != y.source.has_value())
                d.add(y.source ? QStringLiteral("source read") : QStringLiteral("source not read"), {});
            else if (!lines.isEmpty())
                d.add(QStringLiteral("code changed"), {});
            if (!d.isEmpty()) {
                out << Change{Change::Kind::Changed, QStringLiteral("module"), y.name, d.raw, d.printed, {}, lines};
            }
        });
}

const char *sign(Change::Kind kind)
{
    switch (kind) {
    case Change::Kind::Added:
        return "+";
    case Change::Kind::Removed:
        return "-";
    case Change::Kind::Changed:
        return "~";
    case Change::Kind::Renamed:
        return ">";
    }
    return "~";
}

const char *word(Change::Kind kind)
{
    switch (kind) {
    case Change::Kind::Added:
        return "added";
    case Change::Kind::Removed:
        return "removed";
    case Change::Kind::Changed:
        return "changed";
    case Change::Kind::Renamed:
        return "renamed";
    }
    return "changed";
}

} // namespace

QList<Change> diff(const Document &before, const Document &after, const DiffOptions &options)
{
    QList<Change> changes;
    compareDatabases(changes, before.database, after.database);
    const auto tableName = [](const Table &t) { return t.name; };
    const Matches<Table> renamedTables =
        renamed(before.tables, after.tables, tableName, tableShape,
                [&](const Table &a, const Table &b) { return sameButForName(a, b, options); });
    QHash<QString, QString> tableRenames;
    for (const auto &[old, now] : renamedTables)
        tableRenames.insert(nameKey(old->name), now->name);
    QHash<QString, QHash<QString, QString>> fieldRenames;
    pair(
        changes, QStringLiteral("table"), before.tables, after.tables, tableName,
        [&](QList<Change> &out, const Table &a, const Table &b) {
            compareTables(out, a, b, options, &fieldRenames[nameKey(b.name)]);
        },
        renameKeys(renamedTables, tableName));
    // A relationship is not changed by the renaming of its tables or fields.
    QList<Relationship> oldRelationships;
    for (const Relationship &r : before.relationships)
        oldRelationships << withNewNames(r, tableRenames, fieldRenames);
    pair(changes, QStringLiteral("relationship"), oldRelationships, after.relationships, relationshipKey,
         compareRelationships);
    pair(
        changes, QStringLiteral("query"), before.queries, after.queries, [](const Query &q) { return q.name; },
        compareQueries);
    pair(
        changes, QStringLiteral("linked table"), before.linkedTables, after.linkedTables,
        [](const LinkedTable &l) { return l.name; }, compareLinkedTables);
    compareApplications(changes, before.application, after.application, options);
    return changes;
}

namespace {

// One line of an edit script: ' ' in both texts, '-' only before, '+' only after.
struct Step
{
    char op;
    qsizetype oldLine;
    qsizetype newLine;
};

// The shortest edit script from one text's lines to the other's; empty when they are the same.
std::vector<Step> editScript(const QStringList &before, const QStringList &after)
{
    // Myers' greedy algorithm: the furthest reach of each diagonal, kept per number of edits to
    // walk the edits back.
    const qsizetype n = before.size();
    const qsizetype m = after.size();
    const qsizetype max = n + m;
    std::vector<qsizetype> reach(std::size_t(2 * max + 2), 0);
    std::vector<std::vector<qsizetype>> trace;
    qsizetype edits = -1;
    for (qsizetype d = 0; d <= max && edits < 0; ++d) {
        trace.push_back(reach);
        for (qsizetype k = -d; k <= d; k += 2) {
            const std::size_t at = std::size_t(k + max);
            qsizetype x = (k == -d || (k != d && reach[at - 1] < reach[at + 1])) ? reach[at + 1] : reach[at - 1] + 1;
            qsizetype y = x - k;
            while (x < n && y < m && before[x] == after[y])
                ++x, ++y;
            reach[at] = x;
            if (x >= n && y >= m) {
                edits = d;
                break;
            }
        }
    }
    if (edits <= 0)
        return {};
    // The script, from the end back.
    std::vector<Step> steps;
    qsizetype x = n, y = m;
    for (qsizetype d = edits; d > 0; --d) {
        const std::vector<qsizetype> &v = trace[std::size_t(d)];
        const qsizetype k = x - y;
        const std::size_t at = std::size_t(k + max);
        const bool down = k == -d || (k != d && v[at - 1] < v[at + 1]);
        const qsizetype previousK = down ? k + 1 : k - 1;
        const qsizetype previousX = v[std::size_t(previousK + max)];
        const qsizetype previousY = previousX - previousK;
        while (x > previousX && y > previousY)
            steps.push_back({' ', --x, --y});
        if (down)
            steps.push_back({'+', x, --y});
        else
            steps.push_back({'-', --x, y});
    }
    while (x > 0 && y > 0)
        steps.push_back({' ', --x, --y});
    std::reverse(steps.begin(), steps.end());
    return steps;
}

} // namespace

QStringList unifiedDiff(const QStringList &before, const QStringList &after)
{
    const std::vector<Step> steps = editScript(before, after);
    // Hunks: each change with three lines of context on each side; changes closer than twice that
    // share one.
    constexpr qsizetype context = 3;
    const qsizetype count = qsizetype(steps.size());
    const auto isChange = [&](qsizetype at) { return steps[std::size_t(at)].op != ' '; };
    QStringList out;
    qsizetype done = 0;
    for (qsizetype at = 0; at < count;) {
        if (!isChange(at)) {
            ++at;
            continue;
        }
        const qsizetype start = std::max(done, at - context);
        qsizetype last = at;
        for (qsizetype next = at + 1; next < count && next - last <= 2 * context + 1; ++next)
            if (isChange(next))
                last = next;
        const qsizetype end = std::min(count, last + 1 + context);
        qsizetype oldCount = 0, newCount = 0;
        for (qsizetype k = start; k < end; ++k) {
            oldCount += steps[std::size_t(k)].op != '+' ? 1 : 0;
            newCount += steps[std::size_t(k)].op != '-' ? 1 : 0;
        }
        const Step &first = steps[std::size_t(start)];
        out << QStringLiteral("@@ -%1,%2 +%3,%4 @@")
                   .arg(first.oldLine + 1)
                   .arg(oldCount)
                   .arg(first.newLine + 1)
                   .arg(newCount);
        for (qsizetype k = start; k < end; ++k) {
            const Step &step = steps[std::size_t(k)];
            out << QLatin1Char(step.op) + (step.op == '+' ? after[step.newLine] : before[step.oldLine]);
        }
        done = end;
        at = end;
    }
    return out;
}

bool isLayoutProperty(const QString &name)
{
    // What Access stores of a datasheet's look and of an object's identity and replication: it
    // changes when a column is widened or a sort is left on, not when the design does. Besides
    // these, every name that starts with "Datasheet" or "Subdatasheet".
    static const QSet<QString> names = [] {
        QSet<QString> keys;
        const QString listed = QStringLiteral(
            "NameMap GUID ColumnWidth ColumnOrder ColumnHidden TabularCharSet TabularFamily OrderBy OrderByOn "
            "OrderByOnLoad OrderOn Filter FilterOn FilterOnLoad LinkChildFields LinkMasterFields ReplicableBool DOL "
            "ConflictTable Orientation DisplayViewsOnSharePointSite TotalsRow AggregateType PublishToWeb "
            "ReadOnlyWhenDisconnected ThemeFontIndex BackColor BackShade BackTint BackThemeColorIndex "
            "AlternateBackColor AlternateBackShade AlternateBackTint AlternateBackThemeColorIndex DefaultView "
            "FrozenColumns HideNewField HorizontalDatasheetGridlineStyle VerticalDatasheetGridlineStyle");
        for (const QString &property : listed.split(QLatin1Char(' ')))
            keys.insert(nameKey(property));
        return keys;
    }();
    return name.startsWith(QLatin1String("Datasheet"), Qt::CaseInsensitive) ||
           name.startsWith(QLatin1String("Subdatasheet"), Qt::CaseInsensitive) || names.contains(nameKey(name));
}

namespace {

// A change's details as printed: those diff() made for printing, or else the details escaped whole.
QStringList printedDetails(const Change &change)
{
    if (!change.printedDetails.isEmpty() || change.details.isEmpty())
        return change.printedDetails;
    QStringList out;
    for (const QString &detail : change.details)
        out << printable(detail);
    return out;
}

} // namespace

QString diffText(const QList<Change> &changes)
{
    QString out;
    for (const Change &change : changes) {
        const bool renamed = change.kind == Change::Kind::Renamed;
        out += QLatin1String(sign(change.kind)) + QLatin1Char(' ');
        if (renamed)
            out += QStringLiteral("renamed ");
        out += printable(change.item);
        if (!change.name.isEmpty())
            out += QLatin1Char(' ') + printable(change.name);
        if (renamed)
            out += QStringLiteral(" to ") + printable(change.newName);
        if (!change.details.isEmpty())
            out += QStringLiteral(": ") + printedDetails(change).join(QStringLiteral("; "));
        out += QLatin1Char('\n');
        // A changed module's code, indented under it: no line of code can pass for a change.
        for (const QString &line : change.lines)
            out += QStringLiteral("    ") + printable(line) + QLatin1Char('\n');
    }
    return out;
}

QString diffMarkdown(const QList<Change> &changes)
{
    if (changes.isEmpty())
        return QStringLiteral("No differences.\n");
    QString out = QStringLiteral("| Change | Item | Name | Details |\n|---|---|---|---|\n");
    for (const Change &change : changes) {
        QStringList details;
        if (change.kind == Change::Kind::Renamed)
            details << QStringLiteral("to ") + markdownText(printable(change.newName));
        for (const QString &detail : printedDetails(change))
            details << markdownText(detail);
        out += QStringLiteral("| %1 | %2 | %3 | %4 |\n")
                   .arg(QLatin1String(word(change.kind)), markdownText(printable(change.item)),
                        markdownText(printable(change.name)), details.join(QStringLiteral("<br>")));
    }
    // The changed modules' code after the table, one fenced diff each.
    for (const Change &change : changes) {
        if (change.lines.isEmpty())
            continue;
        out += QStringLiteral("\n**") + markdownText(printable(change.item)) + QLatin1Char(' ') +
               markdownText(printable(change.name)) + QStringLiteral("**\n\n") +
               markdownFence(change.lines.join(QLatin1Char('\n')), QStringLiteral("diff"));
    }
    return out;
}

QByteArray diffJson(const QList<Change> &changes)
{
    QByteArray out = "{\n  \"generator\": " + jsonString(generatorName()) + ",\n  \"changes\": [";
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const Change &change = changes[i];
        out += i == 0 ? "\n" : ",\n";
        out += "    {\n      \"change\": \"" + QByteArray(word(change.kind)) + "\",\n";
        out += "      \"item\": " + jsonString(change.item) + ",\n";
        out += "      \"name\": " + jsonString(change.name) + ",\n";
        // Absent, as everywhere in the documents, is null rather than a missing key.
        out += "      \"newName\": " +
               (change.kind == Change::Kind::Renamed ? jsonString(change.newName) : QByteArray("null")) + ",\n";
        out += "      \"details\": [";
        for (qsizetype j = 0; j < change.details.size(); ++j)
            out += (j == 0 ? "" : ", ") + jsonString(change.details[j]);
        out += "],\n      \"lines\": [";
        for (qsizetype j = 0; j < change.lines.size(); ++j)
            out += (j == 0 ? "" : ", ") + jsonString(change.lines[j]);
        out += "]\n    }";
    }
    out += changes.isEmpty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

} // namespace Structure
