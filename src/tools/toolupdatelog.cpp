#include "toolupdatelog.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace {

qsizetype graphemeCount(const QString &text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

// Where the last `count` grapheme clusters of text begin.
qsizetype startOfLast(const QString &text, qsizetype count) {
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
    static const QRegularExpression escape(QStringLiteral("\\x1B\\[[0-9;?]*[ -/]*[@-~]"));
    QString result = text;
    result.remove(escape);
    return result.trimmed();
}

void ToolUpdateLog::append(const QString &text) {
    QString piece = cleaned(text);
    if (piece.isEmpty())
        return;
    if (!m_text.isEmpty())
        piece.prepend(QLatin1Char('\n'));
    // A trimmed entry ends and begins with visible characters and joins at a line break, so the
    // clusters of the whole are the sum of the clusters of its pieces.
    m_characters += graphemeCount(piece);
    m_text += piece;
    if (m_characters <= limit)
        return;
    m_text = marker() + m_text.mid(startOfLast(m_text, keptAfterCut));
    m_characters = graphemeCount(marker()) + keptAfterCut;
}

void ToolUpdateLog::clear() {
    m_text.clear();
    m_characters = 0;
}
