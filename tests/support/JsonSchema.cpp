#include "support/JsonSchema.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace TestSupport {

namespace {

bool hasType(const QJsonValue &value, const QString &type)
{
    if (type == QStringLiteral("object"))
        return value.isObject();
    if (type == QStringLiteral("array"))
        return value.isArray();
    if (type == QStringLiteral("string"))
        return value.isString();
    if (type == QStringLiteral("boolean"))
        return value.isBool();
    if (type == QStringLiteral("null"))
        return value.isNull();
    if (type == QStringLiteral("number"))
        return value.isDouble();
    if (type == QStringLiteral("integer"))
        return value.isDouble() && value.toDouble() == double(qint64(value.toDouble()));
    return false;
}

void check(const QJsonValue &value, const QJsonObject &schema, const QJsonObject &root, const QString &path,
           QStringList &problems)
{
    static const QStringList known{
        QStringLiteral("$schema"),     QStringLiteral("$id"),      QStringLiteral("title"),
        QStringLiteral("description"), QStringLiteral("$defs"),    QStringLiteral("type"),
        QStringLiteral("properties"),  QStringLiteral("required"), QStringLiteral("additionalProperties"),
        QStringLiteral("items"),       QStringLiteral("enum"),     QStringLiteral("minimum"),
        QStringLiteral("$ref")};
    for (const QString &keyword : schema.keys()) {
        if (!known.contains(keyword))
            problems << QStringLiteral("%1: the schema uses %2, which this check does not know").arg(path, keyword);
    }
    if (schema.contains(QStringLiteral("$ref"))) {
        const QString ref = schema.value(QStringLiteral("$ref")).toString();
        const QString prefix = QStringLiteral("#/$defs/");
        const QJsonObject target =
            root.value(QStringLiteral("$defs")).toObject().value(ref.mid(prefix.size())).toObject();
        if (!ref.startsWith(prefix) || target.isEmpty()) {
            problems << QStringLiteral("%1: unknown reference %2").arg(path, ref);
            return;
        }
        check(value, target, root, path, problems);
    }
    if (schema.contains(QStringLiteral("type"))) {
        const QJsonValue type = schema.value(QStringLiteral("type"));
        QStringList types;
        if (type.isArray()) {
            for (const QJsonValue &entry : type.toArray())
                types << entry.toString();
        } else {
            types << type.toString();
        }
        bool matches = false;
        for (const QString &name : types)
            matches = matches || hasType(value, name);
        if (!matches) {
            problems << QStringLiteral("%1: %2 is not of type %3")
                            .arg(path,
                                 QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)),
                                 types.join(QLatin1Char('|')));
            return;
        }
    }
    if (schema.contains(QStringLiteral("enum")) && !schema.value(QStringLiteral("enum")).toArray().contains(value))
        problems << QStringLiteral("%1: %2 is not one of the allowed values").arg(path, value.toVariant().toString());
    if (schema.contains(QStringLiteral("minimum")) && value.isDouble() &&
        value.toDouble() < schema.value(QStringLiteral("minimum")).toDouble())
        problems << QStringLiteral("%1: %2 is below the minimum").arg(path).arg(value.toDouble());
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        const QJsonObject properties = schema.value(QStringLiteral("properties")).toObject();
        for (const QJsonValue &name : schema.value(QStringLiteral("required")).toArray()) {
            if (!object.contains(name.toString()))
                problems << QStringLiteral("%1: %2 is missing").arg(path, name.toString());
        }
        const QJsonValue additional = schema.value(QStringLiteral("additionalProperties"));
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QString childPath = path + QLatin1Char('.') + it.key();
            if (properties.contains(it.key()))
                check(it.value(), properties.value(it.key()).toObject(), root, childPath, problems);
            else if (additional.isBool() && !additional.toBool())
                problems << QStringLiteral("%1: not allowed here").arg(childPath);
            else if (additional.isObject())
                check(it.value(), additional.toObject(), root, childPath, problems);
        }
    }
    if (value.isArray() && schema.contains(QStringLiteral("items"))) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            check(array.at(i), schema.value(QStringLiteral("items")).toObject(), root,
                  path + QStringLiteral("[%1]").arg(i), problems);
    }
}

} // namespace

QStringList validateJson(const QJsonValue &value, const QJsonObject &schema)
{
    QStringList problems;
    check(value, schema, schema, QStringLiteral("$"), problems);
    return problems;
}

QJsonObject projectSchema(const QString &name)
{
    QFile file(QDir(qEnvironmentVariable("STRUDEX_SOURCE_DIR")).filePath(QStringLiteral("docs/") + name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the schema %s", qPrintable(file.fileName()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qFatal("the schema %s is not a JSON object: %s", qPrintable(file.fileName()), qPrintable(error.errorString()));
    return document.object();
}

} // namespace TestSupport
