#pragma once

#include "model/appmodel.h"
#include "ui/components/tintedpanel.h"

class QPushButton;
class WrappingLabel;

// Homebrew's own warning that this machine may build every package from source, with a button
// per Homebrew tool that proposes moving it to a managed precompiled copy.
class HomebrewTierWarning : public TintedPanel {
    Q_OBJECT

public:
    explicit HomebrewTierWarning(AppModel &model, QWidget *parent = nullptr);

    void refresh();

private:
    AppModel &m_model;
    WrappingLabel *m_text = nullptr;
    QPushButton *m_migrateYTDLP = nullptr;
    QPushButton *m_migrateFFmpeg = nullptr;
};
