#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <QHash>

#include <memory>
#include <optional>

// The whole structure of a database, beyond the report: what the JSON, Markdown and HTML writers
// and the schema diff show. Every reader of the file's system tables fills it; a part that could
// not be read keeps what was read and says so in its note, so no writer shows a silent gap.
namespace Structure {

// Stored properties in the order the file keeps them: name and text.
using Properties = QList<QPair<QString, QString>>;

// The lookup settings of a field shown as a combo or list box; each is absent when not stored.
struct Lookup
{
    std::optional<QString> displayControl;
    std::optional<QString> rowSourceType;
    std::optional<QString> rowSource;
    std::optional<int> boundColumn;
    std::optional<int> columnCount;
    std::optional<bool> allowMultipleValues;

    bool operator==(const Lookup &) const = default;
};

// A part that few fields have, kept apart so that a field without it costs one pointer (a big
// database has tens of thousands of fields). It reads like a std::optional and compares by value.
template <class T> class Rare
{
public:
    Rare() = default;
    Rare(std::nullopt_t) {}
    Rare(T value) : m_value(std::make_shared<const T>(std::move(value))) {}
    Rare(const std::optional<T> &value)
        : m_value(value ? std::make_shared<const T>(*value) : std::shared_ptr<const T>())
    {
    }

    explicit operator bool() const { return m_value != nullptr; }
    const T &operator*() const { return *m_value; }
    const T *operator->() const { return m_value.get(); }
    bool operator==(const Rare &other) const
    {
        return m_value == other.m_value || (m_value && other.m_value && *m_value == *other.m_value);
    }

private:
    std::shared_ptr<const T> m_value;
};

struct Field
{
    QString name;
    // The report's type text ("Text", "Number", ...) and the ADO type code behind it.
    QString type;
    int adoType = 0;
    // Defined size: characters for text, bytes otherwise.
    qint64 size = 0;
    // Access's own field type ("Short Text", "Number", "AutoNumber", ...).
    QString accessType;
    // "Byte", "Integer", "Long Integer", "Single", "Double", "Replication ID", "Decimal".
    std::optional<QString> fieldSize;
    std::optional<int> precision;
    std::optional<int> scale;
    std::optional<QString> description;
    std::optional<bool> required;
    std::optional<bool> allowZeroLength;
    std::optional<QString> defaultValue;
    std::optional<QString> validationRule;
    std::optional<QString> validationText;
    bool multiValued = false;
    Rare<Lookup> lookup;
    // A calculated field's expression.
    std::optional<QString> expression;
    // Every stored property, the ones above included.
    Properties properties;
    // Why part of this field could not be read; empty when all of it was.
    QString note;

    bool operator==(const Field &) const = default;
};

struct IndexField
{
    QString name;
    bool descending = false;

    bool operator==(const IndexField &) const = default;
};

struct Index
{
    QString name;
    QList<IndexField> fields;
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
    // True for an index that backs a relationship (Access keeps these hidden).
    bool foreignKey = false;
    QString note;

    bool operator==(const Index &) const = default;
};

struct Table
{
    QString name;
    std::optional<QString> description;
    // The exact record count; absent when the rows could not be counted.
    std::optional<qint64> records;
    // False when the table's definition could not be read: its fields and indexes are then unknown
    // (both lists empty), and no writer may show them as none.
    bool definitionRead = true;
    QList<Field> fields;
    QList<Index> indexes;
    // The rule every record must keep, and the message Access shows when one does not.
    std::optional<QString> validationRule;
    std::optional<QString> validationText;
    Properties properties;
    QString note;
    // Data macros (ACE): per event ("AfterUpdate", ...), Access's XML.
    Properties dataMacros;

    bool operator==(const Table &) const = default;
};

enum class Join {
    Inner,
    Left,
    Right,
};

struct Relationship
{
    QString name;
    QString primaryTable;
    QStringList primaryFields;
    QString foreignTable;
    QStringList foreignFields;
    bool enforced = false;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    bool cascadeNull = false;
    bool oneToOne = false;
    Join join = Join::Inner;
    QString note;

    bool operator==(const Relationship &) const = default;
};

struct Query
{
    QString name;
    // "select", "crosstab", "append", "update", "delete", "make-table", "data-definition",
    // "pass-through", "union", or "unknown" when the file does not say (a damaged row).
    QString type;
    QString sql;
    QString note;

    bool operator==(const Query &) const = default;
};

struct LinkedTable
{
    QString name;
    // The table's name in the database it points to.
    QString target;
    // The linked database's path, or the ODBC connection text with any password masked.
    QString source;
    QString note;

    bool operator==(const LinkedTable &) const = default;
};

// The file a document was made from, as it was then: an index of many databases tells by these
// whether a file changed since.
struct FileFacts
{
    qint64 size = 0;
    // ISO 8601 in UTC, to the second.
    QString modified;
    // Of the file's bytes as stored, in hex.
    QString sha256;

    bool operator==(const FileFacts &) const = default;
};

struct Database
{
    QString path;
    // "Access 97", "Access 2000", "Access 2002-2003", "Access 2007", "Access 2010",
    // "Access 2016/2019".
    QString format;
    // Encrypted with a password, or protected by a database password. Never the password itself.
    bool encrypted = false;
    // Worked out for an index of many databases only; nothing and empty otherwise.
    std::optional<FileFacts> file;
    QString schemaHash;

    bool operator==(const Database &) const = default;
};

// A library or database the VBA project refers to.
struct Reference
{
    QString name;
    // A library's description and path, and its GUID ("{...}"); a project reference has a path only.
    QString description;
    std::optional<QString> path;
    std::optional<QString> guid;

    bool operator==(const Reference &) const = default;
};

struct Project
{
    QString name;
    int codePage = 0;
    // A compiled-only file (.mde, .accde): its modules have no source.
    bool compiledOnly = false;
    QList<Reference> references;

    bool operator==(const Project &) const = default;
};

// A form or a report, and the module that holds its code when it has one.
struct FormOrReport
{
    QString name;
    std::optional<QString> created;
    std::optional<QString> updated;
    std::optional<QString> module;

    bool operator==(const FormOrReport &) const = default;
};

struct Macro
{
    QString name;
    std::optional<QString> created;
    std::optional<QString> updated;
    // Access's XML; nothing for a binary macro of an earlier Access.
    std::optional<QString> definition;
    QString note;

    bool operator==(const Macro &) const = default;
};

struct Module
{
    QString name;
    // "standard", "class", "form" or "report".
    QString kind;
    std::optional<QString> created;
    std::optional<QString> updated;
    // The source as stored, its lines joined with "\n"; nothing when it could not be read (the note
    // says why).
    std::optional<QString> source;
    QString note;

    // The source's lines; 0 without a source.
    int lines() const;
    bool operator==(const Module &) const = default;
};

// The application around the tables.
struct Application
{
    // Nothing when the database has no VBA project.
    std::optional<Project> project;
    QList<FormOrReport> forms;
    QList<FormOrReport> reports;
    QList<Macro> macros;
    QList<Module> modules;

    bool operator==(const Application &) const = default;
};

// One thing the migration DDL does not carry over exactly: what, where (a table, a field as
// "Table.Field", an index or a relationship) and why, so a person knows what to check by hand.
struct MigrationNote
{
    QString what;
    QString where;
    QString why;

    bool operator==(const MigrationNote &) const = default;
};

// The notes of the migration DDL for one server: "postgresql", "sqlite" or "mysql".
struct Migration
{
    QString dialect;
    QList<MigrationNote> notes;

    bool operator==(const Migration &) const = default;
};

// The server a migration dialect is for, as people name it: "PostgreSQL", "SQLite",
// "MySQL/MariaDB"; the dialect's own name for any other.
QString migrationServer(const QString &dialect);

struct Document
{
    Database database;
    QList<Table> tables;
    QList<Relationship> relationships;
    QList<Query> queries;
    QList<LinkedTable> linkedTables;
    Application application;
    // What could not be read at all (a system table that is damaged or missing).
    QStringList notes;
    // The migration notes, when the exporter worked them out for a server (the documents then show
    // them); nothing otherwise.
    std::optional<Migration> migration;

    bool operator==(const Document &) const = default;
};

// "inner", "left" or "right".
QString joinName(Join join);

// What a name is looked up by. Access compares the names of tables, fields, indexes and properties
// without regard to case, so every lookup of one name in a list of others goes through this key.
QString nameKey(const QString &name);

// How a document writes a no: as the word, or as an empty cell in a table's columns of flags,
// where the odd "yes" should stand out.
enum class No {
    Word,
    Blank,
};
QString yesNo(bool value, No no = No::Word);

// The names of the fields of the table's primary key, in the key's order; empty without one.
QStringList primaryKeyFields(const Table &table);

// Each table's anchor in a document's page, in table order: "table-" and a slug of its name
// (ASCII letters and digits in lower case, every other run of characters one "-"), so a link
// keeps pointing at its table when tables are added. A name with nothing to slug is named by a
// short hash of it instead; a clash (names differing only in case or punctuation) takes "-2",
// "-3", ... in table order. Anchors are safe in an HTML attribute, a URL fragment and a CSS
// selector without any escaping.
QStringList tableAnchors(const Document &document);

// Each query's anchor in the page, in query order: "query-" and a slug of its name, by the same
// rules as the tables' anchors (a query and a table of the same name never share an anchor).
QStringList queryAnchors(const Document &document);

// A field's type as the documents show it: Access's own type, its field size (with precision and
// scale for a decimal) and whether it is multi-valued ("Number, Decimal (18, 4)").
QString typeDescription(const Field &field);

// The text with its lines ended by a line feed alone: CR LF and a lone CR become LF.
QString lineFeeds(QString text);

// The ODBC connection text of a linked table with the value of every PWD= (any case) replaced by
// "***", so a documentation never shows a password.
QString maskPasswords(const QString &connection);

// The program and its version, as every document names its maker ("Strudex 1.0.0").
QString generatorName();

// The text of a stored property, looked up by its name as Access does; absent when not stored.
std::optional<QString> storedProperty(const Properties &properties, const QString &name);

// The size the documents show beside a field's type: the characters of Short Text and the bytes of
// Binary. Empty for every other type: its type already says its size, and Long Text, OLE Object
// and the like have no defined size (the file's 536870910 is a limit, not a size).
QString sizeText(const Field &field);
// "Short Text (50)": the type Access shows with the size beside it, for a field whose sizeText is
// not empty.
QString typeWithSize(const Field &field);

// What Access's Indexed property shows for a field: "No", "Yes (Duplicates OK)" or
// "Yes (No Duplicates)", from the table's indexes on that field alone. A key over several fields
// indexes none of them by itself, and the hidden index behind a relationship is not the field's.
QString indexedText(const Table &table, const QString &field);

// One line of a field's sheet: its label as Access's table design shows it, and its text.
struct Fact
{
    QString label;
    QString text;

    bool operator==(const Fact &) const = default;
};

// What Access users look for in a field, in the order of Access's table design, each only when the
// field has it: "Caption", "Format", "Input Mask", "Decimal Places", "Default Value",
// "Validation Rule", "Validation Text", "Required", "Allow Zero Length", "Indexed" (always) and
// "Lookup" (the control and where its values come from).
QList<Fact> fieldFacts(const Table &table, const Field &field);
// The same, into a list that a field's sheet never outgrows: nothing is allocated for it.
using Facts = QVarLengthArray<Fact, 12>;
void fieldFacts(const Table &table, const Field &field, Facts &facts);

// Every table's relationships both ways, found once for the whole document so that a page of
// thousands of tables does not search every relationship for each of them. It points into the
// document, which must outlive it.
class RelationshipIndex
{
public:
    explicit RelationshipIndex(const Document &document);

    // The relationships in which the table is the foreign side (the table points at others),
    // in document order.
    QList<const Relationship *> references(const QString &table) const;
    // The relationships in which the table is the primary side (others point at it).
    QList<const Relationship *> referencedBy(const QString &table) const;
    // The first relationship through which the field points at another table; null when none.
    const Relationship *foreignKeyOf(const QString &table, const QString &field) const;

private:
    QHash<QString, QList<const Relationship *>> references_;
    QHash<QString, QList<const Relationship *>> referencedBy_;
    // By the table's name key, then the field's.
    QHash<QString, QHash<QString, const Relationship *>> foreignKeys_;
};

} // namespace Structure
