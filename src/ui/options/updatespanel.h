#pragma once

#include "model/appmodel.h"
#include "ui/components/tintedpanel.h"

#include <utility>

class ActivityIndicator;
class LabeledIcon;
class QLabel;
class QPushButton;
class QVBoxLayout;
class UpdateActivityPanel;

// The version check and the running operation: one line per checked tool with its installed
// and latest version, the cancel button while an operation runs, its live activity and its
// final message.
class UpdatesPanel : public TintedPanel {
    Q_OBJECT

public:
    explicit UpdatesPanel(AppModel &model, QWidget *parent = nullptr);

    // The icon name and color that stand for an outcome.
    static std::pair<QString, QColor> outcomeIcon(AppModel::ToolUpdateOutcome outcome);

private:
    void refreshHeader();
    void refreshStatuses();
    void refreshOperation();
    QWidget *statusLine(const ToolUpdateStatus &status);

    AppModel &m_model;
    ActivityIndicator *m_spinner = nullptr;
    QPushButton *m_check = nullptr;
    QLabel *m_empty = nullptr;
    QLabel *m_lastCheck = nullptr;
    QWidget *m_statusList = nullptr;
    QVBoxLayout *m_statusLayout = nullptr;
    QLabel *m_separately = nullptr;
    QWidget *m_running = nullptr;
    UpdateActivityPanel *m_activity = nullptr;
    LabeledIcon *m_message = nullptr;
};
