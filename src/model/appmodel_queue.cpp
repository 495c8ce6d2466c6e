#include "appmodel.h"

#include "common/weburl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// A text file of addresses is a list a person wrote, never megabytes.
constexpr qint64 largestAddressFile = 1024 * 1024;

// The name of an item's kept analysis document in its job folder: hidden, so that it is never
// taken for the result.
const QString documentName = QStringLiteral(".analysis.info.json");

bool isStandardChoice(const QString &choiceID) {
    return choiceID == QLatin1String("recommended") || choiceID == QLatin1String("compatible-mp4") ||
           choiceID == QLatin1String("audio-only");
}

} // namespace

void AppModel::connectQueue() {
    QueueRunner &runner = m_queue->runner();
    connect(&runner, &QueueRunner::itemStarted, this, &AppModel::followedItemStarted);
    // Progress and log may come from a worker thread: queued to the interface thread.
    connect(&runner, &QueueRunner::itemProgress, this, &AppModel::followedItemProgress);
    connect(&runner, &QueueRunner::itemNotice, this, [this](qint64 id, const QString &notice) {
        if (m_followed && m_followed->ids.contains(id))
            m_followed->unconverted = notice;
    });
    connect(&runner, &QueueRunner::itemLog, this, [this](qint64 id, const QString &text) {
        if (m_followed && m_followed->ids.contains(id) && m_downloadLog.append(text))
            Q_EMIT downloadLogChanged();
    });
    connect(&runner, &QueueRunner::itemFinished, this, &AppModel::followedItemFinished);
}

std::optional<HistoryEntry> AppModel::downloadedBefore(const QString &url, const QString &extractor,
                                                       const QString &videoID) const {
    try {
        return m_queue->store().alreadyDownloaded(url, extractor, videoID);
    } catch (const TorvelError &) {
        return std::nullopt; // a history that cannot be read stops nothing
    }
}

QString AppModel::downloadedBeforeText(const HistoryEntry &entry) {
    return QStringLiteral("Ya descargado el %1.")
        .arg(entry.completedAt.toLocalTime().toString(QStringLiteral("d/M/yyyy")));
}

QString AppModel::standardChoiceID() const {
    return isStandardChoice(m_selection.selectedChoiceID) ? m_selection.selectedChoiceID
                                                          : QStringLiteral("recommended");
}

void AppModel::keepDocument(QueueItem &item, const std::shared_ptr<const AnalysisDocument> &document) const {
    if (!document || !document->isUsable())
        return;
    try {
        item.jobFolder = m_jobFolders.createQueuedJobFolder();
    } catch (const TorvelError &) {
        return; // the item is analyzed when it runs
    }
    const QString copy = QDir(item.jobFolder).filePath(documentName);
    QFile file(copy);
    // The copy is as old as the analysis: it is trusted no longer than the original.
    if (!QFile::copy(document->path(), copy) || !file.open(QIODevice::ReadWrite) ||
        !file.setFileTime(QFileInfo(document->path()).lastModified(), QFileDevice::FileModificationTime)) {
        JobFolders::removeQuietly(item.jobFolder);
        item.jobFolder.clear();
        return;
    }
    item.document = copy;
}

QueueItem AppModel::selectedItem() const {
    QueueItem item;
    item.url = m_analyzedURL->toString(QUrl::FullyEncoded);
    item.destination = downloadDirectoryURL();
    item.cookies = m_settings.cookies();
    item.audioFormat = m_selection.audioExportFormat;
    // After a failed analysis: the standard way, the address analyzed when the item runs.
    item.choiceID = standardChoiceID();
    if (!m_selection.mediaInfo)
        return item;
    const MediaInfo &media = *m_selection.mediaInfo;
    item.title = media.title;
    item.thumbnail = media.thumbnail.value_or(QString());
    item.extractor = media.extractor.value_or(QString());
    item.videoID = media.id;
    item.choiceID = m_selection.selectedChoiceID;
    if (m_selection.selectedVideoOnlyFormat() && m_selection.selectedAudioFormatID)
        item.pairedAudioID = *m_selection.selectedAudioFormatID;
    item.subtitles =
        m_selection.selectedSubtitles.isEmpty() ? QStringList{QueueItem::noSubtitles} : m_selection.selectedSubtitles;
    if (section())
        item.section = m_sectionStart.trimmed() + QLatin1Char('-') + m_sectionEnd.trimmed();
    keepDocument(item, media.document);
    return item;
}

QList<QueueItem> AppModel::listItems(const QString &folder, bool skipDownloaded, int &skipped) const {
    QList<QueueItem> items;
    const QList<PlaylistEntry> &entries = m_playlist.info->entries;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const PlaylistEntry &entry = entries.at(index);
        if (!m_playlist.checked.at(index) || !entry.isDownloadable())
            continue;
        QueueItem item;
        item.url = entry.url->toString(QUrl::FullyEncoded);
        if (skipDownloaded && downloadedBefore(item.url)) {
            ++skipped;
            continue;
        }
        item.title = entry.title;
        item.thumbnail = entry.thumbnail.value_or(QString());
        // A list is downloaded one of the standard ways.
        item.choiceID = standardChoiceID();
        item.audioFormat = m_selection.audioExportFormat;
        item.destination = folder;
        item.cookies = m_settings.cookies();
        item.batch = m_playlist.info->title;
        keepDocument(item, entry.document);
        items.append(item);
    }
    return items;
}

std::optional<QList<qint64>> AppModel::addItems(const QList<QueueItem> &items) {
    QList<qint64> ids;
    try {
        for (const QueueItem &item : items)
            ids.append(m_queue->store().add(item));
    } catch (const TorvelError &error) {
        // What was added stays queued; the rest is named.
        for (qsizetype index = ids.size(); index < items.size(); ++index)
            JobFolders::removeQuietly(items.at(index).jobFolder);
        fail(error.errorDescription());
        return std::nullopt;
    }
    return ids;
}

void AppModel::followItems(const QList<qint64> &ids, const std::optional<QString> &listFolder) {
    m_followed = Followed{ids, listFolder, {}, {}, 0, {}};
    dropPendingProgress();
    setProgress(DownloadProgress::initial());
    m_downloadLog.clear();
    Q_EMIT downloadLogChanged();
    setPhase(Phase::downloading);
}

std::optional<QString> AppModel::newListFolder() {
    try {
        return PlaylistDownloader::createListFolder(m_playlist.info->title, downloadDirectoryURL());
    } catch (const TorvelError &error) {
        fail(error.errorDescription());
        return std::nullopt;
    }
}

void AppModel::downloadList() {
    const std::optional<QString> created = newListFolder();
    if (!created)
        return;
    const QString &folder = *created;
    int skipped = 0;
    const QList<QueueItem> items = listItems(folder, false, skipped);
    const std::optional<QList<qint64>> ids = items.isEmpty() ? std::nullopt : addItems(items);
    if (!ids) {
        QDir().rmdir(folder);
        return;
    }
    setErrorMessage(QString());
    setCompletedFile(std::nullopt);
    setPlaylistOutcome(std::nullopt);
    followItems(*ids, folder);
    setPlaylistPosition(PlaylistDownloader::Position{1, ids->size(), items.constFirst().title});
    m_queue->startRunner();
}

void AppModel::addToQueue(bool again) {
    if ((m_phase != Phase::ready && m_phase != Phase::completed && m_phase != Phase::failed) || !m_analyzedURL ||
        (!m_selection.mediaInfo && !m_playlist.info) || !sectionProblem().isEmpty())
        return;
    if (m_playlist.info) {
        const std::optional<QString> created = newListFolder();
        if (!created)
            return;
        const QString &folder = *created;
        int skipped = 0;
        const QList<QueueItem> items = listItems(folder, true, skipped);
        if (items.isEmpty() || !addItems(items)) {
            QDir().rmdir(folder);
            if (items.isEmpty())
                setNotice(QStringLiteral("No se añadió ningún video: %1.")
                              .arg(skipped == 1 ? QStringLiteral("el elegido ya se descargó")
                                                : QStringLiteral("los elegidos ya se descargaron")));
            return;
        }
        m_queue->startRunner();
        QString note = QStringLiteral("%1 a la cola.")
                           .arg(items.size() == 1 ? QStringLiteral("Se añadió 1 video")
                                                  : QStringLiteral("Se añadieron %1 videos").arg(items.size()));
        if (skipped > 0)
            note += skipped == 1 ? QStringLiteral(" Se omitió 1 ya descargado.")
                                 : QStringLiteral(" Se omitieron %1 ya descargados.").arg(skipped);
        clearFieldAfterQueueing(note);
        return;
    }
    const MediaInfo &media = *m_selection.mediaInfo;
    if (!again) {
        if (const std::optional<HistoryEntry> before = downloadedBefore(
                m_analyzedURL->toString(QUrl::FullyEncoded), media.extractor.value_or(QString()), media.id)) {
            setNotice(downloadedBeforeText(*before), true);
            return;
        }
    }
    const QString title = media.title;
    if (!addItems({selectedItem()}))
        return;
    m_queue->startRunner();
    clearFieldAfterQueueing(QStringLiteral("Añadido a la cola: %1").arg(title));
}

void AppModel::queueAddresses(const QString &text) {
    const QStringList addresses = WebURL::addressesIn(text);
    if (addresses.isEmpty()) {
        setAddressNote(QStringLiteral("No hay ninguna dirección web que añadir a la cola."));
        return;
    }
    QList<QueueItem> items;
    int skipped = 0;
    for (const QString &address : addresses) {
        QueueItem item;
        item.url = WebURL::validatedWebURL(address)->toString(QUrl::FullyEncoded);
        if (downloadedBefore(item.url)) {
            ++skipped;
            continue;
        }
        item.choiceID = standardChoiceID();
        item.audioFormat = m_selection.audioExportFormat;
        item.destination = downloadDirectoryURL();
        item.cookies = m_settings.cookies();
        items.append(item);
    }
    if (!items.isEmpty() && !addItems(items))
        return;
    if (!items.isEmpty())
        m_queue->startRunner();
    QString note = items.isEmpty()     ? QStringLiteral("No se añadió ninguna dirección a la cola.")
                   : items.size() == 1 ? QStringLiteral("Se añadió 1 dirección a la cola.")
                                       : QStringLiteral("Se añadieron %1 direcciones a la cola.").arg(items.size());
    if (skipped > 0)
        note += skipped == 1 ? QStringLiteral(" Se omitió 1 ya descargada.")
                             : QStringLiteral(" Se omitieron %1 ya descargadas.").arg(skipped);
    clearFieldAfterQueueing(note);
}

void AppModel::queueAddressesFromFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setAddressNote(QStringLiteral("No se pudo leer %1: %2").arg(path, file.errorString()));
        return;
    }
    if (file.size() > largestAddressFile) {
        setAddressNote(QStringLiteral("%1 es demasiado grande para ser una lista de direcciones.").arg(path));
        return;
    }
    queueAddresses(QString::fromUtf8(file.readAll()));
}

void AppModel::clearFieldAfterQueueing(const QString &note) {
    if (m_phase == Phase::downloading || m_phase == Phase::analyzing)
        setUrlInput(QString());
    else
        reset();
    setAddressNote(note);
}

void AppModel::followedItemStarted(qint64 id) {
    if (!m_followed || !m_followed->listFolder)
        return;
    const qsizetype index = m_followed->ids.indexOf(id);
    if (index < 0)
        return;
    std::optional<QueueItem> item;
    try {
        item = m_queue->store().item(id);
    } catch (const TorvelError &) {
    }
    setPlaylistPosition(
        PlaylistDownloader::Position{index + 1, m_followed->ids.size(), item ? item->title : QString()});
}

void AppModel::followedItemProgress(qint64 id, const DownloadProgress &progress) {
    if (!m_followed || !m_followed->ids.contains(id) || m_followed->ended.contains(id))
        return;
    if (!m_followed->listFolder) {
        deliverProgress(progress);
        return;
    }
    // The whole list's share, with the running entry's texts.
    m_followed->fractions.insert(id, progress.fraction);
    double sum = 0;
    for (const double fraction : std::as_const(m_followed->fractions))
        sum += fraction;
    m_followed->shownFraction = std::max(m_followed->shownFraction, sum / double(m_followed->ids.size()));
    DownloadProgress shown = progress;
    shown.fraction = m_followed->shownFraction;
    deliverProgress(shown);
}

void AppModel::followedItemFinished(qint64 id, QueueState state) {
    if (!m_followed || !m_followed->ids.contains(id) || m_followed->ended.contains(id))
        return;
    std::optional<QueueItem> item;
    try {
        item = m_queue->store().item(id);
    } catch (const TorvelError &) {
    }
    // A failure of the network kind waits for another attempt: still followed.
    if (state == QueueState::waiting && item && item->state == QueueState::waiting && !item->error.isEmpty() &&
        m_queue->runner().isActive())
        return;
    if (!item) {
        item = QueueItem();
        item->id = id;
        item->state = QueueState::cancelled;
    } else if (state != QueueState::completed && state != QueueState::failed) {
        item->state = state;
    }
    if (!m_followed->listFolder) {
        endFollowedItem(*item);
        return;
    }
    m_followed->ended.insert(id, item->state);
    m_followed->fractions.insert(id, item->state == QueueState::completed ? 1.0 : 0.0);
    if (m_followed->ended.size() == m_followed->ids.size())
        endFollowedList();
}

void AppModel::endFollowedItem(const QueueItem &item) {
    const QString unconverted = m_followed->unconverted;
    m_followed.reset();
    dropPendingProgress();
    switch (item.state) {
    case QueueState::completed: {
        // As the engine's last report says, whichever of its reports arrived last.
        DownloadProgress done;
        done.fraction = 1;
        done.phaseText = QStringLiteral("Completado");
        done.statusText = QStringLiteral("Descarga completada");
        setProgress(done);
        setCompletedFile(item.path);
        setPhase(Phase::completed);
        setNotice(unconverted);
        if (m_settings.revealWhenFinished())
            m_desktop.revealFile(item.path, DesktopServices::Reveal::automatic);
        Q_EMIT downloadFinished({FinishedDownload::Result::completed, item.path, QString()});
        break;
    }
    case QueueState::failed:
        fail(item.error);
        Q_EMIT downloadFinished({FinishedDownload::Result::failed, QString(), item.error});
        break;
    default:
        // Cancelled here or in the queue, paused, or stopped with the runner: the media and the
        // choices stay, and the item, unless cancelled, waits in the queue.
        setPhase(Phase::ready);
        setProgress(DownloadProgress::initial());
        setNotice(item.state == QueueState::cancelled ? QStringLiteral("Descarga cancelada.")
                  : item.state == QueueState::paused  ? QStringLiteral("Descarga en pausa en la cola.")
                                                      : QStringLiteral("La descarga espera en la cola."));
        break;
    }
}

void AppModel::endFollowedList() {
    const Followed followed = *std::move(m_followed);
    m_followed.reset();
    dropPendingProgress();
    setPlaylistPosition(std::nullopt);
    PlaylistDownloader::Outcome outcome;
    outcome.folder = *followed.listFolder;
    outcome.total = followed.ids.size();
    for (const qint64 id : followed.ids) {
        std::optional<QueueItem> item;
        try {
            item = m_queue->store().item(id);
        } catch (const TorvelError &) {
        }
        const QueueState state = followed.ended.value(id);
        if (state == QueueState::completed && item)
            outcome.placedFiles.append(item->path);
        else if (state == QueueState::failed && item)
            outcome.failures.append({item->title, item->error});
        else
            outcome.cancelled = true;
    }
    // A folder that received nothing is not left behind.
    if (outcome.placedFiles.isEmpty())
        QDir().rmdir(outcome.folder);
    if (outcome.cancelled && outcome.placedFiles.isEmpty()) {
        setPhase(Phase::ready);
        setProgress(DownloadProgress::initial());
        setNotice(QStringLiteral("Descarga cancelada."));
        return;
    }
    setPlaylistOutcome(outcome);
    setPhase(Phase::completed);
    // Only a list that ran to its end is shown and announced, as a single download is.
    if (outcome.cancelled)
        return;
    if (m_settings.revealWhenFinished() && !outcome.placedFiles.isEmpty())
        revealPlaylistFolder(DesktopServices::Reveal::automatic);
    if (outcome.placedFiles.isEmpty())
        Q_EMIT downloadFinished({FinishedDownload::Result::failed, QString(), outcome.summaryText()});
    else
        Q_EMIT downloadFinished({FinishedDownload::Result::completed, outcome.folder, QString()});
}
