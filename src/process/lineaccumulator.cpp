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

    // The remainder holds no separator, so only the new text needs scanning: a long line that
    // arrives in many chunks costs time in proportion to its length, not to its square.
    const QString added = QString::fromUtf8(bytes);
    qsizetype start = 0;
    for (qsizetype i = 0; i < added.size(); ++i) {
        if (!isLineSeparator(added.at(i)))
            continue;
        QString line = m_remainder + QStringView(added).mid(start, i - start);
        m_remainder.clear();
        this->emitLine(std::move(line), emitLine);
        start = i + 1;
    }
    m_remainder += QStringView(added).mid(start);
    releaseCompleteRecords(emitLine);
    while (m_remainder.size() > m_longestLine) {
        this->emitLine(m_remainder.left(m_longestLine), emitLine);
        m_remainder.remove(0, m_longestLine);
    }
}

void LineAccumulator::flush(const LineCallback &emitLine) {
    // Bytes of a sequence that never finished decode to replacement characters.
    QString rest = m_remainder + QString::fromUtf8(m_pendingBytes);
    m_remainder.clear();
    m_pendingBytes.clear();
    this->emitLine(std::move(rest), emitLine);
}

void LineAccumulator::emitLine(QString line, const LineCallback &emitLine) const {
    while (m_recordEnd && !line.isEmpty()) {
        const qsizetype end = m_recordEnd(line);
        if (end <= 0 || end >= line.size())
            break;
        emitLine(line.left(end));
        line.remove(0, end);
    }
    if (!line.isEmpty())
        emitLine(line);
}

void LineAccumulator::releaseCompleteRecords(const LineCallback &emitLine) {
    while (m_recordEnd && !m_remainder.isEmpty()) {
        const qsizetype end = std::min(m_recordEnd(m_remainder), m_remainder.size());
        if (end <= 0)
            return;
        const QString record = m_remainder.left(end);
        m_remainder.remove(0, end);
        emitLine(record);
    }
}
