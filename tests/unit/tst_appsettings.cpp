#include "model/appsettings.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>

namespace {

const QString downloads = QStringLiteral("/home/ana/Descargas");
const QString home = QStringLiteral("/home/ana");

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestAppSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString freshPath() { return m_dir.filePath(QStringLiteral("settings-%1.ini").arg(++m_files)); }
    QString storeWith(const QByteArray &text) { return TestSupport::writeFile(freshPath(), text); }

    // QSettings keeps one parsed copy of a file per process, so reading "after a restart" means
    // parsing a copy under a name this process has never opened.
    std::unique_ptr<QSettings> reopened(const QString &path) {
        const QString copy = freshPath();
        if (!QFile::copy(path, copy))
            qFatal("cannot copy %s", qPrintable(path));
        return std::make_unique<QSettings>(copy, QSettings::IniFormat);
    }

private Q_SLOTS:
    void freshStoreLoadsFallbacksAndWritesNothing() {
        const QString path = freshPath();
        {
            QSettings store(path, QSettings::IniFormat);
            const AppSettings settings(&store, downloads, home);
            QCOMPARE(settings.ytDLPPath(), QString());
            QCOMPARE(settings.ffmpegPath(), QString());
            QCOMPARE(settings.downloadDirectory(), downloads);
            QCOMPARE(settings.revealWhenFinished(), true);
            QCOMPARE(AppSettings(&store).downloadDirectory(), PlatformPaths::downloadsFolder());
        }
        QVERIFY(!QFileInfo::exists(path));
    }

    void valuesSurviveARestartAsTyped() {
        const QString path = freshPath();
        QSettings store(path, QSettings::IniFormat);
        AppSettings settings(&store, downloads, home);
        QSignalSpy ytDLP(&settings, &AppSettings::ytDLPPathChanged);
        QSignalSpy ffmpeg(&settings, &AppSettings::ffmpegPathChanged);
        QSignalSpy folder(&settings, &AppSettings::downloadDirectoryChanged);
        QSignalSpy reveal(&settings, &AppSettings::revealWhenFinishedChanged);
        settings.setYtDLPPath(QStringLiteral("/opt/yt-dlp, versión nueva"));
        QCOMPARE((QList<qsizetype>{ytDLP.count(), ffmpeg.count(), folder.count(), reveal.count()}),
                 (QList<qsizetype>{1, 0, 0, 0}));
        settings.setFfmpegPath(QStringLiteral("@/usr/bin/ffmpeg"));
        settings.setDownloadDirectory(QStringLiteral("~/Vídeos"));
        settings.setRevealWhenFinished(false);
        QCOMPARE((QList<qsizetype>{ytDLP.count(), ffmpeg.count(), folder.count(), reveal.count()}),
                 (QList<qsizetype>{1, 1, 1, 1}));

        const auto disk = reopened(path);
        const AppSettings restarted(disk.get(), downloads, home);
        QCOMPARE(restarted.ytDLPPath(), QStringLiteral("/opt/yt-dlp, versión nueva"));
        QCOMPARE(restarted.ffmpegPath(), QStringLiteral("@/usr/bin/ffmpeg"));
        QCOMPARE(restarted.downloadDirectory(), QStringLiteral("~/Vídeos"));
        QCOMPARE(restarted.downloadDirectoryPath(), QStringLiteral("/home/ana/Vídeos"));
        QCOMPARE(restarted.revealWhenFinished(), false);
        settings.setDownloadDirectory(QStringLiteral("~"));
        QCOMPARE(settings.downloadDirectoryPath(), home);
    }

    void onlyAStoredBooleanCounts_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("expected");
        QTest::newRow("false") << QByteArray("false") << false;
        QTest::newRow("true") << QByteArray("true") << true;
        QTest::newRow("word") << QByteArray("s\xc3\xad") << true;
        QTest::newRow("capitalised") << QByteArray("False") << true;
        QTest::newRow("number") << QByteArray("0") << true;
        QTest::newRow("list") << QByteArray("false, false") << true;
        QTest::newRow("bytes") << QByteArray("@ByteArray(false)") << true;
        QTest::newRow("empty") << QByteArray("") << true;
    }
    void onlyAStoredBooleanCounts() {
        QFETCH(QByteArray, value);
        QFETCH(bool, expected);
        QSettings store(storeWith("[General]\nrevealWhenFinished=" + value + '\n'), QSettings::IniFormat);
        QCOMPARE(AppSettings(&store, downloads, home).revealWhenFinished(), expected);
    }

    void aPathMustBeAString() {
        QSettings store(storeWith("[General]\nytDLPPath=/a, /b\nffmpegPath=@ByteArray(/usr/bin/ffmpeg)\n"
                                  "downloadDirectory=@Variant(\\0\\0\\0\\x1\\x1)\n"),
                        QSettings::IniFormat);
        const AppSettings settings(&store, downloads, home);
        QCOMPARE(settings.ytDLPPath(), QString());
        QCOMPARE(settings.ffmpegPath(), QString());
        QCOMPARE(settings.downloadDirectory(), downloads);
    }

    void anUnchangedValueIsStillWritten() {
        const QString path = freshPath();
        QSettings store(path, QSettings::IniFormat);
        AppSettings settings(&store, downloads, home);
        QSignalSpy revealChanges(&settings, &AppSettings::revealWhenFinishedChanged);
        settings.setRevealWhenFinished(true);
        settings.setDownloadDirectory(downloads);
        QVERIFY(contents(path).contains("revealWhenFinished=true"));
        QVERIFY(contents(path).contains("downloadDirectory=/home/ana/Descargas"));
        QCOMPARE(revealChanges.count(), 0);

        // Someone else changed the file meanwhile: assigning the value held in memory restores it.
        settings.setYtDLPPath(QStringLiteral("/usr/bin/yt-dlp"));
        QByteArray text = contents(path);
        text.replace("ytDLPPath=/usr/bin/yt-dlp", "ytDLPPath=/otra/ruta/yt-dlp");
        TestSupport::writeFile(path, text);
        settings.setYtDLPPath(QStringLiteral("/usr/bin/yt-dlp"));
        QVERIFY(contents(path).contains("ytDLPPath=/usr/bin/yt-dlp\n"));
    }

    void aDamagedFileIsNeverRewritten_data() {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("line without a value") << QByteArray("una línea suelta\n");
        QTest::newRow("unclosed section") << QByteArray("[Ventana\nancho=3\n");
        QTest::newRow("undecodable value") << QByteArray("estado=@Variant(basura)\n");
    }
    void aDamagedFileIsNeverRewritten() {
        QFETCH(QByteArray, damage);
        const QByteArray original = "[General]\nytDLPPath=/usr/bin/yt-dlp\nrevealWhenFinished=false\n"
                                    "ventana=980x760\n" +
                                    damage;
        const QString path = storeWith(original);
        // Another QSettings parses the file first: Qt reports the damage only to that one.
        { (void)QSettings(path, QSettings::IniFormat).allKeys(); }

        QSettings store(path, QSettings::IniFormat);
        AppSettings settings(&store, downloads, home);
        QCOMPARE(settings.ytDLPPath(), QStringLiteral("/usr/bin/yt-dlp"));
        QCOMPARE(settings.revealWhenFinished(), false);

        QSignalSpy changes(&settings, &AppSettings::ffmpegPathChanged);
        settings.setFfmpegPath(QStringLiteral("/usr/bin/ffmpeg"));
        settings.setRevealWhenFinished(true);
        QCOMPARE(settings.ffmpegPath(), QStringLiteral("/usr/bin/ffmpeg"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(contents(path), original);

        // Once the file is repaired, the next assignment is stored beside the other keys.
        TestSupport::writeFile(path, "[General]\nytDLPPath=/usr/bin/yt-dlp\nventana=980x760\n");
        settings.setFfmpegPath(QStringLiteral("/usr/local/bin/ffmpeg"));
        const auto disk = reopened(path);
        QCOMPARE(disk->value(QStringLiteral("ffmpegPath")).toString(), QStringLiteral("/usr/local/bin/ffmpeg"));
        QCOMPARE(disk->value(QStringLiteral("ventana")).toString(), QStringLiteral("980x760"));
    }

    // Examined once, the file is trusted until its size or modification time changes (the test
    // QSettings itself applies before re-reading it): an assignment costs no copy and no parse.
    void anUnchangedFileIsNotExaminedAgain() {
        const QString path = freshPath();
        QSettings store(path, QSettings::IniFormat);
        AppSettings settings(&store, downloads, home);
        settings.setYtDLPPath(QStringLiteral("/usr/bin/yt-dlp"));
        // Damage of the same size, with the time put back: only a new examination would see it.
        const std::filesystem::path file(QFile::encodeName(path).toStdString());
        const auto written = std::filesystem::last_write_time(file);
        TestSupport::writeFile(path, contents(path).replace("[General]", "[Generalx"));
        std::filesystem::last_write_time(file, written);
        settings.setFfmpegPath(QStringLiteral("/usr/bin/ffmpeg"));
        QVERIFY(contents(path).contains("ffmpegPath=/usr/bin/ffmpeg"));
    }

    void anUnreadableFileIsNeverRewritten() {
        const QByteArray original = "[General]\nytDLPPath=/usr/bin/yt-dlp\nventana=980x760\n";
        const QString path = storeWith(original);
        QFile::setPermissions(path, QFile::WriteOwner);
        if (QFileInfo(path).isReadable())
            QSKIP("file permissions do not restrict this user");

        {
            QSettings store(path, QSettings::IniFormat);
            AppSettings settings(&store, downloads, home);
            QCOMPARE(settings.ytDLPPath(), QString());
            settings.setYtDLPPath(QStringLiteral("/usr/local/bin/yt-dlp"));
            QCOMPARE(settings.ytDLPPath(), QStringLiteral("/usr/local/bin/yt-dlp"));
        }
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(contents(path), original);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
