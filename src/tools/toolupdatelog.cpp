#include "toolupdatelog.h"

#include <QRegularExpression>
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

QString ToolUpdateLog::cleaned(const QString &text) {
    if (!text.contains(QChar(0x1B)))
        return text.trimmed();
    static const QRegularExpression escape(QStringLiteral("\\x1B\\[[0-9;?]*[ -/]*[@-~]"));
    QString result = text;
    result.remove(escape);
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
    if (m_characters <= limit)
        return true;
    const qsizetype start = startOfLast(m_text, keptAfterCut, m_joiningEnd);
    const QString head = marker();
    m_joiningEnd = m_joiningEnd > start ? head.size() + m_joiningEnd - start : endOfLastJoining(head);
    m_text = head + QStringView(m_text).mid(start);
    m_characters = graphemeCount(head) + keptAfterCut;
    return true;
}

void ToolUpdateLog::clear() {
    m_text.clear();
    m_characters = 0;
    m_joiningEnd = 0;
}
