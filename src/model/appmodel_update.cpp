// The self-update side of AppModel: the manifest check and the installation.
#include "appmodel.h"

#include "update/appupdateerror.h"

#include <QPointer>
#include <QThread>

const std::optional<AppUpdateAlert> &AppModel::appUpdateAlert() const {
    return m_appUpdateAlert;
}

void AppModel::setAppUpdateAlert(const std::optional<AppUpdateAlert> &alert) {
    if (m_appUpdateAlert == alert)
        return;
    m_appUpdateAlert = alert;
    Q_EMIT appUpdateAlertChanged();
}

void AppModel::dismissAppUpdateAlert() {
    setAppUpdateAlert(std::nullopt);
}

void AppModel::setApplicationUpdateState(bool checking, bool installing, const QString &stage) {
    if (m_isCheckingApplicationUpdate == checking && m_isInstallingApplicationUpdate == installing &&
        m_applicationUpdateStage == stage)
        return;
    m_isCheckingApplicationUpdate = checking;
    m_isInstallingApplicationUpdate = installing;
    m_applicationUpdateStage = stage;
    Q_EMIT applicationUpdateChanged();
}

qint64 AppModel::currentApplicationBuild() const {
    return m_appUpdateService.runningApplication().buildNumber();
}

QString AppModel::currentApplicationVersion() const {
    return m_appUpdateService.runningApplication().displayVersion();
}

QCoro::Task<> AppModel::checkForApplicationUpdate(bool manual) {
    if (m_isCheckingApplicationUpdate || m_isInstallingApplicationUpdate)
        co_return;
    QPointer<AppModel> self(this);
    setApplicationUpdateState(true, false, m_applicationUpdateStage);
    std::optional<AppUpdateAlert> outcome;
    try {
        const qint64 build = currentApplicationBuild();
        const std::optional<AppUpdateManifest> update = co_await m_appUpdateService.latestUpdate(build);
        if (!self)
            co_return;
        if (update)
            outcome = AppUpdateAlert::available(*update);
        else if (manual)
            outcome = AppUpdateAlert::information(QStringLiteral("Torvel Downloader ") + currentApplicationVersion() +
                                                  QStringLiteral(" es la versión más reciente."));
    } catch (const std::exception &error) {
        // An automatic check drops its error without a trace.
        if (manual)
            outcome = AppUpdateAlert::failure(describeError(error));
    }
    if (!self)
        co_return;
    if (outcome)
        setAppUpdateAlert(outcome);
    setApplicationUpdateState(false, m_isInstallingApplicationUpdate, m_applicationUpdateStage);
}

QCoro::Task<> AppModel::installApplicationUpdate(AppUpdateManifest manifest) {
    if (m_isInstallingApplicationUpdate)
        co_return;
    QPointer<AppModel> self(this);
    setApplicationUpdateState(m_isCheckingApplicationUpdate, true, QStringLiteral("Preparando la actualización…"));
    // Stages reported on this thread are shown at once, so none can arrive after the last one;
    // from another thread they travel as queued assignments that a finished installation ignores.
    const AppUpdateService::Progress progress = [self](const QString &stage) {
        const auto assign = [self, stage] {
            if (self && self->m_isInstallingApplicationUpdate)
                self->setApplicationUpdateState(self->m_isCheckingApplicationUpdate, true, stage);
        };
        if (self && QThread::currentThread() == self->thread())
            assign();
        else if (self)
            QMetaObject::invokeMethod(self, assign, Qt::QueuedConnection);
    };
    std::optional<AppUpdateService::Installer> installer;
    try {
        installer = co_await m_appUpdateService.prepareUpdate(manifest, progress);
    } catch (const std::exception &error) {
        if (!self)
            co_return;
        const auto *updateError = dynamic_cast<const AppUpdateError *>(&error);
        const bool offerPackage = updateError && updateError->kind() == AppUpdateError::Kind::unwritableInstallation;
        setApplicationUpdateState(m_isCheckingApplicationUpdate, false, QString());
        setAppUpdateAlert(AppUpdateAlert::failure(describeError(error),
                                                  offerPackage ? std::optional<QUrl>(manifest.dmgURL) : std::nullopt));
        co_return;
    }
    if (!self)
        co_return;
    // The installer waits for this process; it stays "installing" until it ends, unless the user
    // keeps it open.
    m_waitingInstaller = installer;
    setApplicationUpdateState(m_isCheckingApplicationUpdate, true, QStringLiteral("Reiniciando Torvel Downloader…"));
    Q_EMIT applicationTerminationRequested();
}

void AppModel::abandonApplicationRestart() {
    if (!m_waitingInstaller)
        return;
    AppUpdateService::abandon(*std::exchange(m_waitingInstaller, std::nullopt));
    setApplicationUpdateState(m_isCheckingApplicationUpdate, false, QString());
    setAppUpdateAlert(AppUpdateAlert::failure(QStringLiteral("La actualización se canceló porque Torvel Downloader "
                                                             "siguió abierto. Puedes volver a instalarla cuando "
                                                             "quieras desde «Buscar actualizaciones…».")));
}
