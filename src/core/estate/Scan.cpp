#include "core/estate/Scan.h"

#include "core/report/SaveFile.h"

#include <QDir>

#include <algorithm>
#include <filesystem>

namespace Estate {

namespace fs = std::filesystem;

bool isAccessFileName(const QString &name)
{
    static const QStringList extensions{QStringLiteral(".mdb"), QStringLiteral(".accdb"), QStringLiteral(".accda"),
                                        QStringLiteral(".mda"), QStringLiteral(".mde"),   QStringLiteral(".accde")};
    return std::any_of(extensions.cbegin(), extensions.cend(), [&](const QString &extension) {
        return name.size() > extension.size() && name.endsWith(extension, Qt::CaseInsensitive);
    });
}

namespace {

QString fromSystem(const fs::path &path)
{
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.wstring());
#else
    return QString::fromLocal8Bit(path.native().c_str());
#endif
}

// Links are not followed, so each folder is reached once, by its own path.
struct Search
{
    QList<FoundFile> found;
    QStringList &problems;

    void folder(const fs::path &shown, const QString &relative)
    {
        std::error_code error;
        fs::directory_iterator entries(shown, fs::directory_options::none, error);
        if (error) {
            problems << QStringLiteral("The folder '%1' could not be searched: %2.")
                            .arg(QDir::toNativeSeparators(fromSystem(shown)), QString::fromStdString(error.message()));
            return;
        }
        for (; entries != fs::directory_iterator(); entries.increment(error)) {
            if (error)
                break;
            entry(entries->path(), relative);
        }
        if (error)
            problems << QStringLiteral("The folder '%1' could not be searched to its end: %2.")
                            .arg(QDir::toNativeSeparators(fromSystem(shown)), QString::fromStdString(error.message()));
    }

    void entry(const fs::path &path, const QString &relative)
    {
        std::error_code error;
        const QString name = fromSystem(path.filename());
        const QString below = relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
        fs::file_status status = fs::symlink_status(path, error);
        if (error)
            return;
        // A link is not followed: one that leads out of the tree would document what is not
        // asked for, and one that stays inside leads to what the search reaches by its own path.
        if (fs::is_symlink(status))
            return;
        if (fs::is_directory(status))
            folder(path, below);
        else if (fs::is_regular_file(status) && isAccessFileName(name))
            found.append({fromSystem(path), below});
    }
};

} // namespace

QList<FoundFile> findDatabases(const QString &root, QStringList &problems)
{
    std::error_code error;
    const fs::path start = SaveFile::systemPath(root);
    const fs::path canonical = fs::canonical(start, error);
    if (error || !fs::is_directory(canonical, error)) {
        problems << QStringLiteral("The folder '%1' could not be searched: %2.")
                        .arg(QDir::toNativeSeparators(root),
                             error ? QString::fromStdString(error.message()) : QStringLiteral("it is not a folder"));
        return {};
    }
    Search search{{}, problems};
    search.folder(start, QString());
    std::sort(search.found.begin(), search.found.end(),
              [](const FoundFile &a, const FoundFile &b) { return a.relative < b.relative; });
    return search.found;
}

} // namespace Estate
