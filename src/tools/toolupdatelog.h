#pragma once

#include "toolupdateevent.h"

#include <QString>

#include <optional>

// The activity log of a tool operation, as the options window and the command line show it:
// control characters and terminal control sequences removed, each entry trimmed and on a line
// of its own, and the whole bounded so that a tool printing without end cannot grow it without
// end.
class ToolUpdateLog {
public:
    // Counted in user-perceived characters (grapheme clusters).
    static constexpr qsizetype limit = 50'000;
    static constexpr qsizetype keptAfterCut = 45'000;
    // Also bounded in UTF-16 code units, since combining marks stack without end on one character.
    static constexpr qsizetype unitLimit = 200'000;
    static constexpr qsizetype keptUnitsAfterCut = 150'000;
    static QString marker(); // "… registro anterior omitido …\n"

    // The text an event adds: "▶ " + stage, "$ " + command, the output line itself,
    // "Proceso activo: PID " + n + "."; nothing for a finished process.
    static std::optional<QString> entry(const ToolUpdateEvent &event);
    // Every control character and terminal control sequence (CSI, OSC, DCS and the other
    // strings, two-character escapes, C1 controls) removed but tab and line feed; a bare carriage
    // return ends a line. Then surrounding white space and line breaks trimmed.
    static QString cleaned(const QString &text);
    // The step a cleaned line of Homebrew's output announces: "==>   Pouring ffmpeg" gives
    // "Pouring ffmpeg"; nothing for any other line or a bare marker.
    static std::optional<QString> homebrewStep(const QString &cleanedLine);
    // Whether Homebrew says it is about to compile from source rather than pour a bottle.
    static bool announcesBuildFromSource(const QString &line);

    // Appends the cleaned text on a line of its own; an empty result adds nothing. When the log
    // then holds more than `limit` characters it becomes the marker followed by its last
    // `keptAfterCut` characters (at most `keptUnitsAfterCut` code units; also once it holds more
    // than `unitLimit` of them). Returns whether the log changed.
    bool append(const QString &text);
    void clear();
    const QString &text() const { return m_text; }

private:
    QString m_text;
    qsizetype m_characters = 0;
    qsizetype m_joiningEnd = 0; // just past the last character that may join its neighbours
};
