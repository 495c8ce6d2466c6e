#pragma once

#include "model/appmodel.h"

#include <QWidget>

class ActivityIndicator;
class HomebrewTierWarning;
class QLabel;

// The "Herramientas" tab: the two tool rows, Homebrew's warning, the updates panel with the live
// activity, the manual installation (the distribution's command, Homebrew's where present) and
// "Volver a detectar". Everything is read from the model
// when it announces a change.
class ToolsPage : public QWidget {
    Q_OBJECT

public:
    explicit ToolsPage(AppModel &model, QWidget *parent = nullptr);

private:
    QWidget *buildManualAlternative();
    QWidget *buildDetectionRow();
    void refreshHomebrew();

    AppModel &m_model;
    QWidget *m_checkingHomebrew = nullptr;
    HomebrewTierWarning *m_tierWarning = nullptr;
    ActivityIndicator *m_detecting = nullptr;
};
