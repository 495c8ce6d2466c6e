#pragma once

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

} // namespace Console
