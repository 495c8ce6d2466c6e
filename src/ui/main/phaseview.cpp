#include "phaseview.h"

#include "model/appmodel.h"
#include "ui/main/completedcard.h"
#include "ui/main/downloadconfigurationview.h"
#include "ui/main/downloadingcard.h"
#include "ui/main/errorcard.h"
#include "ui/main/idleview.h"
#include "ui/main/playlistconfigurationview.h"
#include "ui/main/playlistsummarycard.h"
#include "ui/main/workingcard.h"

#include <QVBoxLayout>

PhaseView::PhaseView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("phaseView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(22);
    m_idle = new IdleView(this);
    m_working = new WorkingCard(this);
    m_downloading = new DownloadingCard(m_model, this);
    m_completed = new CompletedCard(m_model, this);
    m_error = new ErrorCard(m_model, this);
    connect(m_error, &ErrorCard::openOptionsRequested, this, &PhaseView::openOptionsRequested);
    m_configuration = new DownloadConfigurationView(m_model, this);
    m_playlistSummary = new PlaylistSummaryCard(m_model, this);
    m_playlist = new PlaylistConfigurationView(m_model, this);
    for (QWidget *view :
         {static_cast<QWidget *>(m_idle), static_cast<QWidget *>(m_working), static_cast<QWidget *>(m_downloading),
          static_cast<QWidget *>(m_completed), static_cast<QWidget *>(m_playlistSummary),
          static_cast<QWidget *>(m_error), static_cast<QWidget *>(m_configuration), static_cast<QWidget *>(m_playlist)})
        layout->addWidget(view);

    connect(&m_model, &AppModel::phaseChanged, this, &PhaseView::refresh);
    connect(&m_model, &AppModel::mediaInfoChanged, this, &PhaseView::refresh);
    connect(&m_model, &AppModel::errorMessageChanged, this, &PhaseView::refresh);
    connect(&m_model, &AppModel::playlistChanged, this, &PhaseView::refresh);
    connect(&m_model, &AppModel::playlistOutcomeChanged, this, &PhaseView::refresh);
    refresh();
}

void PhaseView::refresh() {
    using Phase = AppModel::Phase;
    const Phase phase = m_model.phase();
    const bool hasMedia = m_model.mediaInfo().has_value();
    m_idle->setVisible(phase == Phase::idle);
    m_working->setVisible(phase == Phase::analyzing);
    m_downloading->setVisible(phase == Phase::downloading);
    // A list's run ends with its summary instead of one file.
    const bool listSummary = m_model.playlistOutcome().has_value();
    m_completed->setVisible(phase == Phase::completed && !listSummary);
    m_playlistSummary->setVisible(phase == Phase::completed && listSummary);
    // A link refused during an analysis or a download is shown below its card.
    const bool busy = phase == Phase::analyzing || phase == Phase::downloading;
    m_error->setVisible(phase == Phase::failed || (busy && !m_model.errorMessage().isEmpty()));
    m_configuration->setCompact(phase == Phase::completed || phase == Phase::failed);
    m_configuration->setVisible(hasMedia &&
                                (phase == Phase::ready || phase == Phase::completed || phase == Phase::failed));
    m_playlist->setCompact(phase == Phase::completed);
    m_playlist->setVisible(m_model.playlist().has_value() &&
                           (phase == Phase::ready || phase == Phase::completed || phase == Phase::failed));
}
