#include "playlistconfigurationview.h"

#include "ui/main/advancedformatsview.h"
#include "ui/main/choicecard.h"
#include "ui/main/playlistcard.h"

#include <QVBoxLayout>

PlaylistConfigurationView::PlaylistConfigurationView(AppModel &model, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("playlistConfigurationView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(22);
    m_playlist = new PlaylistCard(model, this);
    layout->addWidget(m_playlist);
    m_choices = new ChoiceCard(model, this);
    m_choices->setObjectName(QStringLiteral("playlistChoiceCard"));
    m_choices->advancedFormats()->hide();
    layout->addWidget(m_choices);
}

void PlaylistConfigurationView::setCompact(bool compact) {
    m_choices->setVisible(!compact);
}
