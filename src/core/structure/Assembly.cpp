#include "core/structure/Assembly.h"

#include "core/db/Access.h"

#include <QHash>

namespace Structure {

namespace {

QString text(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

Properties propertiesOf(const std::vector<EngineProtocol::Property> &stored)
{
    Properties out;
    for (const EngineProtocol::Property &p : stored)
        out << qMakePair(text(p.name), text(p.text));
    return out;
}

std::optional<QString> property(const Properties &properties, const char *name)
{
    return storedProperty(properties, QString::fromLatin1(name));
}

// A property Access stores as "Yes" or "No"; any other text answers nothing.
std::optional<bool> yesNoProperty(const Properties &properties, const char *name)
{
    const auto value = property(properties, name);
    if (!value)
        return std::nullopt;
    if (*value == QStringLiteral("Yes"))
        return true;
    if (*value == QStringLiteral("No"))
        return false;
    return std::nullopt;
}

std::optional<int> whole(const Properties &properties, const char *name)
{
    const auto value = property(properties, name);
    bool ok = false;
    const int number = value ? value->toInt(&ok) : 0;
    return ok ? std::optional<int>(number) : std::nullopt;
}

QString displayControlName(const QString &code)
{
    static const QHash<QString, QString> names{{QStringLiteral("106"), QStringLiteral("Check Box")},
                                               {QStringLiteral("109"), QStringLiteral("Text Box")},
                                               {QStringLiteral("110"), QStringLiteral("List Box")},
                                               {QStringLiteral("111"), QStringLiteral("Combo Box")}};
    return names.value(code, code);
}

Field fieldOf(const EngineProtocol::StructureField &stored)
{
    Field f;
    f.name = text(stored.name);
    f.adoType = stored.adoType;
    f.type = Access::GetFieldTypeName(stored.adoType);
    f.size = stored.definedSize;
    f.accessType = text(stored.accessType);
    if (stored.fieldSize)
        f.fieldSize = text(*stored.fieldSize);
    f.precision = stored.precision;
    f.scale = stored.scale;
    f.multiValued = stored.multiValued;
    f.properties = propertiesOf(stored.properties);
    f.note = text(stored.note);
    f.description = property(f.properties, "Description");
    f.required = yesNoProperty(f.properties, "Required");
    f.allowZeroLength = yesNoProperty(f.properties, "AllowZeroLength");
    f.defaultValue = property(f.properties, "DefaultValue");
    f.validationRule = property(f.properties, "ValidationRule");
    f.validationText = property(f.properties, "ValidationText");
    f.expression = property(f.properties, "Expression");
    const auto control = property(f.properties, "DisplayControl");
    const auto rowSource = property(f.properties, "RowSource");
    // A lookup field shows a list or combo box, or names where its values come from.
    if ((control && (*control == QStringLiteral("110") || *control == QStringLiteral("111"))) || rowSource) {
        Lookup lookup;
        if (control)
            lookup.displayControl = displayControlName(*control);
        lookup.rowSourceType = property(f.properties, "RowSourceType");
        lookup.rowSource = rowSource;
        lookup.boundColumn = whole(f.properties, "BoundColumn");
        lookup.columnCount = whole(f.properties, "ColumnCount");
        lookup.allowMultipleValues = yesNoProperty(f.properties, "AllowMultipleValues");
        f.lookup = lookup;
    }
    return f;
}

Table tableOf(const EngineProtocol::StructureTable &stored)
{
    Table t;
    t.name = text(stored.name);
    t.records = stored.records;
    t.definitionRead = stored.definitionRead;
    t.properties = propertiesOf(stored.properties);
    t.description = property(t.properties, "Description");
    t.validationRule = property(t.properties, "ValidationRule");
    t.validationText = property(t.properties, "ValidationText");
    t.note = text(stored.note);
    for (const EngineProtocol::StructureField &field : stored.fields)
        t.fields << fieldOf(field);
    for (const EngineProtocol::StructureIndex &index : stored.indexes) {
        Index i;
        i.name = text(index.name);
        for (const auto &[name, descending] : index.fields)
            i.fields << IndexField{text(name), descending};
        i.primary = index.primary;
        i.unique = index.unique;
        i.ignoreNulls = index.ignoreNulls;
        i.required = index.required;
        i.foreignKey = index.foreignKey;
        i.note = text(index.note);
        t.indexes << i;
    }
    return t;
}

QStringList textsOf(const std::vector<std::string> &items)
{
    QStringList out;
    for (const std::string &item : items)
        out << text(item);
    return out;
}

} // namespace

QString formatName(int version, const QString &accessVersion)
{
    switch (version) {
    case 0:
        return QStringLiteral("Access 97");
    case 1:
        if (accessVersion.startsWith(QStringLiteral("08.")))
            return QStringLiteral("Access 2000");
        if (accessVersion.startsWith(QStringLiteral("09.")))
            return QStringLiteral("Access 2002-2003");
        return QStringLiteral("Access 2000-2003");
    case 2:
        return QStringLiteral("Access 2007");
    case 3:
        return QStringLiteral("Access 2010");
    case 4:
        return QStringLiteral("Access 2013");
    case 5:
    case 6:
        return QStringLiteral("Access 2016/2019");
    default:
        return QStringLiteral("Access (format %1)").arg(version);
    }
}

Document assemble(const QString &databasePath, const std::vector<EngineProtocol::StructureRecord> &records,
                  const QStringList &tableOrder)
{
    using EngineProtocol::StructureKind;
    Document d;
    d.database.path = databasePath;
    QList<Table> tables;
    for (const EngineProtocol::StructureRecord &record : records) {
        switch (record.kind) {
        case StructureKind::Database:
            d.database.format = formatName(record.database.version, text(record.database.accessVersion));
            d.database.encrypted = record.database.encrypted || record.database.databasePassword;
            break;
        case StructureKind::Table:
            tables << tableOf(record.table);
            break;
        case StructureKind::Relationship: {
            const auto &r = record.relationship;
            Relationship out;
            out.name = text(r.name);
            out.primaryTable = text(r.primaryTable);
            out.primaryFields = textsOf(r.primaryFields);
            out.foreignTable = text(r.foreignTable);
            out.foreignFields = textsOf(r.foreignFields);
            out.enforced = r.enforced;
            out.cascadeUpdates = r.cascadeUpdates;
            out.cascadeDeletes = r.cascadeDeletes;
            out.cascadeNull = r.cascadeNull;
            out.oneToOne = r.oneToOne;
            out.join = r.join == "left" ? Join::Left : r.join == "right" ? Join::Right : Join::Inner;
            out.note = text(r.note);
            d.relationships << out;
            break;
        }
        case StructureKind::Query:
            d.queries << Query{text(record.query.name), text(record.query.type), text(record.query.sql),
                               text(record.query.note)};
            break;
        case StructureKind::Link: {
            const auto &l = record.link;
            // An Access link points at a file; an ODBC link at a data source, whose password is never
            // shown.
            const QString source = l.database.empty() ? maskPasswords(text(l.connection)) : text(l.database);
            d.linkedTables << LinkedTable{text(l.name), text(l.target), source, text(l.note)};
            break;
        }
        case StructureKind::Note:
            d.notes << text(record.note);
            break;
        }
    }
    // The table list's order, then whatever it does not name.
    for (const QString &name : tableOrder) {
        for (qsizetype i = 0; i < tables.size(); ++i) {
            if (tables[i].name == name) {
                d.tables << tables.takeAt(i);
                break;
            }
        }
    }
    d.tables << tables;
    return d;
}

} // namespace Structure
