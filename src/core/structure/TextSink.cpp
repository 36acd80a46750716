#include "core/structure/TextSink.h"

namespace Structure {

TextSink::TextSink(QIODevice *device, qsizetype wholeSize) : m_device(device)
{
    m_text.reserve(device ? kPiece + kPiece / 4 : wholeSize);
}

bool TextSink::finish()
{
    if (m_device && !m_text.isEmpty())
        write();
    return m_written;
}

void TextSink::write()
{
    // After a failed write the rest is dropped: the save is lost anyway, and the device keeps its
    // first error for the message.
    if (m_written) {
        m_utf8.resize(m_encoder.requiredSpace(m_text.size()));
        const char *end = m_encoder.appendToBuffer(m_utf8.data(), m_text);
        const qsizetype size = end - m_utf8.constData();
        m_written = m_device->write(m_utf8.constData(), size) == size;
    }
    // Truncating keeps the capacity for the next piece.
    m_text.truncate(0);
}

} // namespace Structure
