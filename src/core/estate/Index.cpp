#include "core/estate/Index.h"

#include <array>
#include <utility>

namespace Estate {

namespace {

// The names the index and its page use; index.json is read back by them, so they never change.
constexpr std::array<std::pair<ErrorKind, const char *>, 5> KindNames{{
    {ErrorKind::Damaged, "damaged"},
    {ErrorKind::NotAccess, "notAccess"},
    {ErrorKind::Password, "password"},
    {ErrorKind::Unsupported, "unsupported"},
    {ErrorKind::Unreadable, "unreadable"},
}};

} // namespace

QString errorKindName(ErrorKind kind)
{
    for (const auto &[each, name] : KindNames) {
        if (each == kind)
            return QString::fromLatin1(name);
    }
    return QString();
}

std::optional<ErrorKind> errorKindFromName(const QString &name)
{
    for (const auto &[kind, each] : KindNames) {
        if (name == QLatin1String(each))
            return kind;
    }
    return std::nullopt;
}

} // namespace Estate
