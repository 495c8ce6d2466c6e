#pragma once

#include "media/downloadprogresstracker.h"
#include "queue/queueitem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QTimer>

#include <array>
#include <optional>

class QueueRunner;
class QueueStore;

// The download queue for a list view: one row per item, in queue order. It keeps the items in
// memory and follows the store's signals, so painting never reads the store: a change of one item
// re-reads that row only, and a change of many re-reads the list once (coalesced within one turn
// of the event loop) and applies it as insertions, removals and moves, which keep a view's
// selection and scroll position. The live speed, time left and phase of the running items come
// from the runner's progress and stay in memory.
class QueueListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        idRole = Qt::UserRole + 1,
        urlRole,
        titleRole, // the title, or the address while it is unknown
        thumbnailRole,
        stateRole,      // QueueState as an int
        stateLabelRole, // "En espera", "Descargando", …
        progressRole,   // 0…1: the live fraction while it runs here, else the stored one
        phaseRole,      // the live phase text; "Preparando…" before the first progress; else empty
        speedRole,
        timeLeftRole,
        errorRole, // the failure's explanation
        attemptsRole,
        pathRole, // the placed file, once completed
        destinationRole,
    };

    // The store and the runner must outlive the model.
    QueueListModel(QueueStore &store, QueueRunner &runner, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QueueItem &item(int row) const { return m_items.at(row); }
    // -1 when the item is not in the queue.
    int rowOf(qint64 id) const { return m_rows.value(id, -1); }
    // The runner's last progress of a running item of this process.
    std::optional<DownloadProgress> liveProgress(qint64 id) const;
    int count(QueueState state) const { return m_counts.at(std::size_t(state)); }

    // Reads the whole queue again now (another process may have changed it).
    void refresh();

Q_SIGNALS:
    void countsChanged();
    // The store could not be read: what is shown stays as it was.
    void problemOccurred(const QString &message);

private:
    void itemChanged(qint64 id);
    void progressed(qint64 id, const DownloadProgress &progress);
    void apply(const QList<QueueItem> &fresh);
    void replaceRow(int row, QueueItem item);
    void reindex();
    void recount();

    QueueStore &m_store;
    QList<QueueItem> m_items;
    QHash<qint64, int> m_rows; // id → row
    QHash<qint64, DownloadProgress> m_live;
    std::array<int, 6> m_counts{};
    QTimer m_pendingRefresh;
};
