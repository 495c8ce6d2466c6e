#include "downloadqueue.h"

#include "common/torvelerror.h"

#include <QCoreApplication>
#include <QDir>

namespace {

std::unique_ptr<QueueStore> openStore(const QString &file, QString &notice) {
    try {
        auto store = std::make_unique<QueueStore>(file);
        notice = store->notice();
        return store;
    } catch (const TorvelError &error) {
        // Not even a new store could be started there: this session keeps its queue elsewhere.
        const QString temporary =
            QDir(QDir::tempPath())
                .filePath(QStringLiteral("torvel-downloader-%1/Queue.sqlite").arg(QCoreApplication::applicationPid()));
        notice = error.errorDescription() + QStringLiteral(" La cola de esta sesión no se guardará.");
        return std::make_unique<QueueStore>(temporary);
    }
}

} // namespace

DownloadQueue::DownloadQueue(AppSettings &settings, const QString &storeFile, JobFolders jobFolders,
                             QueueRunner::Timing timing, QObject *parent)
    : QObject(parent), m_settings(settings), m_store(openStore(storeFile, m_notice)),
      m_runner(
          std::make_unique<QueueRunner>(*m_store, QueueRunner::Tools(), std::move(jobFolders), std::move(timing))) {
    applySettings();
    for (const auto signal : {&AppSettings::concurrentDownloadsChanged, &AppSettings::concurrentFragmentsChanged,
                              &AppSettings::proxyChanged, &AppSettings::limitRateChanged,
                              &AppSettings::embedMetadataChanged, &AppSettings::preferredSubtitlesChanged})
        connect(&m_settings, signal, this, &DownloadQueue::applySettings);
}

DownloadQueue::~DownloadQueue() {
    // The runner goes before the store it writes to.
    m_runner.reset();
}

void DownloadQueue::applySettings() {
    m_runner->setMaximumJobs(m_settings.concurrentDownloads());
    m_runner->setConcurrentFragments(m_settings.concurrentFragments());
    const QString rate = m_settings.limitRate();
    m_runner->setNetwork({m_settings.proxy(), rate.isEmpty() ? std::nullopt : std::optional<QString>(rate)});
    m_runner->setFileContents(m_settings.embedMetadata(), m_settings.preferredSubtitles());
}

void DownloadQueue::setTools(const std::optional<ToolInfo> &ytDLP, const std::optional<ToolInfo> &ffmpeg) {
    QueueRunner::Tools tools;
    if (ytDLP) {
        tools.ytDLP = ytDLP->path;
        tools.ytDLPVersion = ytDLP->version;
    }
    if (ffmpeg)
        tools.ffmpeg = ffmpeg->path;
    m_runner->setTools(tools);
    if (!ytDLP) {
        // Nothing can run without it; what runs goes on with the copy it started.
        if (m_runner->isActive())
            m_runner->stop();
        return;
    }
    if (!m_launched) {
        m_launched = true;
        if (!m_settings.resumeQueueAtStart())
            return;
        try {
            m_store->resumeInterrupted();
        } catch (const TorvelError &) {
            // Those items stay paused; the person resumes them.
        }
    }
    startRunner();
}

void DownloadQueue::startRunner() {
    if (!hasTools())
        return;
    // A running runner takes what was just added now rather than at its next tick.
    if (m_runner->isActive())
        m_runner->refresh();
    else
        m_runner->start();
}

template <typename Change> auto DownloadQueue::act(Change &&change) -> decltype(change()) {
    try {
        return change();
    } catch (const TorvelError &error) {
        Q_EMIT problemOccurred(error.errorDescription());
        return decltype(change())();
    }
}

qint64 DownloadQueue::enqueue(QueueItem item) {
    const qint64 id = act([&] { return m_store->add(std::move(item)); });
    if (id != 0)
        startRunner();
    return id;
}

qint64 DownloadQueue::downloadNow(QueueItem item) {
    const qint64 id = act([&] { return m_store->add(std::move(item)); });
    if (id != 0)
        m_runner->startNow(id);
    return id;
}

void DownloadQueue::pauseAll() {
    act([&] { return m_store->pause(std::nullopt); });
}

void DownloadQueue::resumeAll() {
    act([&] { return m_store->resume(std::nullopt); });
    startRunner();
}

void DownloadQueue::retryFailed() {
    act([&] { return m_store->retry(std::nullopt); });
    startRunner();
}

void DownloadQueue::pause(qint64 id) {
    act([&] { return m_store->pause(id); });
}

void DownloadQueue::resume(qint64 id) {
    act([&] { return m_store->resume(id); });
    startRunner();
}

void DownloadQueue::retry(qint64 id) {
    act([&] { return m_store->retry(id); });
    startRunner();
}

void DownloadQueue::cancel(qint64 id) {
    act([&] { return m_store->cancel(id); });
}

void DownloadQueue::remove(qint64 id) {
    act([&] { return m_store->remove(id); });
}

void DownloadQueue::removeCompleted() {
    act([&] { return m_store->removeCompleted(); });
}

void DownloadQueue::quit() {
    m_runner->stop(QueueState::paused);
}

bool DownloadQueue::hasPendingWork() const {
    try {
        const QHash<QueueState, int> counts = m_store->counts();
        return counts.value(QueueState::running) > 0 || counts.value(QueueState::waiting) > 0;
    } catch (const TorvelError &) {
        return m_runner->runningCount() > 0;
    }
}
