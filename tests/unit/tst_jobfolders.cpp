#include "common/torvelerror.h"
#include "media/jobfolders.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <latch>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QString u8(const char *text) {
    return QString::fromUtf8(text);
}

// Names ending in "/" become folders, the others files holding their own name.
void createEntries(const QString &folder, const QStringList &names) {
    for (const QString &name : names) {
        if (name.endsWith(QLatin1Char('/')))
            QDir(folder).mkpath(name);
        else
            TestSupport::writeFile(QDir(folder).filePath(name), name.toUtf8());
    }
}

// QFile::setFileTime needs an open file, which a folder cannot be.
void setModified(const QString &path, const QDateTime &time) {
    const auto since = std::chrono::milliseconds(time.toMSecsSinceEpoch());
    std::filesystem::last_write_time(QFile::encodeName(path).toStdString(),
                                     std::chrono::file_clock::from_sys(std::chrono::sys_time(since)));
}

} // namespace

class TestJobFolders : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &relative) const { return m_dir->filePath(relative); }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void uniqueDestination() {
        // Entries already there, the name wanted, and the name given; each row in a folder of its own.
        for (const auto &[existing, name, expected] : std::initializer_list<std::tuple<QStringList, QString, QString>>{
                 {{}, u8("Song [id].m4a"), u8("Song [id].m4a")},
                 {{u8("Song [id].m4a"), u8("Song [id] 2.m4a")}, u8("Song [id].m4a"), u8("Song [id] 3.m4a")},
                 {{u8("README")}, u8("README"), u8("README 2")},
                 {{u8("Clip [abc].mp4/")}, u8("Clip [abc].mp4"), u8("Clip [abc] 2.mp4")}, // a folder counts
                 {{u8("a.tar.gz")}, u8("a.tar.gz"), u8("a.tar 2.gz")},                    // the last extension only
                 {{u8(".env")}, u8(".env"), u8(".env 2")},
                 {{u8("Canción \"en vivo\" 'ñ' [x1].webm")},
                  u8("Canción \"en vivo\" 'ñ' [x1].webm"),
                  u8("Canción \"en vivo\" 'ñ' [x1] 2.webm")}}) {
            const QTemporaryDir folder;
            createEntries(folder.path(), existing);
            QCOMPARE(JobFolders::uniqueDestination(name, folder.path()), folder.filePath(expected));
        }
    }

    void uniqueDestinationAfterAllNumbers() {
        QStringList taken{u8("Clip.mp4")};
        for (int n = 2; n <= 999; ++n)
            taken.append(u"Clip %1.mp4"_s.arg(n));
        createEntries(m_dir->path(), taken);
        const QString name = QFileInfo(JobFolders::uniqueDestination(u8("Clip.mp4"), m_dir->path())).fileName();
        QVERIFY2(
            QRegularExpression(u8("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}-Clip\\.mp4$")).match(name).hasMatch(),
            qPrintable(name));
    }

    void jobFolderCreation() {
        const JobFolders jobs(path(u8("cache/TorvelDownloader/Jobs")));
        const QString first = jobs.createJobFolder();
        QVERIFY(QFileInfo(first).isDir());
        QCOMPARE(QFileInfo(first).path(), jobs.jobsRoot());
        QCOMPARE(QFileInfo(first).fileName(), QFileInfo(first).fileName().toUpper());
        QCOMPARE(QFileInfo(first).fileName().size(), 36);
        QVERIFY(jobs.createJobFolder() != first);

        createEntries(m_dir->path(), {u8("file")});
        QVERIFY_THROWS_EXCEPTION(PlatformError, JobFolders(path(u8("file/Jobs"))).createJobFolder());

        // Without a caches folder, jobs go to the temporary folder and are cleaned there too.
        QDir().mkpath(path(u8("tmp")));
        qputenv("TMPDIR", QFile::encodeName(path(u8("tmp"))));
        const QString fallback = JobFolders(QString()).createJobFolder();
        QVERIFY(fallback.startsWith(path(u8("tmp/TorvelDownloader/Jobs/"))));
        JobFolders(QString(), [] { return QDateTime::currentDateTimeUtc().addDays(2); }).cleanAbandonedJobs();
        qunsetenv("TMPDIR");
        QVERIFY(!QFileInfo::exists(fallback));
    }

    void locateResult() {
        // A job folder's entries, the path reported in it (empty: none) and the result (empty: none).
        for (const auto &[entries, finalPath, expected] :
             std::initializer_list<std::tuple<QStringList, QString, QString>>{
                 {{u8("a.mp4"), u8("b.mp4")}, u8("b.mp4"), u8("b.mp4")},
                 {{u8("Clip.mp4")}, u8("Clip.mkv"), u8("Clip.mp4")},                          // reported file gone
                 {{u8("Clip.mp4"), u8("../mine.mp4")}, u8("../mine.mp4"), u8("Clip.mp4")},    // outside the job
                 {{u8("a.mp4/"), u8("b.mp4")}, u8("a.mp4"), u8("b.mp4")},                     // a reported folder
                 {{u8("a.mp4.part"), u8("b.mp4.ytdl"), u8("c.mp4")}, QString(), u8("c.mp4")}, // partial files skipped
                 {{u8("Clip.mp4.part")}, QString(), QString()},
                 {{u8(".a.m4a"), u8("b.m4a")}, QString(), u8("b.m4a")}, // hidden files skipped
                 {{u8(".Clip.mp4")}, QString(), QString()},
                 {{u8("b.webm"), u8("a.webm")}, QString(), u8("a.webm")},       // name order
                 {{u8("Clip.jpg"), u8("Clip.mp4")}, QString(), u8("Clip.mp4")}, // its cover beside it
                 {{u8("Cover.jpg")}, QString(), u8("Cover.jpg")},
                 {{}, QString(), QString()}}) {
            const QTemporaryDir folder;
            const QString job = folder.filePath(u8("job"));
            createEntries(job, entries);
            QDir().mkpath(job);
            const auto reported =
                finalPath.isEmpty() ? std::nullopt : std::optional<QString>(job + u8("/") + finalPath);
            QCOMPARE(JobFolders::locateResult(job, reported),
                     expected.isEmpty() ? std::nullopt : std::optional<QString>(job + u8("/") + expected));
        }
    }

    void placeResult() {
        // A missing destination is created; a name already there gets a number.
        const QString name = u8("Canción \"x\" ñ.m4a");
        for (const auto &[destination, existing, expected] :
             std::initializer_list<std::tuple<QString, QStringList, QString>>{
                 {u8("new/nested folder"), {}, name}, {u8("out"), {name}, u8("Canción \"x\" ñ 2.m4a")}}) {
            const QString job = path(u8("job"));
            createEntries(job, {name, name + u8(".part")});
            createEntries(path(destination), existing);
            const QString placed = JobFolders::placeResult(job + u8("/") + name, job, path(destination));
            QCOMPARE(placed, path(destination + u8("/") + expected));
            QCOMPARE(TestSupport::readFile(placed), name.toUtf8());
            QVERIFY(!QFileInfo::exists(job));
        }
    }

    // Items of the queue that end together with the same name each get a name of their own.
    void placeResultsAtOnce() {
        constexpr int places = 8;
        for (int round = 0; round < 20; ++round) {
            const QString destination = path(u8("out-%1").arg(round));
            std::latch start(places);
            std::vector<std::thread> threads;
            QStringList placed(places);
            QStringList failures;
            std::mutex failuresLock;
            for (int i = 0; i < places; ++i) {
                const QString job = path(u8("job-%1-%2").arg(round).arg(i));
                createEntries(job, {u8("Clip.mp4")});
                threads.emplace_back([&, i, job] {
                    start.arrive_and_wait();
                    try {
                        placed[i] = JobFolders::placeResult(job + u8("/Clip.mp4"), job, destination);
                    } catch (const TorvelError &error) {
                        const std::lock_guard guard(failuresLock);
                        failures.append(error.errorDescription());
                    }
                });
            }
            for (std::thread &thread : threads)
                thread.join();
            QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
            QCOMPARE(QDir(destination).entryList(QDir::Files).size(), places);
        }
    }

    void placeResultAcrossFileSystems() {
        QTemporaryDir other(u8("/dev/shm/tst_jobfolders-XXXXXX"));
        if (!other.isValid() || QStorageInfo(other.path()).rootPath() == QStorageInfo(m_dir->path()).rootPath())
            QSKIP("no second file system to move across");
        const QString job = other.filePath(u8("job"));
        createEntries(job, {u8("Clip.mp4")});
        const QString placed = JobFolders::placeResult(job + u8("/Clip.mp4"), job, path(u8("out")));
        QCOMPARE(TestSupport::readFile(placed), QByteArray("Clip.mp4"));
        QVERIFY(!QFileInfo::exists(job));
    }

    void placeResultFailureKeepsTheFile() {
        const QString job = path(u8("Jobs/job"));
        createEntries(job, {u8("Clip.mp4")});
        createEntries(m_dir->path(), {u8("file")});
        const QString failure =
            TestSupport::failureOf([&] { JobFolders::placeResult(job + u8("/Clip.mp4"), job, path(u8("file/out"))); });
        QVERIFY2(failure.contains(u8("se conservó en ") + job + u8("/Clip.mp4")), qPrintable(failure));
        // Not even the clean-up of old jobs takes it.
        JobFolders(path(u8("Jobs")), [] { return QDateTime::currentDateTimeUtc().addDays(2); }).cleanAbandonedJobs();
        QCOMPARE(TestSupport::readFile(job + u8("/Clip.mp4")), QByteArray("Clip.mp4"));
    }

    void cleanAbandonedJobs() {
        // Entries of the jobs folder, their age in hours, and whether the clean-up removes them.
        const std::initializer_list<std::tuple<QString, int, bool>> entries{
            {u8("9F1C2A44-0000-4000-8000-000000000001/"), 25, true},
            {u8("9F1C2A44-0000-4000-8000-000000000002/"), 23, false},
            {u8("Clip.mp4.part"), 30, true}, // a stray file
            {u8(".keep/"), 48, false},
            {u8("9F1C2A44-0000-4000-8000-000000000003/"), 300, false}}; // a queued item's partial data
        const QDateTime now(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC);
        const QString root = path(u8("Jobs"));
        for (const auto &[entry, hoursOld, removed] : entries)
            createEntries(root, {entry.endsWith(QLatin1Char('/')) ? entry + u8("inner/Clip.mp4") : entry});
        createEntries(root, {u8("9F1C2A44-0000-4000-8000-000000000003/.queued")});
        for (const auto &[entry, hoursOld, removed] : entries)
            setModified(root + u8("/") + entry, now.addSecs(-3600 * hoursOld));
        JobFolders(root, [&] { return now; }).cleanAbandonedJobs();
        for (const auto &[entry, hoursOld, removed] : entries)
            QVERIFY2(QFileInfo::exists(root + u8("/") + entry) == !removed, qPrintable(entry));
    }

    void cleanUpNeverFollowsLinksOrFails() {
        const QString outside = path(u8("Music"));
        createEntries(outside, {u8("Song.m4a")});
        QDir().mkpath(path(u8("Jobs")));
        QVERIFY(QFile::link(outside, path(u8("Jobs/link"))));
        setModified(outside, QDateTime::currentDateTimeUtc().addDays(-3));
        JobFolders(path(u8("Jobs"))).cleanAbandonedJobs();
        QVERIFY(!QFileInfo(path(u8("Jobs/link"))).isSymLink());
        QVERIFY(QFileInfo::exists(outside + u8("/Song.m4a")));

        JobFolders(path(u8("missing"))).cleanAbandonedJobs();
        JobFolders(QString(), []() -> QDateTime { throw std::runtime_error("clock"); }).cleanAbandonedJobs();
        JobFolders(path(u8("Jobs")), []() -> QDateTime { throw std::runtime_error("clock"); }).cleanAbandonedJobs();
    }
};

QTEST_GUILESS_MAIN(TestJobFolders)
#include "tst_jobfolders.moc"
