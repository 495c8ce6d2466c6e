#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

using LineCallback = std::function<void(const QString &line)>;

// Turns the byte chunks of one output stream into lines. Every newline-class character
// (LF, VT, FF, CR, NEL, LS, PS) ends a line, so "\r\n" and a progress bar's bare "\r" both end
// one; empty lines are never emitted. A UTF-8 sequence split between two chunks is kept back
// until its remaining bytes arrive, so characters are never corrupted at a chunk boundary. A
// line longer than maxLineLength characters is delivered in pieces of that length, so a program
// that never ends a line cannot make the pending text grow without end.
class LineAccumulator {
public:
    static constexpr qsizetype maxLineLength = qsizetype(1) << 20;

    void append(const QByteArray &chunk, const LineCallback &emitLine);
    // Emits the text after the last separator, if any; called once when the stream ends.
    void flush(const LineCallback &emitLine);

    static bool isLineSeparator(QChar character);
    // Splits at every newline-class character, keeping empty pieces.
    static QStringList splitLines(const QString &text);

private:
    QByteArray m_pendingBytes;
    QString m_remainder;
};
