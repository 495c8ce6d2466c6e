#pragma once

#include <QList>
#include <QWidget>

class AppModel;
class AudioPairingView;
class ExactFormatCard;
class QToolButton;

// The collapsible list of every individual format, as a grid of cards, and the audio pairing
// for a video-only pick. The cards are made when the section is first opened after an analysis,
// and never again until the next one: selecting only moves the marks.
class AdvancedFormatsView : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumColumnWidth = 250;
    static constexpr int gridSpacing = 12;

    explicit AdvancedFormatsView(AppModel &model, QWidget *parent = nullptr);

    bool isExpanded() const;
    void setExpanded(bool expanded);
    const QList<ExactFormatCard *> &cards() const { return m_cards; }
    AudioPairingView *pairingView() const { return m_pairing; }

private:
    void refreshFormats();
    void refreshSelection();
    void ensureGrid();

    AppModel &m_model;
    QToolButton *m_toggle;
    QWidget *m_content;
    QWidget *m_grid = nullptr;
    AudioPairingView *m_pairing;
    bool m_expanded = false;
    bool m_gridStale = true;
    QList<ExactFormatCard *> m_cards;
    QStringList m_cardChoiceIDs;
};
