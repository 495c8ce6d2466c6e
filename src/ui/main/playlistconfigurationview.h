#pragma once

#include <QWidget>

class AppModel;
class ChoiceCard;
class DestinationCard;
class PlaylistCard;

// The ready state of a list: its card with the entries to choose, the three standard ways (exact
// formats belong to one item) and the destination, whose button names how many videos start.
class PlaylistConfigurationView : public QWidget {
    Q_OBJECT

public:
    explicit PlaylistConfigurationView(AppModel &model, QWidget *parent = nullptr);

    PlaylistCard *playlistCard() const { return m_playlist; }
    // Only the list's card, after a run.
    void setCompact(bool compact);

private:
    void refresh();

    AppModel &m_model;
    PlaylistCard *m_playlist;
    ChoiceCard *m_choices;
    DestinationCard *m_destination;
};
