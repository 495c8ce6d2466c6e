// The queue's runner with Debian's real yt-dlp against clips served on 127.0.0.1 with range
// requests: several items at once within the limit, a server that fails twice retried into
// success, and a paused item resumed from its partial data into a byte-identical file.
#include "common/blockingwait.h"
#include "mediafixtures.h"
#include "model/downloadqueue.h"
#include "queue/queuerunner.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <unistd.h>

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
            // The command line's clip takes about six seconds, time to interrupt it twice.
            const int pace = request.path.startsWith(u"/slower"_s) ? int(m_clip.size() / 120 + 1) : m_bytesPerTick;
            ScriptedHttpServer::Response response = ScriptedHttpServer::Response::throttled(m_clip.mid(start), pace);
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
        for (const QString &path :
             {u"/a.webm"_s, u"/b.webm"_s, u"/c.webm"_s, u"/flaky.webm"_s, u"/slow.webm"_s, u"/slower.webm"_s})
            m_server->route(path, serve);
    }

    // Four items, two places (the second given while it runs): never more than two run, and the one whose server fails
    // twice (HTTP 503) is tried again on its own into success, its attempts counted.
    void runsWithinTheLimitAndRetriesNetworkFailures() {
        QueueStore store(m_dir.filePath(u"limit.sqlite"_s));
        for (const QString &path : {u"/a.webm"_s, u"/flaky.webm"_s, u"/b.webm"_s, u"/c.webm"_s})
            store.add(itemFor(path));
        m_failures = 2;
        const auto runner = runnerFor(store);
        // One place at first, a second one as soon as it runs.
        runner->setMaximumJobs(1);
        int peak = 0;
        connect(runner.get(), &QueueRunner::itemStarted, this, [&] {
            peak = std::max(peak, runner->runningCount());
            runner->setMaximumJobs(2);
        });
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

    // The window's queue: a download asked for now runs beyond the limit; at launch the items a
    // quit paused go on only when the settings say so.
    void windowQueueFollowsItsSettings() {
        const QString file = m_dir.filePath(u"window.sqlite"_s);
        qint64 interrupted = 0;
        {
            QueueStore store(file);
            interrupted = store.add(itemFor(u"/c.webm"_s));
            QVERIFY(store.claim(interrupted, ::getpid(), 30s));
            store.release(interrupted, ::getpid(), QueueState::paused);
            store.add(itemFor(u"/a.webm"_s));
        }
        QSettings ini(m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        AppSettings settings(&ini, m_dir.filePath(u"Descargas"_s), m_dir.path());
        settings.setResumeQueueAtStart(false);
        settings.setConcurrentDownloads(1);
        const ToolInfo ytDLP{u"/usr/bin/yt-dlp"_s, m_version,
                             ToolInstallSource::of(ToolInstallSource::Kind::systemPackage)};
        const ToolInfo ffmpeg{u"/usr/bin/ffmpeg"_s, u"5"_s,
                              ToolInstallSource::of(ToolInstallSource::Kind::systemPackage)};
        QueueRunnerTiming timing;
        timing.tick = 100ms;
        for (const bool resume : {false, true}) {
            settings.setResumeQueueAtStart(resume);
            DownloadQueue queue(settings, file, JobFolders(m_dir.filePath(u"Jobs"_s)), timing);
            queue.setTools(ytDLP, ffmpeg);
            QCOMPARE(queue.runner().isActive(), resume);
            if (!resume) {
                const qint64 now = queue.downloadNow(itemFor(u"/b.webm"_s));
                QCOMPARE(queue.store().item(now)->state, QueueState::running);
                queue.enqueue(itemFor(u"/c.webm"_s));
                QVERIFY(queue.runner().isActive());
                QCOMPARE(queue.runner().runningCount(), 1); // the limit, reached by the one asked for now
            }
            BlockingWait::wait(queue.runner().untilIdle());
            QCOMPARE(queue.store().item(interrupted)->state, resume ? QueueState::completed : QueueState::paused);
            QCOMPARE(queue.store().counts().value(QueueState::completed), resume ? 4 : 3);
        }
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

    // An item's stretch ("Recortar", as typed) is checked before anything is downloaded: one that
    // ends before it starts fails the item with the reason.
    void stretchEndingBeforeItStartsFails() {
        QueueStore store(m_dir.filePath(u"stretch.sqlite"_s));
        QueueItem item = itemFor(u"/c.webm"_s);
        item.section = u"0:03-0:01"_s;
        const qint64 id = store.add(item);
        const auto runner = runnerFor(store);
        QVERIFY(runner->startNow(id));
        BlockingWait::wait(runner->untilIdle());
        const QueueItem failed = *store.item(id);
        QCOMPARE(failed.state, QueueState::failed);
        QCOMPARE(failed.error, u"El final del recorte debe ser posterior al inicio."_s);
    }

    // The command line over one store: Ctrl-C leaves the item resumable (130), SIGKILL of the
    // whole program too, and the third run continues by range into the served file. Then the
    // JSON shapes, and an address already downloaded is skipped unless asked again.
    void commandLineResumesAfterInterruptionAndKill() {
        const QString home = m_dir.filePath(u"home"_s);
        const auto app = [&](const QStringList &arguments, const ProcessCallback &onProcess = {},
                             const LineCallback &onLine = {}) {
            return TestSupport::runApplication(arguments, home, {}, onProcess, onLine);
        };
        const QString url = m_server->url(u"/slower.webm"_s).toString();
        const QString folder = m_dir.filePath(u"Cola"_s);
        // The served bytes as they are, without a title written into them.
        TestSupport::writeFile(home + u"/.config/Torvel/Torvel Downloader.conf"_s, "[General]\nembedMetadata=false\n");
        const ProcessResult added = app({u"queue"_s, u"add"_s, url, u"--to"_s, folder});
        QCOMPARE(added.status, 0);
        QCOMPARE(added.standardOutput, (u"En cola #1: "_s + url + u'\n').toUtf8());
        m_ranges.clear();
        // Stopped by each signal once the transfer is under way.
        for (const int signal : {SIGINT, SIGKILL}) {
            ProcessHandle handle;
            bool sent = false;
            const ProcessResult stopped = app(
                {u"queue"_s, u"run"_s}, [&](const ProcessHandle &h) { handle = h; },
                [&](const QString &line) {
                    static const QRegularExpression percent(u"^#1 .* ([0-9]+) %"_s);
                    const QRegularExpressionMatch match = percent.match(line);
                    if (!sent && match.hasMatch() && match.captured(1).toInt() >= 15) {
                        sent = true;
                        ::kill(pid_t(handle.processID()), signal);
                    }
                });
            QVERIFY2(sent, stopped.standardError.constData());
            QCOMPARE(stopped.status, signal == SIGINT ? 130 : SIGKILL);
            QVERIFY(TestSupport::waitUntilChildless());
        }
        const ProcessResult listed = app({u"queue"_s, u"list"_s, u"--json"_s});
        QCOMPARE(listed.status, 0);
        const QJsonArray items = QJsonDocument::fromJson(listed.standardOutput)[u"items"_s].toArray();
        QCOMPARE(items.size(), 1);
        const QJsonObject item = items.first().toObject();
        for (const QString &key :
             {u"id"_s, u"url"_s, u"title"_s, u"state"_s, u"progress"_s, u"destination"_s, u"path"_s, u"error"_s})
            QVERIFY2(item.contains(key), qPrintable(key));
        QCOMPARE(item[u"state"_s].toString(), u"waiting"_s); // its runner died: taken back
        QCOMPARE(item[u"destination"_s].toString(), folder);
        // The item's own folder, with its partial data (a killed analysis's documents are the
        // clean-up's business).
        const QString jobs = home + u"/.cache/TorvelDownloader/Jobs"_s;
        const auto queuedFolders = [&jobs] {
            QStringList folders;
            for (const QString &name : QDir(jobs).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                if (QFileInfo::exists(jobs + u'/' + name + u"/.queued"_s))
                    folders.append(name);
            return folders;
        };
        QCOMPARE(queuedFolders().size(), 1);

        const ProcessResult finished = app({u"queue"_s, u"run"_s, u"--jobs"_s, u"2"_s});
        QCOMPARE(finished.status, 0);
        const QString placed = QString::fromUtf8(finished.standardOutput).trimmed();
        QCOMPARE(placed, folder + u"/slower [slower].webm"_s);
        QCOMPARE(TestSupport::readFile(placed), m_clip);
        QVERIFY(m_ranges.size() >= 2 && m_ranges.last() > 0);
        QVERIFY(queuedFolders().isEmpty());

        const ProcessResult history = app({u"history"_s, u"--json"_s, u"--search"_s, u"slower"_s});
        const QJsonArray entries = QJsonDocument::fromJson(history.standardOutput)[u"entries"_s].toArray();
        QCOMPARE(entries.size(), 1);
        const QJsonObject entry = entries.first().toObject();
        const QStringList keys = entry.keys();
        QCOMPARE(
            QSet<QString>(keys.cbegin(), keys.cend()),
            (QSet<QString>{u"url"_s, u"title"_s, u"path"_s, u"extractor"_s, u"id"_s, u"size"_s, u"completed_at"_s}));
        QCOMPARE(entry[u"id"_s].toString(), u"slower"_s);
        QCOMPARE(entry[u"path"_s].toString(), placed);
        QCOMPARE(entry[u"size"_s].toInteger(), m_clip.size());
        QVERIFY(QDateTime::fromString(entry[u"completed_at"_s].toString(), Qt::ISODate).isValid());

        const ProcessResult skipped = app({u"queue"_s, u"add"_s, url});
        QCOMPARE(skipped.status, 0);
        QVERIFY2(skipped.standardOutput.startsWith("Ya descargado el "), skipped.standardOutput.constData());
        const ProcessResult again = app({u"queue"_s, u"add"_s, url, u"--again"_s, u"notaurl"_s});
        QCOMPARE(again.status, 1);
        QCOMPARE(again.standardOutput, (u"En cola #2: "_s + url + u'\n').toUtf8());
        QCOMPARE(app({u"queue"_s, u"remove"_s, u"2"_s}).standardOutput, "1 elemento quitado de la cola.\n");
        QCOMPARE(app({u"queue"_s, u"remove"_s, u"2"_s}).status, 1);
    }
};

QTEST_GUILESS_MAIN(QueueRunnerTest)
#include "tst_queuerunner.moc"
