#include "platform/applicationinfo.h"
#include "platform/singleinstance.h"
#include "process/processtree.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

    // A yt-dlp that answers the version query and otherwise runs body, configured as the user's
    // own choice in home.
    static void configureYTDLP(const QTemporaryDir &home, const QString &body) {
        const QString ytDLP = TestSupport::writeScript(
            home.filePath(u"bin/yt-dlp"_s), u"[ \"$1\" = --version ] && { echo 2023.03.04; exit 0; }\n"_s + body);
        TestSupport::writeFile(home.filePath(u".config/Torvel/Torvel Downloader.conf"_s),
                               "[General]\nytDLPPath=" + ytDLP.toUtf8() + "\n");
    }

private Q_SLOTS:
    void doctorReportsAsJSONAndText() {
        // A cookies setting that names nothing usable is reported, and left as it is.
        const QByteArray settings = "[General]\ncookies=/no/such/cookies.txt\n";
        const QString settingsFile =
            TestSupport::writeFile(m_home.filePath(u".config/Torvel/Torvel Downloader.conf"_s), settings);
        const QString text =
            QString::fromUtf8(TestSupport::runApplication({u"doctor"_s}, m_home.path()).standardOutput);
        QVERIFY(text.contains(u"Carpeta de herramientas administradas: "_s));
        QVERIFY(text.contains(u"Cookies para yt-dlp: ninguno (el ajuste «/no/such/cookies.txt» no es un navegador "
                              "conocido ni un archivo legible)\n"_s));
        QVERIFY(text.contains(u"Archivo de ajustes: "_s));
        // The last line is the verdict, and no line is a raw yt-dlp flag.
        QVERIFY2(text.endsWith(u"\n\nTodo listo: se puede analizar y descargar.\n"_s) ||
                     text.section(u'\n', -2, -2).startsWith(u"Falta "_s),
                 qPrintable(text));
        QVERIFY(!text.contains(u"--"_s));

        const ProcessResult result = TestSupport::runApplication({u"doctor"_s, u"--json"_s}, m_home.path());
        QCOMPARE(result.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput).object();
        QVERIFY(report.value(u"javaScriptRuntimeArguments"_s).isArray());
        QCOMPARE(report.value(u"managedToolsFolder"_s).toString(),
                 m_home.path() + u"/.local/share/Torvel Downloader/Tools"_s);
        QCOMPARE(report.value(u"jobsRoot"_s).toString(), m_home.path() + u"/.cache/TorvelDownloader/Jobs"_s);
        QVERIFY(report.value(u"settingsFile"_s).toString().startsWith(m_home.path()));
        QCOMPARE(report.value(u"cookies"_s).toObject(),
                 (QJsonObject{{u"setting"_s, u"/no/such/cookies.txt"_s}, {u"source"_s, u"none"_s}}));
        TestSupport::writeFile(settingsFile, "[General]\ncookies=firefox\n");
        QVERIFY(TestSupport::runApplication({u"doctor"_s}, m_home.path())
                    .standardOutput.contains("\nCookies para yt-dlp: las de Firefox\n"));
        const ProcessResult browser = TestSupport::runApplication({u"doctor"_s, u"--json"_s}, m_home.path());
        QCOMPARE(QJsonDocument::fromJson(browser.standardOutput).object().value(u"cookies"_s).toObject(),
                 (QJsonObject{{u"setting"_s, u"firefox"_s},
                              {u"source"_s, u"browser"_s},
                              {u"browser"_s, u"firefox"_s},
                              {u"cookiesFromBrowser"_s, u"firefox"_s}}));
        QCOMPARE(TestSupport::readFile(settingsFile), QByteArray("[General]\ncookies=firefox\n"));

        // Debian's own packages, which the test setup installs.
        if (!QFileInfo(u"/usr/bin/yt-dlp"_s).isExecutable())
            QSKIP("Debian's yt-dlp is not installed");
        QVERIFY(text.contains(u"yt-dlp: /usr/bin/yt-dlp\n  Versión: "_s));
        const QJsonObject ytDLP = report.value(u"ytDLP"_s).toObject();
        QCOMPARE(ytDLP.value(u"path"_s).toString(), u"/usr/bin/yt-dlp"_s);
        QCOMPARE(ytDLP.value(u"installSource"_s).toString(), u"Paquete del sistema"_s);
        QVERIFY(!ytDLP.value(u"version"_s).toString().isEmpty());
        const QJsonObject ffmpeg = report.value(u"ffmpeg"_s).toObject();
        QCOMPARE(ffmpeg.value(u"path"_s).toString(), u"/usr/bin/ffmpeg"_s);
        QVERIFY(ffmpeg.value(u"version"_s).toString().front().isDigit());
    }

    // The installer would swap the bundle under a running window: with a newer build published,
    // self-update refuses while the window's instance answers.
    void selfUpdateRefusesWhileTheWindowRuns() {
        ScriptedHttpServer server;
        const QString manifest = uR"({"version": "9.0.0", "build": 2000000000, "minimumSystemVersion": "2.17",)"
                                 uR"("zipURL": "%1/u.zip", "dmgURL": "%1/u.tar.gz", "sha256": "%2", "size": 10,)"
                                 uR"("releaseNotes": ""})"_s.arg(server.url().toString(), QString(64, u'a'));
        server.route(u"/update.json"_s, ScriptedHttpServer::Response::ok(manifest.toUtf8(), "application/json"));
        const QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        SingleInstance window(runtime.path() + u'/' + torvelIncomingURL() + u'-' + QString::number(::getuid()));
        QVERIFY(window.listen());
        const ProcessResult result =
            TestSupport::runApplication({u"self-update"_s}, m_home.path(),
                                        {{u"TORVEL_UPDATE_MANIFEST_URL"_s, server.url(u"/update.json"_s).toString()},
                                         {u"XDG_RUNTIME_DIR"_s, runtime.path()}});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.standardError.startsWith("Torvel Downloader está abierto."), result.standardError.constData());
        QVERIFY(!server.requests().contains(u"GET /u.zip"_s));
    }

    void usageErrorsExitWithTwo() {
        // Arguments separated by spaces; a word that is neither a subcommand nor a link gets the
        // usage, not a window.
        for (const QString &arguments :
             {u"doctor --nonsense"_s, u"analyze"_s, u"download https://example.invalid/v --fast"_s,
              u"download https://example.invalid/v --to"_s, u"download https://example.invalid/v --audio-format ogg"_s,
              u"download https://example.invalid/v --items 1"_s, u"foo"_s, u"--verbose"_s,
              u"analyze https://example.invalid/v --cookies-from-browser netscape"_s,
              u"download https://example.invalid/v --cookies-from-browser firefox --cookies /tmp/c.txt"_s,
              u"download https://example.invalid/v --section 0:05-0:02"_s,
              u"download https://example.invalid/v --section 1:x-"_s,
              u"download https://example.invalid/v --playlist --section 1-2"_s,
              u"download https://example.invalid/v --limit-rate mucho"_s,
              u"analyze https://example.invalid/v --proxy ftp://127.0.0.1:21"_s}) {
            const ProcessResult result = TestSupport::runApplication(arguments.split(QLatin1Char(' ')), m_home.path());
            QVERIFY2(result.status == 2 && result.standardError.startsWith("Uso:"), qPrintable(arguments));
        }
    }

    void versionAndHelp() {
        ProcessResult result = TestSupport::runApplication({u"--version"_s}, m_home.path());
        QCOMPARE(result.status, 0);
        const ApplicationInfo build = ApplicationInfo::fromBuild();
        QCOMPARE(QString::fromUtf8(result.standardOutput),
                 u"Torvel Downloader "_s + *build.shortVersion + u" ("_s + *build.version + u")\n"_s);
        // Help asked for goes to standard output; each command's help lists its options.
        for (const QString &asked : {u"--help"_s, u"help"_s, u"-h"_s}) {
            result = TestSupport::runApplication({asked}, m_home.path());
            QCOMPARE(result.status, 0);
            QVERIFY(result.standardOutput.startsWith("Uso:\n") && result.standardError.isEmpty());
            QVERIFY(result.standardOutput.contains("\n  torvel-downloader self-update"));
        }
        for (const QStringList &asked : {QStringList{u"download"_s, u"--help"_s}, QStringList{u"help"_s, u"download"_s},
                                         QStringList{u"download"_s, u"https://example.invalid/v"_s, u"-h"_s}}) {
            result = TestSupport::runApplication(asked, m_home.path());
            QCOMPARE(result.status, 0);
            const QString help = QString::fromUtf8(result.standardOutput);
            for (const QString &option : {u"--choice"_s, u"recommended "_s, u"compatible-mp4 "_s, u"audio-only "_s,
                                          u"format-ID "_s, u"--audio-format"_s, u"--audio "_s, u"--to"_s,
                                          u"--playlist"_s, u"--items"_s, u"--cookies-from-browser"_s})
                QVERIFY2(help.contains(option), qPrintable(option));
        }
        for (const QString &command : {u"doctor"_s, u"analyze"_s, u"tools"_s, u"self-update"_s}) {
            result = TestSupport::runApplication({command, u"--help"_s}, m_home.path());
            QCOMPARE(result.status, 0);
            QVERIFY(result.standardOutput.startsWith(QByteArray("Uso: torvel-downloader ").append(command.toUtf8())));
        }

        // Without a display the window says so in Spanish, and the commands still work.
        result = TestSupport::runApplication({}, m_home.path());
        QCOMPARE(result.status, 1);
        QVERIFY2(result.standardError.startsWith("Torvel Downloader necesita una sesión gráfica"),
                 result.standardError.constData());
    }

    // The command stopped by Ctrl-C or SIGTERM stops yt-dlp and removes the private cookies copy;
    // yt-dlp ended by a signal from elsewhere is a failure, not a cancel.
    void stoppingTheCommandStopsYTDLP_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("signal"); // negative: sent to yt-dlp rather than to the application
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("Ctrl-C during the analysis") << u"analyze"_s << int(SIGINT) << 130 << u"Análisis cancelado.\n"_s;
        QTest::newRow("SIGTERM during the analysis")
            << u"analyze"_s << int(SIGTERM) << 130 << u"Análisis cancelado.\n"_s;
        // The download is a queue item of its own: it stays there in pause, to be resumed.
        QTest::newRow("Ctrl-C during the download")
            << u"download"_s << int(SIGINT) << 130
            << u"Descarga cancelada.\nQueda en pausa en la cola (#1) con lo ya descargado: «queue resume 1» la "
               "reanuda.\n"_s;
        QTest::newRow("application killed during the download") << u"download"_s << int(SIGKILL) << 9 << QString();
        QTest::newRow("yt-dlp killed from outside")
            << u"download"_s << -int(SIGTERM) << 1 << u"yt-dlp terminó de forma inesperada (señal 15).\n"_s;
    }
    void stoppingTheCommandStopsYTDLP() {
        QFETCH(QString, command);
        QFETCH(int, signal);
        QFETCH(int, status);
        QFETCH(QString, said);
        // A yt-dlp that hangs once started.
        const QTemporaryDir home;
        const QString pidFile = home.filePath(u"yt-dlp.pid"_s);
        configureYTDLP(home, u"echo $$ > '%1'\nexec sleep 30"_s.arg(pidFile));
        QTimer poll;
        const ProcessCallback signalOnceStarted = [&](const ProcessHandle &app) {
            QObject::connect(&poll, &QTimer::timeout, [&, app] {
                if (QFileInfo(pidFile).size() > 0 && poll.isActive()) {
                    poll.stop();
                    const qint64 ytDLP = TestSupport::readFile(pidFile).trimmed().toLongLong();
                    ::kill(pid_t(signal < 0 ? ytDLP : app.processID()), std::abs(signal));
                }
            });
            poll.start(20);
        };
        const QString cookies =
            TestSupport::writeFile(home.filePath(u"cookies.txt"_s), "# Netscape HTTP Cookie File\n");
        QStringList arguments{command, u"https://example.invalid/v"_s, u"--cookies"_s, cookies};
        if (command == QLatin1String("download"))
            arguments << u"--to"_s << home.filePath(u"out"_s);
        const ProcessResult result = TestSupport::runApplication(arguments, home.path(), {}, signalOnceStarted);
        QCOMPARE(result.status, status);
        if (!said.isEmpty())
            QCOMPARE(QString::fromUtf8(result.standardError), said);
        const qint64 ytDLPProcess = TestSupport::readFile(pidFile).trimmed().toLongLong();
        QVERIFY(ytDLPProcess > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessTree::isRunning(qint32(ytDLPProcess)), 3000);
        if (signal != SIGKILL)
            QCOMPARE(QDir(home.filePath(u".cache/TorvelDownloader/Jobs"_s))
                         .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList());
        if (command == QLatin1String("download") && signal != SIGKILL) {
            const QJsonArray items =
                QJsonDocument::fromJson(TestSupport::runApplication({u"queue"_s, u"list"_s, u"--json"_s}, home.path())
                                            .standardOutput)[u"items"_s]
                    .toArray();
            QCOMPARE(items.size(), 1);
            QCOMPARE(items.first()[u"state"_s].toString(), status == 130 ? u"paused"_s : u"failed"_s);
        }
    }

    // A list is printed with its numbered entries, refused by a plain download, and downloaded
    // entry by entry with --playlist: the chosen items, or all with a failure in the middle.
    void listsFromTheCommandLine() {
        const QTemporaryDir home;
        TestSupport::writeFile(home.filePath(u"list.json"_s),
                               R"({"_type": "playlist", "title": "Mi lista", "uploader": "Canal", "entries": [)"
                               R"({"url": "https:\/\/e.example/v/1", "title": "Uno", "duration": 61},)"
                               R"({"url": "https:\/\/e.example/v/fail", "title": "Falla"},)"
                               "{\"url\": \"https:\\/\\/e.example/v/3\", \"title\": \"Tres\\u001b]0;x\\u0007\"},"
                               R"({"title": "Sin dirección"}]})");
        // Like yt-dlp given --dump-json, the document of the item (or of the list's first entry)
        // before its download.
        configureYTDLP(
            home,
            u"for a in \"$@\"; do url=\"$a\"; done\n"
            "case \"$url $*\" in *single*--dump-single-json*)\n"
            "  echo '{\"id\": \"s\", \"title\": \"Clip\", \"duration\": 61, \"formats\": [{\"format_id\": \"18\", "
            "\"ext\": \"mp4\", \"vcodec\": \"avc1\", \"acodec\": \"mp4a\"}]}'; exit 0 ;; esac\n"
            "case \" $* \" in *\" --dump-single-json \"*) cat '%1'; exit 0 ;; esac\n"
            "job=''; prev=''; for a in \"$@\"; do [ \"$prev\" = --paths ] && job=\"$a\"; prev=\"$a\"; done\n"
            "n=$(basename \"$url\")\n"
            "case \"$n $*\" in list*--dump-json*) echo '{\"id\": \"1\", \"title\": \"Uno\", "
            "\"playlist\": \"Mi lista\", \"playlist_index\": 1, \"formats\": []}' ;;\n"
            "  [0-9]*--dump-json*) echo \"{\\\"id\\\": \\\"$n\\\", \\\"extractor_key\\\": \\\"Fake\\\", "
            "\\\"title\\\": \\\"Video $n\\\", \\\"formats\\\": []}\" ;; esac\n"
            "[ \"$n\" = fail ] && { echo 'ERROR: [generic] fail: Video unavailable' >&2; exit 1; }\n"
            "echo x > \"$job/Video $n [$n].mp4\""_s.arg(home.filePath(u"list.json"_s)));
        const QString address = u"https://e.example/list"_s;
        const QString out = home.filePath(u"out"_s);
        const auto run = [&](const QStringList &arguments) {
            return TestSupport::runApplication(arguments, home.path());
        };

        // One progressive file: no heading over nothing, and a wrong choice names the right ones.
        ProcessResult result = run({u"analyze"_s, u"https://e.example/single"_s});
        QCOMPARE(result.status, 0);
        QVERIFY2(!result.standardOutput.contains("Pistas de solo audio") &&
                     result.standardOutput.endsWith(":\n  format-18  Video · MP4\n"),
                 result.standardOutput.constData());
        result = run({u"download"_s, u"https://e.example/single"_s, u"--choice"_s, u"best"_s, u"--to"_s, out});
        QCOMPARE(result.status, 1);
        QCOMPARE(QString::fromUtf8(result.standardError),
                 u"Esta forma de descarga no existe para este enlace: best. Usa una de estas: recommended, "
                 "compatible-mp4, audio-only, format-18.\n"_s);
        // A stretch past the end is refused once the analysis knows the duration.
        result = run({u"download"_s, u"https://e.example/single"_s, u"--section"_s, u"0:30-1:05"_s, u"--to"_s, out});
        QCOMPARE(result.status, 1);
        QCOMPARE(QString::fromUtf8(result.standardError), u"El recorte pasa del final del video, que dura 1:01.\n"_s);

        result = run({u"analyze"_s, address});
        QCOMPARE(result.status, 0);
        QCOMPARE(QString::fromUtf8(result.standardOutput),
                 u"Lista: Mi lista\nAutor: Canal\nVideos: 4\n\n  1. Uno (1:01)\n  2. Falla\n  3. Tres]0;x\n"
                 "  4. Sin dirección · no se puede descargar\n"_s);
        result = run({u"analyze"_s, address, u"--json"_s});
        const QJsonArray entries =
            QJsonDocument::fromJson(result.standardOutput).object().value(u"entries"_s).toArray();
        QCOMPARE(entries.size(), 4);
        QCOMPARE(entries.at(2).toObject().value(u"url"_s).toString(), u"https://e.example/v/3"_s);

        result = run({u"download"_s, address, u"--to"_s, out});
        QCOMPARE(result.status, 1);
        QCOMPARE(QString::fromUtf8(result.standardError),
                 u"Esta dirección es una lista con 4 videos. Usa --playlist para descargarla.\n"_s);
        QVERIFY(!QFileInfo::exists(out));

        // A direct order is a queue item, completed and in the history; asked again, it downloads
        // again, saying so.
        for (const bool again : {false, true}) {
            result = run({u"download"_s, u"https://e.example/v/1"_s, u"--to"_s, out});
            QCOMPARE(result.status, 0);
            QCOMPARE(QString::fromUtf8(result.standardOutput).startsWith(out + u"/Video 1 [1]"_s), true);
            QCOMPARE(result.standardError.contains("; se descarga de nuevo.\n"), again);
        }
        const auto listed = [&](const QStringList &command, const QString &key) {
            return QJsonDocument::fromJson(run(command + QStringList{u"--json"_s}).standardOutput)[key].toArray();
        };
        const auto completed = [&] {
            const QJsonArray items = listed({u"queue"_s, u"list"_s}, u"items"_s);
            return std::count_if(items.begin(), items.end(),
                                 [](const QJsonValue &item) { return item[u"state"_s].toString() == u"completed"_s; });
        };
        QCOMPARE(listed({u"history"_s}, u"entries"_s).size(), 2);
        QCOMPARE(completed(), 2);

        // An item that cannot be downloaded is a failure of the run, named in the summary.
        result = run({u"download"_s, address, u"--playlist"_s, u"--items"_s, u"3,4,1"_s, u"--to"_s, out});
        QCOMPARE(result.status, 1);
        QVERIFY(result.standardError.endsWith(
            "Se descargaron 2 de 3 videos.\n  • Sin dirección: la lista no da una dirección para descargarlo.\n"));
        const QString folder = out + u"/Mi lista"_s;
        QCOMPARE(QString::fromUtf8(result.standardOutput),
                 folder + u"/Video 3 [3].mp4\n"_s + folder + u"/Video 1 [1].mp4\n"_s);
        QVERIFY(result.standardError.startsWith("Video 1 de 2: Tres]0;x\n"));
        QVERIFY(result.standardError.contains("Video 2 de 2: Uno\n"));
        // Each entry is an item of the list's folder, in the history once downloaded.
        QCOMPARE(listed({u"history"_s}, u"entries"_s).size(), 4);
        QCOMPARE(completed(), 4);
        const QJsonArray items = listed({u"queue"_s, u"list"_s}, u"items"_s);
        QCOMPARE(items.last()[u"destination"_s].toString(), folder);
        QCOMPARE(items.last()[u"path"_s].toString(), folder + u"/Video 1 [1].mp4"_s);

        result = run({u"download"_s, address, u"--playlist"_s, u"--to"_s, out});
        QCOMPARE(result.status, 1);
        QCOMPARE(result.standardOutput.count('\n'), 2);
        QVERIFY(result.standardOutput.startsWith((out + u"/Mi lista 2/Video 1 [1].mp4\n"_s).toUtf8()));
        // Each failure's explanation, with yt-dlp's words below it.
        QVERIFY(result.standardError.endsWith("Se descargaron 2 de 3 videos.\n"
                                              "  • Falla: El video ya no está disponible en el sitio.\n"
                                              "    ERROR: [generic] fail: Video unavailable\n"));

        result = run({u"download"_s, address, u"--playlist"_s, u"--items"_s, u"2-5"_s, u"--to"_s, out});
        QCOMPARE(result.status, 2);
        QVERIFY(result.standardError.endsWith("--items: 2-5 no está entre 1 y 4.\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
