#pragma once

#include "queue/queueitem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSqlDatabase>

#include <chrono>
#include <optional>

// The download queue and its history in one SQLite file (Qt SQL's QSQLITE driver) under the
// application's data folder, shared by every process that opens it: the window and command lines.
// WAL journal, the schema's version in `PRAGMA user_version` with migrations, and every change of
// state in a transaction. An item is claimed by its runner (process id and a lease) in one
// transaction, so two runners never take the same item; an item whose runner died (its process is
// gone or its lease ran out) is taken back.
//
// A store that cannot be opened — damaged, locked beyond the wait, or written by a newer version —
// is kept aside under another name (never deleted), a new one is started, and notice() says so.
//
// Signals tell a view what changed: itemChanged for one item, itemsChanged for additions,
// removals and changes of many, historyChanged for the history.
class QueueStore : public QObject {
    Q_OBJECT

public:
    static constexpr int schemaVersion = 3;

    // file: PlatformPaths::queueStoreFile() in production. Throws PlatformError when even a new
    // store cannot be started there.
    explicit QueueStore(QString file, QObject *parent = nullptr);
    ~QueueStore() override;

    const QString &file() const { return m_file; }
    // Why the previous store was kept aside; empty when it opened.
    const QString &notice() const { return m_notice; }

    // Appends an item (its id, position and added time are given here) and returns its id.
    qint64 add(QueueItem item);
    std::optional<QueueItem> item(qint64 id) const;
    // Every item in queue order.
    QList<QueueItem> items() const;
    QHash<QueueState, int> counts() const;

    // The runner's side. claimNext takes the first waiting item whose wait is over, after taking
    // back the items of dead runners; it counts the attempt.
    std::optional<QueueItem> claimNext(qint64 runnerPID, std::chrono::milliseconds lease);
    // Takes one waiting item at once, wherever it stands in the queue (a download the person
    // started); nothing when it is not waiting (another runner took it, or it changed).
    std::optional<QueueItem> claim(qint64 id, qint64 runnerPID, std::chrono::milliseconds lease);
    // Extends the leases of the runner's running items and returns the ids still running for it
    // (an item paused, cancelled or removed elsewhere is no longer among them).
    QList<qint64> renewLeases(qint64 runnerPID, std::chrono::milliseconds lease);
    // Running items whose runner died go back to waiting; returns how many.
    int reclaimAbandoned();
    void saveAnalysis(qint64 id, const QString &title, const QString &thumbnail, const QString &extractor,
                      const QString &videoID);
    void saveJobFolder(qint64 id, const QString &folder);
    void saveProgress(qint64 id, double fraction, const QString &text);
    // The item completed: placed at path, recorded in the history, its job folder forgotten.
    void complete(qint64 id, const QString &path, qint64 size);
    void fail(qint64 id, const QString &error);
    // A failure of the network kind: waiting again, not before `after` from now.
    void retryLater(qint64 id, const QString &error, std::chrono::milliseconds after);
    // A running item of this runner stops without an outcome (interrupted): to `state`. Paused
    // this way (the application quits) it is marked to go on at the next start.
    void release(qint64 id, qint64 runnerPID, QueueState state);
    // The earliest time a waiting item may start, when any waits; nothing otherwise.
    std::optional<QDateTime> nextWaitingTime() const;

    // The person's side; each returns how many items changed. A running item changes state here
    // and its runner stops it at its next lease renewal.
    int pause(std::optional<qint64> id); // nothing: all waiting and running items
    // A resumed item starts its attempts afresh: automatic retries count from there.
    int resume(std::optional<qint64> id); // nothing: all paused items
    int retry(std::optional<qint64> id);  // nothing: all failed items; a cancelled one too by id
    int cancel(qint64 id);
    // Removes an item, its partial data too unless it is running (its runner removes that).
    int remove(qint64 id);
    int removeCompleted();
    // The items paused because the application quit while they ran wait again; returns how many.
    int resumeInterrupted();

    // History.
    void recordHistory(HistoryEntry entry);
    // The last download of the same video: the same extractor and id when both are known,
    // otherwise the same address.
    std::optional<HistoryEntry> alreadyDownloaded(const QString &url, const QString &extractor = QString(),
                                                  const QString &videoID = QString()) const;
    // Newest first; search: text in the title, address or path, ignoring case.
    QList<HistoryEntry> history(const QString &search = QString()) const;
    void removeHistoryEntry(qint64 id);
    void clearHistory();

Q_SIGNALS:
    void itemChanged(qint64 id);
    void itemsChanged();
    void historyChanged();

private:
    // Opens m_file; an error text (Spanish, what is wrong with it) when it cannot be used.
    QString openDatabase();
    QString migrate();
    void keepAside(const QString &reason);
    // Runs `change` inside BEGIN IMMEDIATE … COMMIT, rolled back when it throws.
    template <typename Change> auto inTransaction(Change &&change);
    int reclaimAbandonedLocked(qint64 now);

    QString m_file;
    QString m_connection;
    QString m_notice;
};
