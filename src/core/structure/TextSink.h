#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace Structure {

// A UTF-16 literal as a view, u"<td>"_sv: the writers append it to their text as it is, where a
// Latin-1 literal is converted on every append.
constexpr QStringView operator""_sv(const char16_t *text, std::size_t size)
{
    return QStringView(text, qsizetype(size));
}

// Writes every byte to the device. A write it takes only in part is followed by one for the rest,
// so that a full disk or a file size limit is reported with its reason: the part taken sets no
// error. False when a write failed.
bool writeWhole(QIODevice &device, const char *data, qsizetype size);

// Appends to a text through a pointer into room made ahead, without the checks and the call of a
// QString append each time: the biggest parts of a big database's documents (the field grids) are
// millions of small pieces. The text has its own size again when the appender is gone.
class Appender
{
public:
    Appender(QString &text, qsizetype room) : m_text(text), m_used(text.size()) { grow(room); }
    ~Appender() { m_text.truncate(m_used); }
    Appender(const Appender &) = delete;
    Appender &operator=(const Appender &) = delete;

    Appender &operator+=(QStringView text)
    {
        const qsizetype size = text.size();
        if (m_room - m_used < size)
            grow(size);
        // Most pieces are a few characters: copied in place rather than by a call.
        if (size <= 8) {
            for (qsizetype i = 0; i < size; ++i)
                m_data[m_used + i] = text[i];
        } else {
            std::memcpy(m_data + m_used, text.data(), std::size_t(size) * sizeof(QChar));
        }
        m_used += size;
        return *this;
    }
    Appender &operator+=(const QString &text) { return *this += QStringView(text); }
    Appender &operator+=(QChar c)
    {
        if (m_room == m_used)
            grow(1);
        m_data[m_used++] = c;
        return *this;
    }
    Appender &operator+=(QLatin1Char c) { return *this += QChar(c); }

private:
    void grow(qsizetype more)
    {
        m_room = std::max(m_used + more, 2 * m_room);
        m_text.resize(m_room);
        m_data = m_text.data();
    }

    QString &m_text;
    QChar *m_data = nullptr;
    qsizetype m_used;
    qsizetype m_room = 0;
};

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

    static constexpr qsizetype kPiece = 1 << 16;

private:
    void write(bool last);

    QIODevice *m_device;
    QString m_text;
    bool m_written = true;
};

} // namespace Structure
