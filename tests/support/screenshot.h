#pragma once

#include "testsupport.h"

#include <QGuiApplication>
#include <QWidget>

namespace TestSupport {

// Saves a picture of `widget` among the artefacts as ui/NAME.png, or NAME@2x.png when the screen
// draws at twice the scale, so that both runs keep their pictures.
inline bool saveScreenshot(QWidget *widget, const QString &name) {
    const qreal ratio = qGuiApp->devicePixelRatio();
    const QString suffix = ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString();
    return widget->grab().save(artefactFolder(QStringLiteral("ui")) + QLatin1Char('/') + name + suffix +
                               QStringLiteral(".png"));
}

} // namespace TestSupport
