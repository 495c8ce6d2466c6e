#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

using LineCallback = std::function<void(const QString &line)>;

// Where a record ends inside text that no line separator divides: the length of the first
// record when the text shows where it ends (the next record follows, or the record is complete
// on its own), else 0. Lets a caller read records that a tool glues together without line ends.
using RecordEnd = std::function<qsizetype(QStringView text)>;

// Turns the byte chunks of one output stream into lines. Every newline-class character
// (LF, VT, FF, CR, NEL, LS, PS) ends a line, so "\r\n" and a progress bar's bare "\r" both end
// one; empty lines are never emitted. A UTF-8 sequence split between two chunks is kept back
// until its remaining bytes arrive, so characters are never corrupted at a chunk boundary.
class LineAccumulator {
public:
    // An unterminated line longer than this (unless told otherwise) is emitted in pieces, so
    // that a child that never ends a line cannot make the remainder grow without bound.
    static constexpr qsizetype maximumLineLength = 1024 * 1024;

    LineAccumulator() = default;
    // recordEnd also divides lines, and releases records from the unterminated remainder as
    // soon as they are known to be complete.
    explicit LineAccumulator(RecordEnd recordEnd, qsizetype longestLine = maximumLineLength)
        : m_recordEnd(std::move(recordEnd)), m_longestLine(longestLine) {}

    void append(const QByteArray &chunk, const LineCallback &emitLine);
    // Emits the text after the last separator, if any; called once when the stream ends.
    void flush(const LineCallback &emitLine);

    static bool isLineSeparator(QChar character);
    // Splits at every newline-class character, keeping empty pieces.
    static QStringList splitLines(const QString &text);

private:
    void emitLine(QString line, const LineCallback &emitLine) const;
    void releaseCompleteRecords(const LineCallback &emitLine);

    RecordEnd m_recordEnd;
    qsizetype m_longestLine = maximumLineLength;
    QByteArray m_pendingBytes;
    QString m_remainder;
};
