#pragma once

#include <QFrame>

class AppModel;
class QLabel;
class QMenu;
class QPushButton;
class WrappingLabel;

// For a chosen format that has video but no audio: which audio track, if any, yt-dlp should merge
// into it, picked from a menu of the audio-only formats.
class AudioPairingView : public QFrame {
    Q_OBJECT

public:
    explicit AudioPairingView(AppModel &model, QWidget *parent = nullptr);

    QMenu *menu() const { return m_menu; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void rebuildMenu();

    AppModel &m_model;
    QLabel *m_videoCaption;
    WrappingLabel *m_current;
    QPushButton *m_menuButton;
    QMenu *m_menu;
    WrappingLabel *m_footer;
};
