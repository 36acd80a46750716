#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace Structure {

// Writes every byte to the device. A write it takes only in part is followed by one for the rest,
// so that a full disk or a file size limit is reported with its reason: the part taken sets no
// error. False when a write failed.
bool writeWhole(QIODevice &device, const char *data, qsizetype size);

// A document's text on its way to a device: a writer appends to text() and, each time it has
// finished a part of the document, calls flush(), which sends what has gathered as UTF-8 once it is
// a few hundred KB. So a big database's page is never held whole, neither as text nor as UTF-8.
// Without a device the text is kept whole, for the writers that return it.
class TextSink
{
public:
    // The text's first capacity: enough for a piece, or the whole document's estimate when kept.
    TextSink(QIODevice *device, qsizetype wholeSize);

    QString &text() { return m_text; }
    void flush()
    {
        if (m_device && m_text.size() >= kPiece)
            write(false);
    }
    // Writes what is left. False when any piece could not be written (the device says why).
    bool finish();
    // The whole text, when there is no device.
    QString take() { return std::move(m_text); }

    static constexpr qsizetype kPiece = 1 << 18;

private:
    void write(bool last);

    QIODevice *m_device;
    QString m_text;
    bool m_written = true;
};

} // namespace Structure
