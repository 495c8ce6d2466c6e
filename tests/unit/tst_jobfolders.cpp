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
#include <memory>
#include <stdexcept>

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

    void uniqueDestination_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << QStringList{} << u8("Song [id].m4a") << u8("Song [id].m4a");
        QTest::newRow("next free number")
            << QStringList{u8("Song [id].m4a"), u8("Song [id] 2.m4a")} << u8("Song [id].m4a") << u8("Song [id] 3.m4a");
        QTest::newRow("no extension") << QStringList{u8("README")} << u8("README") << u8("README 2");
        QTest::newRow("a folder counts") << QStringList{u8("Clip [abc].mp4/")} << u8("Clip [abc].mp4")
                                         << u8("Clip [abc] 2.mp4");
        QTest::newRow("last extension only") << QStringList{u8("a.tar.gz")} << u8("a.tar.gz") << u8("a.tar 2.gz");
        QTest::newRow("hidden name") << QStringList{u8(".env")} << u8(".env") << u8(".env 2");
        QTest::newRow("spaces, quotes, non-ASCII")
            << QStringList{u8("Canción \"en vivo\" 'ñ' [x1].webm")} << u8("Canción \"en vivo\" 'ñ' [x1].webm")
            << u8("Canción \"en vivo\" 'ñ' [x1] 2.webm");
    }
    void uniqueDestination() {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        createEntries(m_dir->path(), existing);
        QCOMPARE(JobFolders::uniqueDestination(name, m_dir->path()), path(expected));
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

    void locateResult_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("finalPath"); // relative to the job folder; empty: none reported
        QTest::addColumn<QString>("expected");  // empty: no result
        QTest::newRow("reported file") << QStringList{u8("a.mp4"), u8("b.mp4")} << u8("b.mp4") << u8("b.mp4");
        QTest::newRow("reported file is gone") << QStringList{u8("Clip.mp4")} << u8("Clip.mkv") << u8("Clip.mp4");
        QTest::newRow("reported file outside the job folder")
            << QStringList{u8("Clip.mp4"), u8("../mine.mp4")} << u8("../mine.mp4") << u8("Clip.mp4");
        QTest::newRow("reported folder") << QStringList{u8("a.mp4/"), u8("b.mp4")} << u8("a.mp4") << u8("b.mp4");
        QTest::newRow("partial files skipped")
            << QStringList{u8("a.mp4.part"), u8("b.mp4.ytdl"), u8("c.mp4")} << QString() << u8("c.mp4");
        QTest::newRow("only a partial file") << QStringList{u8("Clip.mp4.part")} << QString() << QString();
        QTest::newRow("hidden file skipped") << QStringList{u8(".a.m4a"), u8("b.m4a")} << QString() << u8("b.m4a");
        QTest::newRow("only a hidden file") << QStringList{u8(".Clip.mp4")} << QString() << QString();
        QTest::newRow("name order") << QStringList{u8("b.webm"), u8("a.webm")} << QString() << u8("a.webm");
        QTest::newRow("empty") << QStringList{} << QString() << QString();
    }
    void locateResult() {
        QFETCH(QStringList, entries);
        QFETCH(QString, finalPath);
        QFETCH(QString, expected);
        createEntries(path(u8("job")), entries);
        QDir().mkpath(path(u8("job")));
        const auto reported = finalPath.isEmpty() ? std::nullopt : std::optional(path(u8("job/") + finalPath));
        const auto result = JobFolders::locateResult(path(u8("job")), reported);
        QCOMPARE(result, expected.isEmpty() ? std::nullopt : std::optional(path(u8("job/") + expected)));
    }

    void placeResult_data() {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        const QString name = u8("Canción \"x\" ñ.m4a");
        QTest::newRow("missing destination is created") << u8("new/nested folder") << QStringList{} << name;
        QTest::newRow("existing name kept") << u8("out") << QStringList{name} << u8("Canción \"x\" ñ 2.m4a");
    }
    void placeResult() {
        QFETCH(QString, destination);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        const QString job = path(u8("job"));
        createEntries(job, {u8("Canción \"x\" ñ.m4a"), u8("Canción \"x\" ñ.m4a.part")});
        createEntries(path(destination), existing);
        const QString placed = JobFolders::placeResult(job + u8("/Canción \"x\" ñ.m4a"), job, path(destination));
        QCOMPARE(placed, path(destination + u8("/") + expected));
        QCOMPARE(TestSupport::readFile(placed), u8("Canción \"x\" ñ.m4a").toUtf8());
        QVERIFY(!QFileInfo::exists(job));
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

    void cleanAbandonedJobs_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("hoursOld");
        QTest::addColumn<bool>("removed");
        QTest::newRow("25 hours") << u8("9F1C2A44-0000-4000-8000-000000000001/") << 25 << true;
        QTest::newRow("23 hours") << u8("9F1C2A44-0000-4000-8000-000000000002/") << 23 << false;
        QTest::newRow("stray file") << u8("Clip.mp4.part") << 30 << true;
        QTest::newRow("hidden") << u8(".keep/") << 48 << false;
    }
    void cleanAbandonedJobs() {
        QFETCH(QString, entry);
        QFETCH(int, hoursOld);
        QFETCH(bool, removed);
        const QDateTime now(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC);
        const QString root = path(u8("Jobs"));
        createEntries(root, {entry.endsWith(QLatin1Char('/')) ? entry + u8("inner/Clip.mp4") : entry});
        setModified(root + u8("/") + entry, now.addSecs(-3600 * hoursOld));
        JobFolders(root, [&] { return now; }).cleanAbandonedJobs();
        QCOMPARE(QFileInfo::exists(root + u8("/") + entry), !removed);
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
