#include "engine/AccessTypes.h"

#include <utility>

namespace Engine {

namespace {

AccessFieldType typed(std::string accessType, std::optional<std::string> fieldSize = std::nullopt)
{
    AccessFieldType t;
    t.accessType = std::move(accessType);
    t.fieldSize = std::move(fieldSize);
    return t;
}

// The type and size of a plain stored type, as a number, text or other field.
AccessFieldType plain(int type, const ColumnDesign &column)
{
    AccessFieldType t;
    switch (type) {
    case kBoolean:
        t.accessType = "Yes/No";
        break;
    case kByte:
        t = typed("Number", "Byte");
        break;
    case kInteger:
        t = typed("Number", "Integer");
        break;
    case kLong:
        t = typed((column.flags & kColumnAutoNumber) ? "AutoNumber" : "Number", "Long Integer");
        break;
    case kSingle:
        t = typed("Number", "Single");
        break;
    case kDouble:
        t = typed("Number", "Double");
        break;
    case kDecimal:
        t = typed("Number", "Decimal");
        t.precision = column.precision;
        t.scale = column.scale;
        break;
    case kReplicationId:
        t = typed((column.flags & kColumnAutoGuid) ? "AutoNumber" : "Number", "Replication ID");
        break;
    case kCurrency:
        t.accessType = "Currency";
        break;
    case kDateTime:
        t.accessType = "Date/Time";
        break;
    case kDateTimeExtended:
        t.accessType = "Date/Time Extended";
        break;
    case kText:
        t.accessType = "Short Text";
        // Characters: Jet 4 and later keep two bytes per character.
        t.fieldSize = std::to_string(column.stored.jet3 ? column.stored.size : column.stored.size / 2);
        break;
    case kMemo:
        t.accessType = (column.flags & kColumnHyperlink) ? "Hyperlink" : "Long Text";
        break;
    case kOle:
        t.accessType = "OLE Object";
        break;
    case kBinary:
        t.accessType = "Binary";
        break;
    case kLargeNumber:
        t.accessType = "Large Number";
        break;
    default:
        t.accessType = "Unknown (" + std::to_string(type) + ")";
    }
    return t;
}

// The stored type a multi-valued field's template holds.
std::optional<int> templateType(const std::string &name)
{
    static const std::pair<const char *, int> templates[] = {
        {"MSysComplexType_UnsignedByte", kByte}, {"MSysComplexType_Short", kInteger},
        {"MSysComplexType_Long", kLong},         {"MSysComplexType_IEEESingle", kSingle},
        {"MSysComplexType_IEEEDouble", kDouble}, {"MSysComplexType_GUID", kReplicationId},
        {"MSysComplexType_Decimal", kDecimal},   {"MSysComplexType_Text", kText},
    };
    for (const auto &[templateName, type] : templates) {
        if (name == templateName)
            return type;
    }
    return std::nullopt;
}

} // namespace

AccessFieldType accessFieldType(const ColumnDesign &column)
{
    if (column.stored.calculated) {
        AccessFieldType result;
        if (column.stored.resultType) {
            result = plain(*column.stored.resultType, column);
            // A text result's size is the characters behind the calculated value's header, as ADO
            // reports it.
            if (*column.stored.resultType == kText)
                result.fieldSize = std::to_string(adoFieldFor(column.stored).definedSize);
        }
        result.accessType = "Calculated";
        return result;
    }
    if (column.stored.type != kComplex)
        return plain(column.stored.type, column);
    const std::string name = column.complexTemplate.value_or(std::string());
    if (name == "MSysComplexType_Attachment")
        return typed("Attachment");
    if (const auto type = templateType(name)) {
        AccessFieldType result = plain(*type, ColumnDesign{});
        if (*type == kText)
            result.fieldSize.reset(); // the size is the value column's, not known here
        result.multiValued = true;
        return result;
    }
    return typed("Complex");
}

} // namespace Engine
