#include "common/blockingwait.h"
#include "forwardproxy.h"
#include "media/downloadchoice.h"
#include "media/playlistdownloader.h"
#include "media/ytdlpexplanations.h"
#include "media/ytdlpservice.h"
#include "mediafixtures.h"
#include "process/processtree.h"
#include "queue/queuerunner.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace Qt::StringLiterals;
using TestSupport::failureOf;

namespace {

const QByteArray cookieJar = "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsesion\tok\n";

} // namespace

// Debian's real yt-dlp and FFmpeg against a DASH presentation served on 127.0.0.1, and against
// a page that only someone signed in may see, whose one video is WebM (VP9 and Opus).
class TestRealYTDLP : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<ScriptedHttpServer> m_site;
    std::unique_ptr<YTDLPService> m_service;
    int m_refusals = 0; // how many more requests for /one.mp4 the server refuses with 403

    qsizetype fetches(const QString &path) const { return m_server->requests().count(u"GET "_s + path); }
    // A clip with video and audio (a key frame every five seconds), in the served folder.
    void makeClip(const QString &name, int seconds = 1) {
        const QString duration = u"duration="_s + QString::number(seconds);
        const ProcessResult made = BlockingWait::wait(
            ProcessRunner::run(u"/usr/bin/ffmpeg"_s, {u"-loglevel"_s,
                                                      u"error"_s,
                                                      u"-y"_s,
                                                      u"-f"_s,
                                                      u"lavfi"_s,
                                                      u"-i"_s,
                                                      u"testsrc="_s + duration + u":size=160x120:rate=10"_s,
                                                      u"-f"_s,
                                                      u"lavfi"_s,
                                                      u"-i"_s,
                                                      u"sine="_s + duration,
                                                      u"-shortest"_s,
                                                      u"-c:v"_s,
                                                      u"libx264"_s,
                                                      u"-g"_s,
                                                      u"50"_s,
                                                      u"-c:a"_s,
                                                      u"aac"_s,
                                                      u"-movflags"_s,
                                                      u"+faststart"_s,
                                                      m_dir.filePath(u"site/"_s + name)}));
        QCOMPARE(made.status, 0);
    }

    QString jobsRoot() const { return m_dir.filePath(u"Jobs"_s); }
    QString destination() const { return m_dir.filePath(u"Descargas"_s); }
    QUrl manifest() const { return m_server->url(u"/manifest.mpd"_s); }
    QUrl privatePage() const { return m_site->url(u"/page"_s); }
    // An FFmpeg slowed down to real time (-readrate 1 before each input) that logs the process id
    // of every run that reads an input into `started`; FFprobe beside it.
    QString slowFFmpeg(const QString &started) {
        const QString slow = m_dir.filePath(u"slow"_s);
        if (!QFileInfo::exists(slow + u"/ffprobe"_s)) {
            TestSupport::writeScript(slow + u"/ffmpeg"_s,
                                     u"n=$#; for a in \"$@\"; do [ \"$a\" = -i ] && set -- \"$@\" -readrate 1\n"
                                     "set -- \"$@\" \"$a\"; done; shift $n\n"
                                     "case \" $* \" in *' -i '*) echo $$ >> \"$TORVEL_STARTED\" ;; esac\n"
                                     "exec /usr/bin/ffmpeg \"$@\""_s);
            QFile::link(u"/usr/bin/ffprobe"_s, slow + u"/ffprobe"_s);
        }
        qputenv("TORVEL_STARTED", started.toUtf8());
        return slow + u"/ffmpeg"_s;
    }
    // Cancels the service once `phase` is shown and FFmpeg has started on it.
    struct CancelDuring {
        QTimer poll;
        bool reached = false;
    };
    DownloadProgressTracker::Emitter cancelDuring(CancelDuring &cancel, const QString &phase, const QString &started) {
        QObject::connect(&cancel.poll, &QTimer::timeout, [this, &cancel, started] {
            if (QFileInfo(started).size() > 0 && cancel.poll.isActive()) {
                cancel.poll.stop();
                m_service->cancel();
            }
        });
        return [&cancel, phase](const DownloadProgress &progress) {
            if (progress.phaseText != phase || cancel.reached)
                return;
            cancel.reached = true;
            cancel.poll.start(20);
        };
    }
    void verifyNothingLeft(const QString &started, const QString &folder) {
        for (const QByteArray &pid : TestSupport::readFile(started).split('\n'))
            QVERIFY2(pid.isEmpty() || !ProcessTree::isRunning(qint32(pid.toLongLong())), pid.constData());
        QTest::qWait(300); // nothing comes back to write into the removed job folder
        QVERIFY(QDir(jobsRoot()).isEmpty());
        QVERIFY(!QFileInfo::exists(folder) || QDir(folder).isEmpty());
    }
    QCoro::Task<QString> download(const DownloadChoice &choice, const DownloadProgressTracker::Emitter &onProgress = {},
                                  const QString &ffmpeg = u"/usr/bin/ffmpeg"_s, const QString &folder = QString()) {
        return m_service->download(manifest(), choice, u"/usr/bin/yt-dlp"_s, ffmpeg,
                                   folder.isEmpty() ? destination() : folder, onProgress);
    }
    // What ffprobe sees in a file: each stream as "type:codec:language" ("cover:mjpeg" for a
    // cover picture), then the title and comment tags.
    static QString contentsOf(const QString &file) {
        const ProcessResult probed = BlockingWait::wait(ProcessRunner::run(
            u"/usr/bin/ffprobe"_s,
            {u"-v"_s, u"error"_s, u"-show_entries"_s,
             u"stream=codec_type,codec_name:stream_tags=language:stream_disposition=attached_pic:format_tags=title,"
             "comment"_s,
             u"-of"_s, u"json"_s, u"--"_s, file}));
        const QJsonObject report = QJsonDocument::fromJson(probed.standardOutput).object();
        QStringList parts;
        for (const QJsonValue &value : report.value(u"streams"_s).toArray()) {
            const QJsonObject stream = value.toObject();
            const bool cover = stream.value(u"disposition"_s).toObject().value(u"attached_pic"_s).toInt() == 1;
            const QString language = stream.value(u"tags"_s).toObject().value(u"language"_s).toString();
            parts.append((cover ? u"cover"_s : stream.value(u"codec_type"_s).toString()) + u':' +
                         stream.value(u"codec_name"_s).toString() +
                         (language.isEmpty() || language == u"und"_s ? QString() : u':' + language));
        }
        const QJsonObject tags = report.value(u"format"_s).toObject().value(u"tags"_s).toObject();
        parts.append(u"title=" + tags.value(u"title"_s).toString());
        parts.append(u"comment=" + tags.value(u"comment"_s).toString());
        return parts.join(u' ');
    }
    ProcessResult runApplication(const QStringList &arguments, const ProcessCallback &onProcess = {},
                                 const LineCallback &onLine = {}) {
        return TestSupport::runApplication(arguments, m_dir.filePath(u"home"_s), {}, onProcess, onLine);
    }

private Q_SLOTS:
    void initTestCase() {
        if (!MediaFixtures::toolsAvailable())
            QSKIP("Debian's yt-dlp and ffmpeg are not installed");
        QVERIFY(MediaFixtures::makeDashPresentation(m_dir.filePath(u"site"_s)));
        m_server = std::make_unique<ScriptedHttpServer>();
        m_server->serveFolder(m_dir.filePath(u"site"_s));
        const QString webm = m_dir.filePath(u"clip.webm"_s);
        QVERIFY(MediaFixtures::makeWebM(webm, 4));
        m_site = std::make_unique<ScriptedHttpServer>();
        m_site->route(u"/page"_s, [](const ScriptedHttpServer::Request &request) {
            if (!request.headers.value("cookie").contains("sesion=ok"))
                return ScriptedHttpServer::Response{403, {}, "Forbidden"};
            return ScriptedHttpServer::Response::ok(
                "<html><head><title>Clip</title></head><body><video src=\"/clip.webm\"></video></body></html>",
                "text/html");
        });
        // Slowly, so that yt-dlp reports the transfer several times, and dated years ago.
        const QByteArray clip = TestSupport::readFile(webm);
        ScriptedHttpServer::Response served = ScriptedHttpServer::Response::throttled(clip, int(clip.size() / 8 + 1));
        served.headers = {{"Content-Type", "video/webm"}, {"Last-Modified", "Wed, 01 Jan 2020 00:00:00 GMT"}};
        m_site->route(u"/clip.webm"_s, served);
        m_service = std::make_unique<YTDLPService>(DependencyLocator(), JobFolders(jobsRoot()));

        // A page with one clip, whose transfers the test can have refused.
        for (const QString &name : {u"a.mp4"_s, u"b.mp4"_s})
            makeClip(name);
        TestSupport::writeFile(
            m_dir.filePath(u"site/one.html"_s),
            "<html><head><title>Uno</title></head><body><video src=\"one.mp4\"></video></body></html>");
        // A page whose video has two subtitle tracks and a poster.
        const ProcessResult poster = BlockingWait::wait(
            ProcessRunner::run(u"/usr/bin/ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-y"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                                      u"color=c=red:size=64x64"_s, u"-frames:v"_s, u"1"_s,
                                                      m_dir.filePath(u"site/poster.jpg"_s)}));
        QCOMPARE(poster.status, 0);
        for (const char *language : {"es", "en"})
            TestSupport::writeFile(m_dir.filePath(u"site/"_s + QLatin1String(language) + u".vtt"_s),
                                   QByteArray("WEBVTT\n\n00:00:00.000 --> 00:00:00.900\n") + language + '\n');
        TestSupport::writeFile(m_dir.filePath(u"site/subs.html"_s),
                               "<html><head><title>Subtitulado</title></head><body><video poster=\"poster.jpg\">"
                               "<source src=\"b.mp4\" type=\"video/mp4\">"
                               "<track kind=\"subtitles\" src=\"es.vtt\" srclang=\"es\">"
                               "<track kind=\"captions\" src=\"en.vtt\" srclang=\"en\"></video></body></html>");
        QVERIFY(MediaFixtures::makeWebM(m_dir.filePath(u"site/clip.webm"_s), 1));
        TestSupport::writeFile(m_dir.filePath(u"site/webm.html"_s),
                               "<html><head><title>WebM</title></head><body><video poster=\"poster.jpg\">"
                               "<source src=\"clip.webm\" type=\"video/webm\"></video></body></html>");
        const QByteArray one = TestSupport::readFile(m_dir.filePath(u"site/a.mp4"_s));
        m_server->route(u"/one.mp4"_s, [this, one](const ScriptedHttpServer::Request &request) {
            if (request.method == "GET" && m_refusals > 0) {
                --m_refusals;
                return ScriptedHttpServer::Response{403, {}, "Forbidden"};
            }
            return ScriptedHttpServer::Response::ok(one, "video/mp4");
        });
    }

    void analysisDecodesTheFormats() {
        ChoiceSelection selection;
        selection.mediaInfo =
            std::get<MediaInfo>(BlockingWait::wait(m_service->analyze(manifest(), u"/usr/bin/yt-dlp"_s)));
        QCOMPARE(selection.mediaInfo->webpageURL, manifest().toString());
        QStringList formats;
        for (const MediaFormat &format : selection.exactFormats())
            formats << format.qualityLabel() + u' ' + format.resolutionDetail() + u' ' +
                           format.videoCodecLabel().value_or(u"-"_s) + u' ' + format.audioCodecLabel().value_or(u"-"_s);
        QCOMPARE(formats,
                 (QStringList{u"360p 640×360 H.264 -"_s, u"180p 320×180 H.264 -"_s, u"Solo audio DASH audio - AAC"_s}));
        QCOMPARE(selection.mediaInfo->formats.size(), 3);

        const QList<MediaFormat> audioOnly = selection.audioOnlyFormats();
        QCOMPARE(audioOnly.size(), 1);
        selection.selectedAudioFormatID = audioOnly.first().formatID;
        const MediaFormat video = selection.exactFormats().at(1);
        selection.selectChoice(DownloadChoice::exact(video));
        QCOMPARE(selection.selectedChoice().formatSelector, video.formatID + u'+' + audioOnly.first().formatID);
    }

    void addressBeginningWithADashIsNotAnOption() {
        const QString failure = TestSupport::failureOf(m_service->analyze(QUrl(u"-version"_s), u"/usr/bin/yt-dlp"_s));
        QVERIFY2(failure.contains(u"-version"_s) && !failure.contains(u"no such option"_s), qPrintable(failure));
    }

    void recommendedMergesVideoAndAudio() {
        QList<DownloadProgress> seen;
        const QString first = BlockingWait::wait(download(
            DownloadChoice::recommended(), [&seen](const DownloadProgress &progress) { seen.append(progress); }));
        QCOMPARE(first, destination() + u"/manifest [manifest].mp4"_s);
        QCOMPARE(MediaFixtures::streamTypes(first), u"video,audio"_s);

        QVERIFY(seen.size() > 3);
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY2(seen.at(i).fraction >= seen.at(i - 1).fraction, qPrintable(QString::number(i)));
        QCOMPARE(seen.last(), (DownloadProgress{1, u"Completado"_s, u"Descarga completada"_s, {}, {}}));
        QVERIFY(QDir(jobsRoot()).isEmpty());

        const QString second = BlockingWait::wait(download(DownloadChoice::recommended()));
        QCOMPARE(second, destination() + u"/manifest [manifest] 2.mp4"_s);
        QVERIFY(QFileInfo::exists(first));
    }

    // What is already H.264 and AAC is placed as yt-dlp merged it, without a conversion.
    void compatibleMP4KeepsWhatIsAlreadyH264() {
        QStringList phases;
        const QString file = BlockingWait::wait(download(
            DownloadChoice::compatibleMP4(), [&phases](const DownloadProgress &p) { phases.append(p.phaseText); },
            u"/usr/bin/ffmpeg"_s, m_dir.filePath(u"Compatible"_s)));
        QVERIFY2(file.endsWith(u".mp4"_s), qPrintable(file));
        QCOMPARE(MediaFixtures::streamCodecs(file), u"h264,aac"_s);
        QVERIFY(!phases.contains(u"Convirtiendo video…"_s));
        QCOMPARE(phases.last(), u"Completado"_s);
    }

    // One extraction per download: the analysis's document is downloaded from while it is
    // usable; one that is too old, or whose media the site refuses, is extracted once more, and
    // only once, with a line that says so.
    void onePageFetchPerDownload_data() {
        QTest::addColumn<bool>("stale");
        QTest::addColumn<int>("refusals");
        QTest::addColumn<QString>("status"); // empty: the page is fetched by the analysis alone
        const QString refused = u"El sitio rechazó las direcciones del análisis: se vuelve a leer la página…"_s;
        QTest::newRow("fresh") << false << 0 << QString();
        QTest::newRow("stale") << true << 0 << u"El análisis ya no está vigente: se vuelve a leer la página…"_s;
        QTest::newRow("refused once") << false << 1 << refused;
        QTest::newRow("refused again after the new extraction") << false << 2 << refused;
    }
    void onePageFetchPerDownload() {
        QFETCH(bool, stale);
        QFETCH(int, refusals);
        QFETCH(QString, status);
        const QUrl page = m_server->url(u"/one.html"_s);
        const qsizetype before = fetches(u"/one.html"_s);
        const MediaInfo media = std::get<MediaInfo>(BlockingWait::wait(m_service->analyze(page, u"/usr/bin/yt-dlp"_s)));
        QVERIFY(media.document && QFileInfo(media.document->path()).isFile());
        if (stale) {
            QFile document(media.document->path());
            QVERIFY(
                document.open(QIODevice::ReadWrite) &&
                document.setFileTime(QDateTime::currentDateTime().addSecs(-7200), QFileDevice::FileModificationTime));
        }
        m_refusals = refusals;
        QStringList statuses;
        YTDLPService::DownloadOptions options;
        options.document = media.document;
        auto task = m_service->download(
            page, DownloadChoice::recommended(), u"/usr/bin/yt-dlp"_s, u"/usr/bin/ffmpeg"_s,
            m_dir.filePath(u"Una vez"_s),
            [&](const DownloadProgress &progress) { statuses.append(progress.statusText); }, options);
        if (refusals > 1) {
            const QString failure = failureOf(std::move(task));
            QVERIFY2(failure.contains(u"HTTP Error 403"_s), qPrintable(failure));
        } else {
            QCOMPARE(MediaFixtures::streamTypes(BlockingWait::wait(std::move(task))), u"video,audio"_s);
        }
        QCOMPARE(fetches(u"/one.html"_s) - before, status.isEmpty() ? 1 : 2);
        QCOMPARE(statuses.count(status), status.isEmpty() ? 0 : 1);
        QCOMPARE(m_refusals, 0);
        QVERIFY(QDir(jobsRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1); // the document's
    }

    // From the analysis's document, as every download: only the chosen subtitles, tagged with
    // their language (MP4's mov_text), and by default the title, the page address and the cover;
    // with the switch off none of these. Without an analysis the cover goes in after the download
    // when the file can keep one, and WebM gets none. Nothing else is left beside the file.
    void fileCarriesTheChosenSubtitlesAndMetadata_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("analyzed");
        QTest::addColumn<QStringList>("subtitles");
        QTest::addColumn<bool>("embed");
        QTest::addColumn<QString>("contents"); // PAGE stands for the page's address
        QTest::newRow("Spanish, with metadata")
            << u"/subs.html"_s << true << QStringList{u"es"_s} << true
            << u"video:h264 audio:aac subtitle:mov_text:spa cover:mjpeg title=Subtitulado (1) comment=PAGE"_s;
        QTest::newRow("English, switch off") << u"/subs.html"_s << true << QStringList{u"en"_s} << false
                                             << u"video:h264 audio:aac subtitle:mov_text:eng title= comment="_s;
        QTest::newRow("none, switch off")
            << u"/subs.html"_s << true << QStringList() << false << u"video:h264 audio:aac title= comment="_s;
        QTest::newRow("MP4 without analysis")
            << u"/subs.html"_s << false << QStringList() << true
            << u"video:h264 audio:aac cover:mjpeg title=Subtitulado (1) comment=PAGE"_s;
        QTest::newRow("WebM without analysis")
            << u"/webm.html"_s << false << QStringList() << true << u"video:vp9 audio:opus title=WebM (1) comment="_s;
    }
    void fileCarriesTheChosenSubtitlesAndMetadata() {
        QFETCH(QString, path);
        QFETCH(bool, analyzed);
        QFETCH(QStringList, subtitles);
        QFETCH(bool, embed);
        QFETCH(QString, contents);
        const QUrl page = m_server->url(path);
        ChoiceSelection selection;
        selection.selectChoice(DownloadChoice::recommended());
        YTDLPService::DownloadOptions options;
        if (analyzed) {
            selection.mediaInfo =
                std::get<MediaInfo>(BlockingWait::wait(m_service->analyze(page, u"/usr/bin/yt-dlp"_s)));
            const auto codes = [](const QList<SubtitleLanguage> &languages) {
                QStringList list;
                for (const SubtitleLanguage &language : languages)
                    list.append(language.label());
                return list;
            };
            QCOMPARE(codes(selection.mediaInfo->subtitles), (QStringList{u"en"_s, u"es"_s}));
            QVERIFY(selection.mediaInfo->automaticCaptions.isEmpty());
            selection.selectedSubtitles = subtitles;
            options.document = selection.mediaInfo->document;
        }
        options.withoutAnalysis = !analyzed;
        options.contents = selection.fileContents(embed);
        QCOMPARE(analyzed ? options.contents.cover : options.contents.coverIfHeld, embed);
        const QString folder = m_dir.filePath(u"Subtítulos/"_s + QString::fromUtf8(QTest::currentDataTag()));
        const QString file = BlockingWait::wait(m_service->download(
            page, DownloadChoice::recommended(), u"/usr/bin/yt-dlp"_s, u"/usr/bin/ffmpeg"_s, folder, {}, options));
        QCOMPARE(contentsOf(file), QString(contents).replace(u"PAGE"_s, page.toString()));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
    }

    // "Recortar": only the stretch asked for, cut by FFmpeg while it downloads from the
    // analysis's document, within a second of its length, the bar only moving forward.
    void sectionOfAVideo() {
        makeClip(u"long.mp4"_s, 8);
        TestSupport::writeFile(m_dir.filePath(u"site/long.html"_s), "<html><head><title>Largo</title></head><body>"
                                                                    "<video src=\"long.mp4\"></video></body></html>");
        const QUrl page = m_server->url(u"/long.html"_s);
        const MediaInfo media = std::get<MediaInfo>(BlockingWait::wait(m_service->analyze(page, u"/usr/bin/yt-dlp"_s)));
        YTDLPService::DownloadOptions options;
        options.document = media.document;
        options.section = MediaSection{2, 4.5};
        QList<double> fractions;
        const QString placed = BlockingWait::wait(m_service->download(
            page, DownloadChoice::recommended(), u"/usr/bin/yt-dlp"_s, u"/usr/bin/ffmpeg"_s, m_dir.filePath(u"Tramo"_s),
            [&fractions](const DownloadProgress &progress) { fractions.append(progress.fraction); }, options));
        const double duration = MediaFixtures::duration(placed);
        QVERIFY2(qAbs(duration - 2.5) <= 1.0, qPrintable(QString::number(duration)));
        QVERIFY(std::is_sorted(fractions.cbegin(), fractions.cend()));
        QCOMPARE(fractions.last(), 1.0);
    }

    // "Limitar velocidad": a limit that lets the clip through in about three seconds makes its
    // download last at least that long.
    void limitRateSlowsTheTransfer() {
        const qint64 size = QFileInfo(m_dir.filePath(u"site/a.mp4"_s)).size();
        const qint64 kibPerSecond = std::max<qint64>(1, size / 1024 / 3);
        m_service->setNetwork({{}, QString::number(kibPerSecond) + u'K'});
        QElapsedTimer clock;
        clock.start();
        BlockingWait::wait(m_service->download(m_server->url(u"/one.html"_s), DownloadChoice::recommended(),
                                               u"/usr/bin/yt-dlp"_s, u"/usr/bin/ffmpeg"_s,
                                               m_dir.filePath(u"Despacio"_s), {}));
        m_service->setNetwork({});
        const double expected = double(size) / double(kibPerSecond * 1024);
        QVERIFY2(clock.elapsed() >= qint64(expected * 800), qPrintable(QString::number(clock.elapsed())));
    }

    // "Proxy": the analysis and the download both go through it, with the user and password of
    // its address; the page's own server is reached only by the proxy.
    void proxyCarriesThePageAndTheMedia() {
        ForwardProxy proxy("ana:s3cr3t");
        m_service->setNetwork({{NetworkOptions::Proxy::Kind::address, proxy.address()}, std::nullopt});
        const QUrl page = m_server->url(u"/one.html"_s);
        const MediaInfo media = std::get<MediaInfo>(BlockingWait::wait(m_service->analyze(page, u"/usr/bin/yt-dlp"_s)));
        YTDLPService::DownloadOptions options;
        options.document = media.document;
        const QString placed =
            BlockingWait::wait(m_service->download(page, DownloadChoice::recommended(), u"/usr/bin/yt-dlp"_s,
                                                   u"/usr/bin/ffmpeg"_s, m_dir.filePath(u"Proxy"_s), {}, options));
        m_service->setNetwork({});
        QCOMPARE(MediaFixtures::streamTypes(placed), u"video,audio"_s);
        const QStringList seen = proxy.requests();
        QVERIFY2(seen.contains(u"GET "_s + page.toString()) &&
                     seen.contains(u"GET "_s + m_server->url(u"/one.mp4"_s).toString()),
                 qPrintable(seen.join(u", "_s)));

        // A wrong password is the proxy's refusal, shown without the password.
        ForwardProxy strict("ana:otra");
        const QString wrong = strict.address().replace(u"ana:otra"_s, u"ana:s3cr3t"_s);
        m_service->setNetwork({{NetworkOptions::Proxy::Kind::address, wrong}, std::nullopt});
        const QString failure = failureOf(m_service->analyze(page, u"/usr/bin/yt-dlp"_s));
        m_service->setNetwork({});
        QVERIFY2(failure.contains(u"407"_s) && !failure.contains(u"s3cr3t"_s), qPrintable(failure));
        QVERIFY(strict.refusals() > 0 && strict.requests().isEmpty());
    }

    void audioOnlyAsMP3() {
        const QString file = BlockingWait::wait(download(DownloadChoice::audio(AudioExportFormat::mp3)));
        QVERIFY2(file.endsWith(QLatin1String(".mp3")), qPrintable(file));
        QCOMPARE(MediaFixtures::streamTypes(file), u"audio"_s);
    }

    void cancelDuringTheMergeLeavesNoProcess() {
        const QString started = m_dir.filePath(u"merge-started"_s);
        const QString folder = m_dir.filePath(u"Cancelada"_s);
        CancelDuring cancel;
        const auto onProgress = cancelDuring(cancel, u"Combinando video y audio…"_s, started);
        QCOMPARE(failureOf(download(DownloadChoice::recommended(), onProgress, slowFFmpeg(started), folder)),
                 u"cancelada"_s);
        QVERIFY(cancel.reached);
        verifyNothingLeft(started, folder);
    }

    // The site answers only with the session's cookie: the user's cookies file opens it for the
    // analysis and the download, and keeps its bytes and its time; without cookies the message
    // says what to do.
    void cookiesOpenAPageThatAsksForThem() {
        const QString refused = failureOf(m_service->analyze(privatePage(), u"/usr/bin/yt-dlp"_s));
        const YTDLPExplanations::Parts parts = YTDLPExplanations::split(refused);
        QVERIFY2(parts.explanation.startsWith(u"El sitio rechazó la petición de la página (403)."_s) &&
                     parts.detail.startsWith(u"ERROR: "_s) && parts.detail.contains(u"HTTP Error 403"_s),
                 qPrintable(refused));

        const QString userFile = TestSupport::writeFile(m_dir.filePath(u"mine/cookies.txt"_s), cookieJar);
        QFile(userFile).setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime);
        const QDateTime modified = QFileInfo(userFile).lastModified();
        const CookieSource cookies = CookieSource::fromFile(userFile);
        QCOMPARE(
            std::get<MediaInfo>(BlockingWait::wait(m_service->analyze(privatePage(), u"/usr/bin/yt-dlp"_s, cookies)))
                .formats.size(),
            1);

        // "MP4 compatible" on a page that offers WebM alone: converted to H.264 and AAC, the bar
        // moving under "Convirtiendo video…" until the end.
        QList<double> converting;
        const auto onProgress = [&](const DownloadProgress &progress) {
            if (progress.phaseText == u"Convirtiendo video…"_s)
                converting.append(progress.fraction);
        };
        // FFmpeg at real time, so that it reports several times.
        const QString ffmpeg = slowFFmpeg(m_dir.filePath(u"conversion-runs"_s));
        const QString placed =
            BlockingWait::wait(m_service->download(privatePage(), DownloadChoice::compatibleMP4(), u"/usr/bin/yt-dlp"_s,
                                                   ffmpeg, destination(), onProgress, {cookies}));
        QVERIFY2(placed.endsWith(u".mp4"_s), qPrintable(placed));
        QCOMPARE(MediaFixtures::streamCodecs(placed), u"h264,aac"_s);
        QVERIFY2(converting.size() >= 3 && converting.first() < converting.last(),
                 qPrintable(QString::number(converting.size())));
        QVERIFY(std::is_sorted(converting.cbegin(), converting.cend()));
        QVERIFY(QDir(jobsRoot()).isEmpty());
        QCOMPARE(TestSupport::readFile(userFile), cookieJar);
        QCOMPARE(QFileInfo(userFile).lastModified(), modified);

        // The command line: a Firefox profile of the test's own home folder, over the settings.
        const QString profile = m_dir.filePath(u"home/.mozilla/firefox/prueba.default-release"_s);
        QVERIFY(QDir().mkpath(profile));
        QProcess sqlite;
        sqlite.start(u"/usr/bin/python3"_s,
                     {u"-c"_s,
                      u"import sqlite3, sys\n"
                      "c = sqlite3.connect(sys.argv[1])\n"
                      "c.execute('CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT "
                      "NOT NULL DEFAULT \\'\\', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, "
                      "lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER)')\n"
                      "c.execute(\"INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure, "
                      "isHttpOnly) VALUES ('sesion', 'ok', '127.0.0.1', '/', 4102444800, 0, 0)\")\n"
                      "c.commit()"_s,
                      profile + u"/cookies.sqlite"_s});
        QVERIFY(sqlite.waitForFinished(30'000) && sqlite.exitCode() == 0);
        const ProcessResult firefox = runApplication(
            {u"analyze"_s, privatePage().toString(), u"--cookies-from-browser"_s, u"firefox"_s, u"--json"_s});
        QVERIFY2(firefox.status == 0, firefox.standardError.constData());
        QCOMPARE(QJsonDocument::fromJson(firefox.standardOutput).object().value(u"formats"_s).toArray().size(), 1);
    }

    // A page with one progressive file: "Mejor calidad" asks for a pair, yt-dlp plans one transfer,
    // and that transfer fills the bar. The file is dated when it was saved, not when the server
    // last changed it.
    void singleFileFillsTheBar() {
        const QString cookies = TestSupport::writeFile(m_dir.filePath(u"cookies.txt"_s), cookieJar);
        QList<DownloadProgress> transfer;
        const auto onProgress = [&transfer](const DownloadProgress &progress) {
            if (progress.phaseText.startsWith(u"Descargando"_s))
                transfer.append(progress);
        };
        const QString placed = BlockingWait::wait(m_service->download(
            privatePage(), DownloadChoice::recommended(), u"/usr/bin/yt-dlp"_s, u"/usr/bin/ffmpeg"_s,
            m_dir.filePath(u"Uno"_s), onProgress, {CookieSource::fromFile(cookies)}));
        QVERIFY2(transfer.size() >= 2, qPrintable(QString::number(transfer.size())));
        QCOMPARE(transfer.last().phaseText, u"Descargando video y audio"_s);
        QCOMPARE(transfer.last().fraction, 0.98);
        QVERIFY(QFileInfo(placed).lastModified().secsTo(QDateTime::currentDateTime()) < 600);
    }

    void cancelDuringTheConversionLeavesNoProcessAndNoFile() {
        const QString started = m_dir.filePath(u"conversion-started"_s);
        const QString folder = m_dir.filePath(u"Conversión cancelada"_s);
        const QString cookies = TestSupport::writeFile(m_dir.filePath(u"cookies.txt"_s), cookieJar);
        CancelDuring cancel;
        const auto onProgress = cancelDuring(cancel, u"Convirtiendo video…"_s, started);
        QCOMPARE(failureOf(m_service->download(privatePage(), DownloadChoice::compatibleMP4(), u"/usr/bin/yt-dlp"_s,
                                               slowFFmpeg(started), folder, onProgress,
                                               {CookieSource::fromFile(cookies), ConversionOutlook::expected})),
                 u"cancelada"_s);
        QVERIFY(cancel.reached);
        verifyNothingLeft(started, folder);
    }

    void commandLineAnalysis() {
        const ProcessResult result = runApplication({u"analyze"_s, manifest().toString(), u"--json"_s});
        QCOMPARE(result.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput).object();
        QCOMPARE(report.value(u"title"_s).toString(), u"manifest"_s);
        QCOMPARE(report.value(u"durationText"_s).toString(), u"—"_s);
        const QJsonArray standard = report.value(u"standardChoices"_s).toArray();
        QCOMPARE(standard.size(), 3);
        QCOMPARE(standard.at(0).toObject().value(u"formatSelector"_s).toString(), u"bv*+ba/b"_s);
        QCOMPARE(report.value(u"exactChoices"_s).toArray().size(), 3);
        QCOMPARE(report.value(u"audioOnlyFormats"_s).toArray().size(), 1);
        const QJsonObject first = report.value(u"formats"_s).toArray().at(0).toObject();
        for (const char *key : {"formatID", "qualityLabel", "resolutionDetail", "detailLabel", "videoCodecLabel",
                                "audioCodecLabel", "hasVideo", "hasAudio"})
            QVERIFY2(first.contains(QLatin1String(key)), key);

        // The page's subtitle languages, and a language it lacks refused before any download.
        const QString subtitled = m_server->url(u"/subs.html"_s).toString();
        const QJsonObject languages =
            QJsonDocument::fromJson(runApplication({u"analyze"_s, subtitled, u"--json"_s}).standardOutput).object();
        QCOMPARE(languages.value(u"subtitles"_s).toArray(), (QJsonArray{u"en"_s, u"es"_s}));
        QCOMPARE(languages.value(u"automatic_captions"_s).toArray(), QJsonArray());
        const qsizetype before = fetches(u"/b.mp4"_s);
        const ProcessResult missing = runApplication(
            {u"download"_s, subtitled, u"--subtitles"_s, u"es,fr"_s, u"--to"_s, m_dir.filePath(u"Sin francés"_s)});
        QCOMPARE(missing.status, 1);
        QCOMPARE(missing.standardError,
                 QByteArray("No hay subtítulos en fr para esta dirección. La página tiene subtítulos: en, es.\n"));
        QCOMPARE(fetches(u"/b.mp4"_s), before);

        const ProcessResult invalid = runApplication({u"analyze"_s, u"ftp://127.0.0.1/x"_s});
        QCOMPARE(invalid.status, 1);
        QCOMPARE(invalid.standardError, QByteArray("Introduce una URL válida que comience con http:// o https://.\n"));
    }

    void commandLineDownloadAndInterrupt() {
        const QString folder = m_dir.filePath(u"Línea de órdenes"_s);
        const qsizetype before = fetches(u"/manifest.mpd"_s);
        const ProcessResult done =
            runApplication({u"download"_s, manifest().toString(), u"--choice"_s, u"audio-only"_s, u"--to"_s, folder});
        QCOMPARE(done.status, 0);
        // One extraction in all: a standard way runs one yt-dlp, as by hand.
        QCOMPARE(fetches(u"/manifest.mpd"_s) - before, 1);
        const QString placed = QString::fromUtf8(done.standardOutput).trimmed();
        QCOMPARE(placed, folder + u"/manifest [manifest].m4a"_s);
        QVERIFY(QFileInfo::exists(placed));
        QVERIFY(done.standardError.contains("Completado · 100 %"));

        // Ctrl-C as soon as the transfer reports progress.
        ProcessHandle handle;
        const ProcessResult interrupted = runApplication(
            {u"download"_s, manifest().toString(), u"--to"_s, folder}, [&](const ProcessHandle &h) { handle = h; },
            [&](const QString &line) {
                if (line.contains(u"Descargando"_s))
                    ::kill(static_cast<pid_t>(handle.processID()), SIGINT);
            });
        QCOMPARE(interrupted.status, 130);
        const QRegularExpressionMatch paused =
            QRegularExpression(u"Descarga cancelada.\nQueda en pausa en la cola \\(#([0-9]+)\\)"_s)
                .match(QString::fromUtf8(interrupted.standardError));
        QVERIFY2(paused.hasMatch(), interrupted.standardError.constData());
        // The first download went into the history; a direct order downloads again all the same.
        QVERIFY(interrupted.standardError.contains("Ya descargado el "));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
        // The interrupted item keeps what it downloaded in its job folder, and goes on from there.
        const QString jobs = m_dir.filePath(u"home/.cache/TorvelDownloader/Jobs"_s);
        const QStringList kept = QDir(jobs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(kept.size(), 1);
        QVERIFY(QFileInfo::exists(jobs + u'/' + kept.first() + u"/.queued"_s));
        QCOMPARE(runApplication({u"queue"_s, u"resume"_s, paused.captured(1)}).status, 0);
        QCOMPARE(runApplication({u"queue"_s, u"run"_s}).status, 0);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);

        // yt-dlp's document says "a list" before anything is fetched: refused, nothing kept.
        TestSupport::writeFile(m_dir.filePath(u"site/pair.html"_s),
                               "<html><head><title>Par</title></head><body><video src=\"a.mp4\"></video>"
                               "<video src=\"b.mp4\"></video></body></html>");
        const QString refused = m_dir.filePath(u"Rechazada"_s);
        const ProcessResult list =
            runApplication({u"download"_s, m_server->url(u"/pair.html"_s).toString(), u"--to"_s, refused});
        QCOMPARE(list.status, 1);
        QCOMPARE(QString::fromUtf8(list.standardError),
                 u"Esta dirección es una lista con 2 videos. Usa --playlist para descargarla.\n"_s);
        QVERIFY(!QFileInfo::exists(refused));
        QDirIterator left(jobs, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        QStringList leftover;
        while (left.hasNext())
            leftover.append(left.next());
        QVERIFY2(leftover.isEmpty(), qPrintable(leftover.join(u' ')));
    }

    // yt-dlp's generic extractor makes a list of a page with two videos; both are items of the
    // page itself, which the list's document carries whole: the page is fetched once in all. A
    // feed names its videos by address: each is extracted once, by its own download.
    void listsFetchEachPageOnce() {
        const QString site = m_dir.filePath(u"site"_s);
        TestSupport::writeFile(site + u"/two.html"_s, "<html><head><title>Dos videos</title></head><body>"
                                                      "<video src=\"a.mp4\"></video><video src=\"b.mp4\"></video>"
                                                      "</body></html>");
        QByteArray feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Canal</title>"
                          "<link>http://127.0.0.1/</link><description>d</description>";
        for (const char *name : {"a", "b"}) {
            TestSupport::writeFile(site + u'/' + QLatin1String(name) + u".html"_s,
                                   "<html><head><title>" + QByteArray(name) + "</title></head><body><video src=\"" +
                                       name + ".mp4\"></video></body></html>");
            feed += "<item><title>" + QByteArray(name) + "</title><link>" +
                    m_server->url(u"/"_s + QLatin1String(name) + u".html"_s).toEncoded() + "</link></item>";
        }
        TestSupport::writeFile(site + u"/feed.xml"_s, feed + "</channel></rss>");

        const QStringList pages{u"/two.html"_s, u"/feed.xml"_s, u"/a.html"_s, u"/b.html"_s};
        QList<qsizetype> before;
        for (const QString &page : pages)
            before.append(fetches(page));
        const auto fetchedSince = [&] {
            QList<qsizetype> counts;
            for (qsizetype i = 0; i < pages.size(); ++i)
                counts.append(fetches(pages.at(i)) - before.at(i));
            return counts;
        };
        QList<DownloadProgress> seen;
        // The entries as a list's items are run: one after another, each with the document the
        // list carried.
        const auto downloadList = [this, &seen](const PlaylistInfo &list) {
            const QString folder = PlaylistDownloader::createListFolder(list.title, destination());
            QueueStore store(folder + u".sqlite"_s);
            QueueRunner runner(store, QueueRunnerTools{u"/usr/bin/yt-dlp"_s, {}, u"/usr/bin/ffmpeg"_s},
                               JobFolders(m_dir.filePath(u"list-jobs"_s)));
            seen.clear();
            connect(&runner, &QueueRunner::itemProgress, &runner,
                    [&seen](qint64, const DownloadProgress &progress) { seen.append(progress); });
            QStringList placed;
            for (const PlaylistEntry &entry : list.entries) {
                QueueItem item;
                item.url = entry.url->toString();
                item.playlistItem = entry.item.value_or(0);
                item.destination = folder;
                item.batch = list.title;
                const qint64 id = store.add(item);
                QueueItemStart start;
                start.entryDocument = entry.document;
                runner.startNow(id, start);
                BlockingWait::wait(runner.untilIdle());
                const QueueItem done = *store.item(id);
                if (done.state != QueueState::completed)
                    return QStringList{done.error};
                if (MediaFixtures::streamTypes(done.path) != u"video,audio"_s)
                    return QStringList{done.path + u" is not video and audio"_s};
                placed.append(done.path);
            }
            return placed;
        };

        const MediaAnalysis two =
            BlockingWait::wait(m_service->analyze(m_server->url(u"/two.html"_s), u"/usr/bin/yt-dlp"_s));
        QVERIFY(std::holds_alternative<PlaylistInfo>(two));
        const PlaylistInfo &embedded = std::get<PlaylistInfo>(two);
        QCOMPARE(embedded.title, u"Dos videos"_s);
        QCOMPARE(embedded.entries.size(), 2);
        QCOMPARE(embedded.entries.at(1).item, 2);
        QVERIFY(embedded.entries.at(0).document && embedded.entries.at(1).document);
        const QString folder = destination() + u"/Dos videos"_s;
        QCOMPARE(downloadList(embedded),
                 QStringList({folder + u"/Dos videos (1) [two-1].mp4"_s, folder + u"/Dos videos (2) [two-2].mp4"_s}));
        QCOMPARE(fetchedSince(), (QList<qsizetype>{1, 0, 0, 0}));
        // Each entry is one progressive file.
        QVERIFY(std::none_of(seen.cbegin(), seen.cend(),
                             [](const DownloadProgress &p) { return p.phaseText.contains(u"pista"_s); }));

        const MediaAnalysis channel =
            BlockingWait::wait(m_service->analyze(m_server->url(u"/feed.xml"_s), u"/usr/bin/yt-dlp"_s));
        QVERIFY(std::holds_alternative<PlaylistInfo>(channel));
        const PlaylistInfo &named = std::get<PlaylistInfo>(channel);
        QCOMPARE(named.entries.size(), 2);
        QVERIFY(!named.entries.at(0).document && !named.entries.at(1).document);
        QCOMPARE(downloadList(named).size(), 2);
        QCOMPARE(fetchedSince(), (QList<qsizetype>{1, 1, 1, 1}));
    }
};

QTEST_GUILESS_MAIN(TestRealYTDLP)
#include "tst_realytdlp.moc"
