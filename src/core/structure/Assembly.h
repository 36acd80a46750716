#pragma once

#include "core/structure/Structure.h"
#include "protocol/StructureProtocol.h"

#include <QHash>
#include <QStringList>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Structure {

// The document built from the worker's structure records as they arrive, so that a part of the
// answer is taken into the document (and let go) while the worker reads the next. Field and table
// properties are also read into their own places (description, required, default value, lookup,
// ...). Passwords in ODBC connection texts are masked.
class Assembler
{
public:
    explicit Assembler(const QString &databasePath);

    void add(const EngineProtocol::StructureRecord &record);
    // A record read in place: its texts are made into the document's before this returns.
    void add(const EngineProtocol::StructureRecordView &record);
    // Tables come in the order of `tableOrder` (the table list: by name, without regard to case);
    // any the list does not name follow in the order they came.
    Document finish(const QStringList &tableOrder);

    class Sheet;

private:
    // A property name made once, with which of the properties the document reads into their own
    // places it is (a count of them for none).
    struct PropertyName
    {
        QString text;
        std::size_t wanted;
    };

    template <class Text> void addRecord(const EngineProtocol::BasicStructureRecord<Text> &record);
    template <class Text> Field fieldOf(const EngineProtocol::BasicStructureField<Text> &stored);
    template <class Text> Table tableOf(const EngineProtocol::BasicStructureTable<Text> &stored);
    // The properties, with where the wanted ones are noted on the sheet.
    template <class Text>
    Properties propertiesOf(const std::vector<EngineProtocol::BasicProperty<Text>> &stored, Sheet &sheet);
    const PropertyName &propertyName(std::string_view utf8);
    // The same short texts (property names, types, field sizes) come tens of thousands of times in
    // a big database: each is made once and shared.
    QString shared(std::string_view utf8);

    // Texts are looked up by views without making a string of each.
    struct TextHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };

    // The application as it comes: what MSysObjects lists, and the project's modules; put
    // together in finish().
    struct StoredObject
    {
        EngineProtocol::ObjectType type;
        QString name;
        std::optional<QString> created;
        std::optional<QString> updated;
    };
    struct StoredModule
    {
        QString name;
        bool classModule = false;
        std::optional<QString> source;
        QString note;
    };
    void finishApplication();

    Document m_document;
    QList<Table> m_tables;
    QList<StoredObject> m_objects;
    QList<StoredModule> m_modules;
    std::unordered_map<std::string, QString, TextHash, std::equal_to<>> m_shared;
    std::unordered_map<std::string, PropertyName, TextHash, std::equal_to<>> m_propertyNames;
};

// The document from all the worker's structure records at once (see Assembler).
Document assemble(const QString &databasePath, const std::vector<EngineProtocol::StructureRecord> &records,
                  const QStringList &tableOrder);

// "Access 97", "Access 2000", "Access 2002-2003", "Access 2007", "Access 2010", "Access 2013",
// "Access 2016/2019", from the header's version byte and the AccessVersion property.
QString formatName(int version, const QString &accessVersion);

} // namespace Structure
