#pragma once

#include "ui/components/torvelcard.h"

class QLabel;

// Shown above everything while the application installs its own update: an activity indicator,
// the title and the current stage.
class ApplicationUpdateBanner : public TorvelCard {
    Q_OBJECT

public:
    explicit ApplicationUpdateBanner(QWidget *parent = nullptr);

    void setStage(const QString &stage);
    QString stage() const;

private:
    QLabel *m_stage;
};
