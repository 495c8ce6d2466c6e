#pragma once

#include <QWidget>

class AppModel;
class ChoiceCard;
class MediaCard;

// The analyzed media and, unless a download has just finished, the choices (the destination
// with "Descargar" stays in view below the scrolling content, see ContentView). Compact below
// the completion and error cards; after a completed download only the media remains, after a
// failure the choices stay so the download can be tried again.
class DownloadConfigurationView : public QWidget {
    Q_OBJECT

public:
    explicit DownloadConfigurationView(AppModel &model, QWidget *parent = nullptr);

    bool isCompact() const { return m_compact; }
    void setCompact(bool compact);

    MediaCard *mediaCard() const { return m_media; }
    ChoiceCard *choiceCard() const { return m_choices; }

private:
    void refresh();

    AppModel &m_model;
    bool m_compact = false;
    MediaCard *m_media;
    ChoiceCard *m_choices;
};
