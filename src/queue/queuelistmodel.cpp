#include "queuelistmodel.h"

#include "common/torvelerror.h"
#include "queue/queuerunner.h"
#include "queue/queuestore.h"

#include <QSet>

#include <algorithm>

namespace {

// Moving rows one by one costs a search each; beyond this many a reset is cheaper.
constexpr int maximumMoves = 64;

// Whether anything a row shows, or an action depends on, differs.
bool differs(const QueueItem &a, const QueueItem &b) {
    return a.state != b.state || a.progress != b.progress || a.title != b.title || a.url != b.url ||
           a.thumbnail != b.thumbnail || a.error != b.error || a.attempts != b.attempts || a.path != b.path ||
           a.destination != b.destination || a.progressText != b.progressText || a.position != b.position ||
           a.notBefore != b.notBefore || a.finishedAt != b.finishedAt;
}

} // namespace

QueueListModel::QueueListModel(QueueStore &store, QueueRunner &runner, QObject *parent)
    : QAbstractListModel(parent), m_store(store) {
    m_pendingRefresh.setSingleShot(true);
    m_pendingRefresh.setInterval(0);
    connect(&m_pendingRefresh, &QTimer::timeout, this, &QueueListModel::refresh);
    // Adding many items signals once per item: the list is read once after them.
    connect(&store, &QueueStore::itemsChanged, &m_pendingRefresh, qOverload<>(&QTimer::start));
    connect(&store, &QueueStore::itemChanged, this, &QueueListModel::itemChanged);
    connect(&runner, &QueueRunner::itemProgress, this, &QueueListModel::progressed);
    connect(&runner, &QueueRunner::itemFinished, this, [this](qint64 id) {
        if (m_live.remove(id) > 0)
            if (const int row = rowOf(id); row >= 0)
                Q_EMIT dataChanged(index(row), index(row));
    });
    refresh();
}

int QueueListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

QHash<int, QByteArray> QueueListModel::roleNames() const {
    return {{idRole, "id"},
            {urlRole, "url"},
            {titleRole, "title"},
            {thumbnailRole, "thumbnail"},
            {stateRole, "state"},
            {stateLabelRole, "stateLabel"},
            {progressRole, "progress"},
            {phaseRole, "phase"},
            {speedRole, "speed"},
            {timeLeftRole, "timeLeft"},
            {errorRole, "error"},
            {attemptsRole, "attempts"},
            {pathRole, "path"},
            {destinationRole, "destination"}};
}

QVariant QueueListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QueueItem &item = m_items.at(index.row());
    const auto live = [&]() -> const DownloadProgress * {
        if (item.state != QueueState::running)
            return nullptr;
        const auto found = m_live.constFind(item.id);
        return found == m_live.cend() ? nullptr : &*found;
    };
    switch (role) {
    case Qt::DisplayRole:
    case titleRole:
        return item.title.isEmpty() ? item.url : item.title;
    case Qt::ToolTipRole: {
        QString tip = item.title.isEmpty() ? item.url : item.title + QLatin1Char('\n') + item.url;
        if (item.state == QueueState::failed && !item.error.isEmpty())
            tip += QLatin1Char('\n') + item.error;
        return tip;
    }
    case idRole:
        return item.id;
    case urlRole:
        return item.url;
    case thumbnailRole:
        return item.thumbnail;
    case stateRole:
        return int(item.state);
    case stateLabelRole:
        return QueueStates::label(item.state);
    case progressRole:
        if (const DownloadProgress *progress = live())
            return std::max(progress->fraction, item.progress);
        return item.progress;
    case phaseRole:
        if (const DownloadProgress *progress = live())
            return progress->phaseText;
        // Running, not yet downloading (its address is being analysed).
        if (item.state == QueueState::running && item.progress == 0 && item.progressText.isEmpty())
            return DownloadProgress::initial().phaseText;
        return QString();
    case speedRole:
        if (const DownloadProgress *progress = live())
            return progress->speedText;
        return QString();
    case timeLeftRole:
        if (const DownloadProgress *progress = live())
            return progress->etaText;
        return QString();
    case errorRole:
        return item.error;
    case attemptsRole:
        return item.attempts;
    case pathRole:
        return item.path;
    case destinationRole:
        return item.destination;
    default:
        return {};
    }
}

std::optional<DownloadProgress> QueueListModel::liveProgress(qint64 id) const {
    const auto found = m_live.constFind(id);
    if (found == m_live.cend())
        return std::nullopt;
    return *found;
}

void QueueListModel::refresh() {
    m_pendingRefresh.stop();
    QList<QueueItem> fresh;
    try {
        fresh = m_store.items();
    } catch (const TorvelError &error) {
        Q_EMIT problemOccurred(error.errorDescription());
        return;
    }
    apply(fresh);
}

void QueueListModel::itemChanged(qint64 id) {
    const int row = rowOf(id);
    if (row < 0 || m_pendingRefresh.isActive())
        return; // the coming refresh reads it with the rest
    std::optional<QueueItem> item;
    try {
        item = m_store.item(id);
    } catch (const TorvelError &error) {
        Q_EMIT problemOccurred(error.errorDescription());
        return;
    }
    if (!item) {
        m_pendingRefresh.start();
        return;
    }
    replaceRow(row, std::move(*item));
    recount();
}

void QueueListModel::progressed(qint64 id, const DownloadProgress &progress) {
    m_live.insert(id, progress);
    if (const int row = rowOf(id); row >= 0)
        Q_EMIT dataChanged(index(row), index(row), {progressRole, phaseRole, speedRole, timeLeftRole});
}

void QueueListModel::replaceRow(int row, QueueItem item) {
    QueueItem &current = m_items[row];
    if (item.state != QueueState::running)
        m_live.remove(item.id);
    if (!differs(current, item))
        return;
    current = std::move(item);
    Q_EMIT dataChanged(index(row), index(row));
}

void QueueListModel::apply(const QList<QueueItem> &fresh) {
    QSet<qint64> freshIDs;
    freshIDs.reserve(fresh.size());
    for (const QueueItem &item : std::as_const(fresh))
        freshIDs.insert(item.id);

    // Removals, from the bottom, in runs of neighbouring rows.
    for (int row = int(m_items.size()) - 1; row >= 0;) {
        if (freshIDs.contains(m_items.at(row).id)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !freshIDs.contains(m_items.at(first - 1).id))
            --first;
        beginRemoveRows({}, first, row);
        for (int r = first; r <= row; ++r)
            m_live.remove(m_items.at(r).id);
        m_items.remove(first, row - first + 1);
        endRemoveRows();
        row = first - 1;
    }

    // What is left is in the fresh list; walk it, moving and inserting where the rows differ.
    QSet<qint64> present;
    present.reserve(m_items.size());
    for (const QueueItem &item : std::as_const(m_items))
        present.insert(item.id);
    int moves = 0;
    for (int target = 0; target < fresh.size();) {
        const qint64 id = fresh.at(target).id;
        if (target < m_items.size() && m_items.at(target).id == id) {
            replaceRow(target, fresh.at(target));
            ++target;
            continue;
        }
        if (!present.contains(id)) {
            // A run of new items goes in at once.
            int last = target;
            while (last + 1 < fresh.size() && !present.contains(fresh.at(last + 1).id))
                ++last;
            beginInsertRows({}, target, last);
            for (int r = target; r <= last; ++r)
                m_items.insert(r, fresh.at(r));
            endInsertRows();
            target = last + 1;
            continue;
        }
        if (++moves > maximumMoves) {
            beginResetModel();
            m_items = fresh;
            for (auto it = m_live.begin(); it != m_live.end();)
                it = freshIDs.contains(it.key()) ? std::next(it) : m_live.erase(it);
            endResetModel();
            break;
        }
        int from = target + 1;
        while (m_items.at(from).id != id)
            ++from;
        beginMoveRows({}, from, from, {}, target);
        m_items.move(from, target);
        endMoveRows();
        replaceRow(target, fresh.at(target));
        ++target;
    }
    reindex();
    recount();
}

void QueueListModel::reindex() {
    m_rows.clear();
    m_rows.reserve(m_items.size());
    for (int row = 0; row < m_items.size(); ++row)
        m_rows.insert(m_items.at(row).id, row);
}

void QueueListModel::recount() {
    std::array<int, 6> counts{};
    for (const QueueItem &item : std::as_const(m_items))
        ++counts[std::size_t(item.state)];
    if (counts == m_counts)
        return;
    m_counts = counts;
    Q_EMIT countsChanged();
}
