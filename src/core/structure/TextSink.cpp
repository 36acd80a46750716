#include "core/structure/TextSink.h"

namespace Structure {

TextSink::TextSink(QIODevice *device, qsizetype wholeSize) : m_device(device)
{
    m_text.reserve(device ? kPiece + kPiece / 4 : wholeSize);
}

bool writeWhole(QIODevice &device, const char *data, qsizetype size)
{
    while (size > 0) {
        const qint64 written = device.write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool TextSink::finish()
{
    if (m_device && !m_text.isEmpty())
        write(true);
    return m_written;
}

void TextSink::write(bool last)
{
    // A piece never ends between the halves of a surrogate pair, so each converts exactly as it
    // does within the whole text (QString::toUtf8(), which writes a lone half as "?").
    qsizetype size = m_text.size();
    if (!last && m_text.back().isHighSurrogate())
        --size;
    // After a failed write the rest is dropped: the save is lost anyway, and the device keeps its
    // first error for the message.
    if (m_written) {
        const QByteArray utf8 = QStringView(m_text).left(size).toUtf8();
        m_written = writeWhole(*m_device, utf8.constData(), utf8.size());
    }
    // Truncating keeps the capacity for the next piece, without a new allocation to fill.
    if (size == m_text.size())
        m_text.truncate(0);
    else
        m_text.remove(0, size);
}

} // namespace Structure
