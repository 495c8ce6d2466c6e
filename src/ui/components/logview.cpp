#include "logview.h"

#include "ui/components/torveltheme.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextCursor>

namespace {

constexpr int logHeight = 118;

} // namespace

LogView::LogView(const QString &objectName, QWidget *parent) : QPlainTextEdit(parent) {
    setObjectName(objectName);
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setFixedHeight(logHeight);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(TorvelTheme::font(TorvelTheme::TextStyle::caption2).pointSizeF());
    setFont(font);
    setFrameShape(QFrame::NoFrame);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: rgba(0, 0, 0, 0.78); color: #e8e8e8; "
                                 "border-radius: 8px; padding: 4px; }"));
}

void LogView::showLog(const QString &log) {
    if (!m_shown.isEmpty() && log.size() > m_shown.size() && log.startsWith(m_shown)) {
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QStringView(log).mid(m_shown.size()).toString());
    } else {
        setPlainText(log);
    }
    // A copy of its own: sharing the model's text would make every later append copy it whole.
    m_shown = QString(log.constData(), log.size());
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}
