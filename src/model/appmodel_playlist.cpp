#include "appmodel.h"

#include <QPointer>

void AppModel::setPlaylist(const std::optional<PlaylistInfo> &list) {
    if (!list && !m_playlist.info && !m_playlist.outcome)
        return;
    m_playlist.info = list;
    m_playlist.checked.clear();
    if (list) {
        // Every entry that can be downloaded is chosen at first.
        m_playlist.checked.reserve(list->entries.size());
        for (const PlaylistEntry &entry : list->entries)
            m_playlist.checked.append(entry.isDownloadable());
    }
    setPlaylistPosition(std::nullopt);
    setPlaylistOutcome(std::nullopt);
    Q_EMIT playlistChanged();
    Q_EMIT playlistCheckedChanged();
}

void AppModel::setPlaylistEntryChecked(qsizetype index, bool checked) {
    if (!m_playlist.info || index < 0 || index >= m_playlist.checked.size() ||
        !m_playlist.info->entries.at(index).isDownloadable() || m_playlist.checked.at(index) == checked)
        return;
    m_playlist.checked[index] = checked;
    Q_EMIT playlistCheckedChanged();
}

void AppModel::setAllPlaylistEntriesChecked(bool checked) {
    if (!m_playlist.info)
        return;
    const QList<PlaylistEntry> &entries = m_playlist.info->entries;
    for (qsizetype index = 0; index < entries.size(); ++index)
        m_playlist.checked[index] = checked && entries.at(index).isDownloadable();
    Q_EMIT playlistCheckedChanged();
}

void AppModel::setPlaylistPosition(const std::optional<PlaylistDownloader::Position> &position) {
    if (m_playlist.position == position)
        return;
    m_playlist.position = position;
    Q_EMIT playlistPositionChanged();
}

void AppModel::setPlaylistOutcome(const std::optional<PlaylistDownloader::Outcome> &outcome) {
    if (m_playlist.outcome == outcome)
        return;
    m_playlist.outcome = outcome;
    Q_EMIT playlistOutcomeChanged();
}

void AppModel::revealPlaylistFolder(DesktopServices::Reveal reveal) {
    // Its first video, so that the file manager (or the path shown without one) is inside the
    // list's folder rather than in the folder around it.
    if (!m_playlist.outcome)
        return;
    const QStringList &placed = m_playlist.outcome->placedFiles;
    m_desktop.revealFile(placed.isEmpty() ? m_playlist.outcome->folder : placed.first(), reveal);
}

QCoro::Task<> AppModel::startPlaylistDownload(QString ytDLPPath) {
    QList<PlaylistEntry> chosen;
    const QList<PlaylistEntry> &entries = m_playlist.info->entries;
    for (qsizetype index = 0; index < entries.size(); ++index)
        if (m_playlist.checked.at(index))
            chosen.append(entries.at(index));
    if (chosen.isEmpty())
        co_return;
    setPhase(Phase::downloading);
    setProgress(DownloadProgress::initial());
    setErrorMessage(QString());
    setCompletedFile(std::nullopt);
    setPlaylistOutcome(std::nullopt);

    QString folder;
    try {
        folder = PlaylistDownloader::createListFolder(m_playlist.info->title, downloadDirectoryURL());
    } catch (const TorvelError &error) {
        fail(error.errorDescription());
        co_return;
    }
    // Exact formats belong to one item; a list is downloaded one of the standard ways.
    const DownloadChoice choice = selectedChoice();
    const std::optional<QString> ffmpegPath = m_ffmpeg ? std::optional<QString>(m_ffmpeg->path) : std::nullopt;
    YTDLPService::DownloadOptions options;
    options.cookies = m_settings.cookieSource();
    options.concurrentFragments = m_settings.concurrentFragments();
    // A list's entries are not analyzed one by one: their container is unknown, so no cover.
    options.contents.metadata = m_settings.embedMetadata();
    options.onLog = freshDownloadLog();
    const auto downloader = std::make_shared<PlaylistDownloader>(m_service);
    m_playlistDownloader = downloader;

    QPointer<AppModel> self(this);
    const PlaylistDownloader::PositionCallback onPosition = [self](const PlaylistDownloader::Position &position) {
        if (self)
            self->setPlaylistPosition(position);
    };
    const PlaylistDownloader::ProgressCallback onProgress = [self](const DownloadProgress &progress) {
        if (self)
            self->deliverProgress(progress);
    };
    const PlaylistDownloader::Outcome outcome =
        co_await downloader->run(chosen, choice, ytDLPPath, ffmpegPath, folder, options, onPosition, onProgress);
    if (!self)
        co_return;
    m_playlistDownloader.reset();
    dropPendingProgress();
    setPlaylistPosition(std::nullopt);
    if (outcome.cancelled && outcome.placedFiles.isEmpty()) {
        setPhase(Phase::ready);
        setProgress(DownloadProgress::initial());
        setNotice(QStringLiteral("Descarga cancelada."));
    } else {
        setPlaylistOutcome(outcome);
        setPhase(Phase::completed);
        // Only a list that ran to its end is shown and announced, as a single download is.
        if (!outcome.cancelled) {
            if (m_settings.revealWhenFinished() && !outcome.placedFiles.isEmpty())
                revealPlaylistFolder(DesktopServices::Reveal::automatic);
            if (outcome.placedFiles.isEmpty())
                Q_EMIT downloadFinished({FinishedDownload::Result::failed, QString(), outcome.summaryText()});
            else
                Q_EMIT downloadFinished({FinishedDownload::Result::completed, folder, QString()});
        }
    }
    afterDownload(!outcome.cancelled && !outcome.placedFiles.isEmpty());
}
