#include "core/structure/Assembly.h"

#include "core/db/Access.h"
#include "core/db/Ado.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>

namespace Structure {

namespace {

QString text(std::string_view utf8)
{
    return Ado::fromUtf8(utf8);
}

template <class Text> std::optional<QString> optionalText(const std::optional<Text> &utf8)
{
    return utf8 ? std::optional<QString>(text(*utf8)) : std::nullopt;
}

// A reference from its identifier: a library's "*\G{GUID}#version#locale#path#description", a
// project's "*\C" or "*\A" and its path.
Reference referenceOf(const QString &name, const QString &libid, bool project)
{
    Reference reference{name, QString(), std::nullopt, std::nullopt};
    if (project) {
        reference.path = libid.startsWith(QStringLiteral("*\\")) ? libid.mid(3) : libid;
        return reference;
    }
    const QStringList parts = libid.split(QLatin1Char('#'));
    if (parts.size() >= 5 && parts[0].startsWith(QStringLiteral("*\\G{"))) {
        reference.guid = parts[0].mid(3);
        reference.path = parts[3];
        reference.description = parts.mid(4).join(QLatin1Char('#'));
    } else {
        reference.path = libid;
    }
    return reference;
}

// The properties the document reads into their own places.
enum Wanted : std::size_t {
    Description,
    Required,
    AllowZeroLength,
    DefaultValue,
    ValidationRule,
    ValidationText,
    Expression,
    DisplayControl,
    RowSource,
    RowSourceType,
    BoundColumn,
    ColumnCount,
    AllowMultipleValues,
    WantedCount,
};

// Their names as nameKey() makes them.
constexpr std::array<QLatin1StringView, WantedCount> kWantedKeys = {
    QLatin1StringView("description"),         QLatin1StringView("required"),       QLatin1StringView("allowzerolength"),
    QLatin1StringView("defaultvalue"),        QLatin1StringView("validationrule"), QLatin1StringView("validationtext"),
    QLatin1StringView("expression"),          QLatin1StringView("displaycontrol"), QLatin1StringView("rowsource"),
    QLatin1StringView("rowsourcetype"),       QLatin1StringView("boundcolumn"),    QLatin1StringView("columncount"),
    QLatin1StringView("allowmultiplevalues"),
};

bool isAscii(const QString &name)
{
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// Which wanted property a stored name is, matched as storedProperty() matches names (nameKey);
// WantedCount for none. An ASCII name is lowered the same way without making its key.
std::size_t wantedIndex(const QString &name)
{
    const bool ascii = isAscii(name);
    const QString key = ascii ? QString() : nameKey(name);
    for (std::size_t i = 0; i < WantedCount; ++i) {
        const QLatin1StringView wanted = kWantedKeys[i];
        if (ascii ? name.size() == wanted.size() && name.compare(wanted, Qt::CaseInsensitive) == 0 : key == wanted)
            return i;
    }
    return WantedCount;
}

} // namespace

// The first stored property of each wanted name, noted while the properties are made: what
// storedProperty() would find for each, without lowering every name for every lookup.
class Assembler::Sheet
{
public:
    Sheet() { m_at.fill(-1); }

    void note(std::size_t which, qsizetype position)
    {
        if (which < WantedCount && m_at[which] < 0)
            m_at[which] = position;
    }

    // The properties the noted positions are in, once they are in their place.
    void over(const Properties &properties) { m_properties = &properties; }

    std::optional<QString> text(std::size_t which) const
    {
        const QString *value = found(which);
        return value ? std::optional<QString>(*value) : std::nullopt;
    }

    // A property Access stores as "Yes" or "No"; any other text answers nothing.
    std::optional<bool> yesNo(std::size_t which) const
    {
        const QString *value = found(which);
        if (!value)
            return std::nullopt;
        if (*value == QStringLiteral("Yes"))
            return true;
        if (*value == QStringLiteral("No"))
            return false;
        return std::nullopt;
    }

    std::optional<int> whole(std::size_t which) const
    {
        bool ok = false;
        const QString *value = found(which);
        const int number = value ? value->toInt(&ok) : 0;
        return ok ? std::optional<int>(number) : std::nullopt;
    }

private:
    const QString *found(std::size_t which) const
    {
        return m_at[which] < 0 ? nullptr : &(*m_properties)[m_at[which]].second;
    }

    std::array<qsizetype, WantedCount> m_at;
    const Properties *m_properties = nullptr;
};

namespace {

QString displayControlName(const QString &code)
{
    static const QHash<QString, QString> names{{QStringLiteral("106"), QStringLiteral("Check Box")},
                                               {QStringLiteral("109"), QStringLiteral("Text Box")},
                                               {QStringLiteral("110"), QStringLiteral("List Box")},
                                               {QStringLiteral("111"), QStringLiteral("Combo Box")}};
    return names.value(code, code);
}

// A lookup field shows a list or combo box, or names where its values come from.
std::optional<Lookup> lookupOf(const Assembler::Sheet &sheet)
{
    const auto control = sheet.text(DisplayControl);
    const auto rowSource = sheet.text(RowSource);
    if (!(control && (*control == QStringLiteral("110") || *control == QStringLiteral("111"))) && !rowSource)
        return std::nullopt;
    Lookup lookup;
    if (control)
        lookup.displayControl = displayControlName(*control);
    lookup.rowSourceType = sheet.text(RowSourceType);
    lookup.rowSource = rowSource;
    lookup.boundColumn = sheet.whole(BoundColumn);
    lookup.columnCount = sheet.whole(ColumnCount);
    lookup.allowMultipleValues = sheet.yesNo(AllowMultipleValues);
    return lookup;
}

template <class Text> Index indexOf(const EngineProtocol::BasicStructureIndex<Text> &index)
{
    Index i;
    i.name = text(index.name);
    i.fields.reserve(qsizetype(index.fields.size()));
    for (const auto &[name, descending] : index.fields)
        i.fields << IndexField{text(name), descending};
    i.primary = index.primary;
    i.unique = index.unique;
    i.ignoreNulls = index.ignoreNulls;
    i.required = index.required;
    i.foreignKey = index.foreignKey;
    i.note = text(index.note);
    return i;
}

template <class Text> QStringList textsOf(const std::vector<Text> &items)
{
    QStringList out;
    for (const Text &item : items)
        out << text(item);
    return out;
}

template <class Text> Relationship relationshipOf(const EngineProtocol::BasicStructureRelationship<Text> &r)
{
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
    return out;
}

template <class Text> LinkedTable linkOf(const EngineProtocol::BasicStructureLink<Text> &l)
{
    // An Access link points at a file; an ODBC link at a data source, whose password is never
    // shown.
    const QString source = l.database.empty() ? maskPasswords(text(l.connection)) : text(l.database);
    return LinkedTable{text(l.name), text(l.target), source, text(l.note)};
}

} // namespace

QString Assembler::shared(std::string_view utf8)
{
    const auto found = m_shared.find(utf8);
    if (found != m_shared.end())
        return found->second;
    return m_shared.emplace(std::string(utf8), text(utf8)).first->second;
}

const Assembler::PropertyName &Assembler::propertyName(std::string_view utf8)
{
    const auto found = m_propertyNames.find(utf8);
    if (found != m_propertyNames.end())
        return found->second;
    const QString name = text(utf8);
    return m_propertyNames.emplace(std::string(utf8), PropertyName{name, wantedIndex(name)}).first->second;
}

template <class Text>
Properties Assembler::propertiesOf(const std::vector<EngineProtocol::BasicProperty<Text>> &stored, Sheet &sheet)
{
    Properties out;
    if (stored.empty())
        return out;
    out.reserve(qsizetype(stored.size()));
    for (const EngineProtocol::BasicProperty<Text> &p : stored) {
        const PropertyName &name = propertyName(p.name);
        sheet.note(name.wanted, out.size());
        out << qMakePair(name.text, text(p.text));
    }
    return out;
}

template <class Text> Field Assembler::fieldOf(const EngineProtocol::BasicStructureField<Text> &stored)
{
    Field f;
    f.name = text(stored.name);
    f.adoType = stored.adoType;
    f.type = Access::GetFieldTypeName(stored.adoType);
    f.size = stored.definedSize;
    f.accessType = shared(stored.accessType);
    if (stored.fieldSize)
        f.fieldSize = shared(*stored.fieldSize);
    f.precision = stored.precision;
    f.scale = stored.scale;
    f.multiValued = stored.multiValued;
    Sheet sheet;
    f.properties = propertiesOf(stored.properties, sheet);
    sheet.over(f.properties);
    f.note = text(stored.note);
    f.description = sheet.text(Description);
    f.required = sheet.yesNo(Required);
    f.allowZeroLength = sheet.yesNo(AllowZeroLength);
    f.defaultValue = sheet.text(DefaultValue);
    f.validationRule = sheet.text(ValidationRule);
    f.validationText = sheet.text(ValidationText);
    f.expression = sheet.text(Expression);
    f.lookup = lookupOf(sheet);
    return f;
}

template <class Text> Table Assembler::tableOf(const EngineProtocol::BasicStructureTable<Text> &stored)
{
    Table t;
    t.name = text(stored.name);
    t.records = stored.records;
    t.definitionRead = stored.definitionRead;
    Sheet sheet;
    t.properties = propertiesOf(stored.properties, sheet);
    sheet.over(t.properties);
    t.description = sheet.text(Description);
    t.validationRule = sheet.text(ValidationRule);
    t.validationText = sheet.text(ValidationText);
    t.note = text(stored.note);
    for (const auto &macro : stored.dataMacros)
        t.dataMacros << qMakePair(text(macro.name), text(macro.text));
    t.fields.reserve(qsizetype(stored.fields.size()));
    for (const EngineProtocol::BasicStructureField<Text> &field : stored.fields)
        t.fields << fieldOf(field);
    t.indexes.reserve(qsizetype(stored.indexes.size()));
    for (const EngineProtocol::BasicStructureIndex<Text> &index : stored.indexes)
        t.indexes << indexOf(index);
    return t;
}

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

Assembler::Assembler(const QString &databasePath)
{
    m_document.database.path = databasePath;
}

template <class Text> void Assembler::addRecord(const EngineProtocol::BasicStructureRecord<Text> &record)
{
    using EngineProtocol::StructureKind;
    switch (record.kind) {
    case StructureKind::Database:
        m_document.database.format = formatName(record.database.version, text(record.database.accessVersion));
        m_document.database.encrypted = record.database.encrypted || record.database.databasePassword;
        break;
    case StructureKind::Table:
        m_tables << tableOf(record.table);
        break;
    case StructureKind::Relationship:
        m_document.relationships << relationshipOf(record.relationship);
        break;
    case StructureKind::Query:
        m_document.queries << Query{text(record.query.name), shared(record.query.type), text(record.query.sql),
                                    text(record.query.note)};
        break;
    case StructureKind::Link:
        m_document.linkedTables << linkOf(record.link);
        break;
    case StructureKind::Note:
        m_document.notes << text(record.note);
        break;
    case StructureKind::Object:
        m_objects << StoredObject{record.object.type, text(record.object.name), optionalText(record.object.created),
                                  optionalText(record.object.updated)};
        break;
    case StructureKind::Project: {
        Project project{text(record.project.name), int(record.project.codePage), record.project.compiledOnly, {}};
        for (const auto &reference : record.project.references)
            project.references << referenceOf(text(reference.name), text(reference.libid), reference.project);
        m_document.application.project = std::move(project);
        break;
    }
    case StructureKind::Module:
        m_modules << StoredModule{text(record.module.name), record.module.classModule,
                                  optionalText(record.module.source), text(record.module.note)};
        break;
    case StructureKind::Macro:
        m_document.application.macros << Macro{text(record.macro.name), std::nullopt, std::nullopt,
                                               optionalText(record.macro.definition), text(record.macro.note)};
        break;
    }
}

void Assembler::add(const EngineProtocol::StructureRecord &record)
{
    addRecord(record);
}

void Assembler::add(const EngineProtocol::StructureRecordView &record)
{
    addRecord(record);
}

void Assembler::finishApplication()
{
    Application &application = m_document.application;
    // Looked up by type and name key, the first object of that name; modules by name key.
    const auto keyOf = [](EngineProtocol::ObjectType type, const QString &name) {
        return QString::number(int(type)) + QLatin1Char('/') + nameKey(name);
    };
    QHash<QString, const StoredObject *> objects;
    for (const StoredObject &object : m_objects)
        if (const QString key = keyOf(object.type, object.name); !objects.contains(key))
            objects.insert(key, &object);
    QSet<QString> modules;
    for (const StoredModule &module : m_modules)
        modules.insert(nameKey(module.name));
    const auto objectOf = [&](EngineProtocol::ObjectType type, const QString &name) -> const StoredObject * {
        return objects.value(keyOf(type, name));
    };
    const auto hasModule = [&](const QString &name) { return modules.contains(nameKey(name)); };
    for (const StoredObject &object : m_objects) {
        const bool form = object.type == EngineProtocol::ObjectType::Form;
        if (!form && object.type != EngineProtocol::ObjectType::Report)
            continue;
        const QString module = (form ? QStringLiteral("Form_") : QStringLiteral("Report_")) + object.name;
        (form ? application.forms : application.reports)
            << FormOrReport{object.name, object.created, object.updated,
                            hasModule(module) ? std::optional<QString>(module) : std::nullopt};
    }
    for (Macro &macro : application.macros)
        if (const StoredObject *object = objectOf(EngineProtocol::ObjectType::Macro, macro.name)) {
            macro.created = object->created;
            macro.updated = object->updated;
        }
    for (StoredModule &stored : m_modules) {
        Module module{stored.name, QStringLiteral("standard"), std::nullopt, std::nullopt, std::nullopt, stored.note};
        if (stored.classModule) {
            // The code behind a form or a report is named after it.
            const auto behind = [&](const QString &prefix, EngineProtocol::ObjectType type) {
                return stored.name.startsWith(prefix) && objectOf(type, stored.name.mid(prefix.size()));
            };
            module.kind = behind(QStringLiteral("Form_"), EngineProtocol::ObjectType::Form) ? QStringLiteral("form")
                          : behind(QStringLiteral("Report_"), EngineProtocol::ObjectType::Report)
                              ? QStringLiteral("report")
                              : QStringLiteral("class");
        }
        if (const StoredObject *object = objectOf(EngineProtocol::ObjectType::Module, stored.name)) {
            module.created = object->created;
            module.updated = object->updated;
        }
        // Lines joined with a line feed, whatever the file ends them with.
        if (stored.source)
            module.source = lineFeeds(std::move(*stored.source));
        application.modules << std::move(module);
    }
    // A module MSysObjects lists that the project does not hold is listed all the same.
    for (const StoredObject &object : m_objects)
        if (object.type == EngineProtocol::ObjectType::Module && !hasModule(object.name))
            application.modules << Module{object.name,    QStringLiteral("standard"),
                                          object.created, object.updated,
                                          std::nullopt,   QStringLiteral("it is not in the VBA project")};
    m_objects.clear();
    m_modules.clear();
}

Document Assembler::finish(const QStringList &tableOrder)
{
    finishApplication();
    // Where each name's tables are, in the order they came: the table list's order takes the first
    // of a name not yet taken, then whatever it does not name follows.
    QHash<QString, QList<qsizetype>> byName;
    for (qsizetype i = 0; i < m_tables.size(); ++i)
        byName[m_tables[i].name] << i;
    std::vector<bool> taken(std::size_t(m_tables.size()), false);
    m_document.tables.reserve(m_tables.size());
    for (const QString &name : tableOrder) {
        const auto found = byName.find(name);
        if (found == byName.end() || found->isEmpty())
            continue;
        const qsizetype i = found->takeFirst();
        taken[std::size_t(i)] = true;
        m_document.tables << std::move(m_tables[i]);
    }
    for (qsizetype i = 0; i < m_tables.size(); ++i) {
        if (!taken[std::size_t(i)])
            m_document.tables << std::move(m_tables[i]);
    }
    m_tables.clear();
    m_shared.clear();
    m_propertyNames.clear();
    return std::move(m_document);
}

Document assemble(const QString &databasePath, const std::vector<EngineProtocol::StructureRecord> &records,
                  const QStringList &tableOrder)
{
    Assembler assembler(databasePath);
    for (const EngineProtocol::StructureRecord &record : records)
        assembler.add(record);
    return assembler.finish(tableOrder);
}

} // namespace Structure
