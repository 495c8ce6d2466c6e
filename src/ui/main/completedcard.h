#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class ElidedLabel;

// The finished download: its file name and a way to see it in its folder.
class CompletedCard : public TorvelCard {
    Q_OBJECT

public:
    explicit CompletedCard(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    ElidedLabel *m_fileName;
};
