#pragma once

#include "media/mediainfo.h"
#include "ui/components/tilebutton.h"

#include <optional>

class IconLabel;

// One format of the analyzed media: what it contains and how large, fast and loud it is. The
// card shows one format for its whole life; a new analysis makes new cards.
class ExactFormatCard : public TileButton {
    Q_OBJECT

public:
    static constexpr int minimumCardHeight = 132;

    ExactFormatCard(const MediaFormat &format, std::optional<double> duration, QWidget *parent = nullptr);

    const QString &formatID() const { return m_formatID; }

protected:
    void selectionChanged() override;

private:
    QString m_formatID;
    IconLabel *m_check;
};
