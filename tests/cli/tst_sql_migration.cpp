// The migration DDL of real databases loads into real servers (PostgreSQL, MariaDB, SQLite) without
// a failed statement, and the servers' catalogues hold what the structure says: every table and
// column, NOT NULL for required fields, primary keys, unique indexes, AutoNumbers and the
// enforced relationships as foreign keys with their cascades. What the DDL could not keep, a name
// it had to change above all, is in the migration notes.

#include "support/DatabaseServers.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using namespace TestServers;

namespace {

const Kind Kinds[] = {Kind::PostgreSql, Kind::Sqlite, Kind::MariaDb};

QString dialectOf(Kind kind)
{
    return kind == Kind::PostgreSql ? QStringLiteral("postgresql")
           : kind == Kind::Sqlite   ? QStringLiteral("sqlite")
                                    : QStringLiteral("mysql");
}

QStringList strings(const QJsonValue &value)
{
    QStringList out;
    for (const QJsonValue &item : value.toArray())
        out << item.toString();
    return out;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool sameNames(const QStringList &a, const QStringList &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!sameName(a[i], b[i]))
            return false;
    return true;
}

// The type the server reports for a column of the field's Access type, as a pattern; empty for a
// type without one fixed answer (a calculated field's, an unknown one).
QString expectedType(Kind kind, const QJsonObject &field)
{
    const QString type = field[QStringLiteral("accessType")].toString();
    const QString size = field[QStringLiteral("fieldSize")].toString();
    const bool pg = kind == Kind::PostgreSql, maria = kind == Kind::MariaDb;
    if (type == QStringLiteral("Short Text"))
        return pg      ? QStringLiteral("character varying\\(%1\\)").arg(size)
               : maria ? QStringLiteral("varchar\\(%1\\)").arg(size)
                       : QStringLiteral("TEXT");
    if (type == QStringLiteral("Long Text") || type == QStringLiteral("Hyperlink"))
        return pg ? QStringLiteral("text") : maria ? QStringLiteral("longtext") : QStringLiteral("TEXT");
    if (type == QStringLiteral("Currency"))
        return pg      ? QStringLiteral("numeric\\(19,4\\)")
               : maria ? QStringLiteral("decimal\\(19,4\\)")
                       : QStringLiteral("NUMERIC");
    if (type == QStringLiteral("Date/Time"))
        return pg      ? QStringLiteral("timestamp without time zone")
               : maria ? QStringLiteral("datetime")
                       : QStringLiteral("TEXT");
    if (type == QStringLiteral("Yes/No"))
        return pg ? QStringLiteral("boolean") : maria ? QStringLiteral("tinyint\\(1\\)") : QStringLiteral("INTEGER");
    if (type == QStringLiteral("OLE Object") || type == QStringLiteral("Binary"))
        return pg ? QStringLiteral("bytea") : maria ? QStringLiteral("longblob") : QStringLiteral("BLOB");
    if (type == QStringLiteral("Large Number"))
        return pg ? QStringLiteral("bigint") : maria ? QStringLiteral("bigint(\\(20\\))?") : QStringLiteral("INTEGER");
    if (type != QStringLiteral("Number") && type != QStringLiteral("AutoNumber"))
        return QString();
    if (size == QStringLiteral("Byte"))
        return pg      ? QStringLiteral("smallint")
               : maria ? QStringLiteral("tinyint(\\(3\\))? unsigned")
                       : QStringLiteral("INTEGER");
    if (size == QStringLiteral("Integer"))
        return pg      ? QStringLiteral("smallint")
               : maria ? QStringLiteral("smallint(\\(6\\))?")
                       : QStringLiteral("INTEGER");
    if (size == QStringLiteral("Long Integer"))
        return pg ? QStringLiteral("integer") : maria ? QStringLiteral("int(\\(11\\))?") : QStringLiteral("INTEGER");
    if (size == QStringLiteral("Single"))
        return pg ? QStringLiteral("real") : maria ? QStringLiteral("float") : QStringLiteral("REAL");
    if (size == QStringLiteral("Double"))
        return pg ? QStringLiteral("double precision") : maria ? QStringLiteral("double") : QStringLiteral("REAL");
    if (size == QStringLiteral("Replication ID"))
        return pg ? QStringLiteral("uuid") : maria ? QStringLiteral("char\\(38\\)") : QStringLiteral("TEXT");
    if (size == QStringLiteral("Decimal")) {
        const QString digits = QStringLiteral("\\(%1,%2\\)")
                                   .arg(field[QStringLiteral("precision")].toInt())
                                   .arg(field[QStringLiteral("scale")].toInt());
        return pg      ? QStringLiteral("numeric") + digits
               : maria ? QStringLiteral("decimal") + digits
                       : QStringLiteral("NUMERIC");
    }
    return QString();
}

// What one database's DDL made in one server, checked against its JSON document. Returns what
// does not hold, one line each.
QStringList differences(const QJsonObject &document, const Catalogue &catalogue, Kind kind)
{
    QStringList problems;
    // A name the DDL had to change is in the notes, and is not looked for under its own.
    QSet<QString> renamed;
    // A type the DDL had to change (a wide row's text in MySQL, say) is in the notes too.
    QSet<QString> noted;
    for (const QJsonValue &note : document[QStringLiteral("migration")][QStringLiteral("notes")].toArray()) {
        noted.insert(note[QStringLiteral("where")].toString());
        const QString what = note[QStringLiteral("what")].toString();
        if (what.contains(QStringLiteral("name")) || what.contains(QStringLiteral("not carried")) ||
            what.contains(QStringLiteral("left out")) || what.contains(QStringLiteral("not created")))
            renamed.insert(note[QStringLiteral("where")].toString());
    }
    QSet<QString> tablesMade;
    for (const QJsonValue &tableValue : document[QStringLiteral("tables")].toArray()) {
        const QJsonObject table = tableValue.toObject();
        const QString name = table[QStringLiteral("name")].toString();
        const Table *made = catalogue.table(name);
        if (!made) {
            if (!renamed.contains(name))
                problems << QStringLiteral("table %1 missing, and no note says why").arg(name);
            continue;
        }
        tablesMade.insert(name);
        QStringList primary;
        for (const QJsonValue &index : table[QStringLiteral("indexes")].toArray())
            if (index[QStringLiteral("primary")].toBool())
                for (const QJsonValue &field : index[QStringLiteral("fields")].toArray())
                    primary << field[QStringLiteral("name")].toString();
        QSet<QString> tableOfItsOwn;
        for (const QJsonValue &fieldValue : table[QStringLiteral("fields")].toArray()) {
            const QJsonObject field = fieldValue.toObject();
            const QString fieldName = field[QStringLiteral("name")].toString();
            const QString where = name + QLatin1Char('.') + fieldName;
            const QString type = field[QStringLiteral("accessType")].toString();
            // Multi-valued and attachment fields become tables of their own.
            if (field[QStringLiteral("multiValued")].toBool() || type == QStringLiteral("Attachment")) {
                tableOfItsOwn.insert(fieldName);
                continue;
            }
            const Column *column = made->column(fieldName);
            if (!column) {
                if (!renamed.contains(where))
                    problems << QStringLiteral("column %1 missing, and no note says why").arg(where);
                continue;
            }
            const QString wanted = expectedType(kind, field);
            if (!wanted.isEmpty() && !noted.contains(where) &&
                !QRegularExpression(QStringLiteral("^(%1)$").arg(wanted), QRegularExpression::CaseInsensitiveOption)
                     .match(column->type)
                     .hasMatch())
                problems << QStringLiteral("column %1 (%2) is %3").arg(where, type, column->type);
            const bool required = field[QStringLiteral("required")].toBool() || type == QStringLiteral("Yes/No");
            if (required && !column->notNull && !renamed.contains(where))
                problems << QStringLiteral("column %1 is required but nullable").arg(where);
            const bool autoNumber =
                type == QStringLiteral("AutoNumber") &&
                field[QStringLiteral("fieldSize")].toString() == QStringLiteral("Long Integer") &&
                !field[QStringLiteral("defaultValue")].toString().contains(QStringLiteral("GenUniqueID"));
            // SQLite numbers a table's rows only through a primary key of that one column.
            const bool numbers = kind != Kind::Sqlite || primary == QStringList{fieldName};
            if (autoNumber && numbers && !column->autoIncrement)
                problems << QStringLiteral("AutoNumber %1 does not number itself").arg(where);
        }
        const Index *key = made->primaryKey();
        if (!primary.isEmpty() && (!key || !sameNames(key->columns, primary)))
            problems << QStringLiteral("table %1: primary key %2, made %3")
                            .arg(name, primary.join(QLatin1Char(',')),
                                 key ? key->columns.join(QLatin1Char(',')) : QStringLiteral("none"));
        for (const QJsonValue &indexValue : table[QStringLiteral("indexes")].toArray()) {
            const QJsonObject index = indexValue.toObject();
            if (!index[QStringLiteral("unique")].toBool() || index[QStringLiteral("primary")].toBool())
                continue;
            QStringList fields;
            for (const QJsonValue &field : index[QStringLiteral("fields")].toArray())
                fields << field[QStringLiteral("name")].toString();
            // The hidden index of a field made a table of its own goes with it.
            if (std::any_of(fields.begin(), fields.end(), [&](const QString &f) { return tableOfItsOwn.contains(f); }))
                continue;
            const bool found = std::any_of(made->indexes.begin(), made->indexes.end(), [&](const Index &i) {
                return (i.unique || i.primary) && sameNames(i.columns, fields);
            });
            const QString where = name + QLatin1Char('.') + index[QStringLiteral("name")].toString();
            if (!found && !renamed.contains(where))
                problems << QStringLiteral("unique index %1 (%2) missing").arg(where, fields.join(QLatin1Char(',')));
        }
    }
    for (const QJsonValue &value : document[QStringLiteral("relationships")].toArray()) {
        const QJsonObject r = value.toObject();
        const QString from = r[QStringLiteral("foreignTable")].toString();
        const QString to = r[QStringLiteral("primaryTable")].toString();
        if (!r[QStringLiteral("enforced")].toBool() || !tablesMade.contains(from) || !tablesMade.contains(to) ||
            renamed.contains(r[QStringLiteral("name")].toString()))
            continue;
        const QStringList columns = strings(r[QStringLiteral("foreignFields")]);
        const QStringList referenced = strings(r[QStringLiteral("primaryFields")]);
        const Table *made = catalogue.table(from);
        const auto key = std::find_if(made->foreignKeys.begin(), made->foreignKeys.end(), [&](const ForeignKey &k) {
            return sameName(k.referencedTable, to) && sameNames(k.columns, columns) &&
                   sameNames(k.referencedColumns, referenced);
        });
        const QString where = r[QStringLiteral("name")].toString();
        if (key == made->foreignKeys.end()) {
            problems << QStringLiteral("relationship %1 is no foreign key").arg(where);
            continue;
        }
        const auto action = [](bool cascade, bool setNull) {
            return cascade ? QStringLiteral("CASCADE") : setNull ? QStringLiteral("SET NULL") : QString();
        };
        const QString onUpdate = action(r[QStringLiteral("cascadeUpdates")].toBool(), false);
        const QString onDelete =
            action(r[QStringLiteral("cascadeDeletes")].toBool(), r[QStringLiteral("cascadeNull")].toBool());
        const auto same = [](const QString &wanted, const QString &made) {
            return wanted.isEmpty() ? made == QStringLiteral("NO ACTION") || made == QStringLiteral("RESTRICT")
                                    : made == wanted;
        };
        if (!same(onUpdate, key->onUpdate) || !same(onDelete, key->onDelete))
            problems << QStringLiteral("relationship %1: ON UPDATE %2 ON DELETE %3")
                            .arg(where, key->onUpdate, key->onDelete);
    }
    return problems;
}

} // namespace

class SqlMigrationTest : public QObject
{
    Q_OBJECT

    std::map<Kind, std::unique_ptr<Server>> servers;

    // The server of that kind; null (and the test skipped or failed) when it could not start.
    Server *server(Kind kind) { return servers.count(kind) ? servers[kind].get() : nullptr; }

    // Exports the database in one dialect (the DDL and the JSON document with its notes, in one
    // run), loads it and compares; what went wrong, one line each.
    // What the servers were given and made, for the record.
    struct Tally
    {
        int statements = 0, tables = 0, keys = 0, unique = 0, foreignKeys = 0, notes = 0;
        QString text() const
        {
            return QStringLiteral("%1 statements, %2 tables, %3 primary keys, %4 unique indexes, %5 foreign keys; "
                                  "%6 migration notes")
                .arg(statements)
                .arg(tables)
                .arg(keys)
                .arg(unique)
                .arg(foreignKeys)
                .arg(notes);
        }
    };

    QStringList migrate(const QString &database, const QString &password, Kind kind, Tally &tally)
    {
        QTemporaryDir out;
        QStringList options{QStringLiteral("--sql-dialect"), dialectOf(kind),
                            QStringLiteral("--output"),      out.path(),
                            QStringLiteral("--format"),      QStringLiteral("json,sql")};
        if (!password.isEmpty())
            options << QStringLiteral("--password") << password;
        const auto run = TestSupport::runExporter(options << database);
        const QString base =
            QDir(out.path()).filePath(QFileInfo(database).completeBaseName() + QStringLiteral("_Structure."));
        const QByteArray sql = TestSupport::readFile(base + QStringLiteral("sql"));
        if (sql.isEmpty())
            return {QStringLiteral("no DDL: ") + QString::fromUtf8(run.err)};
        const Load load = server(kind)->load(QString::fromUtf8(sql));
        for (const QByteArray &line : sql.split('\n'))
            tally.statements += line.endsWith(';') && !line.startsWith("--") ? 1 : 0;
        QStringList problems;
        for (const QString &error : load.errors)
            problems << QStringLiteral("failed: ") + error.left(400);
        const QJsonObject document =
            QJsonDocument::fromJson(TestSupport::readFile(base + QStringLiteral("json"))).object();
        tally.notes += int(document[QStringLiteral("migration")][QStringLiteral("notes")].toArray().size());
        const Catalogue catalogue = server(kind)->catalogue();
        if (!catalogue.error.isEmpty())
            return problems << QStringLiteral("catalogue: ") + catalogue.error;
        for (const Table &table : catalogue.tables) {
            ++tally.tables;
            tally.keys += table.primaryKey() ? 1 : 0;
            tally.unique += int(std::count_if(table.indexes.begin(), table.indexes.end(),
                                              [](const Index &i) { return i.unique && !i.primary; }));
            tally.foreignKeys += int(table.foreignKeys.size());
        }
        return problems + differences(document, catalogue, kind);
    }

private slots:
    void initTestCase()
    {
        for (const Kind kind : Kinds) {
            QString why;
            if (auto started = Server::start(kind, &why))
                servers[kind] = std::move(started);
            else if (TestSupport::fixturesRequired())
                QFAIL(qPrintable(why));
            else
                qWarning("%s", qPrintable(why));
        }
    }

    // The project's own databases: keys, indexes, relationships with cascades, validation rules,
    // defaults, calculated, multi-valued and attachment fields, hostile names.
    void fixturesLoadWhole_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Kind>("kind");
        for (const char *name : {"structure.accdb", "structure.mdb", "types.mdb", "types2019.accdb", "sample.mdb",
                                 "layout.mdb", "many.accdb"})
            for (const Kind kind : Kinds)
                QTest::addRow("%s %s", name, qPrintable(dialectOf(kind)))
                    << QDir(TestSupport::dataDir()).filePath(QString::fromLatin1(name)) << QString() << kind;
        QTest::addRow("password.mdb postgresql")
            << QDir(TestSupport::dataDir()).filePath(QStringLiteral("password.mdb")) << QStringLiteral("Pa;ss=w0rd")
            << Kind::PostgreSql;
    }
    void fixturesLoadWhole()
    {
        QFETCH(QString, database);
        QFETCH(QString, password);
        QFETCH(Kind, kind);
        if (!server(kind))
            QSKIP("the server could not start");
        Tally tally;
        const QStringList problems = migrate(database, password, kind, tally);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        qInfo("%s", qPrintable(tally.text()));
    }

    // Every database of the public collection, in every dialect.
    void publicDatabasesLoadWhole()
    {
        const QList<TestSupport::RealFile> files = TestSupport::realFiles();
        if (files.isEmpty())
            STRUDEX_WITHOUT_FIXTURE("The public test databases (../shared/fixtures/real) are not here.");
        QStringList failures;
        for (const Kind kind : Kinds) {
            if (!server(kind))
                continue;
            int loaded = 0;
            Tally tally;
            for (const TestSupport::RealFile &file : files) {
                const QStringList problems = migrate(file.path, file.password, kind, tally);
                if (problems.isEmpty())
                    ++loaded;
                for (const QString &problem : problems)
                    failures << QFileInfo(file.path).fileName() + QStringLiteral(" (") + kindName(kind) +
                                    QStringLiteral("): ") + problem;
            }
            qInfo("%s: %d of %lld databases load whole and match: %s", qPrintable(kindName(kind)), loaded,
                  qlonglong(files.size()), qPrintable(tally.text()));
        }
        for (const QString &failure : failures)
            qWarning("%s", qPrintable(failure));
        QVERIFY2(failures.isEmpty(), qPrintable(QString::number(failures.size()) + QStringLiteral(" differences")));
    }
};

QTEST_GUILESS_MAIN(SqlMigrationTest)
#include "tst_sql_migration.moc"
