#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class QLabel;
class QProgressBar;
class LogView;
class QPushButton;
class WrappingLabel;

// The running download: what is happening, for which media, how far, how fast, how long, and a
// way to stop it. Each progress change only sets texts and the bar; nothing is rebuilt. "Registro"
// shows the download's live log: the yt-dlp command as it runs and what it prints.
class DownloadingCard : public TorvelCard {
    Q_OBJECT

public:
    explicit DownloadingCard(AppModel &model, QWidget *parent = nullptr);

private:
    void refreshProgress();
    void refreshTitle();
    void refreshLog();

    AppModel &m_model;
    WrappingLabel *m_phase;
    WrappingLabel *m_title;
    QLabel *m_percent;
    QProgressBar *m_bar;
    WrappingLabel *m_status;
    QLabel *m_speed;
    QLabel *m_eta;
    QPushButton *m_cancel;
    QPushButton *m_showLog;
    LogView *m_log;
};
