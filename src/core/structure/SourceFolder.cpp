#include "core/structure/SourceFolder.h"

#include "core/structure/JsonWriter.h"

#include <QSet>

namespace Structure {

namespace {

constexpr qsizetype kLongestName = 120;

QByteArray withLineFeeds(const QString &text)
{
    QString out = lineFeeds(text);
    if (!out.isEmpty() && !out.endsWith(QLatin1Char('\n')))
        out += QLatin1Char('\n');
    return out.toUtf8();
}

} // namespace

QString safeFileName(const QString &name)
{
    static const QString reserved = QStringLiteral("<>:\"/\\|?*");
    QString out;
    for (const QChar c : name)
        out += c.unicode() < 0x20 || c.unicode() == 0x7F || reserved.contains(c) ? QChar(u'_') : c;
    if (out.startsWith(QLatin1Char('.')))
        out[0] = QChar(u'_');
    for (qsizetype i = out.size() - 1; i >= 0 && (out[i] == u'.' || out[i] == u' '); --i)
        out[i] = QChar(u'_');
    if (out.size() > kLongestName) {
        out.truncate(kLongestName);
        // A surrogate pair is not cut in half.
        if (out.back().isHighSurrogate())
            out.chop(1);
    }
    static const QSet<QString> devices = [] {
        QSet<QString> set{QStringLiteral("con"), QStringLiteral("prn"), QStringLiteral("aux"), QStringLiteral("nul")};
        for (int i = 1; i <= 9; ++i) {
            set.insert(QStringLiteral("com%1").arg(i));
            set.insert(QStringLiteral("lpt%1").arg(i));
        }
        return set;
    }();
    if (devices.contains(out.section(QLatin1Char('.'), 0, 0).toLower()))
        out.prepend(QLatin1Char('_'));
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QList<SourceFile> sourceFiles(const Document &document)
{
    QList<SourceFile> files;
    QSet<QString> taken;
    const auto add = [&](const QString &kind, const QString &name, const QString &folder, const QString &extension,
                         const QString &content) {
        const QString stem = folder + QLatin1Char('/') + safeFileName(name);
        QString path = stem + extension;
        for (int n = 2; taken.contains(path.toLower()); ++n)
            path = stem + QStringLiteral("~%1").arg(n) + extension;
        taken.insert(path.toLower());
        files << SourceFile{kind, name, path, withLineFeeds(content)};
    };
    const Application &application = document.application;
    for (const Module &module : application.modules) {
        if (!module.source)
            continue;
        // The code behind a form or a report is filed under the form's or the report's name.
        if (module.kind == QStringLiteral("form"))
            add(QStringLiteral("form"), module.name.mid(5), QStringLiteral("forms"), QStringLiteral(".cls"),
                *module.source);
        else if (module.kind == QStringLiteral("report"))
            add(QStringLiteral("report"), module.name.mid(7), QStringLiteral("reports"), QStringLiteral(".cls"),
                *module.source);
        else
            add(QStringLiteral("module"), module.name, QStringLiteral("modules"),
                module.kind == QStringLiteral("standard") ? QStringLiteral(".bas") : QStringLiteral(".cls"),
                *module.source);
    }
    for (const Macro &macro : application.macros)
        if (macro.definition)
            add(QStringLiteral("macro"), macro.name, QStringLiteral("macros"), QStringLiteral(".xml"),
                *macro.definition);
    for (const Query &query : document.queries)
        add(QStringLiteral("query"), query.name, QStringLiteral("queries"), QStringLiteral(".sql"), query.sql);
    return files;
}

QByteArray sourceIndex(const Document &document, const QList<SourceFile> &files)
{
    QByteArray out = "{\n  \"generator\": " + jsonString(generatorName()) +
                     ",\n  \"database\": " + jsonString(document.database.path) + ",\n  \"files\": [";
    for (qsizetype i = 0; i < files.size(); ++i) {
        const SourceFile &file = files[i];
        out += (i == 0 ? "\n    " : ",\n    ") + QByteArray("{\"kind\": ") + jsonString(file.kind) +
               ", \"name\": " + jsonString(file.name) + ", \"file\": " + jsonString(file.path) + "}";
    }
    out += files.isEmpty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

} // namespace Structure
