#include "toolupdatelog.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

// Below U+0300 (where the combining marks begin) and without a carriage return, which joins a
// following line feed, every character is a cluster of its own. Tools print mostly such text,
// so counting it needs no boundary analysis.
bool oneClusterPerCharacter(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300 && c != u'\r'; });
}

qsizetype graphemeCount(const QString &text) {
    if (oneClusterPerCharacter(text))
        return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

// Where the last `count` grapheme clusters of text begin.
qsizetype startOfLast(const QString &text, qsizetype count) {
    if (oneClusterPerCharacter(text))
        return std::max<qsizetype>(text.size() - count, 0);
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
    m_text += piece;
    if (m_characters <= limit)
        return true;
    m_text = marker() + m_text.mid(startOfLast(m_text, keptAfterCut));
    m_characters = graphemeCount(marker()) + keptAfterCut;
    return true;
}

void ToolUpdateLog::clear() {
    m_text.clear();
    m_characters = 0;
}
