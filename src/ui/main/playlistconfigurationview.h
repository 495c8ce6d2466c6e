#pragma once

#include <QWidget>

class AppModel;
class ChoiceCard;
class PlaylistCard;

// The ready state of a list: its card with the entries to choose and the three standard ways
// (exact formats belong to one item). The destination below names how many videos start.
class PlaylistConfigurationView : public QWidget {
    Q_OBJECT

public:
    explicit PlaylistConfigurationView(AppModel &model, QWidget *parent = nullptr);

    PlaylistCard *playlistCard() const { return m_playlist; }
    // Only the list's card, after a run.
    void setCompact(bool compact);

private:
    PlaylistCard *m_playlist;
    ChoiceCard *m_choices;
};
