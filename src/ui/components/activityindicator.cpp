#include "activityindicator.h"

#include <QDateTime>
#include <QPainter>
#include <QtMath>

namespace {
constexpr int spokes = 8;
constexpr int frameInterval = 80; // ms: one spoke step, a revolution in about two thirds of a second
} // namespace

ActivityIndicator::ActivityIndicator(int size, QWidget *parent) : QWidget(parent), m_size(size) {
    setObjectName(QStringLiteral("activityIndicator"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_timer.setInterval(frameInterval);
    connect(&m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void ActivityIndicator::setColor(const QColor &color) {
    m_color = color;
    update();
}

QSize ActivityIndicator::sizeHint() const {
    return {m_size, m_size};
}

qreal ActivityIndicator::currentTurn() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return qreal(now % (frameInterval * spokes)) / (frameInterval * spokes);
}

void ActivityIndicator::paint(QPainter *painter, const QRectF &rect, const QColor &color, qreal turn) {
    const qreal side = qMin(rect.width(), rect.height());
    if (side <= 0)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.center());
    const int lead = int(turn * spokes) % spokes;
    const qreal inner = side * 0.24;
    const qreal outer = side * 0.46;
    for (int i = 0; i < spokes; ++i) {
        // The leading spoke is solid, the ones behind it fade out.
        const int age = (lead - i + spokes) % spokes;
        QColor spoke = color;
        spoke.setAlphaF(float(color.alphaF() * (1.0 - age * 0.75 / spokes)));
        painter->setPen(QPen(spoke, qMax<qreal>(1.2, side * 0.1), Qt::SolidLine, Qt::RoundCap));
        const qreal angle = 2 * M_PI * i / spokes - M_PI / 2;
        painter->drawLine(QPointF(qCos(angle) * inner, qSin(angle) * inner),
                          QPointF(qCos(angle) * outer, qSin(angle) * outer));
    }
    painter->restore();
}

void ActivityIndicator::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QColor color = m_color.isValid() ? m_color : palette().color(QPalette::WindowText);
    QRectF square(0, 0, m_size, m_size);
    square.moveCenter(QRectF(rect()).center());
    paint(&painter, square, color, currentTurn());
}

void ActivityIndicator::showEvent(QShowEvent *event) {
    m_timer.start();
    QWidget::showEvent(event);
}

void ActivityIndicator::hideEvent(QHideEvent *event) {
    m_timer.stop();
    QWidget::hideEvent(event);
}
