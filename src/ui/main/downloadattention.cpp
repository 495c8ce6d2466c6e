#include "downloadattention.h"

#include "model/appmodel.h"
#include "platform/desktopnotifications.h"
#include "platform/launcherentry.h"

#include "common/torvelerror.h"

#include <QFileInfo>

DownloadAttention::DownloadAttention(AppModel &model, DesktopNotifications &notifications, LauncherEntry &launcher,
                                     std::function<bool()> windowIsActive, QObject *parent)
    : QObject(parent), m_model(model), m_notifications(notifications), m_launcher(launcher),
      m_windowIsActive(std::move(windowIsActive)) {
    connect(&m_model, &AppModel::downloadFinished, this, &DownloadAttention::announce);
    connect(&m_model, &AppModel::phaseChanged, this, &DownloadAttention::scheduleProgress);
    connect(&m_model, &AppModel::progressChanged, this, &DownloadAttention::scheduleProgress);
    connect(&m_model.queue().runner(), &QueueRunner::itemFinished, this, &DownloadAttention::announceQueueItem);
}

void DownloadAttention::setInBackground(bool inBackground) {
    m_inBackground = inBackground;
    m_endedInBackground = 0;
    m_completedInBackground = 0;
}

// A download that starts changes its phase before it resets its progress: the launcher hears
// once per event-loop turn, after the model has settled.
void DownloadAttention::scheduleProgress() {
    if (m_progressScheduled)
        return;
    m_progressScheduled = true;
    QMetaObject::invokeMethod(this, &DownloadAttention::showProgress, Qt::QueuedConnection);
}

void DownloadAttention::announce(const FinishedDownload &finished) {
    if (!m_model.settings().notifyWhenFinished() || m_windowIsActive())
        return;
    DesktopServices &desktop = m_model.desktop();
    QList<DesktopNotifications::Action> actions{
        {QStringLiteral("default"), QStringLiteral("Abrir"), [&desktop] { desktop.activateApplication(); }}};
    if (finished.result == FinishedDownload::Result::completed) {
        const QString path = finished.path;
        actions.append({QStringLiteral("reveal"), QStringLiteral("Mostrar en carpeta"),
                        [&desktop, path] { desktop.revealFile(path, DesktopServices::Reveal::asked); }});
        m_notifications.show(QStringLiteral("Descarga completada"), QFileInfo(path).fileName(), actions);
    } else {
        m_notifications.show(QStringLiteral("La descarga falló"), finished.message.section(QLatin1Char('\n'), 0, 0),
                             actions);
    }
}

void DownloadAttention::announceQueueItem(qint64 id, QueueState state) {
    if (!m_inBackground || (state != QueueState::completed && state != QueueState::failed))
        return;
    ++m_endedInBackground;
    if (state == QueueState::completed)
        ++m_completedInBackground;
    const bool notify = m_model.settings().notifyWhenFinished();
    DesktopServices &desktop = m_model.desktop();
    const DesktopNotifications::Action open{QStringLiteral("default"), QStringLiteral("Abrir"),
                                            [&desktop] { desktop.activateApplication(); }};
    if (notify) {
        std::optional<QueueItem> item;
        try {
            item = m_model.queue().store().item(id);
        } catch (const TorvelError &) {
            // Told without its details.
        }
        if (state == QueueState::completed && item) {
            const QString path = item->path;
            m_notifications.show(QStringLiteral("Descarga completada"), QFileInfo(path).fileName(),
                                 {open,
                                  {QStringLiteral("reveal"), QStringLiteral("Mostrar en carpeta"),
                                   [&desktop, path] { desktop.revealFile(path, DesktopServices::Reveal::asked); }}});
        } else if (state == QueueState::completed) {
            m_notifications.show(QStringLiteral("Descarga completada"), QString(), {open});
        } else {
            QString body;
            if (item)
                body = (item->title.isEmpty() ? item->url : item->title) + QLatin1Char('\n') +
                       item->error.section(QLatin1Char('\n'), 0, 0);
            m_notifications.show(QStringLiteral("La descarga falló"), body, {open});
        }
    }
    if (m_model.queue().hasPendingWork())
        return;
    // The queue is done: one notification sums it up, and the next round counts afresh.
    if (notify) {
        const int failed = m_endedInBackground - m_completedInBackground;
        m_notifications.show(
            QStringLiteral("Se descargaron %1 de %2").arg(m_completedInBackground).arg(m_endedInBackground),
            failed == 0 ? QStringLiteral("La cola ha terminado.")
                        : QStringLiteral("La cola ha terminado; %1.")
                              .arg(failed == 1 ? QStringLiteral("1 descarga falló")
                                               : QStringLiteral("%1 descargas fallaron").arg(failed)),
            {open});
    }
    m_endedInBackground = 0;
    m_completedInBackground = 0;
}

void DownloadAttention::showProgress() {
    m_progressScheduled = false;
    if (m_model.phase() == AppModel::Phase::downloading)
        m_launcher.setProgress(m_model.progress().fraction);
    else
        m_launcher.setProgress(std::nullopt);
}
