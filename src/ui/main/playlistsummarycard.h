#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class IconLabel;
class QLabel;
class QPushButton;
class SelectableText;

// How a list's run ended: how many videos were saved, which failed and why, and a way to see
// the list's folder.
class PlaylistSummaryCard : public TorvelCard {
    Q_OBJECT

public:
    // Failures listed one by one; beyond them only a count.
    static constexpr qsizetype listedFailures = 50;

    explicit PlaylistSummaryCard(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    IconLabel *m_icon;
    QLabel *m_summary;
    QLabel *m_cancelled;
    SelectableText *m_failures;
    QPushButton *m_reveal;
};
