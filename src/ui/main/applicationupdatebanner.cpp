#include "applicationupdatebanner.h"

#include "ui/components/activityindicator.h"
#include "ui/components/uiparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ApplicationUpdateBanner::ApplicationUpdateBanner(QWidget *parent) : TorvelCard(parent) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("applicationUpdateBanner"));
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new ActivityIndicator(16, this), 0, Qt::AlignVCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(UiParts::label(QStringLiteral("Actualizando Torvel Downloader"), TextStyle::headline, this,
                                    QStringLiteral("applicationUpdateTitleLabel"), QFont::DemiBold));
    m_stage =
        UiParts::secondaryLabel(QString(), TextStyle::caption, this, QStringLiteral("applicationUpdateStageLabel"));
    texts->addWidget(m_stage);
    row->addLayout(texts, 1);
    contentLayout()->addLayout(row);
}

void ApplicationUpdateBanner::setStage(const QString &stage) {
    m_stage->setText(stage);
}

QString ApplicationUpdateBanner::stage() const {
    return m_stage->text();
}
