#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "platform/singleinstance.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char document[] =
    R"({"id":"abc","title":"Clip","duration":75,"formats":[)"
    R"({"format_id":"18","ext":"mp4","height":360,"vcodec":"avc1.42001E","acodec":"mp4a.40.2","tbr":500},)"
    R"({"format_id":"140","ext":"m4a","vcodec":"none","acodec":"mp4a.40.2","tbr":129},)"
    R"({"format_id":"251","ext":"webm","vcodec":"none","acodec":"opus","tbr":140},)"
    R"({"format_id":"137","ext":"mp4","height":1080,"vcodec":"avc1.640028","acodec":"none","tbr":4000}]})";

// A yt-dlp whose behaviour the test switches with marker files in its folder.
const char fakeYTDLP[] = R"(dir='%1'
if [ "$1" = --version ]; then [ -e "$dir/slow-version" ] && sleep 0.5; echo 2023.03.04; exit 0; fi
for a in "$@"; do printf '%s\n' "$a"; done > "$dir/last-args"
case " $* " in *" --dump-single-json "*)
    [ -e "$dir/analysis-fails" ] && { echo 'ERROR: Unsupported URL' >&2; exit 1; }
    cat "$dir/document.json"; exit 0 ;;
esac
job=''; prev=''
for a in "$@"; do [ "$prev" = --paths ] && job="$a"; prev="$a"; done
echo '__TORVEL_PROGRESS__ 40.0%|400|1000|NA|NA|NA|NA|NA|18|avc1|mp4a'
if [ -e "$dir/download-waits" ]; then while [ ! -e "$dir/release" ]; do sleep 0.02; done; fi
[ -e "$dir/download-fails" ] && { echo 'ERROR: boom'; exit 1; }
echo data > "$job/Clip [abc].mp4"
echo "__TORVEL_FILE__$job/Clip [abc].mp4"
)";

} // namespace

class TestAppModel : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    FakeDesktopServices m_desktop;
    std::unique_ptr<AppModel> m_model;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void touch(const QString &name) { TestSupport::writeFile(path(QStringLiteral("bin/") + name), {}); }
    QStringList lastArguments() const {
        QFile file(path(QStringLiteral("bin/last-args")));
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                   : QStringList();
    }

    void makeModel(bool withYTDLP = true, bool waitForTools = true) {
        m_model.reset();
        if (withYTDLP)
            TestSupport::writeScript(path(QStringLiteral("bin/yt-dlp")),
                                     QString::fromLatin1(fakeYTDLP).arg(path(QStringLiteral("bin"))));
        const LocatorEnvironment environment = TestSupport::sandboxedTools(m_dir->path());
        m_model = std::make_unique<AppModel>(*m_settings, m_desktop, TestSupport::unreachableToolHosts(),
                                             DependencyLocator(environment), JobFolders(path(QStringLiteral("jobs"))));
        if (waitForTools)
            QTRY_VERIFY(!m_model->isCheckingTools());
    }
    void analyzeTo(AppModel::Phase expected, const QString &url = QStringLiteral("https://example.invalid/v")) {
        m_model->setUrlInput(url);
        m_model->analyze();
        QTRY_COMPARE(m_model->phase(), expected);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), path(QStringLiteral("Descargas")),
                                                   path(QStringLiteral("home")));
        m_desktop = FakeDesktopServices();
        TestSupport::writeFile(path(QStringLiteral("bin/document.json")), document);
    }
    void cleanup() { m_model.reset(); }

    // The window tests walk the refusals and the phases; these are the model's own rules.
    void failedAnalysisStillDownloadsTheDefault() {
        makeModel();
        QCOMPARE(m_settings->ytDLPPath(), path(QStringLiteral("bin/yt-dlp"))); // the search stores its find
        touch(QStringLiteral("analysis-fails"));
        analyzeTo(AppModel::Phase::failed);
        QCOMPARE(m_model->errorMessage(), QStringLiteral("ERROR: Unsupported URL"));
        QCOMPARE(m_model->mediaInfo(), std::nullopt);

        // A failed analysis still allows downloading the default choice.
        m_model->startDownload();
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QVERIFY(lastArguments().contains(QStringLiteral("bv*+ba/b")));
    }

    void analysisFillsTheSelection() {
        makeModel();
        analyzeTo(AppModel::Phase::ready, QStringLiteral("  [enlace](https://example.invalid/watch?v=1\\&t=2)  "));
        QCOMPARE(m_model->urlInput(), QStringLiteral("https://example.invalid/watch?v=1&t=2"));
        QCOMPARE(m_model->mediaInfo()->title, QStringLiteral("Clip"));
        QCOMPARE(m_model->selectedAudioFormatID(), QStringLiteral("251")); // highest total bitrate first

        // An analysis requested while one runs changes nothing, not even the error text.
        touch(QStringLiteral("download-waits"));
        m_model->startDownload();
        QTRY_COMPARE(m_model->progress().fraction > 0, true);
        QSignalSpy anyChange(m_model.get(), &AppModel::errorMessageChanged);
        m_model->analyze();
        m_model->reset();
        QCOMPARE(m_model->phase(), AppModel::Phase::downloading);
        QVERIFY(m_model->mediaInfo());
        QCOMPARE(anyChange.count(), 0);
        m_model->startDownload(); // refused while downloading
        touch(QStringLiteral("release"));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QCOMPARE(m_model->completedFile(), path(QStringLiteral("Descargas/Clip [abc].mp4")));
        QCOMPARE(m_desktop.revealedFiles, QStringList{*m_model->completedFile()});
        QCOMPARE(m_model->progress().phaseText, QStringLiteral("Completado"));
    }

    void pairingIsDownloadedAsOneSelector() {
        makeModel();
        analyzeTo(AppModel::Phase::ready);
        const QList<MediaFormat> exact = m_model->exactFormats();
        QCOMPARE(exact.first().formatID, QStringLiteral("137"));
        m_model->selectChoice(DownloadChoice::exact(exact.first()));
        m_model->setSelectedAudioFormatID(QStringLiteral("140"));
        QCOMPARE(m_model->selectedChoice().id, QStringLiteral("combined-137-140"));
        m_settings->setRevealWhenFinished(false);
        m_model->startDownload();
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QVERIFY(lastArguments().contains(QStringLiteral("137+140")));
        QVERIFY(m_desktop.revealedFiles.isEmpty());
        m_model->revealCompletedFile();
        QCOMPARE(m_desktop.revealedFiles.size(), 1);

        // The same choice can be downloaded again; the second copy gets its own name.
        m_model->startDownload();
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QCOMPARE(m_model->completedFile(), path(QStringLiteral("Descargas/Clip [abc] 2.mp4")));
    }

    void addressCleanUp_data() {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("valid");
        QTest::newRow("markdown link") << QStringLiteral("[Mira](https://example.invalid/a?x=1\\&y=2)")
                                       << QStringLiteral("https://example.invalid/a?x=1&y=2");
        QTest::newRow("angle brackets") << QStringLiteral(" <https://example.invalid/mi\\_video> ")
                                        << QStringLiteral("https://example.invalid/mi_video");
        QTest::newRow("capital scheme") << QStringLiteral("HTTPS://Example.invalid/v")
                                        << QStringLiteral("https://example.invalid/v");
        QTest::newRow("ftp") << QStringLiteral("ftp://example.invalid/a") << QString();
        QTest::newRow("https without host") << QStringLiteral("https:///a") << QString();
        QTest::newRow("bare domain") << QStringLiteral("example.invalid/v") << QString();
        QTest::newRow("only brackets") << QStringLiteral("<>") << QString();
        QTest::newRow("spaces inside") << QStringLiteral("https://exa mple.invalid/") << QString();
    }

    void addressCleanUp() {
        QFETCH(QString, pasted);
        QFETCH(QString, valid);
        const std::optional<QUrl> url = AppModel::validatedWebURL(pasted);
        QCOMPARE(url ? url->toString() : QString(), valid);
    }

    void incomingLinks() {
        makeModel();
        const QString rejected = QStringLiteral("El enlace recibido no es válido o no utiliza una URL web segura.");
        m_model->handleIncomingURL(QUrl(
            QStringLiteral("TDL://ANALYZE?url=https%3A%2F%2Fexample.invalid%2Fv%3Fa%3D1&url=https://other.invalid/")));
        QCOMPARE(m_model->urlInput(), QStringLiteral("https://example.invalid/v?a=1"));
        QCOMPARE(m_desktop.activations, 1);
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        QTest::qWait(100);
        QCOMPARE(m_model->phase(), AppModel::Phase::ready); // never a download

        // A refusal ends in the failed phase, except while a download runs: that keeps its phase,
        // and with it its controls, and only the error text tells of the refusal.
        m_model->handleIncomingURL(QUrl(QStringLiteral("tdl://analyze")));
        QCOMPARE(m_model->phase(), AppModel::Phase::failed);
        QCOMPARE(m_model->errorMessage(), rejected);
        touch(QStringLiteral("download-waits"));
        m_model->startDownload();
        QTRY_VERIFY(m_model->progress().fraction > 0);
        for (const char *link :
             {"tdl://analyze?url=", "tdl://analyze?url=ftp://example.invalid/a",
              "tdl://other?url=https://example.invalid/", "https://analyze?url=https://example.invalid/"}) {
            m_model->handleIncomingURL(QUrl(QString::fromLatin1(link)));
            QCOMPARE(m_model->phase(), AppModel::Phase::downloading);
            QCOMPARE(m_model->errorMessage(), rejected);
        }
        m_model->handleIncomingURL(
            QUrl(QStringLiteral("tdl://analyze?url=https://example.invalid/") + QString(40'000, QLatin1Char('a'))));
        QCOMPARE(m_model->phase(), AppModel::Phase::downloading);
        touch(QStringLiteral("release"));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);

        // Through the process-wide notification.
        m_model->reset();
        IncomingLinks::instance().post(QUrl(QStringLiteral("tdl://analyze?url=https://example.invalid/otro")));
        QTRY_COMPARE(m_model->urlInput(), QStringLiteral("https://example.invalid/otro"));
    }

    // The first start's own link and one forwarded by a second start both arrive while the first
    // tool search runs; the analysis waits for it instead of reporting yt-dlp missing.
    void linksDuringTheToolSearchWaitForIt() {
        touch(QStringLiteral("slow-version"));
        makeModel(true, false);
        QVERIFY(m_model->isCheckingTools());
        IncomingLinks::instance().post(QUrl(QStringLiteral("tdl://analyze?url=https://example.invalid/v")));
        QTRY_VERIFY(m_model->urlInput() == QStringLiteral("https://example.invalid/v"));
        QCOMPARE(m_model->phase(), AppModel::Phase::idle);
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        QCOMPARE(m_model->errorMessage(), QString());
    }

    void choosersWriteTheSettings() {
        makeModel();
        m_desktop.folderAnswer = path(QStringLiteral("Otra carpeta"));
        m_model->chooseDownloadDirectory();
        QCOMPARE(m_desktop.folderRequests.last().title, QStringLiteral("Elegir carpeta de descargas"));
        QCOMPARE(m_desktop.folderRequests.last().startFolder, path(QStringLiteral("Descargas")));
        QCOMPARE(m_settings->downloadDirectory(), path(QStringLiteral("Otra carpeta")));

        const QString chosen =
            TestSupport::writeScript(path(QStringLiteral("elsewhere/yt-dlp")), QStringLiteral("echo 2025.10.22"));
        m_desktop.executableAnswer = chosen;
        m_model->chooseExecutable(ToolKind::ytDLP);
        QCOMPARE(m_desktop.executableRequests.last().title, QStringLiteral("Seleccionar yt-dlp"));
        QTRY_COMPARE(m_model->ytDLP() ? m_model->ytDLP()->path : QString(), chosen);
        QCOMPARE(m_model->ytDLP()->version, QStringLiteral("2025.10.22"));

        m_desktop.executableAnswer.reset();
        m_model->chooseExecutable(ToolKind::ffmpeg);
        QCOMPARE(m_settings->ffmpegPath(), QString());
    }
};

QTEST_GUILESS_MAIN(TestAppModel)
#include "tst_appmodel.moc"
