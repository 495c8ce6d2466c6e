// The queue's runner with Debian's real yt-dlp against clips served on 127.0.0.1 with range
// requests: several items at once within the limit, a server that fails twice retried into
// success, and a paused item resumed from its partial data into a byte-identical file.
#include "common/blockingwait.h"
#include "mediafixtures.h"
#include "queue/queuerunner.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class QueueRunnerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ScriptedHttpServer> m_server;
    QByteArray m_clip;
    QString m_version;
    int m_failures = 0;     // how many more requests for /flaky.webm answer 503
    QList<qint64> m_ranges; // the start of every range requested
    int m_bytesPerTick = 0;

    QueueItem itemFor(const QString &path) const {
        QueueItem item;
        item.url = m_server->url(path).toString();
        item.destination = m_dir.filePath(u"Descargas"_s);
        return item;
    }
    std::unique_ptr<QueueRunner> runnerFor(QueueStore &store) const {
        QueueRunnerTiming timing;
        timing.tick = 100ms;
        timing.retryWaits = {100ms, 200ms};
        return std::make_unique<QueueRunner>(store,
                                             QueueRunnerTools{u"/usr/bin/yt-dlp"_s, m_version, u"/usr/bin/ffmpeg"_s},
                                             JobFolders(m_dir.filePath(u"Jobs"_s)), timing);
    }

private Q_SLOTS:
    void initTestCase() {
        if (!MediaFixtures::toolsAvailable())
            QSKIP("Debian's yt-dlp and ffmpeg are not installed");
        const QString webm = m_dir.filePath(u"clip.webm"_s);
        QVERIFY(MediaFixtures::makeWebM(webm, 4));
        m_clip = TestSupport::readFile(webm);
        m_bytesPerTick = int(m_clip.size() / 30 + 1); // about 1.5 s a clip
        QProcess version;
        version.start(u"/usr/bin/yt-dlp"_s, {u"--version"_s});
        QVERIFY(version.waitForFinished(30'000));
        m_version = QString::fromUtf8(version.readAllStandardOutput()).trimmed();
        m_server = std::make_unique<ScriptedHttpServer>();
        // Every path ending in .webm is the clip, throttled, from the range asked for.
        const auto serve = [this](const ScriptedHttpServer::Request &request) {
            if (request.path.startsWith(u"/flaky"_s) && request.method == "GET" && m_failures > 0) {
                --m_failures;
                return ScriptedHttpServer::Response{503, {}, "Service Unavailable"};
            }
            qint64 start = 0;
            const QByteArray range = request.headers.value("range");
            if (range.startsWith("bytes=")) {
                start = range.mid(6, range.indexOf('-') - 6).toLongLong();
                m_ranges.append(start);
            }
            ScriptedHttpServer::Response response =
                ScriptedHttpServer::Response::throttled(m_clip.mid(start), m_bytesPerTick);
            response.headers = {{"Content-Type", "video/webm"}, {"Accept-Ranges", "bytes"}};
            if (!range.isEmpty()) {
                response.status = 206;
                response.headers.append({"Content-Range", QByteArray("bytes %1-%2/%3")
                                                              .replace("%1", QByteArray::number(start))
                                                              .replace("%2", QByteArray::number(m_clip.size() - 1))
                                                              .replace("%3", QByteArray::number(m_clip.size()))});
            }
            return response;
        };
        for (const QString &path : {u"/a.webm"_s, u"/b.webm"_s, u"/c.webm"_s, u"/flaky.webm"_s, u"/slow.webm"_s})
            m_server->route(path, serve);
    }

    // Four items, two places: never more than two run, and the one whose server fails twice
    // (HTTP 503) is tried again on its own into success, its attempts counted.
    void runsWithinTheLimitAndRetriesNetworkFailures() {
        QueueStore store(m_dir.filePath(u"limit.sqlite"_s));
        for (const QString &path : {u"/a.webm"_s, u"/flaky.webm"_s, u"/b.webm"_s, u"/c.webm"_s})
            store.add(itemFor(path));
        m_failures = 2;
        const auto runner = runnerFor(store);
        runner->setMaximumJobs(2);
        int peak = 0;
        connect(runner.get(), &QueueRunner::itemStarted, this, [&] { peak = std::max(peak, runner->runningCount()); });
        runner->start();
        BlockingWait::wait(runner->untilIdle());
        QCOMPARE(peak, 2);
        const QList<QueueItem> items = store.items();
        for (const QueueItem &item : items) {
            QVERIFY2(item.state == QueueState::completed, qPrintable(item.url + u": "_s + item.error));
            QCOMPARE(TestSupport::readFile(item.path), m_clip);
            QCOMPARE(item.extractor, u"Generic"_s);
        }
        QCOMPARE(items.at(1).attempts, 3);
        QVERIFY(items.at(1).error.isEmpty());
        QCOMPARE(items.at(0).attempts, 1);
        QCOMPARE(store.history().size(), 4);
        QVERIFY(store.alreadyDownloaded(items.at(2).url));
        QVERIFY(QDir(m_dir.filePath(u"Jobs"_s)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    // A pause stops yt-dlp and keeps its partial data; the resumed item continues it with a range
    // request and the placed file is the served one, byte for byte.
    void pausedItemResumesByRange() {
        QueueStore store(m_dir.filePath(u"pause.sqlite"_s));
        const qint64 id = store.add(itemFor(u"/slow.webm"_s));
        m_ranges.clear();
        const auto runner = runnerFor(store);
        bool paused = false;
        connect(runner.get(), &QueueRunner::itemProgress, this, [&](qint64, const DownloadProgress &progress) {
            if (!paused && progress.fraction > 0.3) {
                paused = true;
                store.pause(id);
            }
        });
        runner->start();
        BlockingWait::wait(runner->untilIdle());
        const QueueItem stopped = *store.item(id);
        QCOMPARE(stopped.state, QueueState::paused);
        QVERIFY(QFileInfo::exists(stopped.jobFolder));
        const QStringList partial = QDir(stopped.jobFolder).entryList({u"*.part"_s}, QDir::Files);
        QCOMPARE(partial.size(), 1);
        const qint64 kept = QFileInfo(stopped.jobFolder + u'/' + partial.first()).size();
        QVERIFY(kept > 0);

        QCOMPARE(store.resume(id), 1);
        runner->start();
        BlockingWait::wait(runner->untilIdle());
        const QueueItem done = *store.item(id);
        QVERIFY2(done.state == QueueState::completed, qPrintable(done.error));
        QCOMPARE(TestSupport::readFile(done.path), m_clip);
        QVERIFY2(std::any_of(m_ranges.cbegin(), m_ranges.cend(), [&](qint64 start) { return start >= kept; }),
                 qPrintable(u"%1 kept, ranges asked: %2"_s.arg(kept).arg(m_ranges.size())));
        QVERIFY(!QFileInfo::exists(stopped.jobFolder));
    }
};

QTEST_GUILESS_MAIN(QueueRunnerTest)
#include "tst_queuerunner.moc"
