#pragma once

#include <QString>

#include <exception>

// The one failure type of the program. Utilities, the engine and the file system throw it; the
// reporting routines catch it and show its description. The number is the runtime's or engine's
// error number (5, 6, 3031, 3265 ...), or 0 when the failing component gives none.
class Failure : public std::exception
{
public:
    Failure(long number, QString description);

    long number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

    // The runtime's own failures, worded as its users know them.
    static Failure invalidArgument();                                      // 5
    static Failure overflow();                                             // 6
    static Failure fileAccess(const QString &path, const QString &reason); // 75

private:
    long m_number;
    QString m_description;
    QByteArray m_utf8;
};
