#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class LabeledIcon;
class ThumbnailView;
class WrappingLabel;

// The analyzed media: thumbnail, title, and uploader, duration and number of formats.
class MediaCard : public TorvelCard {
    Q_OBJECT

public:
    explicit MediaCard(AppModel &model, QWidget *parent = nullptr);

    ThumbnailView *thumbnail() const { return m_thumbnail; }

private:
    void refresh();

    AppModel &m_model;
    ThumbnailView *m_thumbnail;
    WrappingLabel *m_title;
    LabeledIcon *m_uploader;
    LabeledIcon *m_duration;
    LabeledIcon *m_formatCount;
};
