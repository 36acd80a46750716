#include "core/db/Access.h"

#include "core/ErrorReport.h"
#include "core/PathUtilities.h"
#include "core/Routine.h"
#include "core/db/Ado.h"

namespace Access {

QString ConnectionStringFor(const QString &path, const QString &password)
{
    if (path.right(5).toLower() == QStringLiteral("accdb"))
        return QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=") + path +
               QStringLiteral(";JET OLEDB:Database Password=") + password;
    return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + path +
           QStringLiteral(";JET OLEDB:Database Password=") + password;
}

QString BuildConnectionString(const ConnectionParameters &database)
{
    return ConnectionStringFor(database.path, database.password);
}

namespace {

// The tables rowset's next row. Moving past the last table of a catalogue read only in part fails;
// that failure is reported as the step's own, but it does not stop the routine: the tables read
// are still the list, so that the user sees which could be read.
void nextTable(Ado::Recordset &rowset, Dialogs &dialogs, const Routine &routine, PartialCatalogue partial)
{
    try {
        rowset.MoveNext();
    } catch (const Failure &failure) {
        if (failure.number() != Ado::adErrCatalogueIncomplete)
            throw;
        if (partial == PartialCatalogue::Report)
            ErrorReport::show(dialogs, routine.tag(), routine.line(), failure.description());
    }
}

} // namespace

std::optional<QStringList> NonSystemTables(Dialogs &dialogs, const ConnectionParameters &database,
                                           PartialCatalogue partial)
{
    // One report at most: a database that cannot be opened costs exactly one message.
    Routine r(dialogs, QStringLiteral("Access"), QStringLiteral("NonSystemTables"), Routine::OnFailure::Stop);
    std::unique_ptr<Ado::Connection> connection;
    std::unique_ptr<Ado::Recordset> recordset;
    std::optional<QStringList> result;

    r.step(100, [&] { connection = Ado::CreateConnection(); });
    r.step(102, [&] { recordset = Ado::CreateRecordset(); });
    if (r.test(104, [&] { return !Main::FileExists(database.path); }))
        return std::nullopt;
    r.step(106, [&] { connection->Open(BuildConnectionString(database)); });
    r.step(108, [&] { recordset = connection->OpenSchema(Ado::adSchemaTables); });
    QStringList names;
    r.step(110, [&] { names.clear(); });
    while (r.test(112, [&] { return !recordset->Eof(); })) {
        if (r.test(114, [&] { return recordset->Value(QStringLiteral("TABLE_TYPE")) == QStringLiteral("TABLE"); }))
            r.step(116, [&] { names.append(recordset->Value(QStringLiteral("TABLE_NAME"))); });
        r.step(118, [&] { nextTable(*recordset, dialogs, r, partial); });
    }
    r.step(120, [&] { result = names; });

    // Closing and releasing happen whatever went before.
    r.quietly([&] {
        if (recordset && recordset->State() == Ado::adStateOpen)
            recordset->Close();
    });
    recordset.reset();
    r.quietly([&] {
        if (connection && connection->State() == Ado::adStateOpen)
            connection->Close();
    });
    connection.reset();

    if (r.failed())
        return std::nullopt;
    return result;
}

QString GetFieldTypeName(qint32 code)
{
    // A switch over literals: the report asks once per field, and a literal costs no allocation.
    switch (code) {
    case 2:
        return QStringLiteral("SmallInt");
    case 3:
        return QStringLiteral("Number");
    case 4:
        return QStringLiteral("Single");
    case 5:
        return QStringLiteral("Double");
    case 6:
        return QStringLiteral("Currency");
    case 7:
    case 133:
    case 134:
    case 135:
        return QStringLiteral("Date/Time");
    case 8:
        return QStringLiteral("BSTR");
    case 11:
        return QStringLiteral("Boolean");
    case 12:
        return QStringLiteral("Variant");
    case 14:
        return QStringLiteral("Decimal");
    case 16:
        return QStringLiteral("TinyInt");
    case 17:
        return QStringLiteral("UnsignedTinyInt");
    case 18:
        return QStringLiteral("UnsignedSmallInt");
    case 19:
        return QStringLiteral("UnsignedInt");
    case 20:
        return QStringLiteral("BigInt");
    case 21:
        return QStringLiteral("UnsignedBigInt");
    case 72:
        return QStringLiteral("GUID");
    case 128:
        return QStringLiteral("adBinary");
    case 129:
    case 130:
    case 200:
    case 201:
    case 202:
        return QStringLiteral("Text");
    case 131:
        return QStringLiteral("Numeric");
    case 132:
        return QStringLiteral("UserDefined");
    case 203:
        return QStringLiteral("Memo");
    case 204:
        return QStringLiteral("adVarBinary");
    case 205:
        return QStringLiteral("OLE Object");
    default:
        return QString::number(code);
    }
}

QVariant GetFieldDesc_ADO(Dialogs &dialogs, const QString &tableName, const QString &fieldName,
                          Ado::Connection &connection)
{
    Routine r(dialogs, QStringLiteral("Access"), QStringLiteral("GetFieldDesc_ADO"));
    std::unique_ptr<Ado::Catalog> catalog;
    std::optional<Ado::Catalog::Table> table;
    QVariant result;

    r.step(100, [&] {
        catalog = Ado::CreateCatalog();
        catalog->setActiveConnection(connection);
    });
    r.step(102, [&] {
        if (!catalog)
            catalog = Ado::CreateCatalog();
        table = catalog->Tables(tableName);
    });
    r.step(104, [&] {
        if (!table)
            throw Failure(91, QStringLiteral("Object variable or With block variable not set"));
        result = table->ColumnProperty(fieldName, QStringLiteral("Description"));
    });
    r.step(106, [&] { catalog.reset(); });
    return result;
}

} // namespace Access
