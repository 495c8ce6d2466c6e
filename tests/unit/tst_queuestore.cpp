// The download queue's store: order and counts, claims shared by two connections, items of dead
// runners taken back, the history's "already downloaded" rule, and stores that cannot be opened.
#include "queue/queuestore.h"
#include "testsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QueueItem itemFor(const QString &url) {
    QueueItem item;
    item.url = url;
    item.destination = u"/tmp"_s;
    return item;
}

// Sets a column of one item directly, as another process (or a crash) would have left it.
void setColumns(const QString &file, const QString &assignments, qint64 id) {
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"direct"_s);
        database.setDatabaseName(file);
        QVERIFY(database.open());
        QSqlQuery query(database);
        QVERIFY(query.exec(u"UPDATE items SET %1 WHERE id = %2"_s.arg(assignments).arg(id)));
    }
    QSqlDatabase::removeDatabase(u"direct"_s);
}

} // namespace

class QueueStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file() const { return m_dir.filePath(u"Queue.sqlite"_s); }

private Q_SLOTS:
    void init() {
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(name));
    }

    void itemsKeepTheirOrderAndStateAcrossReopening() {
        qint64 paused = 0;
        {
            QueueStore store(file());
            QVERIFY(store.notice().isEmpty());
            QSignalSpy changes(&store, &QueueStore::itemsChanged);
            for (const QString &url : {u"https://a.example/1"_s, u"https://a.example/2"_s, u"https://a.example/3"_s})
                store.add(itemFor(url));
            QCOMPARE(changes.size(), 3);
            paused = store.items().at(1).id;
            QCOMPARE(store.pause(paused), 1);
            QueueItem entry = itemFor(u"https://a.example/page"_s);
            entry.playlistItem = 2;
            store.add(entry);
        }
        QCOMPARE(QueueStore(file()).items().at(3).playlistItem, 2);
        const QueueStore store(file());
        QList<QueueItem> items = store.items();
        items.removeLast();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items.at(0).url, u"https://a.example/1"_s);
        QCOMPARE(items.at(2).url, u"https://a.example/3"_s);
        QCOMPARE(items.at(1).state, QueueState::paused);
        QCOMPARE(store.counts().value(QueueState::waiting), 3);
        QCOMPARE(store.counts().value(QueueState::paused), 1);
    }

    // Two connections (as two processes would) claim in turn: every item is taken once.
    void twoRunnersNeverTakeTheSameItem() {
        QueueStore first(file());
        QueueStore second(file());
        for (int i = 0; i < 6; ++i)
            first.add(itemFor(u"https://a.example/%1"_s.arg(i)));
        QList<qint64> taken;
        for (int i = 0; i < 4; ++i)
            for (QueueStore *store : {&first, &second})
                if (const std::optional<QueueItem> item = store->claimNext(::getpid(), 30s))
                    taken.append(item->id);
        QCOMPARE(taken.size(), 6);
        QCOMPARE(QSet<qint64>(taken.cbegin(), taken.cend()).size(), 6);
        QCOMPARE(first.counts().value(QueueState::running), 6);
        QCOMPARE(first.items().first().attempts, 1);
        QCOMPARE(first.renewLeases(::getpid(), 30s).size(), 6);
        // Paused elsewhere: no longer the runner's.
        second.pause(taken.first());
        QCOMPARE(first.renewLeases(::getpid(), 30s).size(), 5);
    }

    // Items found running whose runner is gone (its process ended, or its lease ran out) wait again.
    void itemsOfDeadRunnersAreTakenBack() {
        qint64 deadRunner = 0, expiredLease = 0, alive = 0;
        {
            QueueStore store(file());
            deadRunner = store.add(itemFor(u"https://a.example/dead"_s));
            expiredLease = store.add(itemFor(u"https://a.example/expired"_s));
            alive = store.add(itemFor(u"https://a.example/alive"_s));
        }
        const qint64 later = QDateTime::currentMSecsSinceEpoch() + 60'000;
        setColumns(file(), u"state = 'running', runner_pid = %1, lease_until = %2"_s.arg(999999).arg(later),
                   deadRunner);
        setColumns(file(), u"state = 'running', runner_pid = %1, lease_until = 1"_s.arg(::getppid()), expiredLease);
        setColumns(file(), u"state = 'running', runner_pid = %1, lease_until = %2"_s.arg(::getppid()).arg(later),
                   alive);
        const QueueStore store(file());
        QCOMPARE(store.item(deadRunner)->state, QueueState::waiting);
        QCOMPARE(store.item(expiredLease)->state, QueueState::waiting);
        QCOMPARE(store.item(alive)->state, QueueState::running);
    }

    // A download started at once is taken out of turn; a quit pauses what ran, and only those items
    // go on at the next start, whatever the person paused staying paused.
    void itemsTakenAtOnceAndPausedByAQuit() {
        QueueStore store(file());
        const qint64 first = store.add(itemFor(u"https://a.example/1"_s));
        const qint64 now = store.add(itemFor(u"https://a.example/2"_s));
        QCOMPARE(store.claim(now, ::getpid(), 30s)->id, now);
        QVERIFY(!store.claim(now, ::getpid(), 30s)); // no longer waiting
        QCOMPARE(store.claimNext(::getpid(), 30s)->id, first);
        const qint64 byPerson = store.add(itemFor(u"https://a.example/3"_s));
        store.pause(byPerson);
        store.release(now, ::getpid(), QueueState::paused);
        store.release(first, ::getpid(), QueueState::waiting);
        QVERIFY(store.item(now)->resumeAtStart && !store.item(byPerson)->resumeAtStart);
        QCOMPARE(store.item(now)->attempts, 1);
        QCOMPARE(store.resumeInterrupted(), 1);
        QCOMPARE(store.item(now)->state, QueueState::waiting);
        QCOMPARE(store.item(now)->attempts, 0); // a pause and resume is no failed attempt
        QCOMPARE(store.item(byPerson)->state, QueueState::paused);
        store.resume(byPerson);
        QCOMPARE(store.item(byPerson)->state, QueueState::waiting);
        QCOMPARE(store.resumeInterrupted(), 0);
    }

    // A store of an earlier version gains the later columns and keeps its items.
    void earlierVersionsAreMigrated_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QStringList>("laterColumns");
        const QStringList third{u"playlist_item"_s};
        QTest::newRow("1") << 1
                           << QStringList{u"document"_s, u"subtitles"_s, u"section"_s, u"batch"_s,
                                          u"resume_at_start"_s} +
                                  third;
        QTest::newRow("2") << 2 << third;
    }
    void earlierVersionsAreMigrated() {
        QFETCH(int, version);
        QFETCH(QStringList, laterColumns);
        QueueStore(file()).add(itemFor(u"https://a.example/1"_s));
        {
            QSqlDatabase database = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"direct"_s);
            database.setDatabaseName(file());
            QVERIFY(database.open());
            for (const QString &column : laterColumns)
                QVERIFY(QSqlQuery(database).exec(u"ALTER TABLE items DROP COLUMN "_s + column));
            QVERIFY(QSqlQuery(database).exec(u"PRAGMA user_version = %1"_s.arg(version)));
        }
        QSqlDatabase::removeDatabase(u"direct"_s);
        QueueStore store(file());
        QVERIFY2(store.notice().isEmpty(), qPrintable(store.notice()));
        QCOMPARE(store.items().size(), 1);
        QueueItem again = itemFor(u"https://a.example/2"_s);
        again.subtitles = {u"es"_s, u"en"_s};
        again.playlistItem = 2;
        const std::optional<QueueItem> stored = store.item(store.add(again));
        QVERIFY(stored->subtitles == again.subtitles && stored->playlistItem == 2);
    }

    void completionIsRecordedInTheHistory() {
        QueueStore store(file());
        const qint64 id = store.add(itemFor(u"https://v.example/watch?v=abc"_s));
        QVERIFY(store.claimNext(::getpid(), 30s));
        store.saveAnalysis(id, u"Título"_s, {}, u"Example"_s, u"abc"_s);
        QSignalSpy history(&store, &QueueStore::historyChanged);
        store.complete(id, u"/tmp/Título [abc].mp4"_s, 1234);
        QCOMPARE(history.size(), 1);
        QCOMPARE(store.item(id)->state, QueueState::completed);
        // The case of accented letters too.
        const QList<HistoryEntry> entries = store.history(u"TÍTULO"_s);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().size, 1234);
        QCOMPARE(entries.first().videoID, u"abc"_s);
        QVERIFY(store.history(u"50%"_s).isEmpty()); // wildcards are plain text
        QCOMPARE(store.removeCompleted(), 1);
        QVERIFY(store.items().isEmpty());
    }

    // The same extractor and id when both are known, otherwise the same address.
    void alreadyDownloaded_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("extractor");
        QTest::addColumn<QString>("videoID");
        QTest::addColumn<QString>("found"); // the title of the entry found, or empty
        QTest::newRow("same address") << u"https://v.example/a"_s << QString() << QString() << u"A"_s;
        QTest::newRow("same video, other address") << u"https://short.example/a"_s << u"Example"_s << u"a1"_s << u"A"_s;
        QTest::newRow("same address, other video") << u"https://v.example/a"_s << u"Example"_s << u"zz"_s << QString();
        QTest::newRow("address of an entry without id")
            << u"https://files.example/b"_s << u"Generic"_s << u"b"_s << u"B"_s;
        QTest::newRow("never downloaded") << u"https://v.example/c"_s << QString() << QString() << QString();
    }

    void alreadyDownloaded() {
        QFETCH(QString, url);
        QFETCH(QString, extractor);
        QFETCH(QString, videoID);
        QFETCH(QString, found);
        QueueStore store(file());
        store.recordHistory({0, u"https://v.example/a"_s, u"A"_s, u"Example"_s, u"a1"_s, u"/tmp/A.mp4"_s, 1, {}});
        store.recordHistory({0, u"https://files.example/b"_s, u"B"_s, QString(), QString(), u"/tmp/B.mp4"_s, 1, {}});
        const std::optional<HistoryEntry> entry = store.alreadyDownloaded(url, extractor, videoID);
        QCOMPARE(entry ? entry->title : QString(), found);
    }

    // A store that cannot be used is kept aside, never deleted, and a new one starts.
    void unusableStoreIsKeptAside_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("reason");
        QTest::newRow("damaged") << QByteArray(8192, 'x') << u"está dañada"_s;
        QTest::newRow("newer") << QByteArray() << u"es de una versión más nueva de Torvel Downloader"_s;
    }

    void unusableStoreIsKeptAside() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, reason);
        if (contents.isEmpty()) {
            { QueueStore(file()).add(itemFor(u"https://a.example/1"_s)); }
            {
                QSqlDatabase database = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"direct"_s);
                database.setDatabaseName(file());
                QVERIFY(database.open());
                QVERIFY(QSqlQuery(database).exec(u"PRAGMA user_version = 99"_s));
            }
            QSqlDatabase::removeDatabase(u"direct"_s);
        } else {
            TestSupport::writeFile(file(), contents);
        }
        const QByteArray before = TestSupport::readFile(file());
        QueueStore store(file());
        QVERIFY2(store.notice().startsWith(u"La cola de descargas guardada "_s + reason), qPrintable(store.notice()));
        QVERIFY(store.items().isEmpty());
        store.add(itemFor(u"https://a.example/new"_s));
        const QStringList aside = QDir(m_dir.path()).entryList({u"Queue.sqlite.apartada-*"_s}, QDir::Files);
        QVERIFY(!aside.filter(QRegularExpression(u"apartada-[0-9-]+$"_s)).isEmpty());
        QVERIFY(store.notice().contains(aside.first()));
        if (!contents.isEmpty())
            QCOMPARE(TestSupport::readFile(m_dir.filePath(aside.first())), before);
    }
};

QTEST_GUILESS_MAIN(QueueStoreTest)
#include "tst_queuestore.moc"
