#include "downloadattention.h"

#include "model/appmodel.h"
#include "platform/desktopnotifications.h"
#include "platform/launcherentry.h"

#include <QFileInfo>

DownloadAttention::DownloadAttention(AppModel &model, DesktopNotifications &notifications, LauncherEntry &launcher,
                                     std::function<bool()> windowIsActive, QObject *parent)
    : QObject(parent), m_model(model), m_notifications(notifications), m_launcher(launcher),
      m_windowIsActive(std::move(windowIsActive)) {
    connect(&m_model, &AppModel::downloadFinished, this, &DownloadAttention::announce);
    connect(&m_model, &AppModel::phaseChanged, this, &DownloadAttention::scheduleProgress);
    connect(&m_model, &AppModel::progressChanged, this, &DownloadAttention::scheduleProgress);
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

void DownloadAttention::showProgress() {
    m_progressScheduled = false;
    if (m_model.phase() == AppModel::Phase::downloading)
        m_launcher.setProgress(m_model.progress().fraction);
    else
        m_launcher.setProgress(std::nullopt);
}
