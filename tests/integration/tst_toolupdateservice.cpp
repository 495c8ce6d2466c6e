#include "archivefixtures.h"
#include "common/blockingwait.h"
#include "platform/toolassets.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
#include "tools/toolupdateservice.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using Response = ScriptedHttpServer::Response;

namespace {

QByteArray sha(const QByteArray &data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray script(const QByteArray &body) {
    return "#!/bin/sh\n" + body + "\n";
}

// Children of this test process that are still running.
QList<qint32> runningChildren() {
    QList<qint32> running;
    const QList<qint32> all = ToolUpdateService::descendantProcessIDs(qint32(QCoreApplication::applicationPid()));
    for (qint32 pid : all)
        if (TestSupport::isRunning(pid))
            running.append(pid);
    return running;
}

const QString asset = ToolAssets::ytDLPAssetName();
const QString denoAsset = ToolAssets::denoAssetName();
const QString ffmpegBase =
    QStringLiteral("/redirect/latest/linux/") + ToolAssets::ffmpegProcessorElement() + QStringLiteral("/release/");
const QString ffmpegRelease = QStringLiteral("/download/linux/8.0/");
const QString ytDLPLatest = QStringLiteral("/yt-dlp/yt-dlp/releases/latest/download/");
const QString ytDLPVersioned = QStringLiteral("/yt-dlp/yt-dlp/releases/download/2025.10.22/");
const QString denoFolder = QStringLiteral("/denoland/deno/releases/download/v2.5.0/");

} // namespace

class TestToolUpdateService : public QObject {
    Q_OBJECT

private:
    // What the fake hosts publish; a test changes a piece before it runs the operation.
    struct Release {
        QByteArray ytDLP, sums, denoRelease, denoZip, denoChecksum;
        QByteArray ffmpegZip, ffmpegChecksum, ffprobeZip, ffprobeChecksum;
    } m_release;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<ToolUpdateService> m_service;
    QList<ToolUpdateEvent> m_events;
    const ToolUpdateEventHandler m_record = [this](const ToolUpdateEvent &event) { m_events.append(event); };

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString tools(const QString &name = QString()) const { return path(QStringLiteral("tools/") + name); }

    QByteArray zip(const QList<ArchiveFixtures::Entry> &entries) {
        const QString file = path(QStringLiteral("fixture.zip"));
        ArchiveFixtures::write(file, entries);
        return readFile(file);
    }
    void setYTDLP(const QByteArray &contents) {
        m_release.ytDLP = contents;
        m_release.sums = sha("other") + "  yt-dlp.tar.gz\n" + sha(contents) + "  *" + asset.toUtf8() + "\n";
    }
    void setDenoZip(const QByteArray &contents) {
        m_release.denoZip = contents;
        m_release.denoChecksum = sha(contents) + "  " + denoAsset.toUtf8() + "\n";
    }
    void serve(const QString &route, const QByteArray Release::*piece) {
        m_server->route(route,
                        [this, piece](const ScriptedHttpServer::Request &) { return Response::ok(m_release.*piece); });
    }
    void redirect(const QString &from, const QString &to) {
        m_server->route(from, Response::redirect(m_server->url(to)));
    }

    // The contents of the managed tools folder, work items included.
    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> files;
        const QStringList names = QDir(tools()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString &name : names)
            files.insert(name, readFile(tools(name)));
        return files;
    }

    // Runs an operation to its end: the error's description, "cancelada", or empty on success.
    template <typename T> QString failureOf(QCoro::Task<T> &&task) {
        try {
            BlockingWait::wait(std::move(task));
        } catch (const CancellationError &) {
            return QStringLiteral("cancelada");
        } catch (const TorvelError &error) {
            return error.errorDescription();
        }
        return {};
    }

    QStringList stages() const {
        QStringList texts;
        for (const ToolUpdateEvent &event : m_events)
            if (event.kind == ToolUpdateEvent::Kind::stage)
                texts.append(event.text);
        return texts;
    }
    bool logged(const QString &text) const {
        return std::any_of(m_events.cbegin(), m_events.cend(),
                           [&](const ToolUpdateEvent &e) { return e.text == text; });
    }

    // A fake brew: records its arguments (and HOMEBREW_NO_AUTO_UPDATE) and answers "uses" and
    // "doctor" from files the test writes.
    QString fakeBrew(int status = 0) {
        return TestSupport::writeScript(path(QStringLiteral("brew")),
                                        QStringLiteral("echo \"$* ${HOMEBREW_NO_AUTO_UPDATE}\" >> '%1/calls'\n"
                                                       "[ \"$1\" = uses ] && cat '%1/dependents' 2>/dev/null\n"
                                                       "[ \"$1\" = doctor ] && cat '%1/doctor' && exit 1\n"
                                                       "exit %2")
                                            .arg(m_work->path())
                                            .arg(status));
    }
    QStringList calls() const {
        return QString::fromUtf8(readFile(path(QStringLiteral("calls")))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The command line, with every host pointed at the fake server and a home of its own.
    ProcessResult runApp(const QStringList &arguments, const QString &githubURL = QString(),
                         const ProcessCallback &onProcess = {}) {
        const QString origin = m_server->origin().toString();
        const ProcessEnvironment environment{
            {QStringLiteral("HOME"), path(QStringLiteral("home"))},
            {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")},
            {QStringLiteral("TORVEL_GITHUB_URL"), githubURL.isNull() ? origin : githubURL},
            {QStringLiteral("TORVEL_GITHUB_API_URL"), origin},
            {QStringLiteral("TORVEL_HOMEBREW_API_URL"), origin},
            {QStringLiteral("TORVEL_FFMPEG_URL"), origin}};
        QStringList all{QStringLiteral("tools")};
        all.append(arguments);
        return BlockingWait::wait(ProcessRunner::run(TestSupport::applicationPath(), all, environment, onProcess));
    }

private Q_SLOTS:
    void init() {
        m_work = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<ScriptedHttpServer>();
        m_events.clear();
        setYTDLP(script("echo 2025.10.22"));
        m_release.denoRelease = R"({"tag_name":"v2.5.0","assets":[]})";
        setDenoZip(zip({ArchiveFixtures::file(QStringLiteral("deno"),
                                              script("echo 'deno 2.5.0 (stable, release)'; echo 'v8 14.0'"), 0755)}));
        m_release.ffmpegZip =
            zip({ArchiveFixtures::file(QStringLiteral("ffmpeg"), readFile(QStringLiteral("/usr/bin/ffmpeg")), 0755)});
        m_release.ffmpegChecksum = sha(m_release.ffmpegZip); // a bare digest is accepted
        m_release.ffprobeZip =
            zip({ArchiveFixtures::file(QStringLiteral("ffprobe"), readFile(QStringLiteral("/usr/bin/ffprobe")), 0755)});
        m_release.ffprobeChecksum = sha(m_release.ffprobeZip) + "  ffprobe.zip\n";

        redirect(ytDLPLatest + asset, ytDLPVersioned + asset);
        redirect(ytDLPLatest + QStringLiteral("SHA2-256SUMS"), ytDLPVersioned + QStringLiteral("SHA2-256SUMS"));
        serve(ytDLPVersioned + asset, &Release::ytDLP);
        serve(ytDLPVersioned + QStringLiteral("SHA2-256SUMS"), &Release::sums);
        serve(QStringLiteral("/repos/denoland/deno/releases/latest"), &Release::denoRelease);
        serve(denoFolder + denoAsset, &Release::denoZip);
        serve(denoFolder + denoAsset + QStringLiteral(".sha256sum"), &Release::denoChecksum);
        redirect(ffmpegBase + QStringLiteral("ffmpeg.zip"), ffmpegRelease + QStringLiteral("ffmpeg.zip"));
        redirect(ffmpegBase + QStringLiteral("ffprobe.zip"), ffmpegRelease + QStringLiteral("ffprobe.zip"));
        serve(ffmpegRelease + QStringLiteral("ffmpeg.zip"), &Release::ffmpegZip);
        serve(ffmpegRelease + QStringLiteral("ffmpeg.zip.sha256"), &Release::ffmpegChecksum);
        serve(ffmpegRelease + QStringLiteral("ffprobe.zip"), &Release::ffprobeZip);
        serve(ffmpegRelease + QStringLiteral("ffprobe.zip.sha256"), &Release::ffprobeChecksum);
        m_server->route(QStringLiteral("/repos/yt-dlp/yt-dlp/releases/latest"),
                        Response::ok(R"({"tag_name":"yt-dlp 2025.10.22"})"));
        m_server->route(QStringLiteral("/api/formula/yt-dlp.json"),
                        Response::ok(R"({"versions":{"stable":"2025.09.26"}})"));
        m_server->route(QStringLiteral("/api/formula/ffmpeg.json"), Response::ok(R"({"versions":{"stable":"8.0"}})"));

        const QUrl origin = m_server->origin();
        ToolUpdateService::Limits limits;
        limits.catalogFetch = limits.dataFetch = limits.connect = limits.stalledTransfer = std::chrono::seconds(2);
        limits.testRun = limits.homebrewQuery = std::chrono::seconds(3);
        limits.maxAssetBytes = limits.maxUnpackedBytes = limits.maxOutputCharacters = 1'000'000;
        m_service =
            std::make_unique<ToolUpdateService>(ToolHosts{origin, origin, origin, origin},
                                                DependencyLocator(TestSupport::sandboxedTools(m_work->path())), limits);
        TestSupport::writeFile(tools(QStringLiteral("yt-dlp")), "old yt-dlp");
        TestSupport::writeFile(tools(QStringLiteral("ffmpeg")), "old ffmpeg");
        TestSupport::writeFile(tools(QStringLiteral("ffprobe")), "old ffprobe");
    }

    void managedYTDLPFreshThenOverTheManagedCopy() {
        QDir(tools()).removeRecursively();
        auto result = BlockingWait::wait(m_service->installManagedYTDLP(m_record));
        QCOMPARE(result.path, tools(QStringLiteral("yt-dlp")));
        QCOMPARE(result.message, QStringLiteral("Se instaló yt-dlp 2025.10.22 con el ejecutable oficial verificado."));
        QCOMPARE(stages(), (QStringList{QStringLiteral("Descargando el ejecutable oficial de yt-dlp…"),
                                        QStringLiteral("Verificando la descarga…"),
                                        QStringLiteral("Consultando la versión estable de Deno…"),
                                        QStringLiteral("Descargando Deno v2.5.0…"), QStringLiteral("Instalando Deno…"),
                                        QStringLiteral("Instalando yt-dlp…")}));
        QVERIFY(logged(QStringLiteral("/usr/bin/curl --location ") + m_server->url(ytDLPLatest + asset).toString()));
        QVERIFY(logged(QStringLiteral("Extrayendo deno.zip…")));
        QVERIFY(std::none_of(m_events.cbegin(), m_events.cend(), [](const ToolUpdateEvent &event) {
            return event.text.contains(QLatin1String("__TORVEL"));
        }));
        QVERIFY(logged(QStringLiteral("SHA-256 verificado: ") + denoAsset + QStringLiteral(".")));
        QVERIFY(m_server->requests().contains(QStringLiteral("GET ") + ytDLPVersioned + asset));
        QCOMPARE(snapshot().keys(), (QStringList{QStringLiteral("deno"), QStringLiteral("yt-dlp")}));
        QCOMPARE(readFile(tools(QStringLiteral("yt-dlp"))), m_release.ytDLP);
        QVERIFY(QFileInfo(tools(QStringLiteral("deno"))).isExecutable());

        // Now a JavaScript runtime exists: no Deno activity at all, and the old copy is replaced.
        m_events.clear();
        setYTDLP(script("echo 2025.11.01"));
        result = BlockingWait::wait(m_service->installManagedYTDLP(m_record));
        QCOMPARE(result.message, QStringLiteral("Se instaló yt-dlp 2025.11.01 con el ejecutable oficial verificado."));
        QVERIFY(std::none_of(m_events.cbegin(), m_events.cend(),
                             [](const ToolUpdateEvent &event) { return event.text.contains(QLatin1String("Deno")); }));
        QCOMPARE(snapshot().keys(), (QStringList{QStringLiteral("deno"), QStringLiteral("yt-dlp")}));
        QCOMPARE(readFile(tools(QStringLiteral("yt-dlp"))), m_release.ytDLP);
    }

    void managedFFmpegAsOneSet() {
        const auto result = BlockingWait::wait(m_service->installManagedFFmpeg(m_record));
        QCOMPARE(result, (ToolUpdateService::ManagedInstallResult{
                             tools(QStringLiteral("ffmpeg")),
                             QStringLiteral("Se instalaron FFmpeg y FFprobe precompilados y verificados.")}));
        QCOMPARE(readFile(tools(QStringLiteral("ffmpeg"))), readFile(QStringLiteral("/usr/bin/ffmpeg")));
        QCOMPARE(readFile(tools(QStringLiteral("ffprobe"))), readFile(QStringLiteral("/usr/bin/ffprobe")));
        QCOMPARE(snapshot().keys(),
                 (QStringList{QStringLiteral("ffmpeg"), QStringLiteral("ffprobe"), QStringLiteral("yt-dlp")}));
        // The checksum is the one beside the file the redirect led to.
        QVERIFY(m_server->requests().contains(QStringLiteral("GET ") + ffmpegRelease +
                                              QStringLiteral("ffmpeg.zip.sha256")));
        QVERIFY(m_events.last().text.startsWith(QLatin1String("ffmpeg version ")));
        QVERIFY(m_events.last().text.endsWith(QLatin1String(" validado e instalado.")));
    }

    void refusalsLeaveThePreviousFiles_data() {
        QTest::addColumn<bool>("ffmpeg");
        QTest::addColumn<QString>("expected");
        const QString ytMismatch = QStringLiteral("La verificación SHA-256 de ") + asset +
                                   QStringLiteral(" no coincide. No se instaló el archivo.");
        QTest::newRow("flipped byte") << false << ytMismatch;
        QTest::newRow("list without the asset")
            << false << QStringLiteral("No se pudo obtener el checksum oficial de ") + asset + QStringLiteral(".");
        QTest::newRow("test run fails") << false
                                        << QStringLiteral(
                                               "El ejecutable descargado no superó la comprobación de funcionamiento.");
        QTest::newRow("test run hangs") << false
                                        << QStringLiteral(
                                               "El ejecutable descargado no superó la comprobación de funcionamiento.");
        QTest::newRow("test run prints megabytes") << false << QStringLiteral("demasiada salida");
        QTest::newRow("test run prints no line ends") << false << QStringLiteral("demasiada salida");
        QTest::newRow("Deno release of wrong types")
            << false << QStringLiteral("No se pudo consultar la versión más reciente de Deno.");
        QTest::newRow("Deno zip without deno")
            << false << QStringLiteral("El paquete oficial de Deno no contiene el ejecutable esperado.");
        QTest::newRow("zip entry with ..") << false << QStringLiteral("contiene una entrada no permitida");
        QTest::newRow("zip entry with absolute path") << false << QStringLiteral("contiene una entrada no permitida");
        QTest::newRow("zip link leaving the folder") << false << QStringLiteral("contiene una entrada no permitida");
        QTest::newRow("zip bomb") << false << QStringLiteral("al descomprimirse; se canceló la extracción.");
        QTest::newRow("HTML page as checksum")
            << false << QStringLiteral("No se pudo interpretar el checksum de ") + denoAsset + QStringLiteral(".");
        QTest::newRow("asset missing") << false << QStringLiteral("error: 404");
        QTest::newRow("oversized asset") << false << QStringLiteral("supera el tamaño máximo permitido");
        QTest::newRow("redirect to plain http elsewhere")
            << false
            << QStringLiteral("Se rechazó la dirección http://example.invalid/a: solo se admiten direcciones https.");
        QTest::newRow("FFprobe for another processor") << true << QStringLiteral("La firma de ffprobe no es válida.");
        QTest::newRow("FFmpeg zip without ffmpeg")
            << true << QStringLiteral("Los paquetes descargados no contienen FFmpeg y FFprobe.");
        QTest::newRow("flipped byte in an archive")
            << true << QStringLiteral("La verificación SHA-256 de ffprobe.zip no coincide.");
        QTest::newRow("empty checksum file")
            << true << QStringLiteral("No se pudo interpretar el checksum de ffmpeg.zip.");
        QTest::newRow("server never answers") << true << QStringLiteral("curl: (28)");
    }
    void refusalsLeaveThePreviousFiles() {
        QFETCH(bool, ffmpeg);
        QFETCH(QString, expected);
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        using ArchiveFixtures::file;
        if (row == QLatin1String("flipped byte"))
            m_release.ytDLP[12] = char(m_release.ytDLP[12] ^ 1);
        else if (row == QLatin1String("list without the asset"))
            m_release.sums = sha(m_release.ytDLP) + "  yt-dlp_macos\n";
        else if (row == QLatin1String("test run fails"))
            setYTDLP(script("echo broken >&2; exit 1"));
        else if (row == QLatin1String("test run hangs"))
            setYTDLP(script("sleep 30"));
        else if (row == QLatin1String("test run prints megabytes"))
            setYTDLP(script("yes 2025.10.22 | head -c 3000000"));
        else if (row == QLatin1String("test run prints no line ends"))
            setYTDLP(script("head -c 3000000 /dev/zero | tr '\\000' 7"));
        else if (row == QLatin1String("Deno release of wrong types"))
            m_release.denoRelease = R"({"tag_name":["v2.5.0"]})";
        else if (row == QLatin1String("Deno zip without deno"))
            setDenoZip(zip({file(QStringLiteral("bin/deno"), script("exit 0"), 0755)}));
        else if (row == QLatin1String("zip entry with .."))
            setDenoZip(zip({file(QStringLiteral("../deno"), script("exit 0"), 0755)}));
        else if (row == QLatin1String("zip entry with absolute path"))
            setDenoZip(zip({file(path(QStringLiteral("deno")), script("exit 0"), 0755)}));
        else if (row == QLatin1String("zip link leaving the folder"))
            setDenoZip(zip({ArchiveFixtures::symlink(QStringLiteral("deno"), "../../../../bin/true")}));
        else if (row == QLatin1String("zip bomb"))
            setDenoZip(zip({file(QStringLiteral("deno"), QByteArray(4'000'000, '\0'), 0755)}));
        else if (row == QLatin1String("HTML page as checksum"))
            m_release.denoChecksum = "<!DOCTYPE html>\n<html><body>Rate limit exceeded</body></html>\n";
        else if (row == QLatin1String("asset missing"))
            m_server->route(ytDLPVersioned + asset, Response::notFound());
        else if (row == QLatin1String("oversized asset"))
            setYTDLP(script("echo 1") + QByteArray(2'000'000, '#'));
        else if (row == QLatin1String("redirect to plain http elsewhere"))
            m_server->route(ytDLPLatest + asset, Response::redirect(QUrl(QStringLiteral("http://example.invalid/a"))));
        else if (row == QLatin1String("FFprobe for another processor")) {
            QByteArray probe = readFile(QStringLiteral("/usr/bin/ffprobe"));
            probe[18] = char(probe[18] == 62 ? 183 : 62); // e_machine: the other supported processor
            m_release.ffprobeZip = zip({file(QStringLiteral("ffprobe"), probe, 0755)});
            m_release.ffprobeChecksum = sha(m_release.ffprobeZip);
        } else if (row == QLatin1String("FFmpeg zip without ffmpeg")) {
            m_release.ffmpegZip = zip({file(QStringLiteral("ffmpeg/ffmpeg"), "x", 0755)});
            m_release.ffmpegChecksum = sha(m_release.ffmpegZip);
        } else if (row == QLatin1String("flipped byte in an archive")) {
            m_release.ffprobeZip[100] = char(m_release.ffprobeZip[100] ^ 1);
        } else if (row == QLatin1String("empty checksum file"))
            m_release.ffmpegChecksum.clear();
        else if (row == QLatin1String("server never answers")) {
            Response hang;
            hang.hang = true;
            m_server->route(ffmpegRelease + QStringLiteral("ffprobe.zip"), hang);
        }

        const QMap<QString, QByteArray> before = snapshot();
        const QString failure = ffmpeg ? failureOf(m_service->installManagedFFmpeg(m_record))
                                       : failureOf(m_service->installManagedYTDLP(m_record));
        QVERIFY2(failure.contains(expected), qPrintable(failure));
        QCOMPARE(snapshot(), before);
        QCOMPARE(runningChildren(), QList<qint32>());
    }

    void versionCheck() {
        ToolInfo ytDLP{path(QStringLiteral("yt-dlp")), QStringLiteral("2025.09.26"),
                       ToolInstallSource::of(ToolInstallSource::Kind::standalone)};
        const ToolInfo ffmpeg{path(QStringLiteral("ffmpeg")), QStringLiteral("8.0"),
                              ToolInstallSource::of(ToolInstallSource::Kind::managed)};
        using Tool = ToolUpdateStatus::Tool;
        QCOMPARE(
            BlockingWait::wait(m_service->check(ytDLP, ffmpeg)),
            (QList<ToolUpdateStatus>{{Tool::ytDLP, QStringLiteral("2025.09.26"), QStringLiteral("2025.10.22"), true},
                                     {Tool::ffmpeg, QStringLiteral("8.0"), QStringLiteral("8.0"), false}}));
        // A Homebrew copy is compared with its formula, not with the project's release.
        ytDLP.installSource = ToolInstallSource::homebrew(QStringLiteral("/bin/false"));
        QCOMPARE(BlockingWait::wait(m_service->check(ytDLP, std::nullopt)),
                 (QList<ToolUpdateStatus>{
                     {Tool::ytDLP, QStringLiteral("2025.09.26"), QStringLiteral("2025.09.26"), false}}));

        // Documents of the wrong shape, and a host that never answers, leave the tools out.
        m_server->route(QStringLiteral("/api/formula/yt-dlp.json"), Response::ok(R"({"versions":{"stable":7}})"));
        Response hang;
        hang.hang = true;
        m_server->route(QStringLiteral("/api/formula/ffmpeg.json"), hang);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(BlockingWait::wait(m_service->check(ytDLP, ffmpeg)), QList<ToolUpdateStatus>());
        QVERIFY(clock.elapsed() < 5000);
    }

    void updateRouting_data() {
        QTest::addColumn<QString>("ytDLPSource"); // empty: not located
        QTest::addColumn<QString>("ffmpegSource");
        QTest::addColumn<int>("only");        // -1: every tool
        QTest::addColumn<QString>("outcome"); // the message, or the start of the refusal
        QTest::addColumn<QStringList>("expectedCalls");
        const auto row = [](const char *name, const char *ytDLP, const char *ffmpeg, int only, const char *outcome,
                            const char *call = nullptr) {
            QTest::newRow(name) << ytDLP << ffmpeg << only << outcome
                                << (call ? QStringList{QString::fromUtf8(call)} : QStringList());
        };
        row("both from Homebrew", "homebrew", "homebrew", -1, "Homebrew actualizó yt-dlp y ffmpeg.",
            "upgrade yt-dlp ffmpeg ");
        row("managed yt-dlp", "managed", "", -1, "Se instaló yt-dlp 2025.10.22 con el ejecutable oficial verificado.");
        row("stand-alone yt-dlp", "standalone", "", -1, "yt-dlp se actualizó con su actualizador integrado.",
            "yt-dlp -U");
        row("pip yt-dlp", "pip", "", -1, "yt-dlp fue instalado con pip.");
        row("MacPorts yt-dlp", "macPorts", "", -1, "yt-dlp pertenece a MacPorts.");
        row("system yt-dlp", "systemPackage", "", -1, "yt-dlp pertenece al gestor de paquetes del sistema.");
        row("only FFmpeg", "pip", "homebrew", 1, "Homebrew actualizó ffmpeg.", "upgrade ffmpeg ");
        row("managed yt-dlp, then MacPorts FFmpeg", "managed", "macPorts", -1, "FFmpeg pertenece a MacPorts.");
        row("stand-alone FFmpeg", "", "standalone", -1, "Esta copia de FFmpeg no tiene un actualizador integrado.");
        row("system FFmpeg", "", "systemPackage", -1, "Esta copia de FFmpeg no tiene un actualizador integrado.");
        row("only yt-dlp, which is current", "", "homebrew", 0, "Las herramientas ya están actualizadas.");
    }
    void updateRouting() {
        QFETCH(QString, ytDLPSource);
        QFETCH(QString, ffmpegSource);
        QFETCH(int, only);
        QFETCH(QString, outcome);
        QFETCH(QStringList, expectedCalls);
        using Kind = ToolInstallSource::Kind;
        const QString brew = fakeBrew();
        const QString standalone = TestSupport::writeScript(
            path(QStringLiteral("yt-dlp")), QStringLiteral("echo \"yt-dlp $*\" >> '%1/calls'").arg(m_work->path()));
        const QHash<QString, ToolInstallSource> sources{
            {QStringLiteral("homebrew"), ToolInstallSource::homebrew(brew)},
            {QStringLiteral("managed"), ToolInstallSource::of(Kind::managed)},
            {QStringLiteral("pip"), ToolInstallSource::of(Kind::pip)},
            {QStringLiteral("macPorts"), ToolInstallSource::of(Kind::macPorts)},
            {QStringLiteral("systemPackage"), ToolInstallSource::of(Kind::systemPackage)},
            {QStringLiteral("standalone"), ToolInstallSource::of(Kind::standalone)}};
        std::optional<ToolInfo> ytDLP, ffmpeg;
        QList<ToolUpdateStatus> statuses;
        if (!ytDLPSource.isEmpty()) {
            ytDLP = ToolInfo{standalone, QStringLiteral("2025.01.01"), sources.value(ytDLPSource)};
            statuses.append({ToolUpdateStatus::Tool::ytDLP, ytDLP->version, QStringLiteral("2025.10.22"), true});
        }
        if (!ffmpegSource.isEmpty()) {
            ffmpeg = ToolInfo{path(QStringLiteral("ffmpeg")), QStringLiteral("7.0"), sources.value(ffmpegSource)};
            statuses.append({ToolUpdateStatus::Tool::ffmpeg, ffmpeg->version, QStringLiteral("8.0"), true});
        }
        const std::optional<ToolKind> tool =
            only < 0 ? std::nullopt : std::optional<ToolKind>(only == 0 ? ToolKind::ytDLP : ToolKind::ffmpeg);
        QString message;
        const QString failure = failureOf([&]() -> QCoro::Task<> {
            message = co_await m_service->update(statuses, ytDLP, ffmpeg, tool, m_record);
        }());
        const QString result = failure.isEmpty() ? message : failure;
        QVERIFY2(result.startsWith(outcome), qPrintable(result));
        QCOMPARE(calls(), expectedCalls);
        // Work done before a refusal stays done.
        if (ytDLPSource == QLatin1String("managed"))
            QCOMPARE(readFile(tools(QStringLiteral("yt-dlp"))), m_release.ytDLP);
    }

    void homebrewQueriesAndRemoval() {
        TestSupport::writeFile(path(QStringLiteral("doctor")),
                               R"({"tier":3,"findings":[{"text":"Tier 3 host.\nMore.","tier":3}]})");
        TestSupport::writeFile(path(QStringLiteral("dependents")), "\n  gallery-dl\n\n\tmpv  \n");
        const QString brew = fakeBrew();
        QCOMPARE(BlockingWait::wait(m_service->checkHomebrewSupport(brew)),
                 (HomebrewSupportInfo{3, false, QStringLiteral("Tier 3 host.")}));
        QCOMPARE(failureOf(m_service->uninstallHomebrew(ToolKind::ytDLP, brew, m_record)),
                 QStringLiteral("No se desinstaló yt-dlp porque Homebrew lo necesita para: gallery-dl, mpv. Instala la "
                                "versión precompilada de Torvel en paralelo; la aplicación la usará sin alterar esos "
                                "programas."));
        QCOMPARE(calls(), (QStringList{QStringLiteral("doctor check_for_unsupported_macos --json "),
                                       QStringLiteral("uses --installed yt-dlp 1")}));

        QFile::remove(path(QStringLiteral("dependents")));
        QCOMPARE(BlockingWait::wait(m_service->uninstallHomebrew(ToolKind::ffmpeg, brew, m_record)),
                 QStringLiteral("Se desinstaló la copia Homebrew de FFmpeg. Las dependencias se conservaron."));
        QCOMPARE(calls().mid(2),
                 (QStringList{QStringLiteral("uses --installed ffmpeg 1"), QStringLiteral("uninstall ffmpeg ")}));
        QVERIFY(logged(QStringLiteral("No se ejecutará autoremove; las dependencias se conservarán.")));

        // A failing command without output names its status and says there is nothing more.
        QCOMPARE(failureOf(m_service->uninstallHomebrew(ToolKind::ffmpeg, fakeBrew(3), m_record)),
                 QStringLiteral("El comando terminó con el código 3.\nLa herramienta no proporcionó más detalles."));
        QCOMPARE(BlockingWait::wait(m_service->checkHomebrewSupport(path(QStringLiteral("missing")))), std::nullopt);
    }

    // In-process steps and the steps between commands honour cancel() as the commands do.
    void cancelBetweenCommands_data() {
        QTest::addColumn<QString>("when");
        QTest::newRow("before the checksum and digest") << "Verificando la descarga…";
        QTest::newRow("before the extraction") << "Extrayendo deno.zip…";
        QTest::newRow("before the replacement") << "Instalando yt-dlp…";
    }
    void cancelBetweenCommands() {
        QFETCH(QString, when);
        const ToolUpdateEventHandler cancelThere = [&](const ToolUpdateEvent &event) {
            if (event.text == when)
                m_service->cancel();
        };
        QCOMPARE(failureOf(m_service->installManagedYTDLP(cancelThere)), QStringLiteral("cancelada"));
        QCOMPARE(readFile(tools(QStringLiteral("yt-dlp"))), QByteArray("old yt-dlp"));
        // No work item is left; Deno, complete before the replacement, may stay.
        const QStringList managed{QStringLiteral("deno"), QStringLiteral("ffmpeg"), QStringLiteral("ffprobe"),
                                  QStringLiteral("yt-dlp")};
        const QStringList left = snapshot().keys();
        QVERIFY2(std::all_of(left.cbegin(), left.cend(), [&](const QString &name) { return managed.contains(name); }),
                 qPrintable(left.join(QLatin1Char(' '))));
        QCOMPARE(runningChildren(), QList<qint32>());
    }

    void cancelStopsASlowDownload() {
        Response slow = Response::ok(QByteArray(900'000, 'x'));
        slow.bytesPerTick = 1000;
        m_server->route(ytDLPVersioned + asset, slow);
        const QMap<QString, QByteArray> before = snapshot();
        QElapsedTimer clock;
        QTimer::singleShot(1000, [&] {
            clock.start();
            m_service->cancel();
        });
        QCOMPARE(failureOf(m_service->installManagedYTDLP(m_record)), QStringLiteral("cancelada"));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(snapshot(), before);
        QCOMPARE(runningChildren(), QList<qint32>());
    }

    void cancelStopsACommandAndItsGrandchild() {
        // The updater and its helper ignore SIGTERM: only the kill pass two seconds later ends them.
        const QString pidFile = path(QStringLiteral("grandchild"));
        const QString updater =
            TestSupport::writeScript(path(QStringLiteral("yt-dlp")),
                                     QStringLiteral("trap '' TERM\nsleep 30 &\necho $! > '%1'\nwait").arg(pidFile));
        const ToolInfo ytDLP{updater, QStringLiteral("1"), ToolInstallSource::of(ToolInstallSource::Kind::standalone)};
        QElapsedTimer clock;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!readFile(pidFile).trimmed().isEmpty() && !clock.isValid()) {
                clock.start();
                m_service->cancel();
            }
        });
        poll.start(20);
        const QList<ToolUpdateStatus> statuses{
            {ToolUpdateStatus::Tool::ytDLP, QStringLiteral("1"), QStringLiteral("2"), true}};
        QCOMPARE(failureOf(m_service->update(statuses, ytDLP, std::nullopt, std::nullopt, m_record)),
                 QStringLiteral("cancelada"));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!TestSupport::isRunning(readFile(pidFile).trimmed().toLongLong()));
        QCOMPARE(runningChildren(), QList<qint32>());
    }

    void commandLineStatusAndInstall() {
        ProcessResult result = runApp({QStringLiteral("--json")});
        QCOMPARE(result.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput).object();
        QCOMPARE(report.keys(), (QStringList{QStringLiteral("FFmpeg"), QStringLiteral("javaScriptRuntime"),
                                             QStringLiteral("yt-dlp")}));
        const QJsonObject ffmpeg = report.value(QStringLiteral("FFmpeg")).toObject();
        QCOMPARE(ffmpeg.value(QStringLiteral("latestVersion")).toString(), QStringLiteral("8.0"));
        QCOMPARE(ffmpeg.value(QStringLiteral("source")).toString(), QStringLiteral("Paquete del sistema"));
        QVERIFY(ffmpeg.value(QStringLiteral("updateAvailable")).isBool());

        result = runApp({QStringLiteral("install"), QStringLiteral("yt-dlp")});
        QCOMPARE(result.status, 0);
        const QString managed = path(QStringLiteral("home/.local/share/Torvel Downloader/Tools/yt-dlp"));
        QCOMPARE(result.standardOutput, "Se instaló yt-dlp 2025.10.22 con el ejecutable oficial verificado.\n");
        const QString log = QString::fromUtf8(result.standardError);
        QVERIFY(log.startsWith(QStringLiteral("Iniciando instalación administrada de yt-dlp.\n"
                                              "▶ Descargando el ejecutable oficial de yt-dlp…\n"
                                              "$ /usr/bin/curl --location ")));
        QVERIFY(log.contains(QStringLiteral("\nProceso activo: PID ")));
        QCOMPARE(readFile(managed), m_release.ytDLP);
        QVERIFY(readFile(path(QStringLiteral("home/.config/Torvel/Torvel Downloader.conf"))).contains("Tools/yt-dlp"));

        result = runApp({QStringLiteral("install"), QStringLiteral("nothing")});
        QCOMPARE(result.status, 2);
        result = runApp({}, QStringLiteral("http://github.example"));
        QCOMPARE(result.status, 1);
        QVERIFY(result.standardError.contains("TORVEL_GITHUB_URL"));
    }

    void commandLineCancelsOnCtrlC() {
        Response slow = Response::ok(QByteArray(900'000, 'x'));
        slow.bytesPerTick = 1000;
        m_server->route(ytDLPVersioned + asset, slow);
        const ProcessCallback interruptLater = [](const ProcessHandle &handle) {
            const qint64 pid = handle.processID();
            QTimer::singleShot(1500, [pid] { ::kill(pid_t(pid), SIGINT); });
        };
        const ProcessResult result =
            runApp({QStringLiteral("install"), QStringLiteral("yt-dlp")}, QString(), interruptLater);
        QCOMPARE(result.status, 130);
        QCOMPARE(result.standardOutput, "La operación fue cancelada. Las herramientas que ya hubieran terminado de "
                                        "instalarse se conservaron.\n");
        // The transfer the command started is gone, and so is its work item.
        const QString log = QString::fromUtf8(result.standardError);
        const qint64 curl =
            log.section(QStringLiteral("Proceso activo: PID "), -1).section(QLatin1Char('.'), 0, 0).toLongLong();
        QVERIFY(curl > 0);
        QVERIFY(!TestSupport::isRunning(curl));
        QCOMPARE(QDir(path(QStringLiteral("home/.local/share/Torvel Downloader/Tools"))).entryList(QDir::Files),
                 QStringList());
    }
};

QTEST_GUILESS_MAIN(TestToolUpdateService)
#include "tst_toolupdateservice.moc"
