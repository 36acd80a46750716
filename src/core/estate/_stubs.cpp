#include "core/estate/Index.h"
#include <QIODevice>
namespace Estate {
QString errorKindName(ErrorKind kind) { static const char *n[]={"damaged","notAccess","password","unsupported","unreadable"}; return QLatin1String(n[int(kind)]); }
std::optional<ErrorKind> errorKindFromName(const QString &name) { for (int i=0;i<5;++i) if (errorKindName(ErrorKind(i))==name) return ErrorKind(i); return std::nullopt; }
bool writeIndexPage(const Index &, QIODevice &d) { d.write("<html></html>"); return true; }
}
