#include "elidedlabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

ElidedLabel::ElidedLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent) : QWidget(parent), m_mode(mode) {
    setObjectName(QStringLiteral("elidedLabel"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setText(text);
}

void ElidedLabel::setText(const QString &text) {
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    refreshToolTip();
    updateGeometry();
    update();
}

QString ElidedLabel::displayedText() const {
    return fontMetrics().elidedText(m_text, m_mode, width());
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(m_text) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {qMin(sizeHint().width(), fontMetrics().averageCharWidth() * 6), fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, displayedText());
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
    refreshToolTip();
    QWidget::resizeEvent(event);
}

void ElidedLabel::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange) {
        refreshToolTip();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void ElidedLabel::refreshToolTip() {
    setToolTip(displayedText() == m_text ? QString() : m_text);
}
