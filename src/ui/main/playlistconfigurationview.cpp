#include "playlistconfigurationview.h"

#include "model/appmodel.h"
#include "ui/components/primarybutton.h"
#include "ui/main/advancedformatsview.h"
#include "ui/main/choicecard.h"
#include "ui/main/destinationcard.h"
#include "ui/main/playlistcard.h"

#include <QVBoxLayout>

PlaylistConfigurationView::PlaylistConfigurationView(AppModel &model, QWidget *parent)
    : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("playlistConfigurationView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(22);
    m_playlist = new PlaylistCard(m_model, this);
    layout->addWidget(m_playlist);
    m_choices = new ChoiceCard(m_model, this);
    m_choices->setObjectName(QStringLiteral("playlistChoiceCard"));
    m_choices->advancedFormats()->hide();
    layout->addWidget(m_choices);
    m_destination = new DestinationCard(m_model, this);
    m_destination->setObjectName(QStringLiteral("playlistDestinationCard"));
    m_destination->downloadButton()->setObjectName(QStringLiteral("downloadPlaylistButton"));
    layout->addWidget(m_destination);

    connect(&m_model, &AppModel::playlistCheckedChanged, this, &PlaylistConfigurationView::refresh);
    refresh();
}

void PlaylistConfigurationView::setCompact(bool compact) {
    m_choices->setVisible(!compact);
    m_destination->setVisible(!compact);
}

void PlaylistConfigurationView::refresh() {
    const qsizetype checked = m_model.checkedPlaylistEntryCount();
    PrimaryButton *download = m_destination->downloadButton();
    download->setText(checked == 1 ? QStringLiteral("Descargar 1 video")
                                   : QStringLiteral("Descargar %1 videos").arg(checked));
    download->setEnabled(checked > 0);
}
