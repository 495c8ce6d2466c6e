#include "backgroundtray.h"

#include "common/plural.h"
#include "common/torvelerror.h"
#include "model/downloadqueue.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

BackgroundTray::BackgroundTray(DownloadQueue &queue, QObject *parent)
    : QObject(parent), m_queue(queue), m_menu(std::make_unique<QMenu>()) {
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    QAction *show = m_menu->addAction(QStringLiteral("Mostrar"));
    show->setObjectName(QStringLiteral("trayShowAction"));
    connect(show, &QAction::triggered, this, &BackgroundTray::showRequested);
    m_pauseAll = m_menu->addAction(QStringLiteral("Pausar todo"));
    m_pauseAll->setObjectName(QStringLiteral("trayPauseAllAction"));
    connect(m_pauseAll, &QAction::triggered, this, [this] { m_queue.pauseAll(); });
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("Salir"));
    quit->setObjectName(QStringLiteral("trayQuitAction"));
    connect(quit, &QAction::triggered, this, &BackgroundTray::quitRequested);

    m_icon = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_icon->setObjectName(QStringLiteral("trayIcon"));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT showRequested();
    });

    // Progress arrives many times a second: the tooltip follows at most twice a second.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(500);
    connect(&m_refresh, &QTimer::timeout, this, &BackgroundTray::refresh);
    QueueRunner &runner = m_queue.runner();
    connect(&runner, &QueueRunner::itemProgress, this, [this](qint64 id, const DownloadProgress &progress) {
        m_progress.insert(id, progress.fraction);
        scheduleRefresh();
    });
    connect(&runner, &QueueRunner::itemStarted, this, &BackgroundTray::scheduleRefresh);
    connect(&runner, &QueueRunner::itemFinished, this, [this](qint64 id) {
        m_progress.remove(id);
        scheduleRefresh();
    });
    connect(&m_queue.store(), &QueueStore::itemsChanged, this, &BackgroundTray::scheduleRefresh);
}

BackgroundTray::~BackgroundTray() {
    // The icon goes before the menu it shows.
    delete m_icon;
}

bool BackgroundTray::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void BackgroundTray::setActive(bool active) {
    m_active = active;
    if (active)
        refresh();
    else
        m_refresh.stop();
    m_icon->setVisible(active && isAvailable());
}

void BackgroundTray::scheduleRefresh() {
    if (m_active && !m_refresh.isActive())
        m_refresh.start();
}

QString BackgroundTray::toolTip() const {
    QHash<QueueState, int> counts;
    try {
        counts = m_queue.store().counts();
    } catch (const TorvelError &) {
        return QStringLiteral("Torvel Downloader");
    }
    QStringList parts;
    const QList<qint64> running = m_queue.runner().runningItems();
    if (!running.isEmpty()) {
        double sum = 0;
        for (const qint64 id : running)
            sum += m_progress.value(id);
        parts.append(QStringLiteral("%1 (%2 %)")
                         .arg(countedText(running.size(), QStringLiteral("descargando"), QStringLiteral("descargando")))
                         .arg(int(100 * sum / double(running.size()))));
    }
    if (const int waiting = counts.value(QueueState::waiting))
        parts.append(countedText(waiting, QStringLiteral("en espera"), QStringLiteral("en espera")));
    if (const int paused = counts.value(QueueState::paused))
        parts.append(countedText(paused, QStringLiteral("en pausa"), QStringLiteral("en pausa")));
    if (parts.isEmpty())
        parts.append(QStringLiteral("Nada pendiente en la cola"));
    return QStringLiteral("Torvel Downloader\n") + parts.join(QStringLiteral(" · "));
}

void BackgroundTray::refresh() {
    m_icon->setToolTip(toolTip());
    m_pauseAll->setEnabled(m_queue.hasPendingWork());
}
