#include "idleview.h"

#include "ui/components/iconlabel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

IdleView::IdleView(QWidget *parent) : QWidget(parent) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("idleView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 26, 0, 26);
    layout->setSpacing(10);

    layout->addWidget(new IconLabel(QStringLiteral("arrow.down.circle.dotted"), TorvelTheme::accent(), 54, this), 0,
                      Qt::AlignHCenter);
    auto *title = new WrappingLabel(QStringLiteral("Listo para una nueva descarga"), this);
    title->setObjectName(QStringLiteral("idleTitleLabel"));
    title->setFont(UiParts::scaledFont(TextStyle::headline, 1.15));
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);

    // The promise is at most maximumTextWidth wide, centered however wide the window is.
    auto *promiseRow = new QHBoxLayout;
    auto *promise =
        new WrappingLabel(QStringLiteral("El procesamiento ocurre en tu equipo. El enlace y el contenido no "
                                         "pasan por servidores de Torvel Downloader."),
                          this);
    promise->setObjectName(QStringLiteral("idlePromiseLabel"));
    promise->setFont(TorvelTheme::font(TextStyle::callout));
    promise->setAlignment(Qt::AlignHCenter);
    promise->setMaximumWidth(maximumTextWidth);
    SecondaryText::apply(promise);
    promiseRow->addStretch();
    promiseRow->addWidget(promise, 1);
    promiseRow->addStretch();
    layout->addLayout(promiseRow);
}
