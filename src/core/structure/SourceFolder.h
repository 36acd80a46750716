#pragma once

// The application's code as a folder of files for version control: modules, the code behind forms
// and reports, macros and saved queries, one file each, in UTF-8 with line feeds, under names any
// file system takes.

#include "core/structure/Structure.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Structure {

struct SourceFile
{
    // "module", "form", "report", "macro" or "query", and the object's own name.
    QString kind;
    QString name;
    // Relative to the folder, with "/": "modules/basUtility.bas".
    QString path;
    QByteArray content;
};

// A name as a file name: characters no file system takes (controls, < > : " / \ | ? *) become
// "_", as do a leading dot, trailing dots and spaces; a device name of Windows (CON, NUL, COM1, ...)
// gets a "_" before it; long names are cut. Never empty, never "." or "..".
QString safeFileName(const QString &name);

// Every file of the folder, in a stable order. Names that come out the same (without regard to
// case, as Windows and macOS compare them) get "~2", "~3", ... before their extension.
QList<SourceFile> sourceFiles(const Document &document);

// index.json: which file holds which object.
QByteArray sourceIndex(const Document &document, const QList<SourceFile> &files);

} // namespace Structure
