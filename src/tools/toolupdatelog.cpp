#include "toolupdatelog.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// Below U+0300 (where the combining marks begin) every character but a carriage return, which
// joins a following line feed, is a cluster of its own and never joins its neighbours. Tools
// print mostly such text, so counting it needs no boundary analysis. Returns the index just past
// the last character that may join another; 0 when there is none.
qsizetype endOfLastJoining(QStringView text) {
    const char16_t *characters = reinterpret_cast<const char16_t *>(text.data());
    for (qsizetype i = text.size(); i > 0; --i)
        if (characters[i - 1] >= 0x300 || characters[i - 1] == u'\r')
            return i;
    return 0;
}

qsizetype graphemeCount(const QString &text) {
    if (endOfLastJoining(text) == 0)
        return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

// Where the last `count` grapheme clusters of text begin, given where its last joining
// character ends.
qsizetype startOfLast(const QString &text, qsizetype count, qsizetype joiningEnd) {
    // With only simple characters from just before the tail to the end, the last `count` clusters
    // are the last `count` characters.
    const qsizetype start = text.size() - count;
    if (start > 0 && start - 1 >= joiningEnd)
        return start;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype position = text.size();
    for (qsizetype i = 0; i < count && position > 0; ++i)
        position = finder.toPreviousBoundary();
    return std::max<qsizetype>(position, 0);
}

} // namespace

QString ToolUpdateLog::marker() {
    return QStringLiteral("… registro anterior omitido …\n");
}

std::optional<QString> ToolUpdateLog::entry(const ToolUpdateEvent &event) {
    switch (event.kind) {
    case ToolUpdateEvent::Kind::stage:
        return QStringLiteral("▶ ") + event.text;
    case ToolUpdateEvent::Kind::command:
        return QStringLiteral("$ ") + event.text;
    case ToolUpdateEvent::Kind::output:
        return event.text;
    case ToolUpdateEvent::Kind::processStarted:
        return QStringLiteral("Proceso activo: PID ") + QString::number(event.value) + QStringLiteral(".");
    case ToolUpdateEvent::Kind::processFinished:
        break;
    }
    return std::nullopt;
}

namespace {

bool isControl(char16_t c) {
    return (c < 0x20 && c != u'\t' && c != u'\n') || (c >= 0x7F && c <= 0x9F);
}

// Just past the control sequence that begins at i (ECMA-48: ESC or a C1 control). A sequence cut
// off by the end of the text runs to the end.
qsizetype endOfControlSequence(QStringView text, qsizetype i) {
    const qsizetype size = text.size();
    char16_t introducer = text[i].unicode();
    ++i;
    // ESC followed by a character of 0x40..0x5F is the 7-bit form of a C1 control.
    if (introducer == 0x1B && i < size && text[i].unicode() >= 0x40 && text[i].unicode() <= 0x5F)
        introducer = char16_t(text[i++].unicode() + 0x40);
    switch (introducer) {
    case 0x1B: // ESC, intermediates, final: "ESC c", "ESC ( B"
        while (i < size && text[i].unicode() >= 0x20 && text[i].unicode() <= 0x2F)
            ++i;
        return std::min(i + 1, size);
    case 0x9B: // CSI: parameters, intermediates, final
        while (i < size && text[i].unicode() >= 0x20 && text[i].unicode() <= 0x3F)
            ++i;
        return std::min(i + 1, size);
    case 0x90: // DCS, SOS, OSC, PM, APC: a string up to ST (ESC \ or 0x9C) or, as terminals take it, BEL
    case 0x98:
    case 0x9D:
    case 0x9E:
    case 0x9F:
        for (; i < size; ++i) {
            const char16_t c = text[i].unicode();
            if (c == 0x07 || c == 0x9C)
                return i + 1;
            if (c == 0x1B && i + 1 < size && text[i + 1] == u'\\')
                return i + 2;
        }
        return size;
    default:
        return i;
    }
}

} // namespace

QString ToolUpdateLog::cleaned(const QString &text) {
    const char16_t *characters = reinterpret_cast<const char16_t *>(text.constData());
    if (std::none_of(characters, characters + text.size(), isControl))
        return text.trimmed();
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const char16_t c = characters[i];
        if (!isControl(c)) {
            result.append(QChar(c));
            ++i;
        } else if (c == u'\r') {
            // A bare carriage return ends a line, as it does on a terminal that scrolls.
            if (i + 1 == text.size() || characters[i + 1] != u'\n')
                result.append(QLatin1Char('\n'));
            ++i;
        } else if (c == 0x1B || (c >= 0x80 && c <= 0x9F)) {
            i = endOfControlSequence(text, i);
        } else {
            ++i;
        }
    }
    return result.trimmed();
}

std::optional<QString> ToolUpdateLog::homebrewStep(const QString &cleanedLine) {
    const QString line = cleanedLine.trimmed();
    if (!line.startsWith(QLatin1String("==>")))
        return std::nullopt;
    qsizetype start = 3;
    while (start < line.size() && (line.at(start) == u' ' || line.at(start) == u'\t'))
        ++start;
    if (start == line.size())
        return std::nullopt;
    return line.mid(start);
}

bool ToolUpdateLog::announcesBuildFromSource(const QString &line) {
    return line.contains(QLatin1String("would build from source"), Qt::CaseInsensitive) ||
           line.contains(QLatin1String("no longer builds bottles"), Qt::CaseInsensitive);
}

bool ToolUpdateLog::append(const QString &text) {
    QString piece = cleaned(text);
    if (piece.isEmpty())
        return false;
    if (!m_text.isEmpty())
        piece.prepend(QLatin1Char('\n'));
    // A trimmed entry ends and begins with visible characters and joins at a line break, so the
    // clusters of the whole are the sum of the clusters of its pieces.
    m_characters += graphemeCount(piece);
    if (const qsizetype joining = endOfLastJoining(piece))
        m_joiningEnd = m_text.size() + joining;
    m_text += piece;
    if (m_characters <= limit && m_text.size() <= unitLimit)
        return true;
    qsizetype start = m_characters > limit ? startOfLast(m_text, keptAfterCut, m_joiningEnd) : 0;
    // Marks stacked on few characters: the kept part is bounded in code units too, cut at a
    // character's boundary and counted afresh.
    const bool recount = m_text.size() - start > keptUnitsAfterCut;
    if (recount) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_text);
        finder.setPosition(m_text.size() - keptUnitsAfterCut);
        start = finder.isAtBoundary() ? finder.position() : finder.toNextBoundary();
    }
    const QString head = marker();
    m_joiningEnd = m_joiningEnd > start ? head.size() + m_joiningEnd - start : endOfLastJoining(head);
    m_text = head + QStringView(m_text).mid(start);
    m_characters = recount ? graphemeCount(m_text) : graphemeCount(head) + keptAfterCut;
    return true;
}

void ToolUpdateLog::clear() {
    m_text.clear();
    m_characters = 0;
    m_joiningEnd = 0;
}
