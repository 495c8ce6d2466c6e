#include "selectabletext.h"

#include <QEvent>
#include <QTextDocument>
#include <QtMath>

SelectableText::SelectableText(QWidget *parent) : QTextEdit(parent) {
    setObjectName(QStringLiteral("selectableText"));
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    document()->setDocumentMargin(0);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void SelectableText::setText(const QString &text) {
    if (text == toPlainText())
        return;
    setPlainText(text);
    m_cachedWidth = -1;
    updateGeometry();
}

int SelectableText::heightForWidth(int width) const {
    if (width != m_cachedWidth) {
        // Measured on a copy, so asking about another width never disturbs what is on screen.
        QTextDocument measure;
        measure.setDefaultFont(font());
        measure.setDocumentMargin(0);
        QTextOption option = document()->defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        measure.setDefaultTextOption(option);
        measure.setPlainText(toPlainText());
        measure.setTextWidth(qMax(1, width - 2 * frameWidth()));
        m_cachedHeight = qCeil(measure.size().height()) + 2 * frameWidth();
        m_cachedWidth = width;
    }
    return m_cachedHeight;
}

QSize SelectableText::sizeHint() const {
    const int width = 480;
    return {width, heightForWidth(width)};
}

QSize SelectableText::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 6, fontMetrics().height()};
}

void SelectableText::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange) {
        m_cachedWidth = -1;
        updateGeometry();
    }
    QTextEdit::changeEvent(event);
}
