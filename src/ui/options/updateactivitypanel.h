#pragma once

#include "model/appmodel.h"
#include "ui/components/tintedpanel.h"

#include <QTimer>

class ActivityIndicator;
class IconLabel;
class LabeledIcon;
class QLabel;
class LogView;

// The live view of the current or last tool operation: its stage, how long it has been silent
// and running, the process it waits on, Homebrew's notice and the log, which always shows its
// newest line.
class UpdateActivityPanel : public TintedPanel {
    Q_OBJECT

public:
    explicit UpdateActivityPanel(AppModel &model, QWidget *parent = nullptr);

    // Whole seconds from one moment to another as "m:ss" (minutes uncapped, never negative).
    static QString elapsedText(const QDateTime &from, const QDateTime &to);
    // Redraws the silence and elapsed-time line; a timer calls it every second while shown.
    void refreshTimes();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refreshHeader();
    void refreshProcess();
    void refreshNotice();
    void refreshLog();

    AppModel &m_model;
    ActivityIndicator *m_spinner = nullptr;
    IconLabel *m_outcomeIcon = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_silence = nullptr;
    QLabel *m_elapsed = nullptr;
    LabeledIcon *m_process = nullptr;
    LabeledIcon *m_notice = nullptr;
    LogView *m_log = nullptr;
    QTimer m_clock;
};
