#include "archivefixtures.h"
#include "common/blockingwait.h"
#include "forwardproxy.h"
#include "platform/toolassets.h"
#include "process/processtree.h"
#include "scriptedhttpserver.h"
#include "signingkeys.h"
#include "testsupport.h"
#include "tools/toolupdateservice.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <csignal>

using Response = ScriptedHttpServer::Response;
// Changes what the fake hosts publish, for one row of a table.
using Tamper = std::function<void()>;
Q_DECLARE_METATYPE(Tamper)

using namespace Qt::StringLiterals;
using TestSupport::failureOf;
using TestSupport::readFile;

namespace {

QByteArray sha(const QByteArray &data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray script(const QByteArray &body) {
    return "#!/bin/sh\n" + body + "\n";
}

const QString asset = ToolAssets::ytDLPAssetName();
const QString denoAsset = ToolAssets::denoAssetName();
const QString ffmpegBase = u"/redirect/latest/linux/"_s + ToolAssets::ffmpegProcessorElement() + u"/release/"_s;
const QString ffmpegRelease = u"/download/linux/8.0/"_s;
const QString ytDLPLatest = u"/yt-dlp/yt-dlp/releases/latest/download/"_s;
const QString ytDLPVersioned = u"/yt-dlp/yt-dlp/releases/download/2025.10.22/"_s;
const QString denoFolder = u"/denoland/deno/releases/download/v2.5.0/"_s;

} // namespace

class TestToolUpdateService : public QObject {
    Q_OBJECT

private:
    // What the fake hosts publish; a test changes a piece before it runs the operation.
    struct Release {
        QByteArray ytDLP, sums, sumsSignature, denoRelease, denoZip, denoChecksum;
        QByteArray ffmpegZip, ffmpegChecksum, ffprobeZip, ffprobeChecksum;
    } m_release;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<ToolUpdateService> m_service;
    QList<ToolUpdateEvent> m_events;
    const ToolUpdateEventHandler m_record = [this](const ToolUpdateEvent &event) { m_events.append(event); };

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString tools(const QString &name = QString()) const { return path(u"tools/"_s + name); }

    QByteArray zip(const QList<ArchiveFixtures::Entry> &entries) {
        const QString file = path(u"fixture.zip"_s);
        ArchiveFixtures::write(file, entries);
        return readFile(file);
    }
    void setYTDLP(const QByteArray &contents) {
        m_release.ytDLP = contents;
        m_release.sums = sha("other") + "  yt-dlp.tar.gz\n" + sha(contents) + "  *" + asset.toUtf8() + "\n";
        m_release.sumsSignature = SigningKeys::sign(m_release.sums);
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

    // The process dying at a point of a swap: the moves the seam lets through are done, then
    // nothing else (no undo, no clean-up) happens before the next start.
    struct Killed {};
    static ToolUpdateService::FileMove interrupted(int failingMove, int killedAfter) {
        return [failingMove, killedAfter, moves = 0](const QString &from,
                                                     const QString &to) mutable -> std::optional<QString> {
            if (moves == killedAfter)
                throw Killed();
            if (++moves == failingMove)
                return u"disco lleno"_s;
            return ToolUpdateService::renameFile(from, to);
        };
    }
    std::unique_ptr<ToolUpdateService> service(const QByteArray &signingKey = SigningKeys::trustedPublicKey()) const {
        const QUrl origin = m_server->origin();
        ToolUpdateService::Limits limits;
        limits.catalogFetch = limits.dataFetch = limits.connect = limits.stalledTransfer = std::chrono::seconds(2);
        limits.testRun = limits.homebrewQuery = std::chrono::seconds(3);
        limits.maxAssetBytes = limits.maxUnpackedBytes = limits.maxOutputCharacters = 1'000'000;
        return std::make_unique<ToolUpdateService>(ToolHosts{origin, origin, origin, origin, signingKey},
                                                   DependencyLocator(TestSupport::sandboxedTools(m_work->path())),
                                                   limits);
    }

    // A fake brew: records its arguments (and HOMEBREW_NO_AUTO_UPDATE) and answers "uses" and
    // "doctor" from files the test writes.
    QString fakeBrew(int status = 0) {
        return TestSupport::writeScript(path(u"brew"_s), u"echo \"$* ${HOMEBREW_NO_AUTO_UPDATE}\" >> '%1/calls'\n"
                                                         "[ \"$1\" = uses ] && cat '%1/dependents' 2>/dev/null\n"
                                                         "[ \"$1\" = doctor ] && cat '%1/doctor' && exit 1\n"
                                                         "exit %2"_s.arg(m_work->path())
                                                             .arg(status));
    }
    QStringList calls() const {
        return QString::fromUtf8(readFile(path(u"calls"_s))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The command line, with every host pointed at the fake server and a home of its own.
    ProcessResult runApp(const QStringList &arguments, const QString &githubURL = QString(),
                         const ProcessCallback &onProcess = {}) {
        const QString origin = m_server->origin().toString();
        const ProcessEnvironment hosts{{u"TORVEL_GITHUB_URL"_s, githubURL.isNull() ? origin : githubURL},
                                       {u"TORVEL_GITHUB_API_URL"_s, origin},
                                       {u"TORVEL_HOMEBREW_API_URL"_s, origin},
                                       {u"TORVEL_FFMPEG_URL"_s, origin},
                                       {u"TORVEL_YTDLP_SIGNING_KEY"_s, SigningKeys::trustedPublicKeyFile()}};
        return TestSupport::runApplication(QStringList{u"tools"_s} + arguments, path(u"home"_s), hosts, onProcess);
    }

private Q_SLOTS:
    void init() {
        m_work = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<ScriptedHttpServer>();
        m_events.clear();
        setYTDLP(script("echo 2025.10.22"));
        m_release.denoRelease = R"({"tag_name":"v2.5.0","assets":[]})";
        setDenoZip(zip(
            {ArchiveFixtures::file(u"deno"_s, script("echo 'deno 2.5.0 (stable, release)'; echo 'v8 14.0'"), 0755)}));
        m_release.ffmpegZip = zip({ArchiveFixtures::file(u"ffmpeg"_s, readFile(u"/usr/bin/ffmpeg"_s), 0755)});
        m_release.ffmpegChecksum = sha(m_release.ffmpegZip); // a bare digest is accepted
        m_release.ffprobeZip = zip({ArchiveFixtures::file(u"ffprobe"_s, readFile(u"/usr/bin/ffprobe"_s), 0755)});
        m_release.ffprobeChecksum = sha(m_release.ffprobeZip) + "  ffprobe.zip\n";

        redirect(ytDLPLatest + asset, ytDLPVersioned + asset);
        redirect(ytDLPLatest + u"SHA2-256SUMS"_s, ytDLPVersioned + u"SHA2-256SUMS"_s);
        serve(ytDLPVersioned + asset, &Release::ytDLP);
        serve(ytDLPVersioned + u"SHA2-256SUMS"_s, &Release::sums);
        serve(ytDLPLatest + u"SHA2-256SUMS.sig"_s, &Release::sumsSignature);
        serve(u"/repos/denoland/deno/releases/latest"_s, &Release::denoRelease);
        serve(denoFolder + denoAsset, &Release::denoZip);
        serve(denoFolder + denoAsset + u".sha256sum"_s, &Release::denoChecksum);
        redirect(ffmpegBase + u"ffmpeg.zip"_s, ffmpegRelease + u"ffmpeg.zip"_s);
        redirect(ffmpegBase + u"ffprobe.zip"_s, ffmpegRelease + u"ffprobe.zip"_s);
        serve(ffmpegRelease + u"ffmpeg.zip"_s, &Release::ffmpegZip);
        serve(ffmpegRelease + u"ffmpeg.zip.sha256"_s, &Release::ffmpegChecksum);
        serve(ffmpegRelease + u"ffprobe.zip"_s, &Release::ffprobeZip);
        serve(ffmpegRelease + u"ffprobe.zip.sha256"_s, &Release::ffprobeChecksum);
        m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_s, Response::ok(R"({"tag_name":"yt-dlp 2025.10.22"})"));
        m_server->route(u"/api/formula/yt-dlp.json"_s, Response::ok(R"({"versions":{"stable":"2025.09.26"}})"));
        m_server->route(u"/api/formula/ffmpeg.json"_s, Response::ok(R"({"versions":{"stable":"8.0"}})"));

        m_service = service();
        for (const char *tool : {"yt-dlp", "ffmpeg", "ffprobe"})
            TestSupport::writeFile(tools(QLatin1String(tool)), "old " + QByteArray(tool));
    }

    // Then over the managed copy, which is kept for a step back; going back checks the kept copy
    // and restores it byte for byte, keeping nothing.
    void managedYTDLPFreshThenOverTheManagedCopyAndBack() {
        QDir(tools()).removeRecursively();
        auto result = BlockingWait::wait(m_service->installManagedYTDLP(m_record));
        QCOMPARE(result,
                 (ToolUpdateService::ManagedInstallResult{
                     tools(u"yt-dlp"_s), u"Se instaló yt-dlp 2025.10.22 con el ejecutable oficial verificado."_s}));
        QCOMPARE(stages(),
                 (QStringList{u"Descargando el ejecutable oficial de yt-dlp…"_s, u"Verificando la descarga…"_s,
                              u"Consultando la versión estable de Deno…"_s, u"Descargando Deno v2.5.0…"_s,
                              u"Instalando Deno…"_s, u"Instalando yt-dlp…"_s}));
        QVERIFY(logged(u"/usr/bin/curl --location "_s + m_server->url(ytDLPLatest + asset).toString()));
        QVERIFY(std::none_of(m_events.cbegin(), m_events.cend(), [](const ToolUpdateEvent &event) {
            return event.text.contains(QLatin1String("__TORVEL"));
        }));
        QVERIFY(logged(u"SHA-256 verificado: "_s + denoAsset + u"."_s));
        QVERIFY(logged(u"Firma de SHA2-256SUMS verificada"_s));
        QCOMPARE(snapshot().keys(), (QStringList{u"deno"_s, u"yt-dlp"_s}));
        QCOMPARE(readFile(tools(u"yt-dlp"_s)), m_release.ytDLP);
        QVERIFY(QFileInfo(tools(u"deno"_s)).isExecutable());

        // Now a JavaScript runtime exists: no Deno activity at all, and the old copy is replaced.
        m_events.clear();
        const QByteArray first = m_release.ytDLP;
        setYTDLP(script("echo 2025.11.01"));
        for (int install = 0; install < 2; ++install) { // reinstalling the same version keeps the older copy
            result = BlockingWait::wait(m_service->installManagedYTDLP(m_record));
            QCOMPARE(result.message, u"Se instaló yt-dlp 2025.11.01 con el ejecutable oficial verificado."_s);
        }
        QVERIFY(std::none_of(m_events.cbegin(), m_events.cend(),
                             [](const ToolUpdateEvent &event) { return event.text.contains(QLatin1String("Deno")); }));
        QVERIFY(logged(u"Se conservó la versión anterior, yt-dlp 2025.10.22, para poder volver a ella."_s));
        QCOMPARE(snapshot().keys(),
                 (QStringList{u"deno"_s, u"yt-dlp"_s, u"yt-dlp.previous"_s, u"yt-dlp.previous.json"_s}));
        QCOMPARE(readFile(tools(u"yt-dlp"_s)), m_release.ytDLP);
        QCOMPARE(m_service->previousVersion(ToolKind::ytDLP), u"2025.10.22"_s);

        // Only the very copy that was kept goes back.
        QFile kept(tools(u"yt-dlp.previous"_s));
        QVERIFY(kept.open(QIODevice::Append) && kept.write("\n") == 1);
        kept.close();
        QCOMPARE(failureOf(m_service->rollBack(ToolKind::ytDLP, m_record)),
                 u"La copia anterior de yt-dlp falta o cambió desde que se guardó; no se restauró."_s);
        QVERIFY(kept.resize(first.size()));
        // A link to the very same bytes is refused: what it leads to could change after the check.
        QVERIFY(QFile::rename(tools(u"yt-dlp.previous"_s), path(u"elsewhere"_s)) &&
                QFile::link(path(u"elsewhere"_s), tools(u"yt-dlp.previous"_s)));
        QCOMPARE(failureOf(m_service->rollBack(ToolKind::ytDLP, m_record)),
                 u"La copia anterior de yt-dlp no es un archivo normal; no se restauró."_s);
        QVERIFY(QFile::remove(tools(u"yt-dlp.previous"_s)) &&
                QFile::rename(path(u"elsewhere"_s), tools(u"yt-dlp.previous"_s)));

        m_events.clear();
        QCOMPARE(BlockingWait::wait(m_service->rollBack(ToolKind::ytDLP, m_record)),
                 u"Se restauró la versión anterior de yt-dlp, 2025.10.22."_s);
        QCOMPARE(stages(),
                 (QStringList{u"Comprobando la versión anterior de yt-dlp…"_s, u"Restaurando yt-dlp 2025.10.22…"_s}));
        QCOMPARE(readFile(tools(u"yt-dlp"_s)), first);
        QCOMPARE(snapshot().keys(), (QStringList{u"deno"_s, u"yt-dlp"_s}));
        QCOMPARE(failureOf(m_service->rollBack(ToolKind::ytDLP, m_record)),
                 u"No hay una versión anterior de yt-dlp para restaurar."_s);
    }

    // A move fails (the rollback is undone at once) or the process dies after some moves (the next
    // start puts the files back): numbered in order, the two kept files in.
    void rollBackOfFFmpegIsAllOrNothing_data() {
        QTest::addColumn<int>("failingMove"); // 0: none
        QTest::addColumn<int>("killedAfter"); // -1: not killed
        for (int move = 0; move <= 2; ++move)
            QTest::newRow(qPrintable(u"move %1 fails"_s.arg(move))) << move << -1;
        for (int moves = 0; moves <= 1; ++moves)
            QTest::newRow(qPrintable(u"killed after %1 moves"_s.arg(moves))) << 0 << moves;
    }
    void rollBackOfFFmpegIsAllOrNothing() {
        QFETCH(int, failingMove);
        QFETCH(int, killedAfter);
        for (const QString &tool : {u"ffmpeg"_s, u"ffprobe"_s})
            TestSupport::writeScript(tools(tool), u"echo '%1 version 4.4.2 Copyright'"_s.arg(tool));
        const QMap<QString, QByteArray> before = snapshot();
        BlockingWait::wait(m_service->installManagedFFmpeg(m_record));
        QCOMPARE(m_service->previousVersion(ToolKind::ffmpeg), u"4.4.2"_s);
        const QMap<QString, QByteArray> updated = snapshot();

        const QString failure = failureOf([&] {
            try {
                BlockingWait::wait(
                    m_service->rollBack(ToolKind::ffmpeg, m_record, interrupted(failingMove, killedAfter)));
            } catch (const Killed &) {
                m_service = service(); // the next start
            }
        });
        QVERIFY2(failingMove ? failure.endsWith(u": disco lleno"_s) : failure.isEmpty(), qPrintable(failure));
        QCOMPARE(snapshot(), failingMove || killedAfter >= 0 ? updated : before);
    }

    // The process dies between the steps of an install, which keeps the copies it replaces: the
    // managed tools answer throughout, all old or all new, and the next start leaves nothing else.
    void anInstallKilledHalfwayLeavesWorkingTools_data() {
        QTest::addColumn<bool>("ffmpeg");
        QTest::addColumn<int>("killedAfter");
        for (int moves = 0; moves <= 3; ++moves)
            QTest::newRow(qPrintable(u"FFmpeg, killed after %1 moves"_s.arg(moves))) << true << moves;
        for (int moves = 0; moves <= 1; ++moves)
            QTest::newRow(qPrintable(u"yt-dlp, killed after %1 moves"_s.arg(moves))) << false << moves;
    }
    void anInstallKilledHalfwayLeavesWorkingTools() {
        QFETCH(bool, ffmpeg);
        QFETCH(int, killedAfter);
        const QStringList names = ffmpeg ? QStringList{u"ffmpeg"_s, u"ffprobe"_s} : QStringList{u"yt-dlp"_s};
        const QString work =
            tools(u"ffmpeg-install-%1/"_s.arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
        QVERIFY(QDir().mkpath(work));
        TestSupport::writeFile(
            tools(u"yt-dlp.download-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()), "x");
        QList<ToolUpdateService::InstallPair> pairs;
        for (const QString &name : names) {
            TestSupport::writeFile(work + name, "new " + name.toUtf8());
            pairs.append({work + name, tools(name), tools(name + u".previous"_s)});
        }
        QVERIFY_THROWS_EXCEPTION(Killed, ToolUpdateService::installAtomically(pairs, interrupted(0, killedAfter)));
        for (const QString &name : names) // never a moment without the tool
            QVERIFY(readFile(tools(name)).endsWith(name.toUtf8()));
        m_service = service();
        const QMap<QString, QByteArray> after = snapshot();
        const QByteArray state = after.value(names.first()).left(4);
        for (const QString &name : names)
            QCOMPARE(after.value(name), state + name.toUtf8());
        // A copy kept without its record would never be put back: it goes too.
        QCOMPARE(after.keys(), (QStringList{u"ffmpeg"_s, u"ffprobe"_s, u"yt-dlp"_s}));
        QCOMPARE(state, killedAfter >= names.size() ? QByteArray("new ") : QByteArray("old "));
    }

    void managedFFmpegAsOneSet() {
        const auto result = BlockingWait::wait(m_service->installManagedFFmpeg(m_record));
        QCOMPARE(result, (ToolUpdateService::ManagedInstallResult{
                             tools(u"ffmpeg"_s), u"Se instalaron FFmpeg y FFprobe precompilados y verificados."_s}));
        QCOMPARE(readFile(tools(u"ffmpeg"_s)), readFile(u"/usr/bin/ffmpeg"_s));
        QCOMPARE(readFile(tools(u"ffprobe"_s)), readFile(u"/usr/bin/ffprobe"_s));
        QCOMPARE(snapshot().keys(), (QStringList{u"ffmpeg"_s, u"ffprobe"_s, u"yt-dlp"_s}));
        // The checksum is the one beside the file the redirect led to: none is served elsewhere.
        QVERIFY(m_events.last().text.startsWith(QLatin1String("ffmpeg version ")));
        QVERIFY(m_events.last().text.endsWith(QLatin1String(" validado e instalado.")));
    }

    void refusalsLeaveThePreviousFiles_data() {
        QTest::addColumn<bool>("ffmpeg");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<Tamper>("tamper");
        const auto row = [](const char *name, bool ffmpeg, const QString &expected, const Tamper &tamper) {
            QTest::newRow(name) << ffmpeg << expected << tamper;
        };
        const auto denoZip = [this](const ArchiveFixtures::Entry &entry) {
            return [=, this] { setDenoZip(zip({entry})); };
        };
        const auto ytDLP = [this](const QByteArray &body) { return [=, this] { setYTDLP(script(body)); }; };
        const QString failedRun = u"El ejecutable descargado no superó la comprobación de funcionamiento."_s;
        using ArchiveFixtures::file;

        row("flipped byte", false,
            u"La verificación SHA-256 de "_s + asset + u" no coincide. No se instaló el archivo."_s,
            [this] { m_release.ytDLP[12] = char(m_release.ytDLP[12] ^ 1); });
        row("list without the asset", false, u"No se pudo obtener el checksum oficial de "_s + asset + u"."_s, [this] {
            m_release.sums = sha(m_release.ytDLP) + "  yt-dlp_macos\n";
            m_release.sumsSignature = SigningKeys::sign(m_release.sums);
        });
        // A swapped asset with a list to match passes no signature check.
        const QString badSignature = u"La firma de la lista de sumas de yt-dlp no es válida."_s;
        row("list signed by another key", false, badSignature,
            [this] { m_release.sumsSignature = SigningKeys::sign(m_release.sums, false); });
        // gpgv calls a signature by an expired key good; the status lines say what it is.
        row("list signed by a key that has expired", false, badSignature, [this] {
            m_service = service(SigningKeys::expiredPublicKey());
            m_release.sumsSignature = SigningKeys::signWithExpiredKey(m_release.sums);
        });
        row("list without signature", false, badSignature,
            [this] { m_server->route(ytDLPLatest + u"SHA2-256SUMS.sig"_s, Response::notFound()); });
        row("tampered list", false, badSignature, [this] {
            const QByteArray signature = m_release.sumsSignature;
            setYTDLP(script("echo evil"));
            m_release.sumsSignature = signature;
        });
        row("older than the installed copy", false,
            u"La versión publicada de yt-dlp, 2025.10.22, es anterior a la instalada, 2025.11.01; no se instaló."_s,
            [this] { TestSupport::writeScript(tools(u"yt-dlp"_s), u"echo 2025.11.01"_s); });
        row("test run fails", false, failedRun, ytDLP("echo broken >&2; exit 1"));
        row("test run hangs", false, failedRun, ytDLP("sleep 30"));
        row("test run prints megabytes", false, u"demasiada salida"_s, ytDLP("yes 2025.10.22 | head -c 3000000"));
        row("Deno release of wrong types", false, u"No se pudo consultar la versión más reciente de Deno."_s,
            [this] { m_release.denoRelease = R"({"tag_name":["v2.5.0"]})"; });
        row("Deno tag with a line feed", false, u"No se pudo consultar la versión más reciente de Deno."_s,
            [this] { m_release.denoRelease = R"({"tag_name":"v2.5.0\n","assets":[]})"; });
        row("Deno zip without deno", false, u"El paquete oficial de Deno no contiene el ejecutable esperado."_s,
            denoZip(file(u"bin/deno"_s, script("exit 0"), 0755)));
        row("zip bomb", false, u"al descomprimirse; se canceló la extracción."_s,
            denoZip(file(u"deno"_s, QByteArray(4'000'000, '\0'), 0755)));
        row("HTML page as checksum", false, u"No se pudo interpretar el checksum de "_s + denoAsset + u"."_s,
            [this] { m_release.denoChecksum = "<!DOCTYPE html>\n<html><body>Rate limit exceeded</body></html>\n"; });
        row("asset missing", false, u"error: 404"_s,
            [this] { m_server->route(ytDLPVersioned + asset, Response::notFound()); });
        row("oversized asset", false, u"supera el tamaño máximo permitido"_s,
            [this] { setYTDLP(script("echo 1") + QByteArray(2'000'000, '#')); });
        row("redirect to plain http elsewhere", false,
            u"Se rechazó la dirección http://example.invalid/a: solo se admiten direcciones https."_s,
            [this] { m_server->route(ytDLPLatest + asset, Response::redirect(QUrl(u"http://example.invalid/a"_s))); });
        row("FFprobe for another processor", true, u"ffprobe no es un programa para este equipo."_s, [this] {
            QByteArray probe = readFile(u"/usr/bin/ffprobe"_s);
            probe[18] = char(probe[18] == 62 ? 183 : 62); // e_machine: the other supported processor
            m_release.ffprobeZip = zip({file(u"ffprobe"_s, probe, 0755)});
            m_release.ffprobeChecksum = sha(m_release.ffprobeZip);
        });
        row("FFmpeg zip without ffmpeg", true, u"Los paquetes descargados no contienen FFmpeg y FFprobe."_s, [this] {
            m_release.ffmpegZip = zip({file(u"ffmpeg/ffmpeg"_s, "x", 0755)});
            m_release.ffmpegChecksum = sha(m_release.ffmpegZip);
        });
        row("flipped byte in an archive", true, u"La verificación SHA-256 de ffprobe.zip no coincide."_s,
            [this] { m_release.ffprobeZip[100] = char(m_release.ffprobeZip[100] ^ 1); });
        row("empty checksum file", true, u"No se pudo interpretar el checksum de ffmpeg.zip."_s,
            [this] { m_release.ffmpegChecksum.clear(); });
        row("server never answers", true, u"curl: (28)"_s,
            [this] { m_server->route(ffmpegRelease + u"ffprobe.zip"_s, Response::hanging()); });
        row("transfer breaks off", false, u"curl: (18)"_s, [this] {
            Response broken = Response::throttled(QByteArray(300'000, 'x'), 100'000);
            broken.declaredLength = 1'000'000;
            m_server->route(ytDLPVersioned + asset, broken);
        });
    }
    void refusalsLeaveThePreviousFiles() {
        QFETCH(bool, ffmpeg);
        QFETCH(QString, expected);
        QFETCH(Tamper, tamper);
        tamper();
        const QMap<QString, QByteArray> before = snapshot();
        const QString failure = ffmpeg ? failureOf(m_service->installManagedFFmpeg(m_record))
                                       : failureOf(m_service->installManagedYTDLP(m_record));
        // curl's own line, never its progress bar.
        QVERIFY2(failure.contains(expected) && !failure.contains(u"##"_s) && !failure.contains(u'\r'),
                 qPrintable(failure));
        QCOMPARE(snapshot(), before);
        QCOMPARE(TestSupport::runningChildren(), QList<qint32>());
    }

    void versionCheck() {
        ToolInfo ytDLP{path(u"yt-dlp"_s), u"2025.09.26"_s, ToolInstallSource::of(ToolInstallSource::Kind::standalone)};
        const ToolInfo ffmpeg{path(u"ffmpeg"_s), u"8.0"_s, ToolInstallSource::of(ToolInstallSource::Kind::managed)};
        using Tool = ToolUpdateStatus::Tool;
        QCOMPARE(BlockingWait::wait(m_service->check(ytDLP, ffmpeg)),
                 (QList<ToolUpdateStatus>{{Tool::ytDLP, u"2025.09.26"_s, u"2025.10.22"_s, true},
                                          {Tool::ffmpeg, u"8.0"_s, u"8.0"_s, false}}));
        // Through the proxy of the settings, with its user and password.
        ForwardProxy proxy("ana:s3cr3t");
        m_service->setProxy({NetworkOptions::Proxy::Kind::address, proxy.address()});
        QCOMPARE(BlockingWait::wait(m_service->check(ytDLP, ffmpeg)).size(), 2);
        QVERIFY2(
            proxy.requests().contains(u"GET "_s + m_server->url(u"/repos/yt-dlp/yt-dlp/releases/latest"_s).toString()),
            qPrintable(proxy.requests().join(u", "_s)));
        m_service->setProxy({});
        // A Homebrew copy is compared with its formula, not with the project's release.
        ytDLP.installSource = ToolInstallSource::homebrew(u"/bin/false"_s);
        QCOMPARE(BlockingWait::wait(m_service->check(ytDLP, std::nullopt)),
                 (QList<ToolUpdateStatus>{{Tool::ytDLP, u"2025.09.26"_s, u"2025.09.26"_s, false}}));

        // Documents of the wrong shape, and a host that never answers, leave the tools out.
        m_server->route(u"/api/formula/yt-dlp.json"_s, Response::ok(R"({"versions":{"stable":7}})"));
        m_server->route(u"/api/formula/ffmpeg.json"_s, Response::hanging());
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
            "yt-dlp --proxy PROXY -U");
        row("pip yt-dlp", "pip", "", -1, "yt-dlp fue instalado con pip.");
        row("MacPorts yt-dlp", "macPorts", "", -1, "yt-dlp pertenece a MacPorts.");
        row("system yt-dlp", "systemPackage", "", -1, "yt-dlp pertenece al gestor de paquetes del sistema.");
        row("only FFmpeg", "pip", "homebrew", 1, "Homebrew actualizó ffmpeg.", "upgrade ffmpeg ");
        row("managed yt-dlp, then MacPorts FFmpeg", "managed", "macPorts", -1, "FFmpeg pertenece a MacPorts.");
        row("stand-alone FFmpeg", "", "standalone", -1, "Esta copia de FFmpeg no tiene un actualizador integrado.");
        row("only yt-dlp, which is current", "", "homebrew", 0, "Las herramientas ya están actualizadas.");
    }
    void updateRouting() {
        QFETCH(QString, ytDLPSource);
        QFETCH(QString, ffmpegSource);
        QFETCH(int, only);
        QFETCH(QString, outcome);
        QFETCH(QStringList, expectedCalls);
        const QString brew = fakeBrew();
        const QString standalone =
            TestSupport::writeScript(path(u"yt-dlp"_s), u"echo \"yt-dlp $*\" >> '%1/calls'"_s.arg(m_work->path()));
        const auto source = [&](const QString &name) { // the names of ToolInstallSource::Kind, in order
            const auto kind = ToolInstallSource::Kind(
                QStringList{u"homebrew"_s, u"managed"_s, u"macPorts"_s, u"pip"_s, u"systemPackage"_s, u"standalone"_s}
                    .indexOf(name));
            return kind == ToolInstallSource::Kind::homebrew ? ToolInstallSource::homebrew(brew)
                                                             : ToolInstallSource::of(kind);
        };
        std::optional<ToolInfo> ytDLP, ffmpeg;
        QList<ToolUpdateStatus> statuses;
        if (!ytDLPSource.isEmpty()) {
            ytDLP = ToolInfo{standalone, u"2025.01.01"_s, source(ytDLPSource)};
            statuses.append({ToolUpdateStatus::Tool::ytDLP, ytDLP->version, u"2025.10.22"_s, true});
        }
        if (!ffmpegSource.isEmpty()) {
            ffmpeg = ToolInfo{path(u"ffmpeg"_s), u"7.0"_s, source(ffmpegSource)};
            statuses.append({ToolUpdateStatus::Tool::ffmpeg, ffmpeg->version, u"8.0"_s, true});
        }
        const std::optional<ToolKind> tool =
            only < 0 ? std::nullopt : std::optional<ToolKind>(only == 0 ? ToolKind::ytDLP : ToolKind::ffmpeg);
        // yt-dlp's own updater goes through the proxy too, which the live log shows without its
        // password.
        ForwardProxy proxy("ana:s3cr3t");
        m_service->setProxy({NetworkOptions::Proxy::Kind::address, proxy.address()});
        expectedCalls.replaceInStrings(u"PROXY"_s, proxy.address());
        QString message;
        const QString failure = failureOf([&]() -> QCoro::Task<> {
            message = co_await m_service->update(statuses, ytDLP, ffmpeg, tool, m_record);
        }());
        QVERIFY(std::none_of(m_events.cbegin(), m_events.cend(),
                             [](const ToolUpdateEvent &event) { return event.text.contains(u"s3cr3t"_s); }));
        QCOMPARE(logged(standalone + u" --proxy "_s + NetworkOptions::maskedAddress(proxy.address()) + u" -U"_s),
                 ytDLPSource == u"standalone"_s);
        const QString result = failure.isEmpty() ? message : failure;
        QVERIFY2(result.startsWith(outcome), qPrintable(result));
        QCOMPARE(calls(), expectedCalls);
        // Work done before a refusal stays done.
        if (ytDLPSource == QLatin1String("managed"))
            QCOMPARE(readFile(tools(u"yt-dlp"_s)), m_release.ytDLP);
    }

    void homebrewQueriesAndRemoval() {
        TestSupport::writeFile(path(u"doctor"_s), R"({"tier":3,"findings":[{"text":"Tier 3 host.\nMore.","tier":3}]})");
        TestSupport::writeFile(path(u"dependents"_s), "\n  gallery-dl\n\n\tmpv  \n");
        const QString brew = fakeBrew();
        QCOMPARE(BlockingWait::wait(m_service->checkHomebrewSupport(brew)),
                 (HomebrewSupportInfo{3, false, u"Tier 3 host."_s}));
        QCOMPARE(failureOf(m_service->uninstallHomebrew(ToolKind::ytDLP, brew, m_record)),
                 u"No se desinstaló yt-dlp porque Homebrew lo necesita para: gallery-dl, mpv. Instala la "
                 "versión precompilada de Torvel en paralelo; la aplicación la usará sin alterar esos "
                 "programas."_s);
        QCOMPARE(calls(),
                 (QStringList{u"doctor check_for_unsupported_macos --json "_s, u"uses --installed yt-dlp 1"_s}));

        QFile::remove(path(u"dependents"_s));
        QCOMPARE(BlockingWait::wait(m_service->uninstallHomebrew(ToolKind::ffmpeg, brew, m_record)),
                 u"Se desinstaló la copia Homebrew de FFmpeg. Las dependencias se conservaron."_s);
        QCOMPARE(calls().mid(2), (QStringList{u"uses --installed ffmpeg 1"_s, u"uninstall ffmpeg "_s}));
        QVERIFY(logged(u"No se ejecutará autoremove; las dependencias se conservarán."_s));

        // A failing command without output names its status and says there is nothing more.
        QCOMPARE(failureOf(m_service->uninstallHomebrew(ToolKind::ffmpeg, fakeBrew(3), m_record)),
                 u"El comando terminó con el código 3.\nLa herramienta no proporcionó más detalles."_s);
        QCOMPARE(BlockingWait::wait(m_service->checkHomebrewSupport(path(u"missing"_s))), std::nullopt);
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
        QCOMPARE(failureOf(m_service->installManagedYTDLP(cancelThere)), u"cancelada"_s);
        QCOMPARE(readFile(tools(u"yt-dlp"_s)), QByteArray("old yt-dlp"));
        // No work item is left; Deno, complete before the replacement, may stay.
        const QStringList managed{u"deno"_s, u"ffmpeg"_s, u"ffprobe"_s, u"yt-dlp"_s};
        const QStringList left = snapshot().keys();
        QVERIFY2(std::all_of(left.cbegin(), left.cend(), [&](const QString &name) { return managed.contains(name); }),
                 qPrintable(left.join(QLatin1Char(' '))));
        QCOMPARE(TestSupport::runningChildren(), QList<qint32>());
    }

    void cancelStopsACommandAndItsGrandchild() {
        // The updater and its helper ignore SIGTERM: only the kill pass two seconds later ends them.
        const QString pidFile = path(u"grandchild"_s);
        const QString updater = TestSupport::writeScript(
            path(u"yt-dlp"_s), u"trap '' TERM\nsleep 30 &\necho $! > '%1'\nwait"_s.arg(pidFile));
        const ToolInfo ytDLP{updater, u"1"_s, ToolInstallSource::of(ToolInstallSource::Kind::standalone)};
        QElapsedTimer clock;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!readFile(pidFile).trimmed().isEmpty() && !clock.isValid()) {
                clock.start();
                m_service->cancel();
            }
        });
        poll.start(20);
        const QList<ToolUpdateStatus> statuses{{ToolUpdateStatus::Tool::ytDLP, u"1"_s, u"2"_s, true}};
        QCOMPARE(failureOf(m_service->update(statuses, ytDLP, std::nullopt, std::nullopt, m_record)), u"cancelada"_s);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        // A killed process may be scheduled a moment after the signal was sent.
        QTRY_VERIFY(!ProcessTree::isRunning(qint32(readFile(pidFile).trimmed().toLongLong())));
        QCOMPARE(TestSupport::runningChildren(), QList<qint32>());
    }

    // A Homebrew refresh while an operation runs is no part of it: it neither takes the
    // operation's cancellable slot nor ends with its cancel.
    void auxiliaryQueriesLeaveTheOperationItsCancel() {
        const QString brew =
            TestSupport::writeScript(path(u"brew"_s), u"[ \"$1\" = upgrade ] && exec sleep 5\nexit 0"_s);
        const ToolInfo ytDLP{path(u"yt-dlp"_s), u"1"_s, ToolInstallSource::homebrew(brew)};
        const QList<ToolUpdateStatus> statuses{{ToolUpdateStatus::Tool::ytDLP, u"1"_s, u"2"_s, true}};
        QElapsedTimer clock;
        std::optional<QStringList> dependents;
        const ToolUpdateEventHandler queryThenCancel = [&](const ToolUpdateEvent &event) {
            if (event.kind != ToolUpdateEvent::Kind::processStarted || dependents)
                return;
            dependents = QStringList{u"pendiente"_s};
            QTimer::singleShot(0, [&] {
                dependents = BlockingWait::wait(m_service->homebrewInstalledDependents(ToolKind::ffmpeg, brew));
                clock.start();
                m_service->cancel();
            });
        };
        QCOMPARE(failureOf(m_service->update(statuses, ytDLP, std::nullopt, std::nullopt, queryThenCancel)),
                 u"cancelada"_s);
        QCOMPARE(dependents, QStringList());
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(TestSupport::runningChildren(), QList<qint32>());
    }

    void commandLineStatusAndInstall() {
        ProcessResult result = runApp({u"--json"_s});
        QCOMPARE(result.status, 0);
        const QJsonObject report = QJsonDocument::fromJson(result.standardOutput).object();
        QCOMPARE(report.keys(), (QStringList{u"FFmpeg"_s, u"javaScriptRuntime"_s, u"yt-dlp"_s}));
        const QJsonObject ffmpeg = report.value(u"FFmpeg"_s).toObject();
        QCOMPARE(ffmpeg.value(u"latestVersion"_s).toString(), u"8.0"_s);
        QCOMPARE(ffmpeg.value(u"source"_s).toString(), u"Paquete del sistema"_s);
        QVERIFY(ffmpeg.value(u"updateAvailable"_s).isBool());

        result = runApp({u"install"_s, u"yt-dlp"_s});
        QVERIFY2(result.status == 0, result.standardError.constData());
        QCOMPARE(result.standardOutput, "Se instaló yt-dlp 2025.10.22 con el ejecutable oficial verificado.\n");
        const QString log = QString::fromUtf8(result.standardError);
        QVERIFY(log.startsWith(u"Iniciando instalación administrada de yt-dlp.\n"
                               "▶ Descargando el ejecutable oficial de yt-dlp…\n"
                               "$ /usr/bin/curl --location "_s));
        QCOMPARE(readFile(path(u"home/.local/share/Torvel Downloader/Tools/yt-dlp"_s)), m_release.ytDLP);
        QVERIFY(readFile(path(u"home/.config/Torvel/Torvel Downloader.conf"_s)).contains("Tools/yt-dlp"));

        setYTDLP(script("echo 2025.11.01"));
        QCOMPARE(runApp({u"install"_s, u"yt-dlp"_s}).status, 0);
        // The configured copy changes to the restored one, and the command says so.
        const QString configuration = path(u"home/.config/Torvel/Torvel Downloader.conf"_s);
        QSettings(configuration, QSettings::IniFormat).setValue(u"ytDLPPath"_s, u"/usr/bin/yt-dlp"_s);
        result = runApp({u"rollback"_s, u"yt-dlp"_s});
        QCOMPARE(QString::fromUtf8(result.standardOutput),
                 u"Se restauró la versión anterior de yt-dlp, 2025.10.22.\nTorvel Downloader usa ahora "_s +
                     path(u"home/.local/share/Torvel Downloader/Tools/yt-dlp"_s) +
                     u" en lugar de /usr/bin/yt-dlp.\n"_s);
        QVERIFY(result.standardError.startsWith("Iniciando la vuelta a la versión anterior de yt-dlp.\n"));
        QCOMPARE(runApp({u"rollback"_s, u"yt-dlp"_s}).status, 1);

        // An update that could check nothing says so and fails.
        m_server->route(u"/api/formula/ffmpeg.json"_s, Response::notFound());
        result = runApp({u"update"_s, u"ffmpeg"_s});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.standardError.endsWith("No se pudo consultar el catálogo de versiones.\n"),
                 result.standardError.constData());
        QCOMPARE(runApp({u"install"_s, u"nothing"_s}).status, 2);
        result = runApp({}, u"http://github.example"_s);
        QCOMPARE(result.status, 1);
        QVERIFY(result.standardError.contains("TORVEL_GITHUB_URL"));
    }

    // Ctrl-C during a download the server throttles.
    void commandLineCancelsOnCtrlC() {
        m_server->route(ytDLPVersioned + asset, Response::throttled(QByteArray(900'000, 'x'), 1000));
        QElapsedTimer clock;
        const ProcessCallback interruptLater = [&clock](const ProcessHandle &handle) {
            const qint64 pid = handle.processID();
            QTimer::singleShot(1500, [pid, &clock] {
                clock.start();
                ::kill(pid_t(pid), SIGINT);
            });
        };
        const ProcessResult result = runApp({u"install"_s, u"yt-dlp"_s}, QString(), interruptLater);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(result.status, 130);
        QCOMPARE(result.standardOutput, "La operación fue cancelada. Las herramientas que ya hubieran terminado de "
                                        "instalarse se conservaron.\n");
        // The transfer the command started is gone, and so is its work item.
        const QString log = QString::fromUtf8(result.standardError);
        const qint64 curl = log.section(u"Proceso activo: PID "_s, -1).section(QLatin1Char('.'), 0, 0).toLongLong();
        QVERIFY(curl > 0);
        QVERIFY(!ProcessTree::isRunning(qint32(curl)));
        QCOMPARE(QDir(path(u"home/.local/share/Torvel Downloader/Tools"_s)).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestToolUpdateService)
#include "tst_toolupdateservice.moc"
