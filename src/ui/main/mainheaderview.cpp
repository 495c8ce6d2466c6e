#include "mainheaderview.h"

#include "model/appmodel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/torvellogo.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

MainHeaderView::MainHeaderView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("mainHeader"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    layout->addWidget(new TorvelLogo(TorvelLogo::defaultSize, this));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    QLabel *title = UiParts::label(QStringLiteral("Torvel Downloader"), TextStyle::body, this,
                                   QStringLiteral("headerTitleLabel"), QFont::Bold);
    title->setFont(UiParts::scaledFont(TextStyle::body, 1.55, QFont::Bold));
    texts->addWidget(title);
    auto *subtitle = new WrappingLabel(QStringLiteral("Descargas locales con tus propias herramientas"), this);
    subtitle->setObjectName(QStringLiteral("headerSubtitleLabel"));
    subtitle->setFont(TorvelTheme::font(TextStyle::callout));
    SecondaryText::apply(subtitle);
    texts->addWidget(subtitle);
    layout->addLayout(texts, 1);

    m_newDownload = UiParts::borderedButton(QStringLiteral("Nueva descarga"), QStringLiteral("plus"), this,
                                            QStringLiteral("newDownloadButton"));
    layout->addWidget(m_newDownload, 0, Qt::AlignVCenter);
    connect(m_newDownload, &QPushButton::clicked, this, [this] { m_model.reset(); });

    connect(&m_model, &AppModel::phaseChanged, this, &MainHeaderView::refresh);
    refresh();
}

void MainHeaderView::refresh() {
    using Phase = AppModel::Phase;
    const Phase phase = m_model.phase();
    m_newDownload->setVisible(phase != Phase::idle && phase != Phase::downloading);
}
