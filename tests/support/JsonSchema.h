#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

namespace TestSupport {

// Checks a JSON value against a JSON Schema (draft 2020-12), for the keywords our schemas use:
// type (one or a list), properties, required, additionalProperties (true, false or a schema),
// items, enum, minimum and local $ref ("#/$defs/name"). Returns one line per violation, with the
// path of the value; empty when the value conforms. An unknown keyword is itself a violation, so a
// schema cannot quietly check less than it says.
QStringList validateJson(const QJsonValue &value, const QJsonObject &schema);

// The schema stored in the project at docs/<name>.
QJsonObject projectSchema(const QString &name);

} // namespace TestSupport
