#pragma once

#include <QWidget>

class AppModel;
class CompletedCard;
class DownloadConfigurationView;
class DownloadingCard;
class ErrorCard;
class IdleView;
class PlaylistConfigurationView;
class PlaylistSummaryCard;
class WorkingCard;

// The part of the window that follows the workflow's phase. Every view is made once; a phase
// change only shows and hides them, so nothing is rebuilt while a download runs.
class PhaseView : public QWidget {
    Q_OBJECT

public:
    explicit PhaseView(AppModel &model, QWidget *parent = nullptr);

    DownloadConfigurationView *configuration() const { return m_configuration; }
    PlaylistConfigurationView *playlistConfiguration() const { return m_playlist; }

Q_SIGNALS:
    void openOptionsRequested();

private:
    void refresh();

    AppModel &m_model;
    IdleView *m_idle;
    WorkingCard *m_working;
    DownloadingCard *m_downloading;
    CompletedCard *m_completed;
    ErrorCard *m_error;
    DownloadConfigurationView *m_configuration;
    PlaylistSummaryCard *m_playlistSummary;
    PlaylistConfigurationView *m_playlist;
};
