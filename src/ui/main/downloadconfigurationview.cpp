#include "downloadconfigurationview.h"

#include "model/appmodel.h"
#include "ui/main/choicecard.h"
#include "ui/main/mediacard.h"

#include <QVBoxLayout>

DownloadConfigurationView::DownloadConfigurationView(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("downloadConfigurationView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(22);
    m_media = new MediaCard(m_model, this);
    layout->addWidget(m_media);
    m_choices = new ChoiceCard(m_model, this);
    layout->addWidget(m_choices);

    connect(&m_model, &AppModel::phaseChanged, this, &DownloadConfigurationView::refresh);
    refresh();
}

void DownloadConfigurationView::setCompact(bool compact) {
    if (compact == m_compact)
        return;
    m_compact = compact;
    refresh();
}

void DownloadConfigurationView::refresh() {
    const bool onlyMedia = m_compact && m_model.phase() == AppModel::Phase::completed;
    m_choices->setVisible(!onlyMedia);
}
