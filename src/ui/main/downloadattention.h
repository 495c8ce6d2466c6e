#pragma once

#include "queue/queueitem.h"

#include <QObject>

#include <functional>

class AppModel;
class DesktopNotifications;
class LauncherEntry;
struct FinishedDownload;

// Tells the desktop about downloads while the user looks elsewhere: the overall fraction on the
// launcher while a download runs, and a notification when one ends while the main window is not
// the active window (unless the setting says no). Clicking the notification shows the window;
// "Mostrar en carpeta" reveals the finished file.
//
// While the window is in the background (hidden, the queue going on) each item of the queue
// that completes or fails is told the same way, and when nothing runs or waits any more one
// notification sums up: "Se descargaron X de N".
class DownloadAttention : public QObject {
    Q_OBJECT

public:
    // Everything must outlive this object.
    DownloadAttention(AppModel &model, DesktopNotifications &notifications, LauncherEntry &launcher,
                      std::function<bool()> windowIsActive, QObject *parent = nullptr);

    // The window went to the background or came back (MainWindow::backgroundChanged).
    void setInBackground(bool inBackground);

private:
    void announce(const FinishedDownload &finished);
    void announceQueueItem(qint64 id, QueueState state);
    void scheduleProgress();
    void showProgress();

    AppModel &m_model;
    DesktopNotifications &m_notifications;
    LauncherEntry &m_launcher;
    std::function<bool()> m_windowIsActive;
    bool m_progressScheduled = false;
    bool m_inBackground = false;
    // The queue's items that ended while in the background, and how many of them completed.
    int m_endedInBackground = 0;
    int m_completedInBackground = 0;
};
