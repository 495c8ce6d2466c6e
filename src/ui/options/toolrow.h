#pragma once

#include "model/appmodel.h"
#include "ui/components/torvelcard.h"

class ElidedPathField;
class IconLabel;
class ProminentButton;
class QLabel;
class QPushButton;
class TintedPanel;

// One tool on the tools page: its state mark and text, where the located copy lives, its
// version and how it was installed, and the buttons that propose an operation on it. Buttons
// only record the proposal in the model; the options window asks for confirmation.
class ToolRow : public TorvelCard {
    Q_OBJECT

public:
    ToolRow(AppModel &model, ToolKind tool, const QString &description, QWidget *parent = nullptr);

    // "Actualizado", "Actualización disponible", "Sin comprobar" or "No instalado".
    static QString stateText(ToolIndicatorState state);

private:
    void refresh();

    AppModel &m_model;
    ToolKind m_tool;
    TintedPanel *m_markBox = nullptr;
    IconLabel *m_mark = nullptr;
    QLabel *m_state = nullptr;
    QWidget *m_details = nullptr;
    ElidedPathField *m_path = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_uncheckedReason = nullptr;
    ProminentButton *m_update = nullptr;
    ProminentButton *m_install = nullptr;
    QPushButton *m_precompiled = nullptr;
    QPushButton *m_uninstall = nullptr;
    QLabel *m_keep = nullptr;
    QPushButton *m_select = nullptr;
    QPushButton *m_rollBack = nullptr; // back to the copy the last managed install replaced
};
