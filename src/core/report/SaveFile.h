#pragma once

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>

// A file written under a temporary name beside its destination and put in place by one rename
// when it is complete, so a failed or abandoned save leaves an earlier file of that name as it was.
//
// Unlike QSaveFile it never resolves a symbolic link: the temporary file is made new (it cannot be
// a link someone planted), and the rename replaces whatever holds the name rather than following
// it. A name held by anything but a regular file is refused when the save opens and again just
// before the rename; a link that appears between that look and the rename is itself replaced, and
// what it points to is never touched.
class SaveFile
{
public:
    explicit SaveFile(QString fileName);
    ~SaveFile();
    SaveFile(const SaveFile &) = delete;
    SaveFile &operator=(const SaveFile &) = delete;

    // Makes the temporary file. False with errorString() when it cannot be made, or with
    // refusal() when the name is held by something that must not be replaced.
    bool open();
    qint64 write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    qint64 write(const char *data, qint64 size);
    // Writes the file out to the disk and gives it the name; false with the reason when it fails,
    // and the temporary file is gone either way.
    bool commit();
    // The open temporary file, for writers that write to a device; its failures are this save's.
    // What is written there is sent on its way to the disk as it comes, like write()'s.
    QIODevice &device();
    // Throws the temporary file away.
    void cancelWriting();

    QString errorString() const { return m_error.isEmpty() ? m_temporary.errorString() : m_error; }
    QFileDevice::FileError error() const { return m_errorKind; }
    // A file name as the system's own calls take it.
    static std::filesystem::path systemPath(const QString &fileName);

    // Where the system can wait for a whole file system at once (Linux), a process that writes
    // thousands of small files can leave each file's wait for the disk to one syncFileSystem() at
    // its end: the files are still put in place whole, but one written just before a power cut may
    // be found empty. Off by default; a no-op where the system cannot wait for a file system.
    static void setSyncLater(bool later);
    // Waits until everything written on the file system that holds the folder is on the disk.
    // Nothing when it is, or where the system cannot tell; otherwise why not.
    static std::optional<QString> syncFileSystem(const QString &folder);

    // What holds the name, when the save was refused for it ("a symbolic link", "a folder", ...).
    QString refusal() const { return m_refusal; }

private:
    class Device;

    bool refuseHeldName();
    bool openUnnamed(const QString &folder);
    bool openNamed();
    void keepPermissions(const QFileInfo &destination);
    // Gives the unnamed file a temporary name beside the destination, for the rename.
    bool nameUnnamed();
    QString freshName() const;
    QString temporaryName() const;
    void fail(QFileDevice::FileError kind, const QString &reason);

    QString m_fileName;
    QFile m_temporary;
    std::unique_ptr<Device> m_device;
    // The temporary names are this and a random ending: hidden, beside the destination.
    QString m_stem;
    // True while the file has no name on the disk (made with O_TMPFILE, where the system has it).
    bool m_unnamed = false;
    QString m_named;
    // True while a temporary file this save made has a name on the disk.
    bool m_made = false;
    QString m_error;
    QFileDevice::FileError m_errorKind = QFileDevice::NoError;
    QString m_refusal;
    // Bytes written, and how many of them were sent on their way to the disk.
    qint64 m_written = 0;
    qint64 m_writtenBack = 0;
};
