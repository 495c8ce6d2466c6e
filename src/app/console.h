#pragma once

#include <QString>
#include <QTextStream>

// The command line's two output streams, shared by every subcommand so that what they write
// keeps its order. Callers flush when a line must be seen at once.
namespace Console {

inline QTextStream &out() {
    static QTextStream stream(stdout);
    return stream;
}

inline QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

// Text a page supplied (titles, names, yt-dlp's words about them) as it may reach a terminal:
// without control characters, so that no escape sequence (OSC, CSI) it holds is ever run. Line
// feeds stay only when asked for.
inline QString printable(const QString &text, bool keepLineFeeds = false) {
    QString kept;
    kept.reserve(text.size());
    for (const QChar character : text) {
        if (character.category() != QChar::Other_Control || (keepLineFeeds && character == QLatin1Char('\n')))
            kept.append(character);
    }
    return kept;
}

} // namespace Console
