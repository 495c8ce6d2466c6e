// From the click on "Descargar" after an analysis to the first request for the media, in the
// shown window with Debian's yt-dlp, on a local page that answers after one second. The download
// starts from the analysis's document, so no page request comes in between: the time is
// yt-dlp's start and its first media request, not another extraction of the page.
#include "common/blockingwait.h"
#include "fakedesktopservices.h"
#include "mediafixtures.h"
#include "model/appmodel.h"
#include "process/processrunner.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
#include "ui/main/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

constexpr int rounds = 5;
constexpr unsigned long pageDelaySeconds = 1;

} // namespace

class BenchDownloadStart : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // The server answers on a thread of its own, so that the page's delay never holds the window.
    QThread m_serverThread;
    QObject *m_serverContext = nullptr;
    ScriptedHttpServer *m_server = nullptr;
    QElapsedTimer m_clock;
    std::atomic<int> m_pageRequests = 0;
    std::atomic<qint64> m_firstMediaRequest = -1; // nanoseconds on m_clock; -1 until one arrives
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    FakeDesktopServices m_desktop;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MainWindow> m_window;

private Q_SLOTS:
    void initTestCase() {
        if (!MediaFixtures::toolsAvailable())
            QSKIP("Debian's yt-dlp and ffmpeg are not installed");
        const QString folder = m_dir.path();
        const ProcessResult made = BlockingWait::wait(ProcessRunner::run(
            QStringLiteral("/usr/bin/ffmpeg"),
            {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
             QStringLiteral("-i"), QStringLiteral("testsrc=duration=2:size=320x240:rate=25"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=duration=2"),
             QStringLiteral("-shortest"), QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-c:a"),
             QStringLiteral("aac"), folder + QStringLiteral("/clip.mp4")}));
        QCOMPARE(made.status, 0);
        const QByteArray clip = TestSupport::readFile(folder + QStringLiteral("/clip.mp4"));

        m_clock.start();
        m_serverContext = new QObject;
        m_serverContext->moveToThread(&m_serverThread);
        connect(&m_serverThread, &QThread::finished, m_serverContext, &QObject::deleteLater);
        m_serverThread.start();
        QMetaObject::invokeMethod(
            m_serverContext,
            [this, clip] {
                m_server = new ScriptedHttpServer(m_serverContext);
                m_server->route(QStringLiteral("/page"), [this](const ScriptedHttpServer::Request &) {
                    ++m_pageRequests;
                    QThread::sleep(pageDelaySeconds);
                    return ScriptedHttpServer::Response::ok("<html><head><title>Clip</title></head><body>"
                                                            "<video src=\"/clip.mp4\"></video></body></html>",
                                                            "text/html");
                });
                m_server->route(QStringLiteral("/clip.mp4"), [this, clip](const ScriptedHttpServer::Request &request) {
                    qint64 none = -1;
                    if (request.method == "GET")
                        m_firstMediaRequest.compare_exchange_strong(none, m_clock.nsecsElapsed());
                    return ScriptedHttpServer::Response::ok(clip, "video/mp4");
                });
            },
            Qt::BlockingQueuedConnection);

        m_store = std::make_unique<QSettings>(folder + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), folder, folder);
        m_settings->setYtDLPPath(QStringLiteral("/usr/bin/yt-dlp"));
        m_settings->setFfmpegPath(QStringLiteral("/usr/bin/ffmpeg"));
        m_settings->setDownloadDirectory(folder + QStringLiteral("/Descargas"));
        m_model = std::make_unique<AppModel>(*m_settings, m_desktop, TestSupport::unreachableToolHosts(),
                                             DependencyLocator(TestSupport::sandboxedTools(folder)),
                                             JobFolders(folder + QStringLiteral("/jobs")),
                                             folder + QStringLiteral("/Queue.sqlite"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->isCheckingTools() && m_model->ytDLP(), 20000);
        m_window = std::make_unique<MainWindow>(*m_model, m_desktop);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase() {
        m_window.reset();
        m_model.reset();
        m_serverThread.quit();
        m_serverThread.wait();
    }

    void fromDescargarToTheFirstMediaRequest() {
        auto *download = m_window->findChild<QPushButton *>(QStringLiteral("downloadButton"));
        QVERIFY(download);
        QList<double> milliseconds;
        for (int round = 1; round <= rounds; ++round) {
            m_model->reset();
            m_model->setUrlInput(m_server->url(QStringLiteral("/page")).toString());
            BlockingWait::wait(m_model->analyze());
            QCOMPARE(m_model->phase(), AppModel::Phase::ready);
            QApplication::processEvents();

            const int pagesBefore = m_pageRequests;
            m_firstMediaRequest = -1;
            const qint64 clicked = m_clock.nsecsElapsed();
            download->click();
            QTRY_VERIFY_WITH_TIMEOUT(m_firstMediaRequest >= 0, 20000);
            const double elapsed = double(m_firstMediaRequest - clicked) / 1e6;
            const int pagesBetween = m_pageRequests - pagesBefore;
            QTRY_COMPARE_WITH_TIMEOUT(m_model->phase(), AppModel::Phase::completed, 20000);
            qInfo("round %d: %.1f ms from the click to the first media request, %d page requests between", round,
                  elapsed, pagesBetween);
            QCOMPARE(pagesBetween, 0);
            milliseconds.append(elapsed);
        }
        std::sort(milliseconds.begin(), milliseconds.end());
        qInfo("median: %.1f ms (the page answers after %lu s)", milliseconds.at(rounds / 2), pageDelaySeconds);
    }
};

QTEST_MAIN(BenchDownloadStart)
#include "bench_downloadstart.moc"
