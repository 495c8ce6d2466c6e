#pragma once

#include "ui/components/primarybutton.h"

#include <QTimer>

class AppModel;

// Starts the analysis of the address in the field. While one runs it spins and reads
// "Analizando"; it is off for a blank field and while the model is busy.
class AnalyzeButton : public PrimaryButton {
    Q_OBJECT

public:
    explicit AnalyzeButton(AppModel &model, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

private:
    void refresh();

    AppModel &m_model;
    QTimer m_spin;
};
