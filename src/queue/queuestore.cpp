#include "queuestore.h"

#include "common/torvelerror.h"
#include "media/jobfolders.h"
#include "process/processtree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>

#include <unistd.h>

namespace {

// The schema, one step per version: migrations[n] takes a store from version n to n + 1.
const QList<QStringList> migrations{
    {
        QStringLiteral("CREATE TABLE items (id INTEGER PRIMARY KEY AUTOINCREMENT, position INTEGER NOT NULL, "
                       "url TEXT NOT NULL, title TEXT NOT NULL DEFAULT '', thumbnail TEXT NOT NULL DEFAULT '', "
                       "choice TEXT NOT NULL, audio_format TEXT NOT NULL, paired_audio TEXT NOT NULL DEFAULT '', "
                       "destination TEXT NOT NULL, cookies TEXT NOT NULL DEFAULT '', state TEXT NOT NULL, "
                       "progress REAL NOT NULL DEFAULT 0, progress_text TEXT NOT NULL DEFAULT '', "
                       "path TEXT NOT NULL DEFAULT '', error TEXT NOT NULL DEFAULT '', "
                       "attempts INTEGER NOT NULL DEFAULT 0, added_at INTEGER NOT NULL, started_at INTEGER, "
                       "finished_at INTEGER, not_before INTEGER, extractor TEXT NOT NULL DEFAULT '', "
                       "video_id TEXT NOT NULL DEFAULT '', job_folder TEXT NOT NULL DEFAULT '', "
                       "runner_pid INTEGER NOT NULL DEFAULT 0, lease_until INTEGER)"),
        QStringLiteral("CREATE INDEX items_by_state ON items (state, position)"),
        QStringLiteral("CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT NOT NULL, "
                       "title TEXT NOT NULL, extractor TEXT NOT NULL, video_id TEXT NOT NULL, path TEXT NOT NULL, "
                       "size INTEGER NOT NULL, completed_at INTEGER NOT NULL)"),
        QStringLiteral("CREATE INDEX history_by_video ON history (extractor, video_id)"),
        QStringLiteral("CREATE INDEX history_by_url ON history (url)"),
    },
    {
        QStringLiteral("ALTER TABLE items ADD COLUMN document TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE items ADD COLUMN subtitles TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE items ADD COLUMN section TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE items ADD COLUMN batch TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE items ADD COLUMN resume_at_start INTEGER NOT NULL DEFAULT 0"),
    },
    {
        QStringLiteral("ALTER TABLE items ADD COLUMN playlist_item INTEGER NOT NULL DEFAULT 0"),
    },
};

const QString itemColumns = QStringLiteral(
    "id, position, url, title, thumbnail, choice, audio_format, paired_audio, destination, cookies, "
    "state, progress, progress_text, path, error, attempts, added_at, started_at, finished_at, "
    "not_before, extractor, video_id, job_folder, runner_pid, lease_until, document, subtitles, section, "
    "batch, resume_at_start, playlist_item");
const QString historyColumns = QStringLiteral("id, url, title, extractor, video_id, path, size, completed_at");

// How long a statement waits for another process's write before the store counts as locked.
constexpr int busyTimeoutMilliseconds = 5000;

qint64 nowMilliseconds() {
    return QDateTime::currentMSecsSinceEpoch();
}

QVariant timeValue(const QDateTime &time) {
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant(QMetaType::fromType<qint64>());
}

QDateTime timeFrom(const QVariant &value) {
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

QString rawState(QueueState state) {
    return QueueStates::rawValue(state);
}

// A failed statement: the store's own fault, not the person's.
class StoreError : public TorvelError {
public:
    explicit StoreError(QString description) : m_description(std::move(description)) {}
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

QSqlQuery prepared(const QSqlDatabase &database, const QString &statement, const QVariantList &values = {}) {
    QSqlQuery query(database);
    if (!query.prepare(statement))
        throw StoreError(QStringLiteral("No se pudo usar la cola de descargas: %1").arg(query.lastError().text()));
    // A null text is stored as an empty one: the text columns are NOT NULL.
    for (const QVariant &value : values)
        query.addBindValue(
            value.typeId() == QMetaType::QString && value.toString().isNull() ? QVariant(QStringLiteral("")) : value);
    if (!query.exec())
        throw StoreError(QStringLiteral("No se pudo usar la cola de descargas: %1").arg(query.lastError().text()));
    return query;
}

void execute(const QSqlDatabase &database, const QString &statement) {
    QSqlQuery query(database);
    if (!query.exec(statement))
        throw StoreError(QStringLiteral("No se pudo usar la cola de descargas: %1").arg(query.lastError().text()));
}

QueueItem itemFrom(const QSqlQuery &query) {
    QueueItem item;
    item.id = query.value(0).toLongLong();
    item.position = query.value(1).toLongLong();
    item.url = query.value(2).toString();
    item.title = query.value(3).toString();
    item.thumbnail = query.value(4).toString();
    item.choiceID = query.value(5).toString();
    item.audioFormat = AudioExportFormats::fromRawValue(query.value(6).toString()).value_or(AudioExportFormat::m4a);
    item.pairedAudioID = query.value(7).toString();
    item.destination = query.value(8).toString();
    item.cookies = query.value(9).toString();
    item.state = QueueStates::fromRawValue(query.value(10).toString()).value_or(QueueState::failed);
    item.progress = query.value(11).toDouble();
    item.progressText = query.value(12).toString();
    item.path = query.value(13).toString();
    item.error = query.value(14).toString();
    item.attempts = query.value(15).toInt();
    item.addedAt = timeFrom(query.value(16));
    item.startedAt = timeFrom(query.value(17));
    item.finishedAt = timeFrom(query.value(18));
    item.notBefore = timeFrom(query.value(19));
    item.extractor = query.value(20).toString();
    item.videoID = query.value(21).toString();
    item.jobFolder = query.value(22).toString();
    item.runnerPID = query.value(23).toLongLong();
    item.leaseUntil = timeFrom(query.value(24));
    item.document = query.value(25).toString();
    item.subtitles = query.value(26).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    item.section = query.value(27).toString();
    item.batch = query.value(28).toString();
    item.resumeAtStart = query.value(29).toInt() != 0;
    item.playlistItem = query.value(30).toLongLong();
    return item;
}

HistoryEntry historyFrom(const QSqlQuery &query) {
    return {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString(),
            query.value(3).toString(),   query.value(4).toString(), query.value(5).toString(),
            query.value(6).toLongLong(), timeFrom(query.value(7))};
}

} // namespace

template <typename Change> auto QueueStore::inTransaction(Change &&change) {
    const QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    // IMMEDIATE takes the write lock at once: a read followed by a write never meets another
    // writer in between.
    execute(database, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        if constexpr (std::is_void_v<decltype(change(database))>) {
            change(database);
            execute(database, QStringLiteral("COMMIT"));
        } else {
            auto result = change(database);
            execute(database, QStringLiteral("COMMIT"));
            return result;
        }
    } catch (...) {
        QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

QueueStore::QueueStore(QString file, QObject *parent)
    : QObject(parent), m_file(std::move(file)),
      m_connection(QStringLiteral("queue-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    const QString problem = openDatabase();
    if (!problem.isEmpty()) {
        keepAside(problem);
        if (const QString again = openDatabase(); !again.isEmpty())
            throw PlatformError(QStringLiteral("No se pudo crear la cola de descargas en %1: %2").arg(m_file, again));
    }
    reclaimAbandoned();
}

QueueStore::~QueueStore() {
    {
        QSqlDatabase database = QSqlDatabase::database(m_connection, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

QString QueueStore::openDatabase() {
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        database.setDatabaseName(m_file);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMilliseconds));
        if (!database.open())
            return database.lastError().text();
    }
    QString problem;
    try {
        problem = migrate();
    } catch (const StoreError &error) {
        problem = error.errorDescription();
    }
    if (problem.isEmpty())
        return {};
    {
        QSqlDatabase database = QSqlDatabase::database(m_connection, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    return problem;
}

QString QueueStore::migrate() {
    const QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(database);
    // The first read of a file that is no database, or is damaged in its header, fails here.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next()) {
        const QString text = query.lastError().text();
        if (text.contains(QLatin1String("locked"), Qt::CaseInsensitive))
            return QStringLiteral("está bloqueada por otro programa");
        return QStringLiteral("está dañada (%1)").arg(text);
    }
    const bool wal = query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    query.finish();
    if (!wal)
        return QStringLiteral("está bloqueada por otro programa");
    execute(database, QStringLiteral("PRAGMA synchronous=NORMAL"));
    QSqlQuery version = prepared(database, QStringLiteral("PRAGMA user_version"));
    int current = version.next() ? version.value(0).toInt() : 0;
    version.finish();
    if (current > schemaVersion)
        return QStringLiteral("es de una versión más nueva de Torvel Downloader");
    if (current > 0) {
        QSqlQuery check = prepared(database, QStringLiteral("PRAGMA quick_check"));
        const bool sound = check.next() && check.value(0).toString() == QLatin1String("ok");
        check.finish();
        if (!sound)
            return QStringLiteral("está dañada");
    }
    while (current < schemaVersion) {
        const QStringList &steps = migrations.at(current);
        try {
            inTransaction([&](const QSqlDatabase &db) {
                // Another process may have taken the same step while this one waited for the lock.
                QSqlQuery again = prepared(db, QStringLiteral("PRAGMA user_version"));
                const int now = again.next() ? again.value(0).toInt() : 0;
                again.finish();
                if (now > current)
                    return;
                for (const QString &step : steps)
                    execute(db, step);
                execute(db, QStringLiteral("PRAGMA user_version = %1").arg(current + 1));
            });
        } catch (const StoreError &error) {
            return error.errorDescription().contains(QLatin1String("locked"), Qt::CaseInsensitive)
                       ? QStringLiteral("está bloqueada por otro programa")
                       : QStringLiteral("está dañada (%1)").arg(error.errorDescription());
        }
        ++current;
    }
    return {};
}

void QueueStore::keepAside(const QString &reason) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_file + QStringLiteral(".apartada-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = m_file + QStringLiteral(".apartada-%1-%2").arg(stamp).arg(n);
    // Its journal goes with it: a new store must not read the old one's.
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(m_file + suffix))
            QFile::rename(m_file + suffix, aside + suffix);
    m_notice = QStringLiteral("La cola de descargas guardada %1: se apartó como «%2» y se empezó una nueva.")
                   .arg(reason, aside);
}

qint64 QueueStore::add(QueueItem item) {
    const qint64 id = inTransaction([&](const QSqlDatabase &database) {
        QSqlQuery last = prepared(database, QStringLiteral("SELECT COALESCE(MAX(position), 0) FROM items"));
        const qint64 position = last.next() ? last.value(0).toLongLong() + 1 : 1;
        const QSqlQuery inserted = prepared(
            database,
            QStringLiteral("INSERT INTO items (position, url, title, thumbnail, choice, audio_format, paired_audio, "
                           "destination, cookies, state, added_at, extractor, video_id, job_folder, document, "
                           "subtitles, section, batch, playlist_item) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, ?, ?, ?, "
                           "?)"),
            {position, item.url, item.title, item.thumbnail, item.choiceID,
             AudioExportFormats::rawValue(item.audioFormat), item.pairedAudioID, item.destination, item.cookies,
             rawState(item.state), nowMilliseconds(), item.extractor, item.videoID, item.jobFolder, item.document,
             item.subtitles.join(QLatin1Char(',')), item.section, item.batch, item.playlistItem});
        return inserted.lastInsertId().toLongLong();
    });
    Q_EMIT itemsChanged();
    return id;
}

std::optional<QueueItem> QueueStore::item(qint64 id) const {
    QSqlQuery query = prepared(QSqlDatabase::database(m_connection, false),
                               QStringLiteral("SELECT %1 FROM items WHERE id = ?").arg(itemColumns), {id});
    if (!query.next())
        return std::nullopt;
    return itemFrom(query);
}

QList<QueueItem> QueueStore::items() const {
    QSqlQuery query = prepared(QSqlDatabase::database(m_connection, false),
                               QStringLiteral("SELECT %1 FROM items ORDER BY position").arg(itemColumns));
    QList<QueueItem> result;
    while (query.next())
        result.append(itemFrom(query));
    return result;
}

QHash<QueueState, int> QueueStore::counts() const {
    QSqlQuery query = prepared(QSqlDatabase::database(m_connection, false),
                               QStringLiteral("SELECT state, COUNT(*) FROM items GROUP BY state"));
    QHash<QueueState, int> result;
    for (const QueueState state : QueueStates::allCases())
        result.insert(state, 0);
    while (query.next())
        if (const auto state = QueueStates::fromRawValue(query.value(0).toString()))
            result.insert(*state, query.value(1).toInt());
    return result;
}

int QueueStore::reclaimAbandonedLocked(qint64 now) {
    const QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    QSqlQuery running =
        prepared(database, QStringLiteral("SELECT id, runner_pid, lease_until FROM items WHERE state = 'running'"));
    QList<qint64> abandoned;
    while (running.next()) {
        const auto pid = qint32(running.value(1).toLongLong());
        const bool expired = running.value(2).isNull() || running.value(2).toLongLong() < now;
        if (expired || (pid != ::getpid() && !ProcessTree::isRunning(pid)))
            abandoned.append(running.value(0).toLongLong());
    }
    running.finish();
    for (const qint64 id : std::as_const(abandoned))
        prepared(database,
                 QStringLiteral("UPDATE items SET state = 'waiting', runner_pid = 0, lease_until = NULL WHERE id = ?"),
                 {id});
    return int(abandoned.size());
}

int QueueStore::reclaimAbandoned() {
    const int taken = inTransaction([&](const QSqlDatabase &) { return reclaimAbandonedLocked(nowMilliseconds()); });
    if (taken > 0)
        Q_EMIT itemsChanged();
    return taken;
}

namespace {

// Marks a waiting item found by `query` as running for the runner; nothing when none was found.
std::optional<QueueItem> claimFound(const QSqlDatabase &database, QSqlQuery &query, qint64 runnerPID,
                                    std::chrono::milliseconds lease, qint64 now) {
    if (!query.next())
        return std::nullopt;
    QueueItem item = itemFrom(query);
    query.finish();
    item.state = QueueState::running;
    item.runnerPID = runnerPID;
    item.leaseUntil = QDateTime::fromMSecsSinceEpoch(now + lease.count(), Qt::UTC);
    item.startedAt = QDateTime::fromMSecsSinceEpoch(now, Qt::UTC);
    item.attempts += 1;
    item.notBefore = QDateTime();
    item.resumeAtStart = false;
    prepared(database,
             QStringLiteral("UPDATE items SET state = 'running', runner_pid = ?, lease_until = ?, started_at = ?, "
                            "attempts = ?, not_before = NULL, resume_at_start = 0 WHERE id = ?"),
             {runnerPID, timeValue(item.leaseUntil), now, item.attempts, item.id});
    return item;
}

} // namespace

std::optional<QueueItem> QueueStore::claimNext(qint64 runnerPID, std::chrono::milliseconds lease) {
    bool reclaimed = false;
    const std::optional<QueueItem> claimed = inTransaction([&](const QSqlDatabase &database) {
        const qint64 now = nowMilliseconds();
        reclaimed = reclaimAbandonedLocked(now) > 0;
        QSqlQuery next = prepared(database,
                                  QStringLiteral("SELECT %1 FROM items WHERE state = 'waiting' AND (not_before IS NULL "
                                                 "OR not_before <= ?) ORDER BY position LIMIT 1")
                                      .arg(itemColumns),
                                  {now});
        return claimFound(database, next, runnerPID, lease, now);
    });
    if (reclaimed)
        Q_EMIT itemsChanged();
    if (claimed)
        Q_EMIT itemChanged(claimed->id);
    return claimed;
}

std::optional<QueueItem> QueueStore::claim(qint64 id, qint64 runnerPID, std::chrono::milliseconds lease) {
    const std::optional<QueueItem> claimed = inTransaction([&](const QSqlDatabase &database) {
        QSqlQuery found = prepared(
            database, QStringLiteral("SELECT %1 FROM items WHERE id = ? AND state = 'waiting'").arg(itemColumns), {id});
        return claimFound(database, found, runnerPID, lease, nowMilliseconds());
    });
    if (claimed)
        Q_EMIT itemChanged(id);
    return claimed;
}

QList<qint64> QueueStore::renewLeases(qint64 runnerPID, std::chrono::milliseconds lease) {
    return inTransaction([&](const QSqlDatabase &database) {
        prepared(database,
                 QStringLiteral("UPDATE items SET lease_until = ? WHERE runner_pid = ? AND state = 'running'"),
                 {nowMilliseconds() + lease.count(), runnerPID});
        QSqlQuery query = prepared(
            database, QStringLiteral("SELECT id FROM items WHERE runner_pid = ? AND state = 'running'"), {runnerPID});
        QList<qint64> ids;
        while (query.next())
            ids.append(query.value(0).toLongLong());
        return ids;
    });
}

void QueueStore::saveAnalysis(qint64 id, const QString &title, const QString &thumbnail, const QString &extractor,
                              const QString &videoID) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database,
                 QStringLiteral("UPDATE items SET title = ?, thumbnail = ?, extractor = ?, video_id = ? WHERE id = ?"),
                 {title, thumbnail, extractor, videoID, id});
    });
    Q_EMIT itemChanged(id);
}

void QueueStore::saveJobFolder(qint64 id, const QString &folder) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database, QStringLiteral("UPDATE items SET job_folder = ? WHERE id = ?"), {folder, id});
    });
}

void QueueStore::saveProgress(qint64 id, double fraction, const QString &text) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database, QStringLiteral("UPDATE items SET progress = ?, progress_text = ? WHERE id = ?"),
                 {fraction, text, id});
    });
    Q_EMIT itemChanged(id);
}

void QueueStore::complete(qint64 id, const QString &path, qint64 size) {
    inTransaction([&](const QSqlDatabase &database) {
        const qint64 now = nowMilliseconds();
        prepared(database,
                 QStringLiteral("UPDATE items SET state = 'completed', path = ?, progress = 1, error = '', "
                                "finished_at = ?, job_folder = '', runner_pid = 0, lease_until = NULL WHERE id = ?"),
                 {path, now, id});
        prepared(database,
                 QStringLiteral("INSERT INTO history (url, title, extractor, video_id, path, size, completed_at) "
                                "SELECT url, title, extractor, video_id, ?, ?, ? FROM items WHERE id = ?"),
                 {path, size, now, id});
    });
    Q_EMIT itemChanged(id);
    Q_EMIT historyChanged();
}

void QueueStore::fail(qint64 id, const QString &error) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database,
                 QStringLiteral("UPDATE items SET state = 'failed', error = ?, finished_at = ?, runner_pid = 0, "
                                "lease_until = NULL WHERE id = ? AND state = 'running'"),
                 {error, nowMilliseconds(), id});
    });
    Q_EMIT itemChanged(id);
}

void QueueStore::retryLater(qint64 id, const QString &error, std::chrono::milliseconds after) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database,
                 QStringLiteral("UPDATE items SET state = 'waiting', error = ?, not_before = ?, runner_pid = 0, "
                                "lease_until = NULL WHERE id = ? AND state = 'running'"),
                 {error, nowMilliseconds() + after.count(), id});
    });
    Q_EMIT itemChanged(id);
}

void QueueStore::release(qint64 id, qint64 runnerPID, QueueState state) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database,
                 QStringLiteral("UPDATE items SET state = ?, resume_at_start = ?, runner_pid = 0, lease_until = NULL "
                                "WHERE id = ? AND runner_pid = ? AND state = 'running'"),
                 {rawState(state), state == QueueState::paused ? 1 : 0, id, runnerPID});
    });
    Q_EMIT itemChanged(id);
}

std::optional<QDateTime> QueueStore::nextWaitingTime() const {
    QSqlQuery query = prepared(QSqlDatabase::database(m_connection, false),
                               QStringLiteral("SELECT MIN(COALESCE(not_before, 0)), COUNT(*) FROM items WHERE "
                                              "state = 'waiting'"));
    if (!query.next() || query.value(1).toInt() == 0)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC);
}

int QueueStore::pause(std::optional<qint64> id) {
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        const QString statement =
            QStringLiteral("UPDATE items SET state = 'paused', resume_at_start = 0, runner_pid = 0, lease_until = "
                           "NULL WHERE state IN ('waiting', 'running')");
        QSqlQuery query =
            id ? prepared(database, statement + QStringLiteral(" AND id = ?"), {*id}) : prepared(database, statement);
        return query.numRowsAffected();
    });
    Q_EMIT itemsChanged();
    return changed;
}

int QueueStore::resume(std::optional<qint64> id) {
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        const QString statement =
            QStringLiteral("UPDATE items SET state = 'waiting', not_before = NULL, resume_at_start = 0, attempts = 0 "
                           "WHERE state = "
                           "'paused'");
        QSqlQuery query =
            id ? prepared(database, statement + QStringLiteral(" AND id = ?"), {*id}) : prepared(database, statement);
        return query.numRowsAffected();
    });
    Q_EMIT itemsChanged();
    return changed;
}

int QueueStore::retry(std::optional<qint64> id) {
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        const QString statement = QStringLiteral(
            "UPDATE items SET state = 'waiting', error = '', attempts = 0, not_before = NULL, progress = 0 WHERE ");
        QSqlQuery query =
            id ? prepared(database, statement + QStringLiteral("state IN ('failed', 'cancelled') AND id = ?"), {*id})
               : prepared(database, statement + QStringLiteral("state = 'failed'"));
        return query.numRowsAffected();
    });
    Q_EMIT itemsChanged();
    return changed;
}

int QueueStore::cancel(qint64 id) {
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        return prepared(database,
                        QStringLiteral("UPDATE items SET state = 'cancelled', runner_pid = 0, lease_until = NULL, "
                                       "finished_at = ? WHERE id = ? AND state IN ('waiting', 'running', 'paused')"),
                        {nowMilliseconds(), id})
            .numRowsAffected();
    });
    Q_EMIT itemChanged(id);
    return changed;
}

int QueueStore::remove(qint64 id) {
    QString folder;
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        QSqlQuery found = prepared(database, QStringLiteral("SELECT job_folder, state FROM items WHERE id = ?"), {id});
        if (!found.next())
            return 0;
        if (found.value(1).toString() != rawState(QueueState::running))
            folder = found.value(0).toString();
        found.finish();
        return prepared(database, QStringLiteral("DELETE FROM items WHERE id = ?"), {id}).numRowsAffected();
    });
    if (!folder.isEmpty())
        JobFolders::removeQuietly(folder);
    Q_EMIT itemsChanged();
    return changed;
}

int QueueStore::removeCompleted() {
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        return prepared(database, QStringLiteral("DELETE FROM items WHERE state = 'completed'")).numRowsAffected();
    });
    Q_EMIT itemsChanged();
    return changed;
}

int QueueStore::resumeInterrupted() {
    const int changed = inTransaction([&](const QSqlDatabase &database) {
        return prepared(
                   database,
                   QStringLiteral("UPDATE items SET state = 'waiting', resume_at_start = 0, attempts = 0 WHERE state = "
                                  "'paused' AND resume_at_start = 1"))
            .numRowsAffected();
    });
    if (changed > 0)
        Q_EMIT itemsChanged();
    return changed;
}

void QueueStore::recordHistory(HistoryEntry entry) {
    if (!entry.completedAt.isValid())
        entry.completedAt = QDateTime::currentDateTimeUtc();
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database,
                 QStringLiteral("INSERT INTO history (url, title, extractor, video_id, path, size, completed_at) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                 {entry.url, entry.title, entry.extractor, entry.videoID, entry.path, entry.size,
                  timeValue(entry.completedAt)});
    });
    Q_EMIT historyChanged();
}

std::optional<HistoryEntry> QueueStore::alreadyDownloaded(const QString &url, const QString &extractor,
                                                          const QString &videoID) const {
    const QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    const bool byVideo = !extractor.isEmpty() && !videoID.isEmpty();
    // A history entry without a known video is matched by its address even when the item's video is
    // known; one with another known video is not the same download.
    QSqlQuery query =
        byVideo ? prepared(database,
                           QStringLiteral("SELECT %1 FROM history WHERE (extractor = ? AND video_id = ?) OR (url = ? "
                                          "AND video_id = '') ORDER BY completed_at DESC, id DESC LIMIT 1")
                               .arg(historyColumns),
                           {extractor, videoID, url})
                : prepared(database,
                           QStringLiteral("SELECT %1 FROM history WHERE url = ? ORDER BY completed_at DESC, id DESC "
                                          "LIMIT 1")
                               .arg(historyColumns),
                           {url});
    if (!query.next())
        return std::nullopt;
    return historyFrom(query);
}

QList<HistoryEntry> QueueStore::history(const QString &search) const {
    const QSqlDatabase database = QSqlDatabase::database(m_connection, false);
    QSqlQuery query = prepared(
        database, QStringLiteral("SELECT %1 FROM history ORDER BY completed_at DESC, id DESC").arg(historyColumns));
    // SQLite's LIKE folds the case of ASCII letters only: the search is matched here, with
    // Unicode's case folding, so "vídeo" finds "VÍDEO".
    QList<HistoryEntry> entries;
    while (query.next()) {
        HistoryEntry entry = historyFrom(query);
        if (search.isEmpty() || entry.title.contains(search, Qt::CaseInsensitive) ||
            entry.url.contains(search, Qt::CaseInsensitive) || entry.path.contains(search, Qt::CaseInsensitive))
            entries.append(std::move(entry));
    }
    return entries;
}

void QueueStore::removeHistoryEntry(qint64 id) {
    inTransaction([&](const QSqlDatabase &database) {
        prepared(database, QStringLiteral("DELETE FROM history WHERE id = ?"), {id});
    });
    Q_EMIT historyChanged();
}

void QueueStore::clearHistory() {
    inTransaction([&](const QSqlDatabase &database) { prepared(database, QStringLiteral("DELETE FROM history")); });
    Q_EMIT historyChanged();
}
