#pragma once

#include "core/report/SaveFile.h"

#include <QString>
#include <QStringEncoder>

#include <memory>
#include <optional>

// The report as it is being written: lines in the system's 8-bit encoding, each ended by CR LF,
// into a temporary file that takes the report's name only when it is closed. A run that fails or
// is ended midway leaves an earlier report of that name as it was.
//
// The first failure of the file (it cannot be made, the disk is full) is thrown once, naming the
// reason; the lines after it are passed over quietly, since they have nowhere to go, and the
// report is not saved. An earlier report of that name is replaced only by a complete one, and
// never when its owner made it read-only.
//
// Nothing is written through a symbolic link: a link at the report's name (planted in a folder that
// others can write, such as /tmp) would make the save replace whatever file the link points to.
// A name held by anything but a regular file is refused, and the link and its target are left as
// they were.
class ReportFile
{
public:
    // Creates the file; fails with the reason when it cannot be made or must not be replaced.
    void open(const QString &fileName);
    // Appends one line; fails when it cannot be written.
    void writeLine(const QString &text);
    // Puts the finished report in place of any earlier one.
    void close();
    bool isOpen() const { return m_file != nullptr; }
    // True once close() has put a complete report in place.
    bool saved() const { return m_saved; }

    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile &) = delete;
    ReportFile &operator=(const ReportFile &) = delete;

    // Throws away the report being written, if any, leaving no temporary file behind; for a
    // program that ends in the middle of an export.
    static void abandonActive();

    // Why a file must not be saved under this name: "a symbolic link", "a folder" or "not a
    // regular file" when something other than a regular file holds the name now (a link counts
    // as one even when it points to a regular file); nothing when the name is free or a regular
    // file holds it.
    static std::optional<QString> notReplaceable(const QString &fileName);
    // What is said when a name is refused so: that file, and what it points to, are left alone.
    static QString notReplacedText(const QString &fileName, const QString &what);

private:
    void flush();
    [[noreturn]] void giveUp();
    // Appends a line of ASCII byte for byte; false, appending nothing, when it holds anything else.
    bool appendAscii(const QString &text);
    // Where the next bytes of what waits go, with room for that many.
    char *room(qsizetype bytes);

    static constexpr qsizetype FlushSize = 64 * 1024;

    std::unique_ptr<SaveFile> m_file;
    bool m_gaveUp = false;
    bool m_saved = false;
    QStringEncoder m_encoder{QStringConverter::System};
    // Whether ASCII lines may skip the encoder, and whether it may hold half a character.
    bool m_asciiAsIs = false;
    bool m_encoderHolds = false;
    QString m_fileName;
    // What waits to be written: the first m_used bytes of m_pending.
    QByteArray m_pending;
    qsizetype m_used = 0;
};
