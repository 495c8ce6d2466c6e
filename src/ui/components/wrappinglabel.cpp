#include "wrappinglabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <QtMath>

namespace {
// A sentence longer than this asks for no more width; it wraps instead.
constexpr int preferredMaximumWidth = 640;
} // namespace

WrappingLabel::WrappingLabel(const QString &text, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("wrappingLabel"));
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setText(text);
}

void WrappingLabel::setText(const QString &text) {
    if (text == m_text)
        return;
    m_text = text;
    textChanged();
}

void WrappingLabel::setAlignment(Qt::Alignment alignment) {
    if (alignment == m_alignment)
        return;
    m_alignment = alignment;
    update();
}

void WrappingLabel::textChanged() {
    m_cachedWidth = -1;
    setAccessibleName(m_text);
    updateGeometry();
    update();
}

qreal WrappingLabel::layOut(QTextLayout &layout, qreal width) const {
    // The text layout knows line separators, not line feeds.
    QString display = m_text;
    display.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(display);
    layout.setFont(font());
    QTextOption option(m_alignment & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const QFontMetricsF metrics(font());
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax<qreal>(1, width));
        line.setPosition(QPointF(0, y));
        y += qMax(line.height(), metrics.height());
    }
    layout.endLayout();
    return qMax(y, metrics.height());
}

int WrappingLabel::lineCount(int width) const {
    QTextLayout layout;
    layOut(layout, width);
    return layout.lineCount();
}

int WrappingLabel::heightForWidth(int width) const {
    if (width != m_cachedWidth) {
        QTextLayout layout;
        m_cachedHeight = qCeil(layOut(layout, width));
        m_cachedWidth = width;
    }
    return m_cachedHeight;
}

int WrappingLabel::naturalWidth() const {
    const QFontMetricsF metrics(font());
    qreal widest = 0;
    for (const QString &line : m_text.split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    return qCeil(widest) + 1;
}

QSize WrappingLabel::sizeHint() const {
    const int width = qMin(naturalWidth(), preferredMaximumWidth);
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const {
    const int width = qMin(naturalWidth(), QFontMetrics(font()).averageCharWidth() * 6);
    return {width, QFontMetrics(font()).height()};
}

void WrappingLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    QTextLayout layout;
    layOut(layout, width());
    layout.draw(&painter, QPointF(0, 0));
}

void WrappingLabel::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange)
        textChanged();
    QWidget::changeEvent(event);
}
