#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>

class DownloadQueue;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The icon in the desktop's tray while the window is closed and the queue goes on: its tooltip
// tells the queue's progress, clicking it shows the window, and its menu offers "Mostrar",
// "Pausar todo" and "Salir". Where the desktop shows no tray, nothing is shown at all.
class BackgroundTray : public QObject {
    Q_OBJECT

public:
    // The queue must outlive the tray.
    explicit BackgroundTray(DownloadQueue &queue, QObject *parent = nullptr);
    ~BackgroundTray() override;

    // Whether the desktop shows a tray.
    static bool isAvailable();

    // While active the tooltip follows the queue and the icon is shown, where a tray exists.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    QSystemTrayIcon *icon() const { return m_icon; }
    QMenu *menu() const { return m_menu.get(); }
    QString toolTip() const;

Q_SIGNALS:
    void showRequested();
    void quitRequested();

private:
    void scheduleRefresh();
    void refresh();

    DownloadQueue &m_queue;
    std::unique_ptr<QMenu> m_menu; // a menu without a parent widget
    QSystemTrayIcon *m_icon = nullptr;
    QAction *m_pauseAll = nullptr;
    // The running items' fractions, as their progress arrives.
    QHash<qint64, double> m_progress;
    QTimer m_refresh;
    bool m_active = false;
};
