#include "core/structure/Sql.h"

#include "core/structure/Printable.h"
#include "core/structure/TextSink.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTime>

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

namespace Structure {

namespace {

// ---------------------------------------------------------------------------------------------
// Dialects: what differs between the servers, as data. One writer consults it.

// The value types of Access the DDL tells apart.
enum class Kind {
    Byte,
    Integer,
    Long,
    Large,
    Single,
    Double,
    Currency,
    Decimal,
    DateTime,
    DateTimeExtended,
    YesNo,
    ShortText,
    LongText,
    Binary,
    Guid,
    Unknown,
};
constexpr int kKinds = int(Kind::Unknown) + 1;

// What a server demands of the types of a foreign key's columns and of the columns they refer to.
enum class ForeignKeyTypes {
    Any,
    Comparable,
    Same,
};

struct Dialect
{
    SqlDialect id = SqlDialect::PostgreSql;
    const char *key = "";
    const char *title = "";
    // The servers the DDL is for, as its header names them.
    const char *servers = "";
    char16_t quote = u'"';
    // The longest name the server takes (0: no limit), in UTF-8 bytes or in characters, and the
    // most bytes a table's name may take in the name of its file (0: no limit).
    int nameLimit = 0;
    bool limitInBytes = false;
    int tableFileNameLimit = 0;
    // The server takes two names that differ only in case for one.
    bool namesIgnoreCase = false;
    // A backslash in a string literal escapes the next character.
    bool backslashEscapes = false;
    // The command-line client keeps a carriage return before a line feed in a quoted text (psql
    // does; mysql and sqlite3 drop it).
    bool keepsCarriageReturns = false;
    // Names are of the Basic Multilingual Plane only and do not end with a space.
    bool namesBmpOnly = false;
    // Text compares without regard to case, as in Access (MySQL's default collations).
    bool textIgnoresCase = false;
    // Index names need only be unique within their table; elsewhere they share the schema's
    // namespace with the tables.
    bool indexNamesPerTable = false;
    // Constraint names must be unique in the whole schema.
    bool constraintNamesPerSchema = false;
    // A generated column may refer to a generated column before it.
    bool generatedUsesGenerated = false;
    // Foreign keys cannot be added to a table later: they go inside CREATE TABLE.
    bool foreignKeysInTable = false;
    ForeignKeyTypes foreignKeyTypes = ForeignKeyTypes::Any;
    // The server indexes a foreign key's columns itself.
    bool foreignKeysMakeIndexes = false;
    // Descriptions as COMMENT ON statements, or inline COMMENT '...' with these limits; with
    // neither, as comment lines.
    bool commentStatements = false;
    bool inlineComments = false;
    int tableCommentLimit = 0;
    int columnCommentLimit = 0;
    // The primary key is a named constraint (and an index of that name).
    bool namedPrimaryKey = false;
    // The type of a Byte holds more than 0..255: a CHECK keeps it to a byte.
    bool byteNeedsCheck = false;
    // Auto-numbering: the clause after the type, and what the server demands of it.
    const char *identity = "";
    bool identityNeedsKey = false;      // the column must lead an index, one column per table
    bool identityOnlyAsRowid = false;   // only a single-field INTEGER PRIMARY KEY numbers itself
    bool identityOutsideChecks = false; // CHECK and generated columns may not refer to it
    // CHECK may not refer to a column that a foreign key's action changes, and SET NULL may not
    // act on a NOT NULL column.
    bool checksAvoidActionColumns = false;
    bool setNullNeedsNullable = false;
    // Defaults of TEXT and BLOB columns are expressions, in parentheses.
    bool blobDefaultsInParentheses = false;
    // Indexes on TEXT and BLOB columns need a prefix length, and a key has a byte limit.
    bool blobKeysNeedPrefix = false;
    int keyByteLimit = 0;
    // Rows have a byte limit that counts the longest value of every column.
    bool rowSizeLimit = false;
    // The names of system columns no table may use (a list ending in nothing), and a prefix of
    // object names the server keeps for itself.
    const char *const *systemColumns = nullptr;
    const char *reservedPrefix = nullptr;
    // The names of types, by Kind; Decimal and Short Text take their sizes through templates.
    const char *types[kKinds] = {};
    const char *decimalType = "";
    const char *anyDecimalType = "";
    const char *shortTextType = "";
    // Why a kind's type does not keep every value exactly, by Kind (nothing: it does).
    const char *typeNotes[kKinds] = {};
    const char *likeOperator = "LIKE";
    const char *dateLiteralPrefix = "";
    const char *trueLiteral = "1";
    const char *falseLiteral = "0";
    // Defaults for Access's Date(), Now(), Time(), a random AutoNumber and a GUID AutoNumber.
    const char *currentDate = "";
    const char *currentTimestamp = "";
    const char *timeOfDay = "";
    const char *randomLong = "";
    const char *randomGuid = "";
    const char *toDouble = ""; // %1
    const char *concat = "";   // %1, %2; Null when either is
    bool concatIsCall = false;
    const char *emptyTextCheck = ""; // %1
    const char *generated = "";      // %1
    const char *tableOptions = "";
    const char *preamble = "";
    const char *loadHint = "";
};

const char *const kPostgresSystemColumns[] = {"tableoid", "xmin", "cmin", "xmax", "cmax", "ctid", nullptr};

const char kMySqlGuidNote[] = "MySQL has no GUID type: kept as text in braces, char(38)";
const char kSqliteGuidNote[] = "SQLite has no GUID type: kept as text in braces";
const char kSqliteDecimalNote[] =
    "SQLite keeps a number with a fraction as a binary floating-point number of 15 significant digits";

// Kinds, in order: Byte, Integer, Long, Large, Single, Double, Currency, Decimal, DateTime,
// DateTimeExtended, YesNo, ShortText, LongText, Binary, Guid, Unknown.
const Dialect kDialects[] = {
    {.id = SqlDialect::PostgreSql,
     .key = "postgresql",
     .title = "PostgreSQL",
     .servers = "PostgreSQL 13 or later",
     .quote = u'"',
     .nameLimit = 63,
     .limitInBytes = true,
     .keepsCarriageReturns = true,
     .foreignKeyTypes = ForeignKeyTypes::Comparable,
     .commentStatements = true,
     .namedPrimaryKey = true,
     .byteNeedsCheck = true,
     .identity = " GENERATED BY DEFAULT AS IDENTITY",
     .systemColumns = kPostgresSystemColumns,
     .types = {"smallint", "smallint", "integer", "bigint", "real", "double precision", "numeric(19,4)", "",
               "timestamp", "timestamp", "boolean", "", "text", "bytea", "uuid", "bytea"},
     .decimalType = "numeric(%1,%2)",
     .anyDecimalType = "numeric",
     .shortTextType = "varchar(%1)",
     .typeNotes = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   "PostgreSQL's timestamp keeps microseconds; Access keeps 100 nanoseconds"},
     .likeOperator = "ILIKE",
     .dateLiteralPrefix = "TIMESTAMP ",
     .trueLiteral = "true",
     .falseLiteral = "false",
     .currentDate = "CURRENT_DATE",
     .currentTimestamp = "LOCALTIMESTAMP(0)",
     .timeOfDay = "(DATE '1899-12-30' + LOCALTIME(0))",
     .randomLong = "CAST(floor(random() * 4294967296) - 2147483648 AS integer)",
     .randomGuid = "gen_random_uuid()",
     .toDouble = "CAST(%1 AS double precision)",
     .concat = "%1 || %2",
     .emptyTextCheck = "%1 <> ''",
     .generated = "GENERATED ALWAYS AS (%1) STORED",
     .preamble = "SET client_encoding = 'UTF8';\nSET standard_conforming_strings = on;\n",
     .loadHint = "Identity columns take the rows' own numbers when they are loaded: set each one's next value "
                 "after that."},
    {.id = SqlDialect::Sqlite,
     .key = "sqlite",
     .title = "SQLite",
     .servers = "SQLite 3.31 or later",
     .quote = u'"',
     .namesIgnoreCase = true,
     .generatedUsesGenerated = true,
     .foreignKeysInTable = true,
     .byteNeedsCheck = true,
     .identity = " PRIMARY KEY AUTOINCREMENT",
     .identityOnlyAsRowid = true,
     .reservedPrefix = "sqlite_",
     .types = {"INTEGER", "INTEGER", "INTEGER", "INTEGER", "REAL", "REAL", "NUMERIC", "NUMERIC", "TEXT", "TEXT",
               "INTEGER", "TEXT", "TEXT", "BLOB", "TEXT", "BLOB"},
     .decimalType = "NUMERIC",
     .anyDecimalType = "NUMERIC",
     .shortTextType = "TEXT",
     .typeNotes = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, kSqliteDecimalNote, kSqliteDecimalNote,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, kSqliteGuidNote},
     .currentDate = "(datetime('now', 'localtime', 'start of day'))",
     .currentTimestamp = "(datetime('now', 'localtime'))",
     .timeOfDay = "('1899-12-30 ' || time('now', 'localtime'))",
     .randomLong = "(random() >> 32)",
     .randomGuid = "('{' || hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-' || hex(randomblob(2)) || '-' || "
                   "hex(randomblob(2)) || '-' || hex(randomblob(6)) || '}')",
     .toDouble = "CAST(%1 AS REAL)",
     .concat = "%1 || %2",
     .emptyTextCheck = "%1 <> ''",
     .generated = "GENERATED ALWAYS AS (%1)",
     .loadHint = "Dates are text, 'YYYY-MM-DD HH:MM:SS'; foreign keys are checked only with PRAGMA foreign_keys = ON."},
    {.id = SqlDialect::MySql,
     .key = "mysql",
     .title = "MySQL",
     .servers = "MySQL 8.0.16 or later and MariaDB 10.8 or later",
     .quote = u'`',
     .nameLimit = 64,
     .tableFileNameLimit = 251, // 255, less ".ibd"
     .namesIgnoreCase = true,
     .backslashEscapes = true,
     .namesBmpOnly = true,
     .textIgnoresCase = true,
     .indexNamesPerTable = true,
     .constraintNamesPerSchema = true,
     .generatedUsesGenerated = true,
     .foreignKeyTypes = ForeignKeyTypes::Same,
     .foreignKeysMakeIndexes = true,
     .inlineComments = true,
     .tableCommentLimit = 2048,
     .columnCommentLimit = 1024,
     .identity = " AUTO_INCREMENT",
     .identityNeedsKey = true,
     .identityOutsideChecks = true,
     .checksAvoidActionColumns = true,
     .setNullNeedsNullable = true,
     .blobDefaultsInParentheses = true,
     .blobKeysNeedPrefix = true,
     .keyByteLimit = 3072,
     .rowSizeLimit = true,
     .types = {"tinyint unsigned", "smallint", "int", "bigint", "float", "double", "decimal(19,4)", "", "datetime",
               "datetime(6)", "tinyint(1)", "", "longtext", "longblob", "char(38)", "longblob"},
     .decimalType = "decimal(%1,%2)",
     .anyDecimalType = "decimal(65,30)",
     .shortTextType = "varchar(%1)",
     .typeNotes = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   "MySQL's datetime(6) keeps microseconds from the year 1000; Access keeps 100 nanoseconds from "
                   "the year 1",
                   nullptr, nullptr, nullptr, nullptr, kMySqlGuidNote},
     .dateLiteralPrefix = "TIMESTAMP ",
     .currentDate = "(curdate())",
     .currentTimestamp = "CURRENT_TIMESTAMP",
     .timeOfDay = "(timestamp('1899-12-30', curtime()))",
     .randomLong = "(floor(rand() * 4294967296) - 2147483648)",
     .randomGuid = "(concat('{', upper(uuid()), '}'))",
     .toDouble = "(%1 + 0e0)",
     .concat = "CONCAT(%1, %2)",
     .concatIsCall = true,
     .emptyTextCheck = "char_length(%1) > 0",
     .generated = "GENERATED ALWAYS AS (%1) STORED",
     .tableOptions = " ENGINE=InnoDB DEFAULT CHARSET=utf8mb4",
     .preamble = "SET NAMES utf8mb4;\n",
     .loadHint = "Load it with backslash escapes on (an sql_mode without NO_BACKSLASH_ESCAPES)."},
};

const Dialect &dialectOf(SqlDialect id)
{
    for (const Dialect &dialect : kDialects) {
        if (dialect.id == id)
            return dialect;
    }
    return kDialects[0];
}

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

// ---------------------------------------------------------------------------------------------
// Text: names, literals and comment lines that no text of the database can break out of.

QString quoteName(const Dialect &dialect, const QString &name)
{
    const QChar quote(dialect.quote);
    QString out;
    out.reserve(name.size() + 2);
    out += quote;
    for (const QChar c : name) {
        if (c == quote)
            out += quote;
        out += c;
    }
    out += quote;
    return out;
}

QString quoteNames(const Dialect &dialect, const QStringList &names)
{
    QStringList quoted;
    for (const QString &name : names)
        quoted << quoteName(dialect, name);
    return quoted.join(QStringLiteral(", "));
}

// A string literal of the text. With backslash escapes (MySQL) every control character that a
// client could take for the end of a line is escaped, and a NUL is kept; elsewhere a NUL becomes
// U+FFFD (callers that must be exact refuse such text first), and where the command-line client
// drops a carriage return before a line feed, the carriage return is joined in as char(13).
QString stringLiteral(const Dialect &dialect, const QString &text)
{
    QStringList parts;
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('\'');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (dialect.backslashEscapes) {
            const char *escape = u == 0      ? "\\0"
                                 : u == '\n' ? "\\n"
                                 : u == '\r' ? "\\r"
                                 : u == 0x1a ? "\\Z"
                                 : u == '\\' ? "\\\\"
                                             : nullptr;
            if (escape) {
                out += QLatin1String(escape);
                continue;
            }
        } else if (u == 0) {
            out += QChar(QChar::ReplacementCharacter);
            continue;
        } else if (u == '\r' && !dialect.keepsCarriageReturns) {
            parts << out + QLatin1Char('\'');
            out = QStringLiteral("'");
            continue;
        }
        if (u == '\'')
            out += QLatin1Char('\'');
        out += c;
    }
    out += QLatin1Char('\'');
    if (parts.isEmpty())
        return out;
    parts << out;
    return QLatin1Char('(') + parts.join(QStringLiteral(" || char(13) || ")) + QLatin1Char(')');
}

// One comment line: line breaks and every other control character are shown as escapes, so the
// text can neither end the comment early nor start a line of its own.
QString commentLine(const QString &text)
{
    return QStringLiteral("-- ") + printable(text);
}

QString hash8(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
}

// The size of a name as the server counts it against its limit.
qsizetype nameSize(const Dialect &dialect, QStringView name)
{
    if (dialect.limitInBytes)
        return name.toUtf8().size();
    qsizetype characters = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!(name[i].isLowSurrogate() && i > 0 && name[i - 1].isHighSurrogate()))
            ++characters;
    }
    return characters;
}

// The bytes a table's name takes in the name of its file where the server keeps a table in a file
// of its name (MySQL: ASCII letters, digits and "_" as they are, any other character as up to five
// bytes such as "@4e2d").
qsizetype fileNameSize(QStringView name)
{
    qsizetype size = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool plain =
            (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
        if (!(name[i].isLowSurrogate() && i > 0 && name[i - 1].isHighSurrogate()))
            size += plain ? 1 : 5;
    }
    return size;
}

// The name, or when it is longer than the server allows (for a table, also in the name of its
// file), its start cut at a character boundary and "_" with a short hash of the whole name: the
// same name always gives the same result, and two long names that start alike still differ.
QString fitted(const Dialect &dialect, const QString &name, bool table)
{
    const bool file = table && dialect.tableFileNameLimit > 0;
    const auto fits = [&](QStringView part, qsizetype more) {
        return (dialect.nameLimit == 0 || nameSize(dialect, part) + more <= dialect.nameLimit) &&
               (!file || fileNameSize(part) + more <= dialect.tableFileNameLimit);
    };
    if (fits(name, 0))
        return name;
    const QString suffix = QLatin1Char('_') + hash8(name);
    qsizetype end = 0;
    while (end < name.size()) {
        const qsizetype step = name[end].isHighSurrogate() && end + 1 < name.size() ? 2 : 1;
        if (!fits(QStringView(name).left(end + step), suffix.size()))
            break;
        end += step;
    }
    return name.left(end) + suffix;
}

// The names already given in one namespace of the server.
class Scope
{
public:
    explicit Scope(bool ignoreCase = false) : m_ignoreCase(ignoreCase) {}
    bool has(const QString &name) const { return m_names.contains(key(name)); }
    void add(const QString &name) { m_names.insert(key(name)); }

private:
    QString key(const QString &name) const { return m_ignoreCase ? nameKey(name) : name; }

    bool m_ignoreCase;
    QSet<QString> m_names;
};

// ---------------------------------------------------------------------------------------------
// Access's types.

// What the documents' field says of its values (a calculated field: of its result, by the ADO
// type of the result; a multi-valued field: of each value).
Kind kindOf(const Field &field)
{
    const QString &type = field.accessType;
    const QString size = field.fieldSize.value_or(QString());
    if (type == QLatin1String("Calculated")) {
        switch (field.adoType) {
        case 17:
            return Kind::Byte;
        case 2:
            return Kind::Integer;
        case 3:
            return Kind::Long;
        case 20:
            return Kind::Large;
        case 4:
            return Kind::Single;
        case 5:
            return Kind::Double;
        case 6:
            return Kind::Currency;
        case 131:
            return Kind::Decimal;
        case 7:
        case 135:
            return Kind::DateTime;
        case 11:
            return Kind::YesNo;
        case 130:
        case 202:
            return Kind::ShortText;
        case 203:
            return Kind::LongText;
        case 72:
            return Kind::Guid;
        default:
            return Kind::Unknown;
        }
    }
    if (type == QLatin1String("Number") || type == QLatin1String("AutoNumber")) {
        if (size == QLatin1String("Byte"))
            return Kind::Byte;
        if (size == QLatin1String("Integer"))
            return Kind::Integer;
        if (size == QLatin1String("Long Integer"))
            return Kind::Long;
        if (size == QLatin1String("Single"))
            return Kind::Single;
        if (size == QLatin1String("Double"))
            return Kind::Double;
        if (size == QLatin1String("Decimal"))
            return Kind::Decimal;
        if (size == QLatin1String("Replication ID"))
            return Kind::Guid;
        return Kind::Unknown;
    }
    static const QHash<QString, Kind> plain = {
        {QStringLiteral("Short Text"), Kind::ShortText},
        {QStringLiteral("Long Text"), Kind::LongText},
        {QStringLiteral("Hyperlink"), Kind::LongText},
        {QStringLiteral("Large Number"), Kind::Large},
        {QStringLiteral("Currency"), Kind::Currency},
        {QStringLiteral("Date/Time"), Kind::DateTime},
        {QStringLiteral("Date/Time Extended"), Kind::DateTimeExtended},
        {QStringLiteral("Yes/No"), Kind::YesNo},
        {QStringLiteral("OLE Object"), Kind::Binary},
        {QStringLiteral("Binary"), Kind::Binary},
    };
    return plain.value(type, Kind::Unknown);
}

bool isInteger(Kind kind)
{
    return kind == Kind::Byte || kind == Kind::Integer || kind == Kind::Long || kind == Kind::Large;
}

bool isNumber(Kind kind)
{
    return isInteger(kind) || kind == Kind::Single || kind == Kind::Double || kind == Kind::Currency ||
           kind == Kind::Decimal;
}

bool isText(Kind kind)
{
    return kind == Kind::ShortText || kind == Kind::LongText;
}

// What an expression may do with a column's values.
enum class Value {
    Number,
    Text,
    Date,
    Predicate,
    Null,
    // Yes/No, GUIDs, binary data and dates of 100 nanoseconds: only tested for Null.
    Other,
};

Value valueOf(Kind kind)
{
    if (isNumber(kind))
        return Value::Number;
    if (isText(kind))
        return Value::Text;
    if (kind == Kind::DateTime)
        return Value::Date;
    return Value::Other;
}

bool isSystemName(const QString &name)
{
    return name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive);
}

// ---------------------------------------------------------------------------------------------
// Access expressions: the subset that translates exactly (validation rules, calculated fields,
// default values). Anything outside it is refused, never guessed.

struct Token
{
    enum Type {
        End,
        Number,
        String,
        Date,
        Name,
        Word,
        Op,
        Bad,
    };
    Type type = End;
    QString text;
};

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The number that starts at i, moving i past it, written as every server reads it ("0.5", not ".5").
QString numberAt(const QString &text, qsizetype &i)
{
    const qsizetype n = text.size();
    const qsizetype start = i;
    while (i < n && isDigit(text[i]))
        ++i;
    if (i < n && text[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i;
    }
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype at = i + 1;
        if (at < n && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-')))
            ++at;
        if (at < n && isDigit(text[at])) {
            i = at;
            while (i < n && isDigit(text[i]))
                ++i;
        }
    }
    QString number = text.mid(start, i - start);
    if (number.startsWith(QLatin1Char('.')))
        number.prepend(QLatin1Char('0'));
    number.replace(QLatin1String(".e"), QLatin1String(".0e"), Qt::CaseInsensitive);
    if (number.endsWith(QLatin1Char('.')))
        number += QLatin1Char('0');
    return number;
}

// The text of the quoted string that starts at i (its quote doubled inside), moving i past it;
// nothing when it is not closed.
std::optional<QString> quotedAt(const QString &text, qsizetype &i)
{
    const qsizetype n = text.size();
    const QChar quote = text[i];
    QString value;
    ++i;
    while (true) {
        if (i == n)
            return std::nullopt;
        if (text[i] == quote) {
            if (i + 1 < n && text[i + 1] == quote) {
                value += quote;
                i += 2;
                continue;
            }
            ++i;
            return value;
        }
        value += text[i++];
    }
}

QList<Token> tokenize(const QString &text)
{
    QList<Token> tokens;
    const qsizetype n = text.size();
    qsizetype i = 0;
    const auto bad = [&tokens] {
        tokens << Token{Token::Bad, QString()};
        return tokens;
    };
    while (true) {
        while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') || text[i] == QLatin1Char('\r') ||
                         text[i] == QLatin1Char('\n')))
            ++i;
        if (i == n) {
            tokens << Token{Token::End, QString()};
            return tokens;
        }
        const QChar c = text[i];
        if (isDigit(c) || (c == QLatin1Char('.') && i + 1 < n && isDigit(text[i + 1]))) {
            tokens << Token{Token::Number, numberAt(text, i)};
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const std::optional<QString> value = quotedAt(text, i);
            if (!value)
                return bad();
            tokens << Token{Token::String, *value};
        } else if (c == QLatin1Char('#') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('#') ? QLatin1Char('#') : QLatin1Char(']');
            const qsizetype end = text.indexOf(close, i + 1);
            if (end < 0)
                return bad();
            tokens << Token{c == QLatin1Char('#') ? Token::Date : Token::Name, text.mid(i + 1, end - i - 1)};
            i = end + 1;
        } else if (c.isLetter() || c == QLatin1Char('_')) {
            const qsizetype start = i;
            while (i < n && (text[i].isLetterOrNumber() || text[i] == QLatin1Char('_')))
                ++i;
            tokens << Token{Token::Word, text.mid(start, i - start)};
        } else {
            const QStringView two = QStringView(text).mid(i, 2);
            if (two == u"<="_sv || two == u">="_sv || two == u"<>"_sv) {
                tokens << Token{Token::Op, two.toString()};
                i += 2;
            } else if (QStringView(u"<>=+-*/\\^&(),!.").contains(c)) {
                tokens << Token{Token::Op, QString(c)};
                ++i;
            } else {
                return bad();
            }
        }
    }
}

struct Node
{
    enum Type {
        Number,
        String,
        Date,
        Null,
        Bool,
        Column,
        Negate,
        Not,
        And,
        Or,
        Arithmetic,
        Concat,
        Compare,
        Between,
        In,
        Like,
        IsNull,
    };
    Type type;
    QString text;
    bool negated = false;
    QList<int> kids;
};

bool isPredicate(Node::Type type)
{
    return type == Node::Not || type == Node::And || type == Node::Or || type == Node::Compare ||
           type == Node::Between || type == Node::In || type == Node::Like || type == Node::IsNull;
}

// A recursive-descent reader of Access's expression syntax for the subset. With an implicit field
// (a field's validation rule), a comparison without its left side compares that field, and a bare
// value means "equal to it", as Access reads "<5", "Between 1 And 9" and "\"a\" Or \"b\"".
class Parser
{
public:
    Parser(const QString &text, const QString &implicitField) : m_tokens(tokenize(text)), m_implicit(implicitField) {}

    // The root node; nothing when the text is not wholly of the subset (why() says what is not).
    std::optional<int> parse()
    {
        const int root = parseOr();
        if (root < 0)
            return std::nullopt;
        if (peek().type != Token::End) {
            fail(QStringLiteral("it cannot be read as a whole"));
            return std::nullopt;
        }
        return root;
    }
    const std::vector<Node> &nodes() const { return m_nodes; }
    const QString &why() const { return m_why; }

private:
    const Token &peek(int ahead = 0) const
    {
        const qsizetype at = std::min(m_at + ahead, m_tokens.size() - 1);
        return m_tokens[at];
    }
    bool isWord(const char *word, int ahead = 0) const
    {
        const Token &token = peek(ahead);
        return token.type == Token::Word && token.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool isOp(const char *op, int ahead = 0) const
    {
        const Token &token = peek(ahead);
        return token.type == Token::Op && token.text == QLatin1String(op);
    }
    bool isComparison() const { return isOp("=") || isOp("<>") || isOp("<") || isOp(">") || isOp("<=") || isOp(">="); }
    bool negatedPredicateAhead() const
    {
        return isWord("Not") && (isWord("Between", 1) || isWord("In", 1) || isWord("Like", 1));
    }
    bool predicateAhead() const
    {
        return isComparison() || isWord("Between") || isWord("In") || isWord("Like") || isWord("Is") ||
               negatedPredicateAhead();
    }
    void advance()
    {
        if (m_at + 1 < m_tokens.size())
            ++m_at;
    }
    int fail(const QString &why)
    {
        if (m_why.isEmpty())
            m_why = why;
        return -1;
    }
    int syntax() { return fail(QStringLiteral("it cannot be read as a whole")); }
    int add(Node::Type type, const QString &text, QList<int> kids = {}, bool negated = false)
    {
        m_nodes.push_back(Node{type, text, negated, std::move(kids)});
        return int(m_nodes.size()) - 1;
    }

    int parseOr()
    {
        int left = parseAnd();
        while (left >= 0 && isWord("Or")) {
            advance();
            const int right = parseAnd();
            left = right < 0 ? -1 : add(Node::Or, QString(), {left, right});
        }
        if (left >= 0 && (isWord("Xor") || isWord("Eqv") || isWord("Imp")))
            return fail(QStringLiteral("Xor, Eqv and Imp are not translated"));
        return left;
    }
    int parseAnd()
    {
        int left = parseNot();
        while (left >= 0 && isWord("And")) {
            advance();
            const int right = parseNot();
            left = right < 0 ? -1 : add(Node::And, QString(), {left, right});
        }
        return left;
    }
    int parseNot()
    {
        if (isWord("Not") && !(m_implicit.size() > 0 && negatedPredicateAhead())) {
            advance();
            const int operand = parseNot();
            return operand < 0 ? -1 : add(Node::Not, QString(), {operand});
        }
        return parseComparison();
    }
    int parseComparison()
    {
        int left;
        const bool implicit = !m_implicit.isEmpty() && predicateAhead();
        if (implicit) {
            left = add(Node::Column, m_implicit);
        } else {
            left = parseConcat();
            if (left < 0)
                return -1;
        }
        bool negated = false;
        if (negatedPredicateAhead()) {
            advance();
            negated = true;
        }
        if (!negated && isComparison()) {
            const QString op = peek().text;
            advance();
            const int right = parseConcat();
            return right < 0 ? -1 : add(Node::Compare, op, {left, right});
        }
        if (isWord("Between")) {
            advance();
            const int low = parseConcat();
            if (low < 0)
                return -1;
            if (!isWord("And"))
                return syntax();
            advance();
            const int high = parseConcat();
            return high < 0 ? -1 : add(Node::Between, QString(), {left, low, high}, negated);
        }
        if (isWord("In")) {
            advance();
            if (!isOp("("))
                return syntax();
            QList<int> kids{left};
            do {
                advance();
                const int item = parseConcat();
                if (item < 0)
                    return -1;
                kids << item;
            } while (isOp(","));
            if (!isOp(")"))
                return syntax();
            advance();
            return add(Node::In, QString(), kids, negated);
        }
        if (isWord("Like")) {
            advance();
            const int pattern = parseConcat();
            return pattern < 0 ? -1 : add(Node::Like, QString(), {left, pattern}, negated);
        }
        if (!negated && isWord("Is")) {
            advance();
            bool isNot = false;
            if (isWord("Not")) {
                advance();
                isNot = true;
            }
            if (!isWord("Null"))
                return syntax();
            advance();
            return add(Node::IsNull, QString(), {left}, isNot);
        }
        if (negated || implicit)
            return syntax();
        // A bare value in a field's rule: the field equals it.
        if (!m_implicit.isEmpty() && !isPredicate(m_nodes[std::size_t(left)].type))
            return add(Node::Compare, QStringLiteral("="), {add(Node::Column, m_implicit), left});
        return left;
    }
    int parseConcat()
    {
        int left = parseAdditive();
        while (left >= 0 && isOp("&")) {
            advance();
            const int right = parseAdditive();
            left = right < 0 ? -1 : add(Node::Concat, QString(), {left, right});
        }
        return left;
    }
    int parseAdditive()
    {
        int left = parseMultiplicative();
        while (left >= 0 && (isOp("+") || isOp("-"))) {
            const QString op = peek().text;
            advance();
            const int right = parseMultiplicative();
            left = right < 0 ? -1 : add(Node::Arithmetic, op, {left, right});
        }
        return left;
    }
    int parseMultiplicative()
    {
        int left = parseUnary();
        while (left >= 0 && (isOp("*") || isOp("/"))) {
            const QString op = peek().text;
            advance();
            const int right = parseUnary();
            left = right < 0 ? -1 : add(Node::Arithmetic, op, {left, right});
        }
        if (left >= 0 && (isOp("\\") || isWord("Mod")))
            return fail(QStringLiteral("integer division and Mod are not translated"));
        return left;
    }
    int parseUnary()
    {
        if (isOp("-")) {
            advance();
            const int operand = parseUnary();
            return operand < 0 ? -1 : add(Node::Negate, QString(), {operand});
        }
        if (isOp("+")) {
            advance();
            return parseUnary();
        }
        const int primary = parsePrimary();
        if (primary >= 0 && isOp("^"))
            return fail(QStringLiteral("powers are not translated"));
        return primary;
    }
    int parsePrimary()
    {
        const Token token = peek();
        switch (token.type) {
        case Token::Number:
            advance();
            return add(Node::Number, token.text);
        case Token::String:
            advance();
            return add(Node::String, token.text);
        case Token::Date:
            advance();
            return add(Node::Date, token.text);
        case Token::Name:
            advance();
            return column(token.text);
        case Token::Word: {
            static const QStringList keywords = {
                QStringLiteral("And"), QStringLiteral("Or"),   QStringLiteral("Not"), QStringLiteral("Between"),
                QStringLiteral("In"),  QStringLiteral("Like"), QStringLiteral("Is"),  QStringLiteral("Xor"),
                QStringLiteral("Eqv"), QStringLiteral("Imp"),  QStringLiteral("Mod"),
            };
            if (keywords.contains(token.text, Qt::CaseInsensitive))
                return syntax();
            advance();
            if (token.text.compare(QLatin1String("Null"), Qt::CaseInsensitive) == 0)
                return add(Node::Null, QString());
            for (const char *yes : {"True", "Yes", "On"}) {
                if (token.text.compare(QLatin1String(yes), Qt::CaseInsensitive) == 0)
                    return add(Node::Bool, QStringLiteral("true"));
            }
            for (const char *no : {"False", "No", "Off"}) {
                if (token.text.compare(QLatin1String(no), Qt::CaseInsensitive) == 0)
                    return add(Node::Bool, QStringLiteral("false"));
            }
            if (isOp("("))
                return fail(QStringLiteral("functions are not translated"));
            return column(token.text);
        }
        case Token::Op:
            if (token.text == QLatin1String("(")) {
                advance();
                const int inner = parseOr();
                if (inner < 0)
                    return -1;
                if (!isOp(")"))
                    return syntax();
                advance();
                return inner;
            }
            return syntax();
        case Token::End:
        case Token::Bad:
            break;
        }
        return syntax();
    }
    int column(const QString &name)
    {
        if (isOp(".") || isOp("!"))
            return fail(QStringLiteral("names of other objects are not translated"));
        return add(Node::Column, name);
    }

    QList<Token> m_tokens;
    qsizetype m_at = 0;
    QString m_implicit;
    std::vector<Node> m_nodes;
    QString m_why;
};

// An Access date literal's text (#...#) as "YYYY-MM-DD HH:MM:SS": ISO dates, and the month/day/year
// with a four-digit year that Access stores; a time alone is on Access's day zero. Nothing for
// anything else (two-digit years, month names), which could be read more than one way.
std::optional<QString> accessDate(const QString &text)
{
    static const QString time = QStringLiteral(R"((\d{1,2}):(\d{2})(?::(\d{2}))?(?:\s*([AaPp][Mm]))?)");
    static const QRegularExpression iso(QStringLiteral(R"(^(\d{4})-(\d{1,2})-(\d{1,2})(?:[ T]+%1)?$)").arg(time));
    static const QRegularExpression us(QStringLiteral(R"(^(\d{1,2})/(\d{1,2})/(\d{4})(?:\s+%1)?$)").arg(time));
    static const QRegularExpression timeOnly(QStringLiteral("^%1$").arg(time));
    const QString trimmed = text.trimmed();
    QDate date;
    int at = 4;
    QRegularExpressionMatch match = iso.match(trimmed);
    if (match.hasMatch()) {
        date = QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    } else if ((match = us.match(trimmed)).hasMatch()) {
        date = QDate(match.captured(3).toInt(), match.captured(1).toInt(), match.captured(2).toInt());
    } else if ((match = timeOnly.match(trimmed)).hasMatch()) {
        date = QDate(1899, 12, 30);
        at = 1;
    } else {
        return std::nullopt;
    }
    if (!date.isValid())
        return std::nullopt;
    int hour = 0, minute = 0, second = 0;
    if (!match.captured(at).isEmpty()) {
        hour = match.captured(at).toInt();
        minute = match.captured(at + 1).toInt();
        second = match.captured(at + 2).toInt();
        const QString half = match.captured(at + 3).toUpper();
        if (!half.isEmpty()) {
            if (hour < 1 || hour > 12)
                return std::nullopt;
            hour = hour % 12 + (half == QLatin1String("PM") ? 12 : 0);
        }
    }
    const QTime clock(hour, minute, second);
    if (!clock.isValid())
        return std::nullopt;
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + clock.toString(QStringLiteral("HH:mm:ss"));
}

// Access's Like pattern as a LIKE pattern with "!" as its escape; nothing when it has no exact
// equivalent. `escaped` says whether the pattern needs ESCAPE '!'.
std::optional<QString> likePattern(const QString &pattern, bool &escaped, QString &why)
{
    QString out;
    escaped = false;
    const auto literal = [&](QChar c) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('!')) {
            out += QLatin1Char('!');
            escaped = true;
        } else if (c == QLatin1Char('\\')) {
            // Without ESCAPE, PostgreSQL and MySQL take a backslash for the escape.
            escaped = true;
        }
        out += c;
    };
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('*')) {
            out += QLatin1Char('%');
        } else if (c == QLatin1Char('?')) {
            out += QLatin1Char('_');
        } else if (c == QLatin1Char('#')) {
            why = QStringLiteral("# (any digit) has no LIKE equivalent");
            return std::nullopt;
        } else if (c == QLatin1Char('[')) {
            const qsizetype end = pattern.indexOf(QLatin1Char(']'), i + 1);
            if (end != i + 2) {
                why = QStringLiteral("character lists have no LIKE equivalent");
                return std::nullopt;
            }
            literal(pattern[i + 1]);
            i = end;
        } else {
            literal(c);
        }
    }
    return out;
}

bool hasNonAsciiLetter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0x80 && c.isLetter(); });
}

// ---------------------------------------------------------------------------------------------
// The plan: every decision about the DDL, made once; the notes and the text both come from it.

enum class Auto {
    None,
    Increment,
    Random,
    Guid,
};

struct Column
{
    const Field *field = nullptr;
    QString access; // the Access name, for lookups and notes
    QString name;   // as written
    Kind kind = Kind::Unknown;
    qint64 size = 0;
    std::optional<std::pair<int, int>> precision;
    QString type;
    bool blob = false; // MySQL's TEXT and BLOB family
    bool notNull = false;
    QString defaultSql;
    Auto autoKind = Auto::None;
    bool identity = false;
    bool rowidKey = false;
    bool calculated = false;
    QString generated;
    bool actions = false; // changed by a foreign key's action
    QString comment;
};

struct Check
{
    QString name;
    QString sql;
};

struct ForeignKey
{
    int table = -1;
    QString name;
    QStringList columns;
    int target = -1;
    QStringList targetColumns;
    QString onUpdate;
    QString onDelete;
};

struct IndexColumn
{
    QString name;
    bool descending = false;
    int prefix = 0;
};

struct IndexOut
{
    int table = -1;
    QString name;
    bool unique = false;
    QList<IndexColumn> columns;
    // Inside CREATE TABLE: MySQL needs the index of an AUTO_INCREMENT column there.
    bool inTable = false;
    int order = 0;
};

struct TableOut
{
    const Table *table = nullptr; // nothing for a table made for a multi-valued field
    int source = -1;              // the document's table (the parent's, for a made table)
    QString access;
    QString name;
    QList<Column> columns;
    QHash<QString, int> columnByKey;
    QStringList primaryKey;
    QString primaryKeyName;
    QList<Check> checks;
    QList<ForeignKey> foreignKeys; // inside CREATE TABLE
    QString comment;
    // Defaults and rules of Access that were not carried over, said in comment lines after the
    // table, where a person reading the DDL looks for them.
    QStringList leftOut;
    Scope columnScope;
    Scope indexScope;
    Scope constraintScope;

    const Column *column(const QString &accessName) const
    {
        const int at = columnByKey.value(nameKey(accessName), -1);
        return at < 0 ? nullptr : &columns[at];
    }
    Column *column(const QString &accessName)
    {
        const int at = columnByKey.value(nameKey(accessName), -1);
        return at < 0 ? nullptr : &columns[at];
    }
};

// Where a note belongs in the document's order.
struct NoteAt
{
    int section = 0;
    int item = 0;
    int part = 0;
    MigrationNote note;
};

enum Section {
    DocumentSection,
    TableSection,
    RelationshipSection,
    LinkedSection,
    QuerySection,
};

constexpr int kTablePart = 0;
constexpr int kIndexPart = 1 << 20;
constexpr int kTableRulePart = 2 << 20;

struct Plan
{
    const Document *document = nullptr;
    const Dialect *dialect = nullptr;
    QList<TableOut> tables;
    QList<int> order;
    QList<IndexOut> indexes;
    QList<ForeignKey> foreignKeys;
    QStringList relationshipComments;
    QList<NoteAt> notes;
    QList<QPair<QString, QString>> shortened; // as written, and whole
    Scope relations;
    Scope constraints;
};

class Planner
{
public:
    Planner(const Document &document, const Dialect &dialect) : d(dialect)
    {
        p.document = &document;
        p.dialect = &dialect;
        p.relations = Scope(dialect.namesIgnoreCase);
        p.constraints = Scope(dialect.namesIgnoreCase);
    }

    Plan run()
    {
        const Document &document = *p.document;
        for (const QString &text : document.notes)
            note({DocumentSection, 0, 0}, QStringLiteral("part of the database not read"), QString(), text);
        nameTables();
        for (TableOut &table : p.tables)
            planColumns(table);
        makeValueTables();
        for (int t = 0; t < p.tables.size(); ++t) {
            if (p.tables[t].table)
                planIndexes(t);
        }
        planRelationships();
        for (TableOut &table : p.tables) {
            if (table.table)
                planChecks(table);
        }
        for (int t = 0; t < p.tables.size(); ++t)
            keyAutoIncrement(t);
        orderTables();
        for (int i = 0; i < document.linkedTables.size(); ++i) {
            const LinkedTable &linked = document.linkedTables[i];
            note({LinkedSection, i, 0}, QStringLiteral("linked table not created"), linked.name,
                 QStringLiteral("its data lives in another database: %1 in %2").arg(linked.target, linked.source));
        }
        qsizetype selects = 0;
        for (const Query &query : document.queries)
            selects += query.type == QLatin1String("select");
        if (!document.queries.isEmpty()) {
            const auto count = [](qsizetype n, const char *kind) {
                return QStringLiteral("%1 %2 %3").arg(n).arg(latin1(kind), n == 1 ? u"query"_sv : u"queries"_sv);
            };
            const qsizetype others = document.queries.size() - selects;
            QString why = count(selects, "select") + QStringLiteral(" not written as views");
            if (others > 0)
                why += QStringLiteral("; ") + count(others, "other") +
                       QStringLiteral(" (action, crosstab, union, "
                                      "pass-through) left out");
            note({QuerySection, 0, 0}, QStringLiteral("queries not translated"), QStringLiteral("queries"), why);
        }
        std::stable_sort(p.notes.begin(), p.notes.end(), [](const NoteAt &a, const NoteAt &b) {
            return std::tie(a.section, a.item, a.part) < std::tie(b.section, b.item, b.part);
        });
        return std::move(p);
    }

private:
    struct At
    {
        int section;
        int item;
        int part;
    };

    void note(At at, const QString &what, const QString &where, const QString &why)
    {
        p.notes << NoteAt{at.section, at.item, at.part, MigrationNote{what, where, why}};
    }
    static At fieldAt(const TableOut &table, int field) { return {TableSection, table.source, 1 + field}; }
    static At tableAt(const TableOut &table, int part = kTablePart) { return {TableSection, table.source, part}; }

    Scope &constraintScope(TableOut &table)
    {
        return d.constraintNamesPerSchema ? p.constraints : table.constraintScope;
    }

    // Why the server cannot take the name as it is; empty when it can.
    QString invalidName(const QString &name, bool object, bool column, bool index) const
    {
        const QString title = latin1(d.title);
        if (name.isEmpty())
            return QStringLiteral("%1 does not take an empty name").arg(title);
        for (qsizetype i = 0; i < name.size(); ++i) {
            const QChar c = name[i];
            if (c.unicode() == 0)
                return QStringLiteral("%1 does not take a NUL character in a name").arg(title);
            if (c == QLatin1Char('\r') && !d.keepsCarriageReturns)
                return QStringLiteral("%1's command-line client drops a carriage return before a line feed").arg(title);
            const bool pair = c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate();
            if (c.isSurrogate() && !pair && !(c.isLowSurrogate() && i > 0 && name[i - 1].isHighSurrogate()))
                return QStringLiteral("the name has half of a surrogate pair");
            if (pair && d.namesBmpOnly)
                return QStringLiteral("%1 does not take a character beyond the Basic Multilingual Plane in a name")
                    .arg(title);
        }
        if (d.namesBmpOnly && name.endsWith(QLatin1Char(' ')))
            return QStringLiteral("%1 does not take a name that ends with a space").arg(title);
        if (object && d.reservedPrefix && name.startsWith(QLatin1String(d.reservedPrefix), Qt::CaseInsensitive))
            return QStringLiteral("%1 keeps names that start with %2 for itself").arg(title, latin1(d.reservedPrefix));
        if (column && d.systemColumns) {
            for (const char *const *system = d.systemColumns; *system; ++system) {
                if (name == QLatin1String(*system))
                    return QStringLiteral("%1 has a system column of that name").arg(title);
            }
        }
        if (index && d.indexNamesPerTable && name.compare(QLatin1String("PRIMARY"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("%1 keeps the name PRIMARY for the primary key").arg(title);
        return QString();
    }

    enum class Role {
        Object,
        Column,
        Index,
        Constraint,
    };

    // A name the server takes, unique in the scope (and in `also`), as near to the wanted one as
    // that allows. `why` says why it differs from the wanted name; empty when it does not.
    QString claim(Scope &scope, Scope *also, const QString &wanted, Role role, QString *why = nullptr)
    {
        QString base = wanted;
        QString reason;
        const QString invalid =
            invalidName(wanted, role == Role::Object || role == Role::Index, role == Role::Column, role == Role::Index);
        if (!invalid.isEmpty()) {
            QString cleaned;
            for (qsizetype i = 0; i < wanted.size(); ++i) {
                const QChar c = wanted[i];
                const bool pair = c.isHighSurrogate() && i + 1 < wanted.size() && wanted[i + 1].isLowSurrogate();
                if (c.unicode() == 0 || (c == QLatin1Char('\r') && !d.keepsCarriageReturns) ||
                    (c.isSurrogate() && !(pair && !d.namesBmpOnly))) {
                    cleaned += QLatin1Char('_');
                    i += pair ? 1 : 0;
                } else if (pair) {
                    cleaned += c;
                    cleaned += wanted[++i];
                } else {
                    cleaned += c;
                }
            }
            while (cleaned.endsWith(QLatin1Char(' ')) && d.namesBmpOnly)
                cleaned.chop(1);
            if (cleaned.isEmpty())
                cleaned = QStringLiteral("unnamed");
            if (d.reservedPrefix && cleaned.startsWith(QLatin1String(d.reservedPrefix), Qt::CaseInsensitive))
                cleaned.prepend(QLatin1Char('_'));
            base = cleaned + QLatin1Char('_') + hash8(wanted);
            reason = invalid;
        }
        QString name = fitted(d, base, role == Role::Object);
        if (name != base && reason.isEmpty() && nameSize(d, base) > d.nameLimit)
            reason = QStringLiteral("%1 takes names of at most %2 %3")
                         .arg(latin1(d.title))
                         .arg(d.nameLimit)
                         .arg(d.limitInBytes ? QStringLiteral("bytes of UTF-8") : QStringLiteral("characters"));
        else if (name != base && reason.isEmpty())
            reason = QStringLiteral("%1 keeps a table in a file of its name, where a character other than an ASCII "
                                    "letter or digit takes up to 5 of 255 bytes")
                         .arg(latin1(d.title));
        for (int n = 2; scope.has(name) || (also && also->has(name)); ++n) {
            name = fitted(d, base + QLatin1Char('_') + QString::number(n), role == Role::Object);
            reason = d.namesIgnoreCase
                         ? QStringLiteral("%1 takes it for another name (it compares names without regard to case)")
                               .arg(latin1(d.title))
                         : QStringLiteral("another name takes it");
        }
        scope.add(name);
        if (also)
            also->add(name);
        if (name != wanted)
            p.shortened << qMakePair(name, wanted);
        if (why)
            *why = name == wanted ? QString() : reason;
        return name;
    }

    void renamed(At at, const QString &where, const QString &wanted, const QString &written, const QString &why)
    {
        if (why.isEmpty())
            return;
        const bool shortened = written == fitted(d, wanted, false) || written == fitted(d, wanted, true);
        note(at, shortened ? QStringLiteral("name shortened") : QStringLiteral("name changed"), where,
             QStringLiteral("%1: written as %2").arg(why, quoteName(d, written)));
    }

    QString typeOf(const Column &column) const
    {
        switch (column.kind) {
        case Kind::ShortText: {
            const QString type = latin1(d.shortTextType);
            return type.contains(u"%1"_sv) ? type.arg(column.size > 0 ? column.size : 255) : type;
        }
        case Kind::Decimal: {
            const QString type = latin1(d.decimalType);
            if (!column.precision)
                return latin1(d.anyDecimalType);
            return type.contains(u"%1"_sv) ? type.arg(column.precision->first).arg(column.precision->second) : type;
        }
        default:
            return latin1(d.types[int(column.kind)]);
        }
    }

    void setType(Column &column, Kind kind, const Field *field)
    {
        column.kind = kind;
        if (kind == Kind::ShortText && field) {
            bool sized = false;
            const qint64 size = field->fieldSize.value_or(QString()).toLongLong(&sized);
            column.size = sized ? size : field->size;
            if (field->multiValued && !sized)
                column.size = 255;
        }
        if (kind == Kind::Decimal && field && field->precision && *field->precision >= 1 && *field->precision <= 28) {
            const int scale = std::clamp(field->scale.value_or(0), 0, *field->precision);
            column.precision = std::make_pair(*field->precision, scale);
        }
        column.type = typeOf(column);
        column.blob = d.blobKeysNeedPrefix && (kind == Kind::LongText || kind == Kind::Binary || kind == Kind::Unknown);
    }

    // Names every table and its columns first, so that names made later (indexes, constraints,
    // the tables of multi-valued fields) never take a name the database uses.
    void nameTables()
    {
        const Document &document = *p.document;
        for (int t = 0; t < document.tables.size(); ++t) {
            const Table &source = document.tables[t];
            TableOut table;
            table.table = &source;
            table.source = t;
            table.access = source.name;
            table.columnScope = Scope(d.namesIgnoreCase);
            table.indexScope = Scope(d.namesIgnoreCase);
            table.constraintScope = Scope(d.namesIgnoreCase);
            if (!source.definitionRead) {
                note(tableAt(table), QStringLiteral("table not created"), source.name,
                     QStringLiteral("its definition could not be read") +
                         (source.note.isEmpty() ? QString() : QStringLiteral(": ") + source.note));
                continue;
            }
            bool hasColumn = false;
            for (const Field &field : source.fields)
                hasColumn = hasColumn || !isValueTableField(field);
            if (!hasColumn) {
                note(tableAt(table), QStringLiteral("table not created"), source.name,
                     QStringLiteral("it has no field that can be a column"));
                continue;
            }
            QString why;
            table.name = claim(p.relations, nullptr, source.name, Role::Object, &why);
            renamed(tableAt(table), source.name, source.name, table.name, why);
            if (!source.note.isEmpty())
                note(tableAt(table), QStringLiteral("part of the table not read"), source.name, source.note);
            for (int f = 0; f < source.fields.size(); ++f) {
                const Field &field = source.fields[f];
                const QString where = source.name + QLatin1Char('.') + field.name;
                if (!field.note.isEmpty())
                    note(fieldAt(table, f), QStringLiteral("part of the field not read"), where, field.note);
                if (isValueTableField(field))
                    continue;
                Column column;
                column.field = &field;
                column.access = field.name;
                column.name = claim(table.columnScope, nullptr, field.name, Role::Column, &why);
                renamed(fieldAt(table, f), where, field.name, column.name, why);
                if (!table.columnByKey.contains(nameKey(field.name)))
                    table.columnByKey.insert(nameKey(field.name), int(table.columns.size()));
                table.columns << column;
            }
            for (int i = 0; i < source.indexes.size(); ++i) {
                if (!source.indexes[i].note.isEmpty())
                    note(tableAt(table, kIndexPart + i), QStringLiteral("part of the index not read"),
                         source.name + QLatin1Char('.') + source.indexes[i].name, source.indexes[i].note);
            }
            if (!source.dataMacros.isEmpty()) {
                QStringList events;
                for (const auto &[event, xml] : source.dataMacros)
                    events << event;
                note(tableAt(table, kTableRulePart), QStringLiteral("data macros not carried over"), source.name,
                     QStringLiteral("Access runs them on %1; write triggers for them").arg(events.join(u", "_sv)));
            }
            p.tables << std::move(table);
        }
        for (int t = 0; t < p.tables.size(); ++t) {
            const QString key = nameKey(p.tables[t].access);
            if (!m_tableByKey.contains(key))
                m_tableByKey.insert(key, t);
        }
    }

    static bool isAttachment(const Field &field) { return field.accessType == QLatin1String("Attachment"); }
    static bool isValueTableField(const Field &field)
    {
        return field.multiValued || isAttachment(field) || field.accessType == QLatin1String("Complex");
    }

    void planPrimaryKey(TableOut &table)
    {
        const Table &source = *table.table;
        const QString &tableName = source.name;
        // The primary key: the first primary index, whole or not at all (a key of fewer fields would
        // refuse rows that Access keeps).
        for (int i = 0; i < source.indexes.size(); ++i) {
            const Index &index = source.indexes[i];
            if (!index.primary)
                continue;
            QStringList key;
            QString missing;
            for (const IndexField &field : index.fields) {
                const Column *column = table.column(field.name);
                if (!column)
                    missing = field.name;
                else if (!key.contains(column->name))
                    key << column->name;
            }
            if (!missing.isEmpty() || key.isEmpty()) {
                note(tableAt(table, kIndexPart + i), QStringLiteral("primary key not created"),
                     tableName + QLatin1Char('.') + index.name,
                     missing.isEmpty() ? QStringLiteral("it has no fields")
                                       : QStringLiteral("its field %1 is not a column").arg(missing));
            } else {
                table.primaryKey = key;
                if (std::any_of(index.fields.cbegin(), index.fields.cend(),
                                [](const IndexField &field) { return field.descending; }))
                    note(tableAt(table, kIndexPart + i), QStringLiteral("key order not kept"),
                         tableName + QLatin1Char('.') + index.name,
                         QStringLiteral("a primary key's fields are written in ascending order"));
            }
            break;
        }
        if (!table.primaryKey.isEmpty() && d.namedPrimaryKey)
            table.primaryKeyName =
                claim(p.relations, &table.constraintScope, tableName + QStringLiteral("_pkey"), Role::Constraint);
    }

    void requiredIndexes(TableOut &table)
    {
        const Table &source = *table.table;
        // Access's Required property of an index: none of its fields may be Null.
        for (const Index &index : source.indexes) {
            if (!index.required)
                continue;
            QList<Column *> columns;
            for (const IndexField &field : index.fields)
                columns << table.column(field.name);
            if (!columns.contains(nullptr)) {
                for (Column *column : columns)
                    column->notNull = true;
            }
        }
    }

    void planColumns(TableOut &table)
    {
        const Table &source = *table.table;
        const QString &tableName = source.name;
        planPrimaryKey(table);
        // First what every column is, so that an expression can ask it of any other column.
        bool hasIdentity = false;
        for (Column &column : table.columns) {
            const Field &field = *column.field;
            const int f = indexOf(table, column);
            const QString where = tableName + QLatin1Char('.') + field.name;
            const At at = fieldAt(table, f);
            const Kind kind = kindOf(field);
            setType(column, kind, &field);
            column.calculated = field.accessType == QLatin1String("Calculated");
            if (kind == Kind::Unknown) {
                note(at, QStringLiteral("type not known"), where,
                     QStringLiteral("Access type %1: written as %2, which keeps any bytes")
                         .arg(typeDescription(field), column.type));
            } else if (d.typeNotes[int(kind)]) {
                note(at, QStringLiteral("type changed"), where, latin1(d.typeNotes[int(kind)]));
            }
            column.notNull =
                field.required.value_or(false) || kind == Kind::YesNo || table.primaryKey.contains(column.name);
            if (field.description && !field.description->isEmpty())
                column.comment = *field.description;
            if (field.accessType == QLatin1String("AutoNumber")) {
                const QString rule = field.defaultValue.value_or(QString()).remove(QLatin1Char(' '));
                if (kind == Kind::Guid)
                    column.autoKind = Auto::Guid;
                else if (rule.compare(QLatin1String("GenUniqueID()"), Qt::CaseInsensitive) == 0 ||
                         rule.compare(QLatin1String("=GenUniqueID()"), Qt::CaseInsensitive) == 0)
                    column.autoKind = Auto::Random;
                else
                    column.autoKind = Auto::Increment;
                planAutoNumber(table, column, at, where, hasIdentity);
            }
        }
        requiredIndexes(table);
        for (Column &column : table.columns) {
            const Field &field = *column.field;
            const QString where = tableName + QLatin1Char('.') + field.name;
            const At at = fieldAt(table, indexOf(table, column));
            if (column.calculated)
                planCalculated(table, column, at, where);
            else if (column.kind == Kind::YesNo)
                column.defaultSql = latin1(d.falseLiteral);
            if (field.defaultValue && column.autoKind == Auto::None && !column.calculated)
                planDefault(table, column, *field.defaultValue, at, where);
        }
        fitMySqlRow(table);
        // Descriptions, and what the comments say of a calculated field kept as a plain column.
        for (Column &column : table.columns)
            column.comment = cutComment(column.comment, d.columnCommentLimit, fieldAt(table, indexOf(table, column)),
                                        tableName + QLatin1Char('.') + column.access);
        if (source.description && !source.description->isEmpty())
            table.comment = cutComment(*source.description, d.tableCommentLimit, tableAt(table), tableName);
    }

    static int indexOf(const TableOut &table, const Column &column)
    {
        return column.field ? int(column.field - table.table->fields.constData()) : 0;
    }

    QString cutComment(const QString &text, int limit, At at, const QString &where)
    {
        QString comment = text;
        if (comment.contains(QChar(0)) && !d.backslashEscapes) {
            comment.replace(QChar(0), QChar(QChar::ReplacementCharacter));
            note(at, QStringLiteral("description changed"), where,
                 QStringLiteral("a NUL character cannot be stored: it became U+FFFD"));
        }
        if (d.inlineComments && limit > 0 && comment.size() > limit) {
            qsizetype end = limit;
            if (comment[end - 1].isHighSurrogate())
                --end;
            comment.truncate(end);
            note(at, QStringLiteral("description shortened"), where,
                 QStringLiteral("%1 keeps comments of at most %2 characters").arg(latin1(d.title)).arg(limit));
        }
        return comment;
    }

    void planAutoNumber(TableOut &table, Column &column, At at, const QString &where, bool &hasIdentity)
    {
        switch (column.autoKind) {
        case Auto::Guid:
            column.defaultSql = latin1(d.randomGuid);
            column.notNull = true;
            note(at, QStringLiteral("GUID AutoNumber made a default"), where,
                 QStringLiteral("a new row gets a random GUID from the column's default, not from an AutoNumber"));
            return;
        case Auto::Random:
            column.defaultSql = latin1(d.randomLong);
            column.notNull = true;
            note(at, QStringLiteral("random AutoNumber made a default"), where,
                 QStringLiteral("a new row gets a random number from the column's default, which, unlike Access, "
                                "may repeat one already taken (a key or unique index on it refuses the row)"));
            return;
        case Auto::Increment:
            break;
        case Auto::None:
            return;
        }
        column.notNull = true;
        if (d.identityOnlyAsRowid) {
            if (table.primaryKey == QStringList{column.name} && column.kind == Kind::Long) {
                column.rowidKey = true;
                column.identity = true;
            } else {
                note(at, QStringLiteral("auto-numbering not carried over"), where,
                     QStringLiteral("%1 numbers only a primary key of one INTEGER column itself").arg(latin1(d.title)));
            }
            return;
        }
        if (hasIdentity && d.identityNeedsKey) {
            note(at, QStringLiteral("auto-numbering not carried over"), where,
                 QStringLiteral("%1 numbers only one column of a table").arg(latin1(d.title)));
            return;
        }
        hasIdentity = true;
        column.identity = true;
    }

    // An Access expression translated for this table: a validation rule (a predicate, with the field
    // as the implicit left side of a field's rule) or a calculated field's expression.
    struct Translated
    {
        QString sql;
        Value value = Value::Other;
        bool nullable = true;
        bool compound = false;
    };
    enum class Purpose {
        Check,
        Generated,
    };

    class Translator
    {
    public:
        // A generated column's expression names the column it is for, which it may not refer to.
        Translator(const Dialect &dialect, const TableOut &table, Purpose purpose, const std::vector<Node> &nodes,
                   const Column *generating = nullptr)
            : d(dialect), m_table(table), m_purpose(purpose), m_nodes(nodes), m_generating(generating)
        {
        }
        std::optional<Translated> translate(int at)
        {
            const Node &node = m_nodes[std::size_t(at)];
            switch (node.type) {
            case Node::Number:
                return Translated{node.text, Value::Number, false, false};
            case Node::String:
                if (node.text.contains(QChar(0)))
                    return fail(QStringLiteral("a NUL character cannot be stored"));
                return Translated{stringLiteral(d, node.text), Value::Text, false, false};
            case Node::Date: {
                const std::optional<QString> date = accessDate(node.text);
                if (!date)
                    return fail(QStringLiteral("the date #%1# can be read more than one way").arg(node.text));
                return Translated{latin1(d.dateLiteralPrefix) + stringLiteral(d, *date), Value::Date, false, false};
            }
            case Node::Null:
                return Translated{QStringLiteral("NULL"), Value::Null, true, false};
            case Node::Bool:
                return fail(QStringLiteral("Yes/No values are not translated"));
            case Node::Column:
                return column(node.text);
            case Node::Negate: {
                const auto operand = translate(node.kids[0]);
                if (!operand)
                    return operand;
                if (operand->value != Value::Number)
                    return fail(QStringLiteral("it negates a value that is not a number"));
                // Always compound: two minus signs side by side would open a comment.
                return Translated{QLatin1Char('-') + wrap(*operand), Value::Number, operand->nullable, true};
            }
            case Node::Not: {
                const auto operand = predicate(node.kids[0]);
                if (!operand)
                    return operand;
                return Translated{QStringLiteral("NOT ") + wrap(*operand), Value::Predicate, true, true};
            }
            case Node::And:
            case Node::Or: {
                const auto left = predicate(node.kids[0]);
                const auto right = left ? predicate(node.kids[1]) : left;
                if (!right)
                    return right;
                const QString op = node.type == Node::And ? QStringLiteral(" AND ") : QStringLiteral(" OR ");
                return Translated{wrap(*left) + op + wrap(*right), Value::Predicate, true, true};
            }
            case Node::Arithmetic:
                return arithmetic(node);
            case Node::Concat:
                return concat(node);
            case Node::Compare:
                return compare(node);
            case Node::Between:
                return between(node);
            case Node::In:
                return in(node);
            case Node::Like:
                return like(node);
            case Node::IsNull: {
                const auto operand = translate(node.kids[0]);
                if (!operand)
                    return operand;
                return Translated{wrap(*operand) +
                                      (node.negated ? QStringLiteral(" IS NOT NULL") : QStringLiteral(" IS NULL")),
                                  Value::Predicate, false, true};
            }
            }
            return fail(QStringLiteral("it cannot be read as a whole"));
        }
        std::optional<Translated> predicate(int at)
        {
            auto result = translate(at);
            if (result && result->value != Value::Predicate)
                return fail(QStringLiteral("it combines values that are not conditions"));
            return result;
        }
        const QString &why() const { return m_why; }

    private:
        std::optional<Translated> fail(const QString &why)
        {
            if (m_why.isEmpty())
                m_why = why;
            return std::nullopt;
        }
        static QString wrap(const Translated &t)
        {
            return t.compound ? QLatin1Char('(') + t.sql + QLatin1Char(')') : t.sql;
        }

        std::optional<Translated> column(const QString &name)
        {
            const Column *column = m_table.column(name);
            if (!column)
                return fail(QStringLiteral("[%1] is not a field of the table").arg(name));
            if (m_purpose == Purpose::Generated && column->calculated) {
                if (!d.generatedUsesGenerated)
                    return fail(QStringLiteral("%1 does not let a generated column refer to another ([%2])")
                                    .arg(latin1(d.title), name));
                if (column->generated.isEmpty() || column >= m_generating)
                    return fail(QStringLiteral("it refers to the calculated field [%1], which is not generated "
                                               "before it")
                                    .arg(name));
            }
            if (d.identityOutsideChecks && column->identity)
                return fail(QStringLiteral("%1 does not let it refer to the auto-numbered field [%2]")
                                .arg(latin1(d.title), name));
            if (m_purpose == Purpose::Check && d.checksAvoidActionColumns && column->actions)
                return fail(QStringLiteral("%1 does not let it refer to [%2], which a foreign key's action changes")
                                .arg(latin1(d.title), name));
            return Translated{quoteName(d, column->name), valueOf(column->kind), !column->notNull, false};
        }

        // The literal of a node, with its kind: numbers (negative ones too), strings and dates.
        std::optional<std::pair<Value, QString>> literal(int at) const
        {
            const Node &node = m_nodes[std::size_t(at)];
            if (node.type == Node::Number)
                return std::make_pair(Value::Number, node.text);
            if (node.type == Node::Negate && m_nodes[std::size_t(node.kids[0])].type == Node::Number)
                return std::make_pair(Value::Number, QLatin1Char('-') + m_nodes[std::size_t(node.kids[0])].text);
            if (node.type == Node::String)
                return std::make_pair(Value::Text, node.text);
            if (node.type == Node::Date) {
                if (const auto date = accessDate(node.text))
                    return std::make_pair(Value::Date, *date);
            }
            return std::nullopt;
        }

        std::optional<Translated> arithmetic(const Node &node)
        {
            const auto left = translate(node.kids[0]);
            const auto right = left ? translate(node.kids[1]) : left;
            if (!right)
                return right;
            const bool nullable = left->nullable || right->nullable;
            if (node.text == QLatin1String("+") && left->value == Value::Text && right->value == Value::Text) {
                // Access's + joins text and gives Null when either side is Null, as these do.
                return Translated{latin1(d.concat).arg(wrap(*left), wrap(*right)), Value::Text, nullable,
                                  !d.concatIsCall};
            }
            if (left->value != Value::Number || right->value != Value::Number)
                return fail(QStringLiteral("it calculates with values that are not numbers"));
            // Access divides in floating point, whatever the operands.
            if (node.text == QLatin1String("/"))
                return Translated{latin1(d.toDouble).arg(wrap(*left)) + QStringLiteral(" / ") + wrap(*right),
                                  Value::Number, nullable, true};
            return Translated{wrap(*left) + QLatin1Char(' ') + node.text + QLatin1Char(' ') + wrap(*right),
                              Value::Number, nullable, true};
        }

        // Access's &: Null counts as empty text, and only Null & Null is Null.
        std::optional<Translated> concat(const Node &node)
        {
            const auto left = translate(node.kids[0]);
            const auto right = left ? translate(node.kids[1]) : left;
            if (!right)
                return right;
            if (left->value != Value::Text || right->value != Value::Text)
                return fail(QStringLiteral("it joins values that are not text, which Access formats its own way"));
            const auto side = [](const Translated &t) {
                return t.nullable ? QStringLiteral("COALESCE(%1, '')").arg(t.sql) : wrap(t);
            };
            const QString joined = latin1(d.concat).arg(side(*left), side(*right));
            if (left->nullable && right->nullable) {
                const QString sql = QStringLiteral("CASE WHEN %1 IS NULL AND %2 IS NULL THEN NULL ELSE %3 END")
                                        .arg(wrap(*left), wrap(*right), joined);
                return Translated{sql, Value::Text, true, false};
            }
            return Translated{joined, Value::Text, false, !d.concatIsCall};
        }

        // A text operand compared as Access compares text, without regard to case: on a server that
        // regards case, a literal must be ASCII (its case folds the same everywhere) and the other
        // side is folded with lower().
        std::optional<QString> foldedText(int at, const Translated &t, bool &hasLiteral)
        {
            if (d.textIgnoresCase)
                return wrap(t);
            const Node &node = m_nodes[std::size_t(at)];
            if (node.type == Node::String) {
                if (hasNonAsciiLetter(node.text)) {
                    fail(QStringLiteral("%1 compares letters beyond ASCII with regard to case").arg(latin1(d.title)));
                    return std::nullopt;
                }
                hasLiteral = true;
                return stringLiteral(d, node.text.toLower());
            }
            return QStringLiteral("lower(%1)").arg(t.sql);
        }

        std::optional<Translated> compare(const Node &node)
        {
            const auto left = translate(node.kids[0]);
            const auto right = left ? translate(node.kids[1]) : left;
            if (!right)
                return right;
            const bool null = left->value == Value::Null || right->value == Value::Null;
            if (!null &&
                (left->value != right->value || left->value == Value::Other || left->value == Value::Predicate))
                return fail(QStringLiteral("it compares values of different or uncomparable kinds"));
            QString a = wrap(*left);
            QString b = wrap(*right);
            if (!null && left->value == Value::Text) {
                if (node.text != QLatin1String("=") && node.text != QLatin1String("<>"))
                    return fail(QStringLiteral("Access orders text by its own sort order"));
                bool hasLiteral = false;
                const auto foldedLeft = foldedText(node.kids[0], *left, hasLiteral);
                const auto foldedRight = foldedLeft ? foldedText(node.kids[1], *right, hasLiteral) : foldedLeft;
                if (!foldedRight)
                    return std::nullopt;
                if (!d.textIgnoresCase && !hasLiteral)
                    return fail(QStringLiteral("%1 compares two texts with regard to case").arg(latin1(d.title)));
                a = *foldedLeft;
                b = *foldedRight;
            }
            return Translated{a + QLatin1Char(' ') + node.text + QLatin1Char(' ') + b, Value::Predicate, true, true};
        }

        std::optional<Translated> between(const Node &node)
        {
            const auto operand = translate(node.kids[0]);
            if (!operand)
                return operand;
            const auto low = literal(node.kids[1]);
            const auto high = literal(node.kids[2]);
            if (operand->value != Value::Number && operand->value != Value::Date)
                return fail(QStringLiteral("Between is translated for numbers and dates only"));
            if (!low || !high || low->first != operand->value || high->first != operand->value)
                return fail(QStringLiteral("Between is translated with literal bounds of the field's kind only"));
            const bool ordered = operand->value == Value::Number ? low->second.toDouble() <= high->second.toDouble()
                                                                 : low->second <= high->second;
            if (!ordered)
                return fail(QStringLiteral("its bounds are not in order"));
            const auto lowSql = translate(node.kids[1]);
            const auto highSql = translate(node.kids[2]);
            return Translated{wrap(*operand) +
                                  (node.negated ? QStringLiteral(" NOT BETWEEN ") : QStringLiteral(" BETWEEN ")) +
                                  lowSql->sql + QStringLiteral(" AND ") + highSql->sql,
                              Value::Predicate, true, true};
        }

        std::optional<Translated> in(const Node &node)
        {
            const auto operand = translate(node.kids[0]);
            if (!operand)
                return operand;
            if (operand->value != Value::Number && operand->value != Value::Text && operand->value != Value::Date)
                return fail(QStringLiteral("In is translated for numbers, text and dates only"));
            QStringList items;
            bool hasLiteral = true;
            QString left = wrap(*operand);
            if (operand->value == Value::Text) {
                const auto folded = foldedText(node.kids[0], *operand, hasLiteral);
                if (!folded)
                    return std::nullopt;
                left = *folded;
            }
            for (qsizetype i = 1; i < node.kids.size(); ++i) {
                const auto item = literal(node.kids[i]);
                if (!item || item->first != operand->value)
                    return fail(QStringLiteral("In is translated with literals of the field's kind only"));
                const auto sql = translate(node.kids[i]);
                if (!sql)
                    return sql;
                if (operand->value == Value::Text) {
                    const auto folded = foldedText(node.kids[i], *sql, hasLiteral);
                    if (!folded)
                        return std::nullopt;
                    items << *folded;
                } else {
                    items << sql->sql;
                }
            }
            return Translated{left + (node.negated ? QStringLiteral(" NOT IN (") : QStringLiteral(" IN (")) +
                                  items.join(QStringLiteral(", ")) + QLatin1Char(')'),
                              Value::Predicate, true, true};
        }

        std::optional<Translated> like(const Node &node)
        {
            const auto operand = translate(node.kids[0]);
            if (!operand)
                return operand;
            const Node &patternNode = m_nodes[std::size_t(node.kids[1])];
            if (operand->value != Value::Text || patternNode.type != Node::String)
                return fail(QStringLiteral("Like is translated for text and a literal pattern only"));
            if (!d.textIgnoresCase && hasNonAsciiLetter(patternNode.text))
                return fail(
                    QStringLiteral("%1 compares letters beyond ASCII with regard to case").arg(latin1(d.title)));
            if (patternNode.text.contains(QChar(0)))
                return fail(QStringLiteral("a NUL character cannot be stored"));
            bool escaped = false;
            QString why;
            const auto pattern = likePattern(patternNode.text, escaped, why);
            if (!pattern)
                return fail(why);
            QString sql = wrap(*operand) + (node.negated ? QStringLiteral(" NOT ") : QStringLiteral(" ")) +
                          latin1(d.likeOperator) + QLatin1Char(' ') + stringLiteral(d, *pattern);
            if (escaped)
                sql += QStringLiteral(" ESCAPE '!'");
            return Translated{sql, Value::Predicate, true, true};
        }

        const Dialect &d;
        const TableOut &m_table;
        Purpose m_purpose;
        const std::vector<Node> &m_nodes;
        const Column *m_generating;
        QString m_why;
    };

    void planCalculated(TableOut &table, Column &column, At at, const QString &where)
    {
        const Field &field = *column.field;
        const QString expression = field.expression.value_or(QString());
        QString why;
        if (expression.trimmed().isEmpty()) {
            why = QStringLiteral("its expression is not known");
        } else {
            Parser parser(expression, QString());
            const std::optional<int> root = parser.parse();
            if (!root) {
                why = parser.why();
            } else {
                Translator translator(d, table, Purpose::Generated, parser.nodes(), &column);
                const std::optional<Translated> result = translator.translate(*root);
                const Value wanted = valueOf(column.kind);
                if (!result)
                    why = translator.why();
                else if (wanted != Value::Number && wanted != Value::Text && wanted != Value::Date)
                    why = QStringLiteral("its result type is not translated");
                else if (result->value != wanted)
                    why = QStringLiteral("its result is of another kind than the field");
                else
                    column.generated = result->sql;
                // Access limits the result's length; a joined text is only known when it is made.
                if (!column.generated.isEmpty() && column.kind == Kind::ShortText) {
                    column.type = latin1(d.types[int(Kind::LongText)]);
                    column.blob = d.blobKeysNeedPrefix;
                }
            }
        }
        if (!column.generated.isEmpty())
            return;
        note(at, QStringLiteral("calculated field not generated"), where,
             QStringLiteral("%1: a plain column of its result type (Access: %2)").arg(why, expression));
        const QString calculated = QStringLiteral("Access calculates it: ") + expression;
        column.comment = column.comment.isEmpty() ? calculated : column.comment + QLatin1Char('\n') + calculated;
    }

    void planDefault(TableOut &table, Column &column, const QString &access, At at, const QString &where)
    {
        QString text = access.trimmed();
        if (text.startsWith(QLatin1Char('=')))
            text = text.mid(1).trimmed();
        if (text.isEmpty())
            return;
        QString why;
        const std::optional<QString> sql = defaultOf(column, text, why);
        if (sql) {
            column.defaultSql = *sql;
            return;
        }
        note(at, QStringLiteral("default not carried over"), where, QStringLiteral("%1 (Access: %2)").arg(why, access));
        table.leftOut << QStringLiteral("Not carried over: the default of %1 in Access, %2")
                             .arg(quoteName(d, column.name), access);
    }

    std::optional<QString> defaultOf(const Column &column, const QString &text, QString &why) const
    {
        const Kind kind = column.kind;
        const bool date = kind == Kind::DateTime || kind == Kind::DateTimeExtended;
        static const QRegularExpression function(QStringLiteral(R"(^(\w+)\s*\(\s*\)$)"));
        const QRegularExpressionMatch call = function.match(text);
        if (call.hasMatch()) {
            const QString name = call.captured(1).toLower();
            if (date && name == QLatin1String("date"))
                return latin1(d.currentDate);
            if (date && name == QLatin1String("now"))
                return kind == Kind::DateTimeExtended && d.id == SqlDialect::MySql ? QStringLiteral("(now())")
                                                                                   : latin1(d.currentTimestamp);
            if (date && name == QLatin1String("time"))
                return latin1(d.timeOfDay);
            if (kind == Kind::Guid && name == QLatin1String("genguid"))
                return latin1(d.randomGuid);
            why = QStringLiteral("the function has no exact equivalent for this field");
            return std::nullopt;
        }
        Parser parser(text, QString());
        const std::optional<int> root = parser.parse();
        if (!root) {
            why = parser.why().isEmpty() ? QStringLiteral("it cannot be read") : parser.why();
            return std::nullopt;
        }
        const std::vector<Node> &nodes = parser.nodes();
        const Node &node = nodes[std::size_t(*root)];
        QString number;
        if (node.type == Node::Number)
            number = node.text;
        else if (node.type == Node::Negate && nodes[std::size_t(node.kids[0])].type == Node::Number)
            number = QLatin1Char('-') + nodes[std::size_t(node.kids[0])].text;
        static const QRegularExpression whole(QStringLiteral("^-?[0-9]+$"));
        const bool integral = whole.match(number).hasMatch();
        switch (node.type) {
        case Node::Null:
            return QStringLiteral("NULL");
        case Node::Number:
        case Node::Negate:
            if (number.isEmpty())
                break;
            if (kind == Kind::YesNo && integral)
                return latin1(number.toDouble() == 0 ? d.falseLiteral : d.trueLiteral);
            if (isInteger(kind) && integral)
                return number;
            if (isNumber(kind) && !isInteger(kind))
                return number;
            // Access writes the number as text: exact for a whole number written as it would be.
            if (isText(kind) && integral && number == QString::number(number.toLongLong()))
                return stringLiteral(d, number);
            why = QStringLiteral("the number does not fit the field exactly");
            return std::nullopt;
        case Node::String:
            if (isText(kind) && !node.text.contains(QChar(0)))
                return stringLiteral(d, node.text);
            why = QStringLiteral("Access converts text to this field's type its own way");
            return std::nullopt;
        case Node::Bool:
            if (kind == Kind::YesNo)
                return latin1(node.text == QLatin1String("true") ? d.trueLiteral : d.falseLiteral);
            if (isNumber(kind))
                return node.text == QLatin1String("true") ? QStringLiteral("-1") : QStringLiteral("0");
            why = QStringLiteral("Access converts Yes/No to this field's type its own way");
            return std::nullopt;
        case Node::Date:
            if (kind == Kind::DateTime || kind == Kind::DateTimeExtended) {
                if (const auto value = accessDate(node.text))
                    return stringLiteral(d, *value);
                why = QStringLiteral("the date can be read more than one way");
                return std::nullopt;
            }
            why = QStringLiteral("a date for a field of another type");
            return std::nullopt;
        default:
            break;
        }
        why = QStringLiteral("the expression has no exact equivalent");
        return std::nullopt;
    }

    // The bytes a column takes of MySQL's row: of the row in its page (inRow) or of the whole.
    static qint64 mysqlRowBytes(const Column &c, bool inRow)
    {
        static const int leftover[] = {0, 1, 1, 2, 2, 3, 3, 4, 4};
        const auto decimalBytes = [](int digits) { return (digits / 9) * 4 + leftover[digits % 9]; };
        if (c.blob)
            return inRow ? 20 : 12;
        switch (c.kind) {
        case Kind::Byte:
        case Kind::YesNo:
            return 1;
        case Kind::Integer:
            return 2;
        case Kind::Long:
        case Kind::Single:
            return 4;
        case Kind::Large:
        case Kind::Double:
        case Kind::DateTimeExtended:
            return 8;
        case Kind::DateTime:
            return 5;
        case Kind::Currency:
            return decimalBytes(15) + decimalBytes(4);
        case Kind::Decimal: {
            const auto [precision, scale] = c.precision.value_or(std::make_pair(65, 30));
            return decimalBytes(precision - scale) + decimalBytes(scale);
        }
        case Kind::Guid:
            return 38 * 4;
        case Kind::ShortText: {
            const qint64 full = 4 * std::max<qint64>(c.size, 1);
            if (inRow && full > 255)
                return 20;
            return full + (full > 255 ? 2 : 1);
        }
        default:
            return inRow ? 20 : 12;
        }
    }

    // MySQL refuses a table whose longest possible row is more than 65,535 bytes, and InnoDB one
    // whose row in its page can be more than about 8,000 bytes (a column that can be longer than 255
    // bytes may be kept off the page, leaving 20 there): the longest text columns that no key needs
    // become text until the table fits.
    void fitMySqlRow(TableOut &table)
    {
        if (!d.rowSizeLimit)
            return;
        QSet<QString> keyed;
        for (const Index &index : table.table->indexes) {
            for (const IndexField &field : index.fields)
                keyed.insert(nameKey(field.name));
        }
        for (const Relationship &relationship : p.document->relationships) {
            if (nameKey(relationship.foreignTable) == nameKey(table.access))
                for (const QString &field : relationship.foreignFields)
                    keyed.insert(nameKey(field));
            if (nameKey(relationship.primaryTable) == nameKey(table.access))
                for (const QString &field : relationship.primaryFields)
                    keyed.insert(nameKey(field));
        }
        const auto total = [&](bool inRow) {
            qint64 sum = (table.columns.size() + 7) / 8;
            for (const Column &column : table.columns)
                sum += mysqlRowBytes(column, inRow);
            return sum;
        };
        QList<int> candidates;
        for (int c = 0; c < table.columns.size(); ++c) {
            if (table.columns[c].kind == Kind::ShortText && !keyed.contains(nameKey(table.columns[c].access)) &&
                table.columns[c].generated.isEmpty())
                candidates << c;
        }
        std::stable_sort(candidates.begin(), candidates.end(),
                         [&](int a, int b) { return table.columns[a].size > table.columns[b].size; });
        for (const int c : candidates) {
            if (total(false) <= 65535 && total(true) <= 8000)
                break;
            Column &column = table.columns[c];
            column.type = QStringLiteral("text");
            column.blob = true;
            note(fieldAt(table, indexOf(table, column)), QStringLiteral("type changed"),
                 table.access + QLatin1Char('.') + column.access,
                 QStringLiteral("MySQL's limit on the size of a row: Short Text (%1) written as text, without its "
                                "limit on length")
                     .arg(column.size));
        }
    }

    // The tables of multi-valued and attachment fields: the parent's key and the values, one row per
    // value, deleted with the parent's row.
    // The parent's primary key as the first columns of a table made for a multi-valued field; their
    // names as written.
    QStringList copyParentKey(const TableOut &parent, TableOut &child)
    {
        QStringList parentColumns;
        for (const QString &key : parent.primaryKey) {
            const auto found = std::find_if(parent.columns.cbegin(), parent.columns.cend(),
                                            [&](const Column &c) { return c.name == key; });
            Column column;
            column.access = found->access;
            column.name = claim(child.columnScope, nullptr, found->name, Role::Column);
            column.kind = found->kind;
            column.size = found->size;
            column.precision = found->precision;
            column.type = found->type;
            column.blob = found->blob;
            column.notNull = true;
            child.columnByKey.insert(nameKey(column.access), int(child.columns.size()));
            child.columns << column;
            parentColumns << column.name;
        }
        return parentColumns;
    }

    // The columns of the values: file name, type and data for an attachment, the value otherwise.
    void addValueColumns(TableOut &child, const Field &field, bool attachment, At at, const QString &where)
    {
        const auto addValue = [&](const QString &name, Kind kind, const Field *from, bool notNull) {
            Column column;
            column.access = name;
            column.name = claim(child.columnScope, nullptr, name, Role::Column);
            setType(column, kind, from);
            if (kind == Kind::ShortText && !from)
                column.type = typeOf(column);
            column.notNull = notNull;
            child.columns << column;
        };
        if (attachment) {
            addValue(QStringLiteral("FileName"), Kind::ShortText, nullptr, true);
            child.columns.back().size = 255;
            child.columns.back().type = typeOf(child.columns.back());
            addValue(QStringLiteral("FileType"), Kind::ShortText, nullptr, false);
            child.columns.back().size = 255;
            child.columns.back().type = typeOf(child.columns.back());
            addValue(QStringLiteral("FileData"), Kind::Binary, nullptr, false);
        } else {
            const Kind kind = kindOf(field);
            addValue(field.name, kind, &field, true);
            if (kind == Kind::Unknown)
                note(at, QStringLiteral("type not known"), where,
                     QStringLiteral("Access type %1: its values are written as %2")
                         .arg(typeDescription(field), child.columns.back().type));
            else if (d.typeNotes[int(kind)])
                note(at, QStringLiteral("type changed"), where, latin1(d.typeNotes[int(kind)]));
        }
    }

    // The foreign key of a table made for a multi-valued field to its parent, and the index it needs.
    void tieValueTable(int c, int t, const QStringList &parentColumns)
    {
        TableOut &values = p.tables[c];
        ForeignKey key;
        key.table = c;
        key.name = claim(constraintScope(values), d.indexNamesPerTable ? &values.indexScope : nullptr,
                         values.access + QStringLiteral("_fkey"), Role::Constraint);
        key.columns = parentColumns;
        key.target = t;
        key.targetColumns = p.tables[t].primaryKey;
        key.onUpdate = QStringLiteral("CASCADE");
        key.onDelete = QStringLiteral("CASCADE");
        if (!d.foreignKeysMakeIndexes)
            addIndex(c, QStringLiteral("parent"), false, toIndexColumns(parentColumns), 0);
        if (d.foreignKeysInTable)
            p.tables[c].foreignKeys << key;
        else
            p.foreignKeys << key;
    }

    void makeValueTables()
    {
        const qsizetype parents = p.tables.size();
        for (int t = 0; t < parents; ++t) {
            const Table &source = *p.tables[t].table;
            for (int f = 0; f < source.fields.size(); ++f) {
                const Field &field = source.fields[f];
                if (!isValueTableField(field))
                    continue;
                const TableOut &parent = p.tables[t];
                const QString where = source.name + QLatin1Char('.') + field.name;
                const At at = fieldAt(parent, f);
                if (field.accessType == QLatin1String("Complex")) {
                    note(at, QStringLiteral("field not created"), where,
                         QStringLiteral("a multi-valued field of a kind that is not known"));
                    continue;
                }
                TableOut child;
                child.source = parent.source;
                child.access = source.name + QLatin1Char('_') + field.name;
                child.columnScope = Scope(d.namesIgnoreCase);
                child.indexScope = Scope(d.namesIgnoreCase);
                child.constraintScope = Scope(d.namesIgnoreCase);
                child.name = claim(p.relations, nullptr, child.access, Role::Object);
                const bool attachment = isAttachment(field);
                child.comment = attachment
                                    ? QStringLiteral("The attachments of the field %1: one row per file").arg(where)
                                    : QStringLiteral("The values of the field %1: one row per value").arg(where);
                if (field.description && !field.description->isEmpty())
                    child.comment = cutComment(child.comment + QLatin1Char('\n') + *field.description,
                                               d.tableCommentLimit, at, where);
                if (field.validationRule && !field.validationRule->trimmed().isEmpty())
                    note(at, QStringLiteral("validation rule not carried over"), where,
                         QStringLiteral("the rule is for each of the field's values, which are in a table of their "
                                        "own (Access: %1)")
                             .arg(*field.validationRule));
                if (field.defaultValue && !field.defaultValue->trimmed().isEmpty())
                    note(at, QStringLiteral("default not carried over"), where,
                         QStringLiteral("the field's values are in a table of their own (Access: %1)")
                             .arg(*field.defaultValue));
                const QStringList parentColumns = copyParentKey(parent, child);
                addValueColumns(child, field, attachment, at, where);
                const QString made = QStringLiteral("written as the table %1 (%2)")
                                         .arg(quoteName(d, child.name), quoteNames(d, columnNames(child)));
                p.tables << std::move(child);
                const int c = int(p.tables.size()) - 1;
                if (p.tables[t].primaryKey.isEmpty()) {
                    note(at, QStringLiteral("multi-valued field made a table"), where,
                         made + QStringLiteral("; the table has no primary key, so its rows cannot be tied to "
                                               "the table's rows"));
                    continue;
                }
                note(at, QStringLiteral("multi-valued field made a table"), where, made);
                tieValueTable(c, t, parentColumns);
            }
        }
    }

    static QStringList columnNames(const TableOut &table)
    {
        QStringList names;
        for (const Column &column : table.columns)
            names << column.name;
        return names;
    }

    static QList<IndexColumn> toIndexColumns(const QStringList &names)
    {
        QList<IndexColumn> columns;
        for (const QString &name : names)
            columns << IndexColumn{name, false, 0};
        return columns;
    }

    IndexOut &addIndex(int t, const QString &wanted, bool unique, const QList<IndexColumn> &columns, int order,
                       QString *why = nullptr)
    {
        TableOut &table = p.tables[t];
        IndexOut index;
        index.table = t;
        index.name = d.indexNamesPerTable
                         ? claim(table.indexScope, nullptr, wanted, Role::Index, why)
                         : claim(p.relations, nullptr, table.access + QLatin1Char('_') + wanted, Role::Index);
        index.unique = unique;
        index.columns = columns;
        index.order = order;
        p.indexes << index;
        return p.indexes.back();
    }

    // The key columns of the indexes made so far for a table, the primary key's first.
    QList<std::pair<QList<IndexColumn>, bool>> keysOf(int t) const
    {
        QList<std::pair<QList<IndexColumn>, bool>> keys;
        if (!p.tables[t].primaryKey.isEmpty())
            keys << std::make_pair(toIndexColumns(p.tables[t].primaryKey), true);
        for (const IndexOut &index : p.indexes) {
            if (index.table == t)
                keys << std::make_pair(index.columns, index.unique);
        }
        return keys;
    }

    static bool sameColumns(const QList<IndexColumn> &a, const QList<IndexColumn> &b, bool directions)
    {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i].name != b[i].name || (directions && a[i].descending != b[i].descending))
                return false;
        }
        return true;
    }

    // The index's fields as columns of the table, each once; the first field that is no column in
    // missing (and what came before it).
    static QList<IndexColumn> indexColumnsOf(const TableOut &table, const Index &index, QString &missing)
    {
        QList<IndexColumn> columns;
        for (const IndexField &field : index.fields) {
            const Column *column = table.column(field.name);
            if (!column) {
                missing = field.name;
                break;
            }
            if (std::none_of(columns.cbegin(), columns.cend(),
                             [&](const IndexColumn &c) { return c.name == column->name; }))
                columns << IndexColumn{column->name, field.descending, column->blob ? 255 : 0};
        }
        return columns;
    }

    // The most bytes a key of these columns can take: text four a character (utf8mb4), no other
    // type more than 16.
    static qint64 keyBytes(const TableOut &table, const QList<IndexColumn> &columns)
    {
        qint64 bytes = 0;
        for (const IndexColumn &c : columns) {
            const auto column = std::find_if(table.columns.cbegin(), table.columns.cend(),
                                             [&](const Column &each) { return each.name == c.name; });
            bytes += c.prefix > 0 ? 4 * c.prefix : column->kind == Kind::ShortText ? 4 * column->size : 16;
        }
        return bytes;
    }

    void planIndexes(int t)
    {
        const Table &source = *p.tables[t].table;
        // Unique indexes first, then the others, then those Access keeps for relationships, so that
        // an index another already makes is the one left out.
        QList<int> considered;
        for (int rank = 0; rank < 4; ++rank) {
            for (int i = 0; i < source.indexes.size(); ++i) {
                const Index &index = source.indexes[i];
                if (!index.primary && (index.foreignKey ? 2 : 0) + (index.unique ? 0 : 1) == rank)
                    considered << i;
            }
        }
        const qsizetype first = p.indexes.size();
        for (const int i : considered) {
            const Index &index = source.indexes[i];
            const TableOut &table = p.tables[t];
            const QString where = source.name + QLatin1Char('.') + index.name;
            const At at = tableAt(table, kIndexPart + i);
            // Access's own index of a multi-valued field indexes what is now a table of its own.
            if (std::any_of(index.fields.cbegin(), index.fields.cend(), [&](const IndexField &field) {
                    return std::any_of(source.fields.cbegin(), source.fields.cend(), [&](const Field &each) {
                        return isValueTableField(each) && nameKey(each.name) == nameKey(field.name);
                    });
                }))
                continue;
            if (index.foreignKey && !index.unique && d.foreignKeysMakeIndexes)
                continue;
            QString missing;
            const QList<IndexColumn> columns = indexColumnsOf(table, index, missing);
            if (!missing.isEmpty() || columns.isEmpty()) {
                note(at, QStringLiteral("index not created"), where,
                     missing.isEmpty() ? QStringLiteral("it has no fields")
                                       : QStringLiteral("its field %1 is not a column").arg(missing));
                continue;
            }
            bool made = false;
            for (const auto &[key, unique] : keysOf(t)) {
                if ((sameColumns(key, columns, !index.foreignKey) && (unique || !index.unique)) ||
                    (index.foreignKey && !index.unique && key.size() >= columns.size() &&
                     sameColumns(key.mid(0, columns.size()), columns, false)))
                    made = true;
            }
            if (made)
                continue;
            if (d.keyByteLimit > 0) {
                if (keyBytes(table, columns) > d.keyByteLimit) {
                    note(at, QStringLiteral("index not created"), where,
                         QStringLiteral("its key can be longer than the %1 bytes %2 allows")
                             .arg(d.keyByteLimit)
                             .arg(latin1(d.title)));
                    continue;
                }
                if (index.unique &&
                    std::any_of(columns.cbegin(), columns.cend(), [](const IndexColumn &c) { return c.prefix > 0; }))
                    note(at, QStringLiteral("index shortened"), where,
                         QStringLiteral("%1 indexes long text and binary data by their first 255 characters or "
                                        "bytes only, so the index is unique in those")
                             .arg(latin1(d.title)));
            }
            QString why;
            const IndexOut &written = addIndex(t, index.name, index.unique || index.primary, columns, i, &why);
            if (d.indexNamesPerTable)
                renamed(at, where, index.name, written.name, why);
        }
        // Written in the document's order.
        std::stable_sort(p.indexes.begin() + first, p.indexes.end(),
                         [](const IndexOut &a, const IndexOut &b) { return a.order < b.order; });
    }

    // The relationship's fields as the columns of the two tables, in pairs; why they cannot be tied,
    // or nothing.
    QString pairColumns(const Relationship &relationship, int table, int target, QStringList &columns,
                        QStringList &targetColumns) const
    {
        QString why;
        if (relationship.foreignFields.isEmpty() ||
            relationship.foreignFields.size() != relationship.primaryFields.size())
            why = QStringLiteral("its fields do not pair up");
        for (qsizetype i = 0; why.isEmpty() && i < relationship.foreignFields.size(); ++i) {
            const Column *column = p.tables[table].column(relationship.foreignFields[i]);
            const Column *targetColumn = p.tables[target].column(relationship.primaryFields[i]);
            if (!column || !targetColumn) {
                why = QStringLiteral("the field %1 is not a column")
                          .arg(!column ? relationship.foreignTable + QLatin1Char('.') + relationship.foreignFields[i]
                                       : relationship.primaryTable + QLatin1Char('.') + relationship.primaryFields[i]);
            } else if (columns.contains(column->name) || targetColumns.contains(targetColumn->name)) {
                why = QStringLiteral("it pairs a field twice");
            } else if (!column->generated.isEmpty()) {
                why = QStringLiteral("the field %1 is calculated").arg(column->access);
            } else if (!compatible(*column, *targetColumn)) {
                why = QStringLiteral("%1 does not tie a %2 column to a %3 column")
                          .arg(latin1(d.title), column->type, targetColumn->type);
            }
            if (column && targetColumn) {
                columns << column->name;
                targetColumns << targetColumn->name;
            }
        }
        return why;
    }

    // What deleting and updating a referenced row does, as Access enforces it and the server allows.
    void planActions(const Relationship &relationship, At at, ForeignKey &key)
    {
        const QString &name = relationship.name;
        const QStringList &columns = key.columns;
        const int table = key.table;
        if (relationship.cascadeUpdates)
            key.onUpdate = QStringLiteral("CASCADE");
        if (relationship.cascadeNull) {
            key.onDelete = QStringLiteral("SET NULL");
            if (relationship.cascadeDeletes)
                note(at, QStringLiteral("delete action changed"), name,
                     QStringLiteral("Access says both cascade deletes and cascade to Null: written as SET NULL"));
        } else if (relationship.cascadeDeletes) {
            key.onDelete = QStringLiteral("CASCADE");
        }
        if (key.onDelete == QLatin1String("SET NULL") && d.setNullNeedsNullable) {
            for (const QString &column : columns) {
                const auto &cs = p.tables[table].columns;
                if (std::any_of(cs.cbegin(), cs.cend(),
                                [&](const Column &c) { return c.name == column && c.notNull; })) {
                    key.onDelete.clear();
                    note(at, QStringLiteral("delete action not carried over"), name,
                         QStringLiteral("%1 sets only columns that may be Null to Null, and %2 may not")
                             .arg(latin1(d.title), quoteName(d, column)));
                    break;
                }
            }
        }
        if (!key.onUpdate.isEmpty() || !key.onDelete.isEmpty()) {
            for (Column &column : p.tables[table].columns)
                column.actions = column.actions || columns.contains(column.name);
        }
    }

    // The referenced columns must be a primary key or have a unique index, in this order: one is
    // added, and noted, when they have none.
    void ensureReferencedKey(int target, const QStringList &targetColumns, At at, const QString &name)
    {
        bool keyed = false;
        for (const auto &[columnsOfKey, unique] : keysOf(target)) {
            QStringList names;
            for (const IndexColumn &c : columnsOfKey)
                names << c.name;
            keyed = keyed || (unique && names == targetColumns);
        }
        if (!keyed) {
            QString indexWhy;
            const IndexOut &index = addIndex(target, targetColumns.join(u"_"_sv) + QStringLiteral("_key"), true,
                                             toIndexColumns(targetColumns), kIndexPart, &indexWhy);
            note(at, QStringLiteral("unique index added"), name,
                 QStringLiteral("a foreign key needs a unique index on %1 (%2): added as %3")
                     .arg(quoteName(d, p.tables[target].name), quoteNames(d, targetColumns), quoteName(d, index.name)));
        }
    }

    void planRelationships()
    {
        const Document &document = *p.document;
        QSet<QString> unread;
        for (const Table &table : document.tables)
            unread.insert(nameKey(table.name));
        for (const TableOut &table : p.tables)
            unread.remove(nameKey(table.access));
        QSet<QString> linked;
        for (const LinkedTable &table : document.linkedTables)
            linked.insert(nameKey(table.name));
        for (int r = 0; r < document.relationships.size(); ++r) {
            const Relationship &relationship = document.relationships[r];
            const At at{RelationshipSection, r, 0};
            const QString &name = relationship.name;
            if (isSystemName(relationship.primaryTable) || isSystemName(relationship.foreignTable))
                continue;
            if (!relationship.note.isEmpty())
                note(at, QStringLiteral("part of the relationship not read"), name, relationship.note);
            const int target = m_tableByKey.value(nameKey(relationship.primaryTable), -1);
            const int table = m_tableByKey.value(nameKey(relationship.foreignTable), -1);
            if (target < 0 || table < 0) {
                const QString missing = target < 0 ? relationship.primaryTable : relationship.foreignTable;
                const QString key = nameKey(missing);
                note(at, QStringLiteral("relationship not created"), name,
                     linked.contains(key)   ? QStringLiteral("%1 is a linked table").arg(missing)
                     : unread.contains(key) ? QStringLiteral("the table %1 is not created").arg(missing)
                                            : QStringLiteral("the table %1 is not in the database").arg(missing));
                continue;
            }
            QStringList columns, targetColumns;
            QString why = pairColumns(relationship, table, target, columns, targetColumns);
            const QString description = QStringLiteral("%1 (%2) refers to %3 (%4)")
                                            .arg(quoteName(d, p.tables[table].name), quoteNames(d, columns),
                                                 quoteName(d, p.tables[target].name), quoteNames(d, targetColumns));
            if (!relationship.enforced) {
                if (!why.isEmpty()) {
                    note(at, QStringLiteral("relationship not created"), name, why);
                    continue;
                }
                p.relationshipComments << QStringLiteral("Relationship %1, not enforced by Access: %2")
                                              .arg(quoteName(d, name), description);
                note(at, QStringLiteral("relationship not enforced"), name,
                     QStringLiteral("Access does not enforce it: written as a comment"));
                continue;
            }
            if (!why.isEmpty()) {
                note(at, QStringLiteral("relationship not created"), name, why);
                continue;
            }
            ForeignKey key;
            key.table = table;
            key.columns = columns;
            key.target = target;
            key.targetColumns = targetColumns;
            planActions(relationship, at, key);
            ensureReferencedKey(target, targetColumns, at, name);
            TableOut &child = p.tables[table];
            key.name = claim(constraintScope(child), d.indexNamesPerTable ? &child.indexScope : nullptr, name,
                             Role::Constraint, &why);
            renamed(at, name, name, key.name, why);
            if (d.foreignKeysInTable)
                child.foreignKeys << key;
            else
                p.foreignKeys << key;
        }
    }

    // MySQL ties only columns of the same type (text of any length).
    // Whether the server ties a foreign key's column to the referenced one: MySQL only columns of
    // the same type (text of any length), PostgreSQL values it can compare, SQLite anything.
    bool compatible(const Column &a, const Column &b) const
    {
        switch (d.foreignKeyTypes) {
        case ForeignKeyTypes::Any:
            return true;
        case ForeignKeyTypes::Comparable:
            return valueOf(a.kind) == valueOf(b.kind) && (valueOf(a.kind) != Value::Other || a.type == b.type);
        case ForeignKeyTypes::Same:
            break;
        }
        if (a.kind == Kind::ShortText && b.kind == Kind::ShortText)
            return a.blob == b.blob;
        return a.type == b.type;
    }

    void planChecks(TableOut &table)
    {
        const Table &source = *table.table;
        for (Column &column : table.columns) {
            const Field &field = *column.field;
            const int f = indexOf(table, column);
            const QString where = source.name + QLatin1Char('.') + field.name;
            const At at = fieldAt(table, f);
            if (column.kind == Kind::Byte && d.byteNeedsCheck && column.generated.isEmpty())
                addCheck(table, field.name, QStringLiteral("%1 BETWEEN 0 AND 255").arg(quoteName(d, column.name)));
            if (isText(column.kind) && !field.allowZeroLength.value_or(true) && column.generated.isEmpty()) {
                if (d.checksAvoidActionColumns && column.actions)
                    note(at, QStringLiteral("empty text allowed"), where,
                         QStringLiteral("%1 does not let a CHECK refer to a column that a foreign key's action "
                                        "changes")
                             .arg(latin1(d.title)));
                else
                    addCheck(table, field.name, latin1(d.emptyTextCheck).arg(quoteName(d, column.name)));
            }
            if (field.validationRule && !field.validationRule->trimmed().isEmpty())
                planRule(table, *field.validationRule, field.name, at, where);
        }
        if (source.validationRule && !source.validationRule->trimmed().isEmpty())
            planRule(table, *source.validationRule, QString(), tableAt(table, kTableRulePart), source.name);
    }

    void planRule(TableOut &table, const QString &rule, const QString &field, At at, const QString &where)
    {
        Parser parser(rule, field);
        const std::optional<int> root = parser.parse();
        QString why = parser.why();
        if (root) {
            Translator translator(d, table, Purpose::Check, parser.nodes());
            const std::optional<Translated> result = translator.predicate(*root);
            if (result) {
                addCheck(table, field, result->sql);
                return;
            }
            why = translator.why();
        }
        note(at, QStringLiteral("validation rule not carried over"), where,
             QStringLiteral("%1 (Access: %2)").arg(why, rule));
        const Column *column = field.isEmpty() ? nullptr : table.column(field);
        table.leftOut
            << (column ? QStringLiteral("Not carried over: the validation rule of %1 in Access, %2")
                             .arg(quoteName(d, column->name), rule)
                       : QStringLiteral("Not carried over: the table's validation rule in Access, %1").arg(rule));
    }

    void addCheck(TableOut &table, const QString &field, const QString &sql)
    {
        const QString wanted =
            table.access + (field.isEmpty() ? QString() : QLatin1Char('_') + field) + QStringLiteral("_check");
        table.checks << Check{claim(constraintScope(table), nullptr, wanted, Role::Constraint), sql};
    }

    // MySQL numbers only a column that leads an index, and that index must exist when the table is
    // made: the primary key, or an index of the table written inside CREATE TABLE.
    void keyAutoIncrement(int t)
    {
        TableOut &table = p.tables[t];
        if (!d.identityNeedsKey || !table.table)
            return;
        for (int c = 0; c < table.columns.size(); ++c) {
            const Column &column = table.columns[c];
            if (!column.identity)
                continue;
            if (!table.primaryKey.isEmpty() && table.primaryKey.first() == column.name)
                return;
            for (IndexOut &index : p.indexes) {
                if (index.table == t && index.columns.first().name == column.name) {
                    index.inTable = true;
                    return;
                }
            }
            IndexOut &index = addIndex(t, column.access, false, toIndexColumns({column.name}), -1);
            index.inTable = true;
            note(fieldAt(table, indexOf(table, column)), QStringLiteral("index added"),
                 table.access + QLatin1Char('.') + column.access,
                 QStringLiteral("%1 numbers only a column that leads an index: added as %2")
                     .arg(latin1(d.title), quoteName(d, index.name)));
        }
    }

    // Every table after the tables it refers to where the references allow (a cycle is broken at
    // the table that comes first), otherwise in the document's order.
    void orderTables()
    {
        QList<QList<int>> targets(p.tables.size());
        const auto refer = [&](const ForeignKey &key) {
            if (key.target != key.table)
                targets[key.table] << key.target;
        };
        for (const ForeignKey &key : p.foreignKeys)
            refer(key);
        for (const TableOut &table : p.tables)
            for (const ForeignKey &key : table.foreignKeys)
                refer(key);
        QList<int> state(p.tables.size(), 0);
        std::function<void(int)> visit = [&](int t) {
            if (state[t] != 0)
                return;
            state[t] = 1;
            for (const int target : targets[t])
                visit(target);
            state[t] = 2;
            p.order << t;
        };
        for (int t = 0; t < p.tables.size(); ++t)
            visit(t);
    }

    const Dialect &d;
    Plan p;
    QHash<QString, int> m_tableByKey;
};

// ---------------------------------------------------------------------------------------------
// The text.

class Writer
{
public:
    // Written to the sink a table at a time: a big database's DDL is never held whole.
    Writer(const Plan &plan, TextSink &sink) : p(plan), d(*plan.dialect), out(sink.text()), m_sink(sink) {}

    void write()
    {
        header();
        out += latin1(d.preamble);
        if (*d.preamble == 0)
            out.chop(1);
        for (const int t : p.order) {
            table(p.tables[t]);
            m_sink.flush();
        }
        bool first = true;
        for (const IndexOut &index : p.indexes) {
            if (index.inTable)
                continue;
            if (first)
                out += QLatin1Char('\n');
            first = false;
            out += QStringLiteral("CREATE %1INDEX %2 ON %3 (%4);\n")
                       .arg(index.unique ? QStringLiteral("UNIQUE ") : QString(), quoteName(d, index.name),
                            quoteName(d, p.tables[index.table].name), indexColumns(index));
            m_sink.flush();
        }
        if (!p.foreignKeys.isEmpty())
            out += QLatin1Char('\n');
        for (const ForeignKey &key : p.foreignKeys) {
            out +=
                QStringLiteral("ALTER TABLE %1 ADD %2;\n").arg(quoteName(d, p.tables[key.table].name), foreignKey(key));
            m_sink.flush();
        }
        if (!p.relationshipComments.isEmpty())
            out += QLatin1Char('\n');
        for (const QString &comment : p.relationshipComments)
            out += commentLine(comment) + QLatin1Char('\n');
    }

private:
    void header()
    {
        const QString source = QFileInfo(p.document->database.path).fileName();
        out +=
            commentLine(QStringLiteral("Migration DDL for %1, written by %2").arg(latin1(d.servers), generatorName()));
        out += QLatin1Char('\n');
        out += commentLine(QStringLiteral("Source: %1%2")
                               .arg(source.isEmpty() ? QStringLiteral("(unnamed)") : source,
                                    p.document->database.format.isEmpty()
                                        ? QString()
                                        : QStringLiteral(" (%1)").arg(p.document->database.format)));
        out += QLatin1Char('\n');
        if (*d.loadHint)
            out += commentLine(latin1(d.loadHint)) + QLatin1Char('\n');
        out += QStringLiteral("--\n");
        if (p.notes.isEmpty()) {
            out += QStringLiteral("-- Migration notes: none\n");
        } else {
            out += QStringLiteral("-- Migration notes (%1):\n").arg(p.notes.size());
            for (const NoteAt &at : p.notes) {
                const MigrationNote &note = at.note;
                out += commentLine(QStringLiteral("- %1%2: %3")
                                       .arg(note.what,
                                            note.where.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(note.where),
                                            note.why));
                out += QLatin1Char('\n');
            }
        }
        if (!p.shortened.isEmpty()) {
            out += QStringLiteral("--\n-- Names written otherwise than in Access (as written: in Access):\n");
            QSet<QPair<QString, QString>> listed;
            for (const auto &pair : p.shortened) {
                if (listed.contains(pair))
                    continue;
                listed.insert(pair);
                out += commentLine(QStringLiteral("- %1: %2").arg(quoteName(d, pair.first), pair.second)) +
                       QLatin1Char('\n');
            }
        }
        out += QLatin1Char('\n');
    }

    QString literal(const QString &text) const { return stringLiteral(d, text); }

    void table(const TableOut &table)
    {
        out += QStringLiteral("\nCREATE TABLE %1 (\n").arg(quoteName(d, table.name));
        QStringList items;
        const QString indent = QStringLiteral("    ");
        if (!table.comment.isEmpty() && !d.commentStatements && !d.inlineComments)
            out += QStringLiteral("    ") + commentLine(table.comment) + QLatin1Char('\n');
        for (const Column &column : table.columns)
            items << columnText(column);
        if (!table.primaryKey.isEmpty() &&
            std::none_of(table.columns.cbegin(), table.columns.cend(), [](const Column &c) { return c.rowidKey; })) {
            items << indent +
                         (table.primaryKeyName.isEmpty()
                              ? QString()
                              : QStringLiteral("CONSTRAINT %1 ").arg(quoteName(d, table.primaryKeyName))) +
                         QStringLiteral("PRIMARY KEY (%1)").arg(quoteNames(d, table.primaryKey));
        }
        const int t = int(&table - p.tables.constData());
        for (const IndexOut &index : p.indexes) {
            if (index.table == t && index.inTable)
                items << indent + QStringLiteral("%1 %2 (%3)")
                                      .arg(index.unique ? QStringLiteral("UNIQUE KEY") : QStringLiteral("KEY"),
                                           quoteName(d, index.name), indexColumns(index));
        }
        for (const Check &check : table.checks)
            items << indent + QStringLiteral("CONSTRAINT %1 CHECK (%2)").arg(quoteName(d, check.name), check.sql);
        for (const ForeignKey &key : table.foreignKeys)
            items << indent + foreignKey(key);
        out += items.join(QStringLiteral(",\n"));
        out += QStringLiteral("\n)");
        out += latin1(d.tableOptions);
        if (!table.comment.isEmpty() && d.inlineComments)
            out += QStringLiteral(" COMMENT=") + literal(table.comment);
        out += QStringLiteral(";\n");
        for (const QString &line : table.leftOut)
            out += commentLine(line) + QLatin1Char('\n');
        if (d.commentStatements) {
            if (!table.comment.isEmpty())
                out += QStringLiteral("COMMENT ON TABLE %1 IS %2;\n")
                           .arg(quoteName(d, table.name), literal(table.comment));
            for (const Column &column : table.columns) {
                if (!column.comment.isEmpty())
                    out += QStringLiteral("COMMENT ON COLUMN %1.%2 IS %3;\n")
                               .arg(quoteName(d, table.name), quoteName(d, column.name), literal(column.comment));
            }
        }
    }

    QString columnText(const Column &column) const
    {
        QString text;
        // A description as a comment line above its column.
        if (!column.comment.isEmpty() && !d.commentStatements && !d.inlineComments)
            text += QStringLiteral("    ") + commentLine(column.comment) + QLatin1Char('\n');
        text += QStringLiteral("    ") + quoteName(d, column.name) + QLatin1Char(' ') + column.type;
        if (!column.generated.isEmpty())
            text += QLatin1Char(' ') + latin1(d.generated).arg(column.generated);
        if (column.notNull && column.generated.isEmpty())
            text += QStringLiteral(" NOT NULL");
        if (!column.defaultSql.isEmpty()) {
            const bool parenthesized =
                column.blob && d.blobDefaultsInParentheses && !column.defaultSql.startsWith(u'(');
            text += QStringLiteral(" DEFAULT ") +
                    (parenthesized ? QLatin1Char('(') + column.defaultSql + QLatin1Char(')') : column.defaultSql);
        }
        if (column.identity)
            text += latin1(d.identity);
        if (!column.comment.isEmpty() && d.inlineComments)
            text += QStringLiteral(" COMMENT ") + literal(column.comment);
        return text;
    }

    QString indexColumns(const IndexOut &index) const
    {
        QStringList columns;
        for (const IndexColumn &column : index.columns)
            columns << quoteName(d, column.name) +
                           (column.prefix > 0 ? QStringLiteral("(%1)").arg(column.prefix) : QString()) +
                           (column.descending ? QStringLiteral(" DESC") : QString());
        return columns.join(QStringLiteral(", "));
    }

    QString foreignKey(const ForeignKey &key) const
    {
        QString text = QStringLiteral("CONSTRAINT %1 FOREIGN KEY (%2) REFERENCES %3 (%4)")
                           .arg(quoteName(d, key.name), quoteNames(d, key.columns),
                                quoteName(d, p.tables[key.target].name), quoteNames(d, key.targetColumns));
        if (!key.onUpdate.isEmpty())
            text += QStringLiteral(" ON UPDATE ") + key.onUpdate;
        if (!key.onDelete.isEmpty())
            text += QStringLiteral(" ON DELETE ") + key.onDelete;
        return text;
    }

    const Plan &p;
    const Dialect &d;
    QString &out;
    TextSink &m_sink;
};

Plan planOf(const Document &document, SqlDialect dialect)
{
    return Planner(document, dialectOf(dialect)).run();
}

} // namespace

std::optional<SqlDialect> sqlDialect(const QString &name)
{
    for (const Dialect &dialect : kDialects) {
        if (name == QLatin1String(dialect.key))
            return dialect.id;
    }
    return std::nullopt;
}

QString sqlDialectName(SqlDialect dialect)
{
    return latin1(dialectOf(dialect).key);
}

QList<MigrationNote> migrationNotes(const Document &document, SqlDialect dialect)
{
    QList<MigrationNote> notes;
    for (const NoteAt &at : planOf(document, dialect).notes)
        notes << at.note;
    return notes;
}

QString toSql(const Document &document, SqlDialect dialect)
{
    const Plan plan = planOf(document, dialect);
    TextSink sink(nullptr, 1 << 16);
    Writer(plan, sink).write();
    return sink.take();
}

bool writeSql(const Document &document, SqlDialect dialect, QIODevice &device)
{
    const Plan plan = planOf(document, dialect);
    TextSink sink(&device, 0);
    Writer(plan, sink).write();
    return sink.finish();
}

} // namespace Structure
