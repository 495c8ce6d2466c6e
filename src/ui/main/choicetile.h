#pragma once

#include "media/downloadchoice.h"
#include "ui/components/tilebutton.h"

class IconLabel;
class WrappingLabel;

// One of the standard ways to download: its icon, a check mark or an empty circle, its title,
// what it does and, when there is one, a note on what it will do for this page.
class ChoiceTile : public TileButton {
    Q_OBJECT

public:
    static constexpr int minimumTileHeight = 122;

    explicit ChoiceTile(QWidget *parent = nullptr);

    QString choiceID() const { return m_choiceID; }
    void setChoice(const DownloadChoice &choice);
    // Shown under the description; hidden when empty.
    void setNote(const QString &note);

protected:
    void selectionChanged() override;

private:
    QString m_choiceID;
    IconLabel *m_icon;
    IconLabel *m_check;
    WrappingLabel *m_title;
    WrappingLabel *m_subtitle;
    WrappingLabel *m_note;
};
