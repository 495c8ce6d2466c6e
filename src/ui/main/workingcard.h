#pragma once

#include "ui/components/torvelcard.h"

// Shown while yt-dlp reads the page.
class WorkingCard : public TorvelCard {
    Q_OBJECT

public:
    explicit WorkingCard(QWidget *parent = nullptr);
};
