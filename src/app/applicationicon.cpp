#include "applicationicon.h"

#include "ui/components/torvellogo.h"

#include <QPixmap>

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        TorvelLogo logo(size);
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        // Only the mark: a window icon needs no shadow.
        logo.render(&pixmap, QPoint(), QRegion(logo.markRect()), QWidget::DrawChildren);
        icon.addPixmap(pixmap);
    }
    return icon;
}
