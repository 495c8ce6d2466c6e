#pragma once

#include "model/appmodel.h"

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;
class WrappingLabel;

// Asks the user to confirm the tool operation the model proposes (pendingToolAction). Whichever
// button is pressed, the proposal is cleared before any operation starts, so a second press
// cannot repeat it; closing the dialog declines it.
class ToolActionDialog : public QDialog {
    Q_OBJECT

public:
    using Action = AppModel::PendingToolAction;

    ToolActionDialog(AppModel &model, QWidget *parent = nullptr);

    // Shows the model's current proposal.
    void refresh();

    static QString title(const std::optional<Action> &action);
    static QString buttonTitle(const AppModel &model, const std::optional<Action> &action);
    static QString message(const AppModel &model, const std::optional<Action> &action);

    void reject() override;

private:
    void performPendingAction();
    void installInstead();

    AppModel &m_model;
    QLabel *m_title = nullptr;
    WrappingLabel *m_message = nullptr;
    QPushButton *m_recommended = nullptr;
    QPushButton *m_confirm = nullptr;
};
