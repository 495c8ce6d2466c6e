// How long the list state takes to build for a list of 5,000 videos: decoding yt-dlp's flat
// document alone, and the whole way in the shown window, from "Analizar" (a fake yt-dlp that
// prints the document) to the entries drawn in their view.
#include "common/blockingwait.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "testsupport.h"
#include "ui/main/mainwindow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int entryCount = 5000;

// As yt-dlp 2025 prints a channel's videos with --flat-playlist: references with a few
// thumbnails each.
QByteArray flatPlaylist() {
    QJsonArray entries;
    for (int index = 0; index < entryCount; ++index) {
        const QString id = QStringLiteral("v%1xYz0123").arg(index, 4, 10, QLatin1Char('0'));
        QJsonArray thumbnails;
        for (const int height : {94, 110, 138, 188})
            thumbnails.append(QJsonObject{
                {QStringLiteral("url"), QStringLiteral("https://i.ytimg.com/vi/%1/hq%2.jpg").arg(id).arg(height)},
                {QStringLiteral("height"), height},
                {QStringLiteral("width"), height * 16 / 9}});
        entries.append(
            QJsonObject{{QStringLiteral("_type"), QStringLiteral("url")},
                        {QStringLiteral("ie_key"), QStringLiteral("Youtube")},
                        {QStringLiteral("id"), id},
                        {QStringLiteral("url"), QString(QStringLiteral("https://www.youtube.com/watch?v=") + id)},
                        {QStringLiteral("title"),
                         QStringLiteral("Episodio %1: una conversación larga sobre música y cine").arg(index)},
                        {QStringLiteral("duration"), 300 + index % 3000},
                        {QStringLiteral("channel"), QStringLiteral("Canal de ejemplo")},
                        {QStringLiteral("view_count"), 1000 + index},
                        {QStringLiteral("thumbnails"), thumbnails}});
    }
    const QJsonObject document{
        {QStringLiteral("_type"), QStringLiteral("playlist")},
        {QStringLiteral("id"), QStringLiteral("UUexample")},
        {QStringLiteral("title"), QStringLiteral("Canal de ejemplo - Videos")},
        {QStringLiteral("uploader"), QStringLiteral("Canal de ejemplo")},
        {QStringLiteral("webpage_url"), QStringLiteral("https://www.youtube.com/@example/videos")},
        {QStringLiteral("entries"), entries}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

} // namespace

class BenchPlaylist : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_json;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    FakeDesktopServices m_desktop;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MainWindow> m_window;

private Q_SLOTS:
    void initTestCase() {
        m_json = flatPlaylist();
        const QString folder = m_dir.path();
        TestSupport::writeFile(folder + QStringLiteral("/list.json"), m_json);
        TestSupport::writeScript(folder + QStringLiteral("/bin/yt-dlp"),
                                 QStringLiteral("[ \"$1\" = --version ] && { echo 2023.03.04; exit 0; }\ncat '%1'")
                                     .arg(folder + QStringLiteral("/list.json")));
        m_store = std::make_unique<QSettings>(folder + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), folder, folder);
        m_model = std::make_unique<AppModel>(*m_settings, m_desktop, TestSupport::unreachableToolHosts(),
                                             DependencyLocator(TestSupport::sandboxedTools(folder)),
                                             JobFolders(folder + QStringLiteral("/jobs")),
                                             folder + QStringLiteral("/Queue.sqlite"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->isCheckingTools() && m_model->ytDLP(), 10000);
        m_window = std::make_unique<MainWindow>(*m_model, m_desktop);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        qInfo("document: %lld bytes, %d entries", static_cast<long long>(m_json.size()), entryCount);
    }

    void decode() {
        QBENCHMARK {
            const MediaAnalysis analysis = MediaAnalyses::decode(m_json);
            QCOMPARE(std::get<PlaylistInfo>(analysis).entries.size(), entryCount);
        }
    }

    void listStateInTheWindow() {
        auto *view = m_window->findChild<QListView *>(QStringLiteral("playlistEntriesView"));
        QBENCHMARK {
            m_model->reset();
            m_model->setUrlInput(QStringLiteral("https://www.youtube.com/@example/videos"));
            BlockingWait::wait(m_model->analyze());
            QApplication::processEvents();
            view->repaint();
            QCOMPARE(view->model()->rowCount(), entryCount);
        }
    }
};

QTEST_MAIN(BenchPlaylist)
#include "bench_playlist.moc"
