#include "appbackground.h"

#include "ui/components/torveltheme.h"

#include <QPaintEvent>
#include <QPainter>

AppBackground::AppBackground(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("appBackground"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void AppBackground::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const QRectF bounds = rect();
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    painter.fillRect(event->rect(), TorvelTheme::accentGradient(bounds.topLeft(), bounds.bottomRight(), 0.035, 0.025));
}
