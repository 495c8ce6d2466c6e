#include "elidedpathfield.h"

#include <QEvent>
#include <QFocusEvent>

namespace {
// QLineEdit keeps this much space on each side of its text, inside the contents rectangle.
constexpr int lineEditTextMargin = 2;
constexpr int smallestWidth = 80;
} // namespace

ElidedPathField::ElidedPathField(QWidget *parent) : QLineEdit(parent) {
    setReadOnly(true);
    setFrame(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QPalette transparent = palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    setPalette(transparent);
}

void ElidedPathField::setFullText(const QString &text) {
    m_fullText = text;
    setToolTip(text);
    setAccessibleDescription(text);
    refresh();
}

QSize ElidedPathField::sizeHint() const {
    QSize hint = QLineEdit::sizeHint();
    hint.setWidth(qMax(smallestWidth, fontMetrics().horizontalAdvance(m_fullText) + 4 * lineEditTextMargin));
    return hint;
}

QSize ElidedPathField::minimumSizeHint() const {
    QSize hint = QLineEdit::minimumSizeHint();
    hint.setWidth(smallestWidth);
    return hint;
}

void ElidedPathField::refresh() {
    if (hasFocus()) {
        if (text() != m_fullText)
            setText(m_fullText);
        return;
    }
    const QMargins margins = textMargins();
    const int available = contentsRect().width() - margins.left() - margins.right() - 2 * lineEditTextMargin - 1;
    setText(fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, qMax(0, available)));
    setCursorPosition(0);
}

void ElidedPathField::resizeEvent(QResizeEvent *event) {
    QLineEdit::resizeEvent(event);
    refresh();
}

void ElidedPathField::focusInEvent(QFocusEvent *event) {
    QLineEdit::focusInEvent(event);
    refresh();
}

void ElidedPathField::focusOutEvent(QFocusEvent *event) {
    QLineEdit::focusOutEvent(event);
    deselect();
    refresh();
}

void ElidedPathField::changeEvent(QEvent *event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        refresh();
}
