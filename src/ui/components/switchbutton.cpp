#include "switchbutton.h"

#include "ui/components/torveltheme.h"

#include <QPainter>

namespace {
constexpr int trackWidth = 36;
constexpr int trackHeight = 20;
constexpr int knobInset = 2;
// Room for the focus ring around the track.
constexpr int margin = 2;
} // namespace

SwitchButton::SwitchButton(QWidget *parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::toggled, this, qOverload<>(&QWidget::update));
}

QSize SwitchButton::sizeHint() const {
    return {trackWidth + 2 * margin, trackHeight + 2 * margin};
}

QSize SwitchButton::minimumSizeHint() const {
    return sizeHint();
}

bool SwitchButton::hitButton(const QPoint &position) const {
    return rect().contains(position);
}

void SwitchButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);

    QRectF track(0, 0, trackWidth, trackHeight);
    track.moveCenter(QRectF(rect()).center());
    const qreal radius = track.height() / 2;

    if (hasFocus()) {
        QColor ring = TorvelTheme::accent();
        ring.setAlphaF(0.45f);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }

    painter.setPen(Qt::NoPen);
    QColor fill = isChecked() ? TorvelTheme::accent() : TorvelTheme::primary(palette(), 0.18);
    if (isDown())
        fill = fill.darker(110);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knobDiameter = track.height() - 2 * knobInset;
    QRectF knob(0, 0, knobDiameter, knobDiameter);
    knob.moveCenter(QPointF(isChecked() ? track.right() - knobInset - knobDiameter / 2
                                        : track.left() + knobInset + knobDiameter / 2,
                            track.center().y()));
    painter.setPen(QPen(TorvelTheme::primary(palette(), 0.12), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);
}
