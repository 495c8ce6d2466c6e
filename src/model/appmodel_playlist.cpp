#include "appmodel.h"

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
