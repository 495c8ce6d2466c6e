#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class LabeledIcon;
class QLabel;
class QListView;
class WrappingLabel;

// The analyzed list: its title, how many videos it has and whose it is, and its entries, each
// with a check box, in a view that scrolls on its own.
class PlaylistCard : public TorvelCard {
    Q_OBJECT

public:
    // The entries view's height when the list is longer than that.
    static constexpr int entriesHeight = 360;

    explicit PlaylistCard(AppModel &model, QWidget *parent = nullptr);

    QListView *entriesView() const { return m_entries; }

private:
    void refresh();

    AppModel &m_model;
    WrappingLabel *m_title;
    LabeledIcon *m_count;
    LabeledIcon *m_uploader;
    QListView *m_entries;
    QWidget *m_frame;
    QLabel *m_omitted;
};
