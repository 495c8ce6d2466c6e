#pragma once

#include "model/appsettings.h"
#include "queue/queuerunner.h"
#include "queue/queuestore.h"
#include "tools/toolinfo.h"

#include <QObject>

#include <memory>
#include <optional>

// The window's download queue: the shared store and this process's runner, kept in step with the
// settings ("Descargas simultáneas", "Fragmentos simultáneos", the proxy and speed limit, what goes
// into each file). Every action of the person that should make something run starts the runner;
// at launch it starts on its own only when "Reanudar la cola al iniciar" says so, and then the
// items that the last quit paused go on too.
class DownloadQueue : public QObject {
    Q_OBJECT

public:
    // storeFile: PlatformPaths::queueStoreFile() in production. A store that cannot be started
    // there is kept in a temporary folder for this session, and notice() says so.
    DownloadQueue(AppSettings &settings, const QString &storeFile,
                  JobFolders jobFolders = JobFolders(PlatformPaths::jobsRoot()),
                  QueueRunner::Timing timing = QueueRunner::Timing(), QObject *parent = nullptr);
    ~DownloadQueue() override;

    QueueStore &store() { return *m_store; }
    const QueueStore &store() const { return *m_store; }
    QueueRunner &runner() { return *m_runner; }
    // What became of the saved queue when it could not be opened; empty when it opened.
    const QString &notice() const { return m_notice; }

    // The located tools. The first time yt-dlp is known the queue launches (see above).
    void setTools(const std::optional<ToolInfo> &ytDLP, const std::optional<ToolInfo> &ffmpeg);
    bool hasTools() const { return !m_runner->tools().ytDLP.isEmpty(); }

    // The person's actions. A store that cannot be written is told by problemOccurred (and the
    // id is 0): the action changed nothing.
    // Queues an item to run when its turn comes; returns its id.
    qint64 enqueue(QueueItem item);
    // Queues an item and starts it at once, beyond the limit; returns its id.
    qint64 downloadNow(QueueItem item);
    void pauseAll();
    void resumeAll();
    void retryFailed();
    void pause(qint64 id);
    void resume(qint64 id);
    void retry(qint64 id);
    void cancel(qint64 id);
    void remove(qint64 id);
    void removeCompleted();

    // The application quits: the running items stop, paused, their partial data kept.
    void quit();

    // Items running or waiting: closing the window would leave work behind.
    bool hasPendingWork() const;
    // Starts the runner, when the tools are known, or has it look at the store at once: for
    // items added to the store directly.
    void startRunner();

Q_SIGNALS:
    void problemOccurred(const QString &message);

private:
    // Runs a change of the store; its failure is told, not thrown.
    template <typename Change> auto act(Change &&change) -> decltype(change());
    void applySettings();

    AppSettings &m_settings;
    QString m_notice; // before the store, which opening fills it
    std::unique_ptr<QueueStore> m_store;
    std::unique_ptr<QueueRunner> m_runner;
    bool m_launched = false;
};
