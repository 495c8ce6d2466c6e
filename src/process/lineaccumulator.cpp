#include "lineaccumulator.h"

#include <QStringList>

namespace {

// Number of bytes at the end of `bytes` that start a UTF-8 sequence the chunk does not finish.
qsizetype incompleteUtf8Tail(const QByteArray &bytes) {
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes.at(size - back));
        if ((byte & 0xC0) == 0x80)
            continue;
        const qsizetype needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needed > back ? back : 0;
    }
    return 0;
}

} // namespace

bool LineAccumulator::isLineSeparator(QChar character) {
    const char16_t code = character.unicode();
    return (code >= 0x0A && code <= 0x0D) || code == 0x85 || code == 0x2028 || code == 0x2029;
}

QStringList LineAccumulator::splitLines(const QString &text) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isLineSeparator(text.at(i))) {
            pieces.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    pieces.append(text.mid(start));
    return pieces;
}

void LineAccumulator::append(const QByteArray &chunk, const LineCallback &emitLine) {
    if (chunk.isEmpty())
        return;
    QByteArray bytes = m_pendingBytes + chunk;
    const qsizetype tail = incompleteUtf8Tail(bytes);
    m_pendingBytes = bytes.right(tail);
    bytes.chop(tail);

    // Only the new text can hold a separator: scanning the whole remainder again would make a
    // tool that prints for minutes without a line end cost time in the square of its output.
    const qsizetype scanned = m_remainder.size();
    m_remainder += QString::fromUtf8(bytes);
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = scanned; i < m_remainder.size(); ++i) {
        if (isLineSeparator(m_remainder.at(i))) {
            pieces.append(m_remainder.mid(start, i - start));
            start = i + 1;
        }
    }
    m_remainder.remove(0, start);
    while (m_remainder.size() >= maxLineLength) {
        pieces.append(m_remainder.first(maxLineLength));
        m_remainder.remove(0, maxLineLength);
    }
    for (const QString &piece : std::as_const(pieces)) {
        if (!piece.isEmpty())
            emitLine(piece);
    }
}

void LineAccumulator::flush(const LineCallback &emitLine) {
    // Bytes of a sequence that never finished decode to replacement characters.
    QString rest = m_remainder + QString::fromUtf8(m_pendingBytes);
    m_remainder.clear();
    m_pendingBytes.clear();
    if (!rest.isEmpty())
        emitLine(rest);
}
