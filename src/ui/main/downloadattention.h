#pragma once

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
class DownloadAttention : public QObject {
    Q_OBJECT

public:
    // Everything must outlive this object.
    DownloadAttention(AppModel &model, DesktopNotifications &notifications, LauncherEntry &launcher,
                      std::function<bool()> windowIsActive, QObject *parent = nullptr);

private:
    void announce(const FinishedDownload &finished);
    void scheduleProgress();
    void showProgress();

    AppModel &m_model;
    DesktopNotifications &m_notifications;
    LauncherEntry &m_launcher;
    std::function<bool()> m_windowIsActive;
    bool m_progressScheduled = false;
};
