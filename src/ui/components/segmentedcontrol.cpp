#include "segmentedcontrol.h"

#include "ui/components/torveltheme.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace {
constexpr int segmentPadding = 22;
constexpr int controlHeight = 30;
constexpr int inset = 2;
} // namespace

SegmentedControl::SegmentedControl(const QStringList &labels, QWidget *parent) : QWidget(parent), m_labels(labels) {
    setObjectName(QStringLiteral("segmentedControl"));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(TorvelTheme::font(TorvelTheme::TextStyle::callout, QFont::Medium));
}

void SegmentedControl::setCurrentIndex(int index) {
    if (index == m_current || index < -1 || index >= count())
        return;
    m_current = index;
    update();
}

int SegmentedControl::segmentWidth() const {
    int widest = 0;
    for (const QString &label : m_labels)
        widest = qMax(widest, fontMetrics().horizontalAdvance(label));
    return widest + 2 * segmentPadding;
}

QRect SegmentedControl::segmentRect(int index) const {
    return {inset + index * segmentWidth(), inset, segmentWidth(), height() - 2 * inset};
}

QSize SegmentedControl::sizeHint() const {
    return {count() * segmentWidth() + 2 * inset, qMax(controlHeight, fontMetrics().height() + 10)};
}

void SegmentedControl::activate(int index) {
    if (index < 0 || index >= count())
        return;
    setCurrentIndex(index);
    Q_EMIT activated(index);
}

void SegmentedControl::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    for (int i = 0; i < count(); ++i) {
        if (segmentRect(i).contains(event->position().toPoint()))
            activate(i);
    }
}

void SegmentedControl::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Left)
        activate(qMax(0, m_current - 1));
    else if (event->key() == Qt::Key_Right)
        activate(qMin(count() - 1, m_current + 1));
    else
        QWidget::keyPressEvent(event);
}

void SegmentedControl::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(TorvelTheme::primary(palette(), 0.1), 1));
    painter.setBrush(TorvelTheme::primary(palette(), 0.05));
    painter.drawRoundedRect(track, 8, 8);

    for (int i = 0; i < count(); ++i) {
        const QRectF segment = segmentRect(i);
        const bool selected = i == m_current;
        if (selected) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(TorvelTheme::accent());
            painter.drawRoundedRect(segment, 6, 6);
        }
        painter.setPen(selected ? QColor(Qt::white) : palette().color(QPalette::WindowText));
        painter.drawText(segment, Qt::AlignCenter, m_labels.at(i));
    }

    QStyleOption option;
    option.initFrom(this);
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange)) {
        painter.setPen(QPen(TorvelTheme::accent(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), 8.5, 8.5);
    }
}
