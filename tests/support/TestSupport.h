#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace TestSupport {
// Folder of the project's own test databases (tests/data).
QString dataDir();
// Folder of the shared fixture databases; empty when it is absent.
QString fixturesDir();
// Folder that holds the built programs (strudex-engine, strudex-export).
QString binDir();

// The bytes of a file (a report, a database); empty when it cannot be read.
QByteArray readFile(const QString &path);

// A file of the shared public collection (fixtures/real), used where it lies; empty when it is
// absent. Those files are never copied into the project.
QString realFile(const QString &relative);

// A database of the public collection, as its README lists it.
struct RealFile
{
    QString path;
    QString password;
    int userTables = -1; // -1: an Access 2007+ encrypted file
};
// The files of the public collection that libmdb reads, or that are encrypted with a password
// Strudex knows; empty when the collection is absent.
QList<RealFile> realFiles();

// True where a missing shared fixture must fail a test instead of skipping it: CI sets
// STRUDEX_REQUIRE_FIXTURES=1, since the fixtures are always there and a silent skip would hide a
// test that no longer runs.
bool fixturesRequired();

// Every src= and href= of an HTML page and every url( or @import: what a browser would fetch.
QStringList fetchedReferences(const QString &page);

// What a program run said, and how it ended: its exit code, or -1 when it crashed or had to be
// killed.
struct ProgramRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
// Runs a program to its end (killed after timeoutMs): in folder (empty: this one), with input on
// its standard input, in environment.
ProgramRun runProgram(const QString &program, const QStringList &arguments, const QString &folder = QString(),
                      const QByteArray &input = QByteArray(),
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                      int timeoutMs = 120000);
// The same for the built strudex-export.
ProgramRun runExporter(const QStringList &arguments, const QString &folder = QString(),
                       const QByteArray &input = QByteArray());

// Writes a settings file whose "Database" value is 4 KiB of bytes no settings reader accepts, and
// returns what it wrote.
QByteArray writeDamagedSettings(const QString &path);
} // namespace TestSupport

// Ends a test whose shared fixture is missing: skipped on a developer's machine, failed where the
// fixtures are required.
#define STRUDEX_WITHOUT_FIXTURE(message)                                                                               \
    do {                                                                                                               \
        if (TestSupport::fixturesRequired())                                                                           \
            QFAIL(message " (STRUDEX_REQUIRE_FIXTURES is set)");                                                       \
        else                                                                                                           \
            QSKIP(message);                                                                                            \
    } while (false)
