#include "fakedesktopservices.h"
#include "localhttpserver.h"
#include "testsupport.h"

#include "model/appmodel.h"
#include "model/appsettings.h"
#include "platform/linuxdesktopservices.h"
#include "platform/singleinstance.h"
#include "ui/components/qttranslations.h"
#include "ui/components/segmentedcontrol.h"
#include "ui/components/selectabletext.h"
#include "ui/components/tilebutton.h"
#include "ui/components/toolstatuspill.h"
#include "ui/components/torveltheme.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/advancedformatsview.h"
#include "ui/main/audiopairingview.h"
#include "ui/main/contentview.h"
#include "ui/main/exactformatcard.h"
#include "ui/main/formattexts.h"
#include "ui/main/mainwindow.h"
#include "ui/main/thumbnailview.h"
#include "ui/main/urltextfield.h"
#include "ui/options/optionswindow.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGlyphRun>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

#include <memory>

// Runs a helper that checks things and leaves the test at once when one of its checks failed.
#define CHECKED(call)                                                                                                  \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

namespace {

const QString pageAddress = QStringLiteral("https://video.example/watch?v=abc");
const QString mediaTitle = QStringLiteral("Ñandú y café: prueba?");
// yt-dlp's stand-ins for the characters a file name cannot hold everywhere.
const QString resultName = QStringLiteral("Ñandú y café： prueba？ [abc].mp4");

using Phase = AppModel::Phase;

// A port on 127.0.0.1 that nothing listens on: a connection is refused at once.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// Four usable formats with real numbers, a storyboard that is no format at all, and one that
// reports nothing but its video codec.
QByteArray standardDocument(const QString &thumbnail) {
    return QStringLiteral(R"({"id": "abc", "title": "%1", "uploader": "Canal Torvel", "duration": 60,
        "thumbnail": "%2", "webpage_url": "%3", "formats": [
        {"format_id": "140", "ext": "m4a", "vcodec": "none", "acodec": "mp4a.40.2", "abr": 128, "tbr": 130,
         "audio_channels": 2, "filesize": 3200000},
        {"format_id": "251", "ext": "webm", "vcodec": "none", "acodec": "opus", "abr": 160, "tbr": 128,
         "audio_channels": 6},
        {"format_id": "137", "ext": "mp4", "vcodec": "avc1.640028", "acodec": "none", "width": 1920, "height": 1080,
         "fps": 29.97, "vbr": 1500, "tbr": 1500, "filesize_approx": 11250000, "format_note": "1080p"},
        {"format_id": "18", "ext": "mp4", "vcodec": "avc1.42001E", "acodec": "mp4a.40.2", "width": 640,
         "height": 360, "fps": 30, "tbr": 600, "vbr": 500, "abr": 96, "audio_channels": 2, "filesize": 4500000},
        {"format_id": "sb0", "ext": "mhtml", "vcodec": "none", "acodec": "none"},
        {"format_id": "bare", "vcodec": "vp9"}]})")
        .arg(mediaTitle, thumbnail, pageAddress)
        .toUtf8();
}

// 150 formats of three kinds, every tenth without any number, and a 300-character title that
// begins with a run of characters longer than any line.
QByteArray largeDocument(const QString &thumbnail) {
    QStringList formats;
    for (int i = 0; i < 150; ++i)
        formats.append(i % 10 == 9 ? QStringLiteral(R"({"format_id": "f%1", "vcodec": "av01.0.08M.08"})").arg(i)
                       : i % 3 == 0
                           ? QStringLiteral(R"({"format_id": "f%1", "vcodec": "none", "acodec": "opus", "ext": "webm",
                                                "abr": %2, "tbr": %2, "audio_channels": 2})")
                                 .arg(i)
                                 .arg(40 + i)
                           : QStringLiteral(R"({"format_id": "f%1", "vcodec": "vp09.00.40.08", "acodec": "%2",
                                                "ext": "webm", "width": %3, "height": 720, "fps": 60, "tbr": %4,
                                                "format_note": "DASH video %1 HDR10 alta tasa de bits"})")
                                 .arg(i)
                                 .arg(i % 3 == 1 ? QStringLiteral("none") : QStringLiteral("mp4a.40.2"))
                                 .arg(256 * (1 + i % 8))
                                 .arg(300.0 + i * 37.5));
    QString title = QStringLiteral("Grabación_") + QString(110, QLatin1Char('x')) + QLatin1Char(' ');
    while (title.size() < 300)
        title += QStringLiteral("Un título larguísimo de concierto completo grabado en directo ");
    return QStringLiteral(R"({"id": "long", "title": "%1", "uploader": "Canal con un nombre también bastante largo",
        "duration": 5400, "thumbnail": "%2", "formats": [%3]})")
        .arg(title.left(300), thumbnail, formats.join(QLatin1Char(',')))
        .toUtf8();
}

QString progressLine(double percent, qint64 done, qint64 total, int index, int count, const QString &formatID) {
    return QStringLiteral("__TORVEL_PROGRESS__ %1%|%2|%3|NA|1500000|42|%4|%5|%6|vp9|none\n")
        .arg(QString::number(percent, 'f', 1))
        .arg(done)
        .arg(total)
        .arg(index)
        .arg(count)
        .arg(formatID);
}

// Answers every request with more than a thumbnail may be: either a Content-Length beyond the
// limit, or a chunked body that goes on past it.
class OversizedServer {
public:
    explicit OversizedServer(bool announcesLength) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this, announcesLength] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                const qint64 size = ThumbnailView::maximumBytes + 2'000'000;
                const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n";
                if (announcesLength) {
                    socket->write(head + "Content-Length: " + QByteArray::number(size) + "\r\n\r\n" +
                                  QByteArray(1000, 'x'));
                    continue;
                }
                socket->write(head + "Transfer-Encoding: chunked\r\n\r\n");
                const QByteArray chunk(1'000'000, 'x');
                for (qint64 sent = 0; sent < size; sent += chunk.size())
                    socket->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/big.jpg").arg(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

MediaFormat mediaFormat(std::optional<QString> video, std::optional<QString> audio) {
    MediaFormat result;
    result.formatID = QStringLiteral("140");
    result.videoCodec = std::move(video);
    result.audioCodec = std::move(audio);
    return result;
}

// The characters of `text` that neither `font` nor any font it falls back on can draw.
QString undrawable(const QFont &font, const QString &text) {
    QString missing;
    for (const QChar character : text) {
        QTextLayout layout(QString(character), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun &run : layout.glyphRuns()) {
            if (run.glyphIndexes().contains(0))
                missing += character;
        }
    }
    return missing;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString screenshotPath(const QString &name) {
    const qreal ratio = qApp->devicePixelRatio();
    const QString suffix = ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString();
    return TestSupport::artefactFolder(QStringLiteral("ui")) + QLatin1Char('/') + name + suffix +
           QStringLiteral(".png");
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<FakeDesktopServices> m_desktop;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MainWindow> m_window;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void touch(const QString &name) { TestSupport::writeFile(path(name), QByteArray()); }
    void release(const QString &name) { QFile::remove(path(name)); }
    QString destination() const { return path(QStringLiteral("Descargas")); }
    ContentView *content() const { return qobject_cast<ContentView *>(m_window->centralWidget()); }
    int downloadRuns() const {
        QFile log(path(QStringLiteral("downloads.log")));
        return log.open(QIODevice::ReadOnly) ? int(log.readAll().count('\n')) : 0;
    }

    // A yt-dlp that answers its version, prints media.json for an analysis and, for a download,
    // logs its run, prints progress.txt, waits while hold-download exists and ends as the files
    // in the folder say. Files named hold-* make it wait, so a test can look at a phase.
    void writeFakeYTDLP() {
        TestSupport::writeScript(
            path(QStringLiteral("bin/yt-dlp")),
            QStringLiteral("d='%1'\n"
                           "if [ \"$1\" = --version ]; then echo 2023.03.04; exit 0; fi\n"
                           "for a in \"$@\"; do\n"
                           "  if [ \"$a\" = --dump-single-json ]; then\n"
                           "    while [ -e \"$d/hold-analysis\" ]; do sleep 0.05; done\n"
                           "    if [ -e \"$d/analysis-error\" ]; then cat \"$d/analysis-error\" >&2; exit 1; fi\n"
                           "    cat \"$d/media.json\"; exit 0\n"
                           "  fi\n"
                           "done\n"
                           "echo run >> \"$d/downloads.log\"\n"
                           "job=''; prev=''\n"
                           "for a in \"$@\"; do\n"
                           "  [ \"$prev\" = --paths ] && job=\"$a\"\n"
                           "  [ \"$prev\" = --format ] && printf '%s' \"$a\" > \"$d/format.txt\"\n"
                           "  prev=\"$a\"\n"
                           "done\n"
                           "[ -e \"$d/progress.txt\" ] && cat \"$d/progress.txt\"\n"
                           "if [ -e \"$d/report-file\" ]; then\n"
                           "  echo data > \"$job/%2\"; echo \"__TORVEL_FILE__$job/%2\"\n"
                           "fi\n"
                           "while [ -e \"$d/hold-download\" ]; do sleep 0.05; done\n"
                           "if [ -e \"$d/download-error\" ]; then cat \"$d/download-error\"; exit 1; fi\n"
                           "echo data > \"$job/%2\"\n")
                .arg(m_dir->path(), resultName));
    }

    void writeDocument(const QByteArray &document) {
        TestSupport::writeFile(path(QStringLiteral("media.json")), document);
    }

    void writeFakeFFmpeg() {
        TestSupport::writeScript(path(QStringLiteral("bin/ffmpeg")),
                                 QStringLiteral("echo 'ffmpeg version 5.1.2 Copyright (c) the FFmpeg developers'"));
    }

    // The window at its minimum size, where anything that does not fit shows first.
    void start(QSize size = MainWindow::minimumContentSize) {
        const LocatorEnvironment environment = TestSupport::sandboxedTools(m_dir->path());
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), destination(), path(QStringLiteral("home")));
        m_desktop = std::make_unique<FakeDesktopServices>();
        m_model = std::make_unique<AppModel>(*m_settings, *m_desktop, TestSupport::unreachableToolHosts(),
                                             DependencyLocator(environment), JobFolders(path(QStringLiteral("jobs"))));
        m_window = std::make_unique<MainWindow>(*m_model, *m_desktop);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        if (size != MainWindow::defaultContentSize)
            m_window->resize(m_window->size() - m_window->centralWidget()->size() + size);
        QTRY_COMPARE(m_window->centralWidget()->size(), size);
    }

    void startWithTools(QSize size = MainWindow::minimumContentSize) {
        CHECKED(start(size));
        QTRY_VERIFY(!m_model->isCheckingTools());
        QVERIFY(m_model->ytDLP());
    }

    template <typename T = QWidget> T *find(const QString &name) const { return m_window->findChild<T *>(name); }

    QAction *action(const char *name) const {
        auto *found = find<QAction>(QString::fromLatin1(name));
        if (!found)
            qFatal("no action %s", name);
        return found;
    }

    bool shown(const QString &name) const {
        QWidget *widget = find(name);
        return widget && widget->isVisibleTo(m_window.get());
    }

    // Which of the views that come and go are shown, in the column's order.
    QStringList shownViews() const {
        QStringList names;
        for (const char *name : {"idleView", "workingCard", "downloadingCard", "completedCard", "errorCard",
                                 "mediaCard", "choiceCard", "destinationCard", "newDownloadButton"}) {
            if (shown(QString::fromLatin1(name)))
                names.append(QString::fromLatin1(name));
        }
        return names;
    }

    // Analizar, Cancelar and Mostrar archivo en su carpeta: enabled or not.
    QList<bool> menuStates() const {
        return {action("analyzeAction")->isEnabled(), action("cancelAction")->isEnabled(),
                action("revealAction")->isEnabled()};
    }

    QString textOf(const QString &name, QWidget *within = nullptr) const {
        QWidget *widget = (within ? within : m_window.get())->findChild<QWidget *>(name);
        return widget ? widget->property("text").toString() : QStringLiteral("(no widget %1)").arg(name);
    }

    // The texts of several widgets, to compare in one go.
    QStringList texts(const QStringList &names, QWidget *within = nullptr) const {
        QStringList result;
        for (const QString &name : names)
            result.append(textOf(name, within));
        return result;
    }

    bool isSelected(const QString &name) const {
        auto *tile = find<TileButton>(name);
        return tile && tile->isSelected();
    }

    void click(const QString &name) {
        auto *button = find<QAbstractButton>(name);
        QVERIFY2(button && button->isVisibleTo(m_window.get()) && button->isEnabled(), qPrintable(name));
        content()->scrollArea()->ensureWidgetVisible(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void screenshot(const QString &name, const QString &scrollTarget = {}) {
        QApplication::processEvents();
        if (!scrollTarget.isEmpty())
            content()->scrollArea()->ensureWidgetVisible(find(scrollTarget), 0, 24);
        QApplication::processEvents();
        QVERIFY(m_window->grab().save(screenshotPath(name)));
    }

    void analyze(const QString &address = pageAddress) {
        m_model->setUrlInput(address);
        CHECKED(click(QStringLiteral("analyzeButton")));
        QTRY_COMPARE(m_model->phase(), Phase::ready);
    }

    AdvancedFormatsView *openAdvancedFormats() {
        auto *advanced = find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"));
        if (!advanced->isExpanded())
            QTest::mouseClick(find<QAbstractButton>(QStringLiteral("advancedFormatsToggle")), Qt::LeftButton);
        return advanced;
    }

    QAction *pairingAction(const QString &objectName) const {
        for (QAction *action : find<AudioPairingView>(QStringLiteral("audioPairingView"))->menu()->actions()) {
            if (action->objectName() == objectName)
                return action;
        }
        return nullptr;
    }

    // Nothing cut off and nothing on top of anything else: every visible widget of the column
    // lies within it, gets at least the size its content needs, and overlaps none of its siblings.
    void verifyNothingClipped() {
        QApplication::processEvents();
        QWidget *column = content()->column();
        QVERIFY2(column->width() <= content()->scrollArea()->viewport()->width(),
                 "the column is wider than the window");
        const QRect bounds = column->rect();
        for (QWidget *widget : column->findChildren<QWidget *>()) {
            // The insides of the text fields are theirs to arrange.
            if (!widget->isVisibleTo(column) || widget->isWindow() ||
                qobject_cast<QAbstractScrollArea *>(widget->parentWidget()))
                continue;
            const QString name = widget->objectName() + QStringLiteral(" (") +
                                 QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(')');
            const QRect area(widget->mapTo(column, QPoint(0, 0)), widget->size());
            QVERIFY2(area.left() >= bounds.left() && area.right() <= bounds.right(), qPrintable(name));
            if (widget->hasHeightForWidth() && !qobject_cast<QAbstractButton *>(widget))
                QVERIFY2(widget->height() >= widget->heightForWidth(widget->width()), qPrintable(name));
            const QSize minimum = widget->minimumSizeHint();
            if (minimum.isValid() && !widget->hasHeightForWidth())
                QVERIFY2(widget->width() >= minimum.width() && widget->height() >= minimum.height(), qPrintable(name));
            auto *label = qobject_cast<QLabel *>(widget);
            if ((label && !label->wordWrap()) || qobject_cast<QPushButton *>(widget))
                QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(name));

            QList<QWidget *> siblings;
            for (QObject *child : widget->children()) {
                auto *sibling = qobject_cast<QWidget *>(child);
                if (sibling && sibling->isVisibleTo(column) && !sibling->isWindow() &&
                    !qobject_cast<QAbstractScrollArea *>(widget))
                    siblings.append(sibling);
            }
            for (qsizetype i = 0; i < siblings.size(); ++i)
                for (qsizetype j = i + 1; j < siblings.size(); ++j)
                    QVERIFY2(!siblings.at(i)->geometry().intersects(siblings.at(j)->geometry()),
                             qPrintable(siblings.at(i)->objectName() + QStringLiteral(" overlaps ") +
                                        siblings.at(j)->objectName()));
        }
    }

private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY2(QtTranslations::installSpanish(), "Qt's Spanish translation (qt6-translations-l10n) is missing");
    }

    void init() {
        // A missing icon font, or an icon name the table lacks, fails the test that draws it.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^Icons: ")));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        writeFakeYTDLP();
        writeDocument(standardDocument(QStringLiteral("http://127.0.0.1:%1/thumb.jpg").arg(closedPort())));
    }

    void cleanup() {
        for (const QString &hold : {QStringLiteral("hold-analysis"), QStringLiteral("hold-download")})
            release(hold);
        if (m_model && m_model->phase() == Phase::downloading)
            m_model->cancelDownload();
        if (m_model)
            QTRY_VERIFY(m_model->phase() != Phase::downloading && m_model->phase() != Phase::analyzing);
        m_window.reset();
        m_model.reset();
        m_desktop.reset();
        m_settings.reset();
        m_store.reset();
        m_dir.reset();
    }

    void formatTexts_data() {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        MediaFormat video = mediaFormat(QStringLiteral("avc1.640028"), QStringLiteral("none"));
        QTest::newRow("no bitrate") << FormatTexts::bitrateText(video) << QStringLiteral("Bitrate no informado");
        QTest::newRow("no size") << FormatTexts::sizeText(video, 60.0) << QStringLiteral("Tamaño no informado");
        video.audioBitrate = 96; // a video format's own rate wins over an audio rate
        video.videoBitrate = 1500;
        QTest::newRow("Mb/s") << FormatTexts::bitrateText(video) << QStringLiteral("1.5 Mb/s");
        video.videoBitrate = 0;
        QTest::newRow("zero rate") << FormatTexts::bitrateText(video) << QStringLiteral("Bitrate no informado");
        video.videoBitrate.reset();
        video.totalBitrate = 849.5;
        QTest::newRow("total rate") << FormatTexts::bitrateText(video) << QStringLiteral("850 kb/s");

        MediaFormat audio = mediaFormat(QStringLiteral("none"), QStringLiteral("opus"));
        audio.audioBitrate = 64;
        QTest::newRow("estimate from stream rate") << FormatTexts::sizeText(audio, 10.0) << QStringLiteral("~80,0 kB");
        audio.totalBitrate = 128;
        QTest::newRow("estimate") << FormatTexts::sizeText(audio, 60.0) << QStringLiteral("~960,0 kB");
        QTest::newRow("no duration") << FormatTexts::sizeText(audio, std::nullopt)
                                     << QStringLiteral("Tamaño no informado");
        audio.approximateFileSize = 2500000;
        QTest::newRow("approximate") << FormatTexts::sizeText(audio, 60.0) << QStringLiteral("~2,5 MB");
        audio.fileSize = 3200000;
        QTest::newRow("exact") << FormatTexts::sizeText(audio, 60.0) << QStringLiteral("3,2 MB");

        MediaFormat track = mediaFormat(QStringLiteral("none"), QStringLiteral("mp4a.40.2"));
        QTest::newRow("bare track") << FormatTexts::audioDescription(track) << QStringLiteral("ID 140");
        track.audioBitrate = 127.5;
        track.audioChannels = 2;
        QTest::newRow("stereo") << FormatTexts::audioText(track) << QStringLiteral("AAC · 128 kb/s · estéreo");
        track.audioBitrate = 0;
        track.audioChannels = 1;
        QTest::newRow("mono") << FormatTexts::audioText(track) << QStringLiteral("AAC · mono");
        track.ext = QStringLiteral("m4a");
        track.totalBitrate = 129.5;
        track.approximateFileSize = 3200000;
        QTest::newRow("track") << FormatTexts::audioDescription(track)
                               << QStringLiteral("ID 140 · M4A · 130 kb/s · 3,2 MB");
        QTest::newRow("99 %") << FormatTexts::percentageText(0.999) << QStringLiteral("99 %");
        QTest::newRow("fps") << FormatTexts::framesPerSecondText(23.5) << QStringLiteral("24 fps");
    }

    void formatTexts() {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    // The menus, the toolbar and the content share the window; the sizes are the content's.
    void windowChromeAndSizes() {
        CHECKED(start(MainWindow::defaultContentSize));
        m_window->resize(m_window->minimumSize());
        QTRY_COMPARE(m_window->centralWidget()->size(), MainWindow::minimumContentSize);

        QStringList menus;
        for (QAction *menu : m_window->menuBar()->actions()) {
            QStringList items;
            for (QAction *item : menu->menu()->actions())
                items.append(item->isSeparator() ? QStringLiteral("-")
                                                 : QString(item->text() + QLatin1Char(' ') +
                                                           item->shortcut().toString(QKeySequence::PortableText))
                                                       .trimmed());
            menus.append(menu->text() + QStringLiteral(": ") + items.join(QStringLiteral(" | ")));
        }
        QCOMPARE(menus, QStringList({QStringLiteral("Torvel Downloader: Acerca de Torvel Downloader | - | Buscar "
                                                    "actualizaciones… | - | Opciones… Ctrl+, | - | Salir Ctrl+Q"),
                                     QStringLiteral("Archivo: Nueva descarga Ctrl+N"),
                                     QStringLiteral("Descarga: Pegar enlace Ctrl+Shift+V | Analizar Ctrl+Return | - | "
                                                    "Cancelar Ctrl+. | Mostrar archivo en su carpeta")}));

        // "Pegar enlace" and "Pegar" clean what they paste and analyze nothing.
        m_model->setUrlInput(QStringLiteral("antes"));
        action("pasteLinkAction")->trigger();
        QCOMPARE(m_model->urlInput(), QStringLiteral("antes"));
        m_desktop->clipboard = QStringLiteral("  [vídeo](<https://example.invalid/watch?v=1\\&t=2>)\n");
        action("pasteLinkAction")->trigger();
        QCOMPARE(m_model->urlInput(), QStringLiteral("https://example.invalid/watch?v=1&t=2"));
        m_desktop->clipboard = QStringLiteral("[mira](https://video.example/v\\_1)");
        CHECKED(click(QStringLiteral("pasteButton")));
        QCOMPARE(find<URLTextField>(QStringLiteral("urlField"))->toPlainText(),
                 QStringLiteral("https://video.example/v_1"));
        QCOMPARE(m_model->phase(), Phase::idle);

        // Qt's own texts are Spanish: the text fields' menu and the folder chooser.
        const std::unique_ptr<QMenu> fieldMenu(
            find<URLTextField>(QStringLiteral("urlField"))->createStandardContextMenu());
        QCOMPARE(fieldMenu->actions().constFirst()->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0),
                 QStringLiteral("Deshacer"));
        QString cancelText;
        QTimer::singleShot(0, this, [&cancelText] {
            QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            dialog->resize(760, 460);
            QTest::qWait(200);
            dialog->grab().save(screenshotPath(QStringLiteral("folder-chooser")));
            cancelText = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text();
            dialog->reject();
        });
        LinuxDesktopServices desktop;
        QCOMPARE(desktop.chooseFolder(QStringLiteral("Elegir carpeta de descargas"), QStringLiteral("Seleccionar"),
                                      m_dir->path()),
                 std::nullopt);
        QCOMPARE(cancelText.remove(QLatin1Char('&')), QStringLiteral("Cancelar"));
    }

    void idleThenAnalysis() {
        CHECKED(startWithTools());
        QCOMPARE(shownViews(), QStringList{QStringLiteral("idleView")});
        QCOMPARE(menuStates(), QList<bool>({true, false, false}));
        auto *analyzeButton = find<QPushButton>(QStringLiteral("analyzeButton"));
        auto *field = find<URLTextField>(QStringLiteral("urlField"));
        QVERIFY(!analyzeButton->isEnabled());
        QTest::keyClicks(field, QStringLiteral("   "));
        QCOMPARE(m_model->urlInput(), QStringLiteral("   "));
        QVERIFY(!analyzeButton->isEnabled());
        // "Analizar" from the menu with only blanks asks for a valid address.
        action("analyzeAction")->trigger();
        QCOMPARE(m_model->errorMessage(),
                 QStringLiteral("Introduce una URL válida que comience con http:// o https://."));
        QCOMPARE(shownViews(), QStringList({QStringLiteral("errorCard"), QStringLiteral("newDownloadButton")}));

        // A long address grows the field to three lines, never more.
        m_model->setUrlInput(QStringLiteral("https://video.example/") + QString(600, QLatin1Char('a')));
        QTRY_COMPARE(field->visibleLineCount(), URLTextField::maximumLines);
        m_model->setUrlInput(QString());
        QTRY_COMPARE(field->visibleLineCount(), 1);
        action("newDownloadAction")->trigger();
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-idle")));

        touch(QStringLiteral("hold-analysis"));
        QTest::keyClicks(field, QStringLiteral("  ") + pageAddress);
        // Return in the field analyzes, like the button, and adds no line.
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(m_model->phase(), Phase::analyzing);
        QCOMPARE(analyzeButton->text(), QStringLiteral("Analizando"));
        QVERIFY(!analyzeButton->isEnabled() && !field->isEnabled() &&
                !find(QStringLiteral("pasteButton"))->isEnabled());
        QCOMPARE(field->toPlainText(), pageAddress);
        QCOMPARE(shownViews(), QStringList({QStringLiteral("workingCard"), QStringLiteral("newDownloadButton")}));
        QCOMPARE(menuStates(), QList<bool>({false, false, false}));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-analyzing")));

        release(QStringLiteral("hold-analysis"));
        QTRY_COMPARE(m_model->phase(), Phase::ready);
        QCOMPARE(analyzeButton->text(), QStringLiteral("Analizar"));
        QVERIFY(analyzeButton->isEnabled());
        QCOMPARE(menuStates(), QList<bool>({true, false, false}));
        QCOMPARE(shownViews(), QStringList({QStringLiteral("mediaCard"), QStringLiteral("choiceCard"),
                                            QStringLiteral("destinationCard"), QStringLiteral("newDownloadButton")}));
        QCOMPARE(texts({QStringLiteral("mediaTitleLabel"), QStringLiteral("mediaUploaderLabel"),
                        QStringLiteral("mediaDurationLabel"), QStringLiteral("mediaFormatCountLabel")}),
                 QStringList({mediaTitle, QStringLiteral("Canal Torvel"), QStringLiteral("1:00"),
                              QStringLiteral("6 formatos")}));
        QVERIFY(isSelected(QStringLiteral("choiceTile-recommended")));
        QVERIFY(!isSelected(QStringLiteral("choiceTile-compatible-mp4")));
        QCOMPARE(textOf(QStringLiteral("advancedFormatsToggle")), QStringLiteral("Formatos avanzados (5)"));
        QCOMPARE(textOf(QStringLiteral("destinationPathLabel")), destination());
        // The thumbnail's address refuses connections: the placeholder icon stands in.
        QTRY_COMPARE(find<ThumbnailView>(QStringLiteral("thumbnailView"))->state(), ThumbnailView::State::placeholder);

        // Grey texts follow a palette changed while the window is open.
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        dark.setColor(QPalette::WindowText, QColor(236, 236, 236));
        dark.setColor(QPalette::Window, QColor(30, 30, 34));
        QApplication::setPalette(dark);
        for (const char *name : {"idlePromiseLabel", "headerSubtitleLabel", "mediaUploaderLabel", "destinationCaption",
                                 "choiceSubtitleLabel"})
            QTRY_COMPARE(find(QString::fromLatin1(name))->palette().color(QPalette::WindowText),
                         TorvelTheme::secondaryText(dark));
        QApplication::setPalette(light);
        QTRY_COMPARE(find(QStringLiteral("mediaUploaderLabel"))->palette().color(QPalette::WindowText),
                     TorvelTheme::secondaryText(light));
    }

    // The common case fits the default size: the button that matters needs no scrolling.
    void downloadButtonVisibleAtTheDefaultSize() {
        CHECKED(startWithTools(MainWindow::defaultContentSize));
        CHECKED(analyze());
        QApplication::processEvents();
        QWidget *viewport = content()->scrollArea()->viewport();
        QCOMPARE(content()->scrollArea()->verticalScrollBar()->value(), 0);
        // The card holds the button; all of it lies inside the viewport.
        QWidget *card = find(QStringLiteral("destinationCard"));
        const QRect inViewport(card->mapTo(viewport, QPoint(0, 0)), card->size());
        QVERIFY2(
            viewport->rect().contains(inViewport),
            qPrintable(
                QStringLiteral("card ends at %1, viewport at %2").arg(inViewport.bottom()).arg(viewport->height())));
        CHECKED(screenshot(QStringLiteral("mainwindow-ready-default-size")));
    }

    void missingYTDLPWaitsForTheToolCheck() {
        // A candidate that takes a moment to answer and then fails: the check runs, finds nothing.
        TestSupport::writeScript(path(QStringLiteral("bin/yt-dlp")), QStringLiteral("sleep 0.4; exit 1"));
        CHECKED(start());
        QVERIFY(m_model->isCheckingTools());
        QVERIFY(!shown(QStringLiteral("missingToolWarning")));
        QTRY_VERIFY(!m_model->isCheckingTools());
        QVERIFY(shown(QStringLiteral("missingToolWarning")));
        for (const char *pill : {"ytDLPPill", "ffmpegPill"})
            QCOMPARE(find<ToolStatusPill>(QString::fromLatin1(pill))->state(), ToolIndicatorState::missing);

        // "Abrir opciones" shows the options where they were left.
        m_model->setSelectedOptionsTab(AppModel::OptionsTab::about);
        CHECKED(click(QStringLiteral("openOptionsButton")));
        QVERIFY(m_window->optionsWindow() && m_window->optionsWindow()->isVisible());
        QCOMPARE(m_window->optionsWindow()->tabs()->currentIndex(), 2);

        m_model->setUrlInput(pageAddress);
        CHECKED(click(QStringLiteral("analyzeButton")));
        QCOMPARE(textOf(QStringLiteral("errorMessageLabel")),
                 QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo."));
        QCOMPARE(shownViews(), QStringList({QStringLiteral("errorCard"), QStringLiteral("newDownloadButton")}));
        CHECKED(verifyNothingClipped());

        // A yt-dlp appears; the next search finds it and the warning goes.
        writeFakeYTDLP();
        m_model->refreshDependencies();
        QTRY_COMPARE(find<ToolStatusPill>(QStringLiteral("ytDLPPill"))->state(), ToolIndicatorState::current);
        QVERIFY(!shown(QStringLiteral("missingToolWarning")));
    }

    void choicesFormatsAndAudioPairing() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        CHECKED(click(QStringLiteral("choiceTile-compatible-mp4")));
        QCOMPARE(m_model->selectedChoiceID(), QStringLiteral("compatible-mp4"));
        QVERIFY(isSelected(QStringLiteral("choiceTile-compatible-mp4")) &&
                !isSelected(QStringLiteral("choiceTile-recommended")));
        QVERIFY(!shown(QStringLiteral("audioExportFormatView")));

        CHECKED(click(QStringLiteral("choiceTile-audio-only")));
        QCOMPARE(textOf(QStringLiteral("audioFormatDescription")),
                 QStringLiteral("Buena calidad y compatibilidad con dispositivos Apple"));
        QCOMPARE(textOf(QStringLiteral("audioFormatFFmpegWarning")),
                 QStringLiteral("FFmpeg es necesario para extraer y convertir el audio."));
        auto *picker = find<SegmentedControl>(QStringLiteral("audioFormatPicker"));
        QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(1).center());
        QCOMPARE(m_model->audioExportFormat(), AudioExportFormat::mp3);
        QCOMPARE(textOf(QStringLiteral("audioFormatDescription")),
                 QStringLiteral("Compatibilidad amplia con reproductores y equipos antiguos"));
        QCOMPARE(textOf(QStringLiteral("choiceSubtitleLabel"), find(QStringLiteral("choiceTile-audio-only"))),
                 QStringLiteral("Extrae el audio en MP3"));
        CHECKED(verifyNothingClipped());

        AdvancedFormatsView *advanced = openAdvancedFormats();
        QCOMPARE(advanced->cards().size(), 5);
        QVERIFY(!find(QStringLiteral("exactFormatCard-sb0")));
        QCOMPARE(texts({QStringLiteral("formatQualityLabel"), QStringLiteral("formatResolutionLabel"),
                        QStringLiteral("formatFpsLabel"), QStringLiteral("formatBitrateLabel"),
                        QStringLiteral("formatSizeLabel"), QStringLiteral("formatAudioLabel")},
                       find(QStringLiteral("exactFormatCard-137"))),
                 QStringList({QStringLiteral("1080p"), QStringLiteral("1920×1080"), QStringLiteral("30 fps"),
                              QStringLiteral("1.5 Mb/s"), QStringLiteral("~11,3 MB"), QStringLiteral("Sin audio")}));
        QCOMPARE(textOf(QStringLiteral("formatAudioLabel"), find(QStringLiteral("exactFormatCard-251"))),
                 QStringLiteral("Opus · 160 kb/s · 6 canales"));

        const QList<ExactFormatCard *> cards = advanced->cards();
        CHECKED(click(QStringLiteral("exactFormatCard-137")));
        QCOMPARE(m_model->selectedChoiceID(), QStringLiteral("format-137"));
        QVERIFY(isSelected(QStringLiteral("exactFormatCard-137")) &&
                !isSelected(QStringLiteral("choiceTile-audio-only")));
        QCOMPARE(advanced->cards(), cards); // selecting moves the marks, it makes no new cards
        QCOMPARE(textOf(QStringLiteral("audioPairingVideo")), QStringLiteral("Video 137"));
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")),
                 QStringLiteral("ID 140 · M4A · 130 kb/s · 3,2 MB"));
        QCOMPARE(textOf(QStringLiteral("audioPairingFooter")),
                 QStringLiteral("FFmpeg es necesario para unir el video y el audio."));
        // The current track carries the check mark.
        QStringList menu;
        for (QAction *item : find<AudioPairingView>(QStringLiteral("audioPairingView"))->menu()->actions())
            menu.append(item->isSeparator() ? QStringLiteral("-") : item->text());
        QCOMPARE(menu, QStringList({QStringLiteral("Sin audio"), QStringLiteral("-"),
                                    QStringLiteral("ID 140 · M4A · 130 kb/s · 3,2 MB"),
                                    QStringLiteral("ID 251 · WEBM · 128 kb/s")}));
        QVERIFY(!pairingAction(QStringLiteral("audioPairing-140"))->icon().isNull());
        QVERIFY(pairingAction(QStringLiteral("audioPairing-251"))->icon().isNull());
        pairingAction(QStringLiteral("audioPairing-251"))->trigger();
        QCOMPARE(m_model->selectedAudioFormatID(), std::optional<QString>(QStringLiteral("251")));
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")), QStringLiteral("ID 251 · WEBM · 128 kb/s"));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-ready-advanced"), QStringLiteral("audioPairingView")));

        pairingAction(QStringLiteral("audioPairingNone"))->trigger();
        QCOMPARE(m_model->selectedAudioFormatID(), std::nullopt);
        QCOMPARE(textOf(QStringLiteral("audioPairingFooter")),
                 QStringLiteral("Se descargará el formato de video tal como está, sin agregar audio."));

        // FFmpeg turns up: the warnings give way.
        writeFakeFFmpeg();
        m_model->refreshDependencies();
        QTRY_VERIFY(m_model->ffmpeg());
        pairingAction(QStringLiteral("audioPairing-140"))->trigger();
        QCOMPARE(textOf(QStringLiteral("audioPairingFooter")),
                 QStringLiteral("FFmpeg combinará ambas pistas en un único archivo."));
        // A format with audio of its own needs no pairing.
        CHECKED(click(QStringLiteral("exactFormatCard-18")));
        QVERIFY(!shown(QStringLiteral("audioPairingView")));
        CHECKED(click(QStringLiteral("choiceTile-audio-only")));
        QVERIFY(!shown(QStringLiteral("audioFormatFFmpegWarning")));
    }

    // Download, cancel from the menu, fail, try again from the same choices, succeed, start anew.
    void downloadWorkflow() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        openAdvancedFormats();
        CHECKED(click(QStringLiteral("exactFormatCard-137")));
        pairingAction(QStringLiteral("audioPairing-251"))->trigger();
        const QList<ExactFormatCard *> cards =
            find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"))->cards();

        TestSupport::writeFile(path(QStringLiteral("progress.txt")),
                               progressLine(80.0, 8000000, 10000000, 1, 2, QStringLiteral("137")).toUtf8());
        touch(QStringLiteral("hold-download"));
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_VERIFY(m_model->progress().fraction > 0.3);
        QCOMPARE(shownViews(), QStringList{QStringLiteral("downloadingCard")});
        QCOMPARE(menuStates(), QList<bool>({false, true, false}));
        QVERIFY(!find(QStringLiteral("urlField"))->isEnabled() && !find(QStringLiteral("pasteButton"))->isEnabled());
        // About 40 %: four fifths of the first of two transfers.
        const double fraction = m_model->progress().fraction;
        QVERIFY2(fraction > 0.38 && fraction < 0.42, qPrintable(QString::number(fraction)));
        QCOMPARE(textOf(QStringLiteral("progressPercentLabel")), FormatTexts::percentageText(fraction));
        QCOMPARE(find<QProgressBar>(QStringLiteral("progressBar"))->value(), int(fraction * 1000));
        QCOMPARE(texts({QStringLiteral("progressTitleLabel"), QStringLiteral("progressStatusLabel"),
                        QStringLiteral("progressSpeedLabel"), QStringLiteral("progressEtaLabel")}),
                 QStringList({mediaTitle, QStringLiteral("8,0 MB de 10,0 MB"), QStringLiteral("1,5 MB/s"),
                              QStringLiteral("Quedan 0:42")}));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-downloading")));
        // "Nueva descarga" leaves a running download alone.
        action("newDownloadAction")->trigger();
        QCOMPARE(m_model->phase(), Phase::downloading);

        // "Cancelar" stops yt-dlp and keeps the media and the selection.
        action("cancelAction")->trigger();
        QTRY_COMPARE(m_model->phase(), Phase::ready);
        release(QStringLiteral("hold-download"));
        QVERIFY(isSelected(QStringLiteral("exactFormatCard-137")));
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")), QStringLiteral("ID 251 · WEBM · 128 kb/s"));
        QCOMPARE(readFile(path(QStringLiteral("format.txt"))), QByteArray("137+251"));
        // The progress redraws left the format grid alone.
        QCOMPARE(find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"))->cards(), cards);
        QVERIFY(QDir(path(QStringLiteral("jobs"))).isEmpty());
        QCOMPARE(m_model->progress(), DownloadProgress::initial());

        CHECKED(click(QStringLiteral("choiceTile-audio-only")));
        m_desktop->folderAnswer = path(QStringLiteral("Elegida"));
        CHECKED(click(QStringLiteral("changeFolderButton")));
        QCOMPARE(textOf(QStringLiteral("destinationPathLabel")), path(QStringLiteral("Elegida")));
        TestSupport::writeFile(path(QStringLiteral("download-error")),
                               "ERROR: [youtube] abc: Este video no está disponible en tu país\n");
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_COMPARE(m_model->phase(), Phase::failed);
        QCOMPARE(shownViews(),
                 QStringList({QStringLiteral("errorCard"), QStringLiteral("mediaCard"), QStringLiteral("choiceCard"),
                              QStringLiteral("destinationCard"), QStringLiteral("newDownloadButton")}));
        auto *message = find<SelectableText>(QStringLiteral("errorMessageLabel"));
        message->selectAll();
        QCOMPARE(message->textCursor().selectedText(),
                 QStringLiteral("ERROR: [youtube] abc: Este video no está disponible en tu país"));
        QVERIFY(isSelected(QStringLiteral("choiceTile-audio-only")));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-failed")));

        // "Descargar" again, this time to the end; the final file is being written: 0.999.
        release(QStringLiteral("download-error"));
        m_settings->setRevealWhenFinished(false);
        touch(QStringLiteral("report-file"));
        touch(QStringLiteral("hold-download"));
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_COMPARE(m_model->progress().fraction, 0.999);
        QCOMPARE(textOf(QStringLiteral("progressPercentLabel")), QStringLiteral("99 %"));
        release(QStringLiteral("hold-download"));
        QTRY_COMPARE(m_model->phase(), Phase::completed);
        QCOMPARE(shownViews(), QStringList({QStringLiteral("completedCard"), QStringLiteral("mediaCard"),
                                            QStringLiteral("newDownloadButton")}));
        QCOMPARE(menuStates(), QList<bool>({true, false, true}));
        QCOMPARE(textOf(QStringLiteral("completedFileLabel")), resultName);
        QVERIFY(m_desktop->revealedFiles.isEmpty());
        // yt-dlp's look-alikes for ":", "?", "|", "*", '"', "<", ">", "/" and "\" all have glyphs.
        QString lookAlikes = QString(QChar(0x29F8)) + QChar(0x29F9);
        for (char16_t code = 0xFF01; code <= 0xFF5E; ++code)
            lookAlikes += QChar(code);
        QCOMPARE(undrawable(find(QStringLiteral("completedFileLabel"))->font(), lookAlikes), QString());
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-completed")));

        const QString placed = path(QStringLiteral("Elegida/")) + resultName;
        CHECKED(click(QStringLiteral("revealButton")));
        action("revealAction")->trigger();
        QCOMPARE(m_desktop->revealedFiles, QStringList({placed, placed}));
        CHECKED(click(QStringLiteral("newDownloadButton")));
        QCOMPARE(shownViews(), QStringList{QStringLiteral("idleView")});
        QCOMPARE(find<URLTextField>(QStringLiteral("urlField"))->toPlainText(), QString());
        QCOMPARE(menuStates(), QList<bool>({true, false, false}));
        // A new download keeps the way of downloading but forgets the paired track.
        QCOMPARE(m_model->selectedChoiceID(), QStringLiteral("audio-only"));
        QCOMPARE(m_model->selectedAudioFormatID(), std::nullopt);
        m_model->startDownload(); // nothing to download from idle
        QCOMPARE(m_model->phase(), Phase::idle);
    }

    // A refused link leaves a running download its card, its controls and the closing question.
    void refusedLinkAndClosingDuringADownload() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        touch(QStringLiteral("hold-download"));
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_COMPARE(downloadRuns(), 1);

        IncomingLinks::instance().post(QUrl(QStringLiteral("tdl://analyze?url=ftp://video.example/x")));
        QTRY_VERIFY(shown(QStringLiteral("errorCard")));
        QCOMPARE(m_model->phase(), Phase::downloading);
        QCOMPARE(textOf(QStringLiteral("errorMessageLabel")),
                 QStringLiteral("El enlace recibido no es válido o no utiliza una URL web segura."));
        QCOMPARE(shownViews(), QStringList({QStringLiteral("downloadingCard"), QStringLiteral("errorCard")}));
        QCOMPARE(menuStates(), QList<bool>({false, true, false}));
        m_model->startDownload(); // no second yt-dlp beside the first
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-downloading-refused-link")));

        // Closing asks first; "Seguir descargando" changes nothing.
        QVERIFY(!m_window->close());
        QPointer<QMessageBox> question = m_window->quitQuestion();
        QTRY_VERIFY(question && question->isVisible());
        QCOMPARE(question->text(), QStringLiteral("¿Salir de Torvel Downloader?"));
        auto *keep = question->findChild<QPushButton *>(QStringLiteral("keepDownloadingButton"));
        QCOMPARE(question->defaultButton(), keep);
        keep->click();
        QTRY_VERIFY(!m_window->quitQuestion());
        QVERIFY(m_window->isVisible());

        // The question goes away when the download ends by itself while it is shown.
        QVERIFY(!m_window->close());
        QTRY_VERIFY(m_window->quitQuestion());
        release(QStringLiteral("hold-download"));
        QTRY_COMPARE(m_model->phase(), Phase::completed);
        QTRY_VERIFY(!m_window->quitQuestion());
        QVERIFY(m_window->isVisible());
        QCOMPARE(downloadRuns(), 1);

        // "Salir" cancels, waits for yt-dlp to end, then closes.
        touch(QStringLiteral("hold-download"));
        m_model->startDownload();
        QTRY_COMPARE(downloadRuns(), 2);
        QVERIFY(!m_window->close());
        QTRY_VERIFY(m_window->quitQuestion());
        m_window->quitQuestion()->findChild<QPushButton *>(QStringLiteral("quitButton"))->click();
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(m_model->phase(), Phase::ready);
        QVERIFY(QDir(path(QStringLiteral("jobs"))).isEmpty());
        // Without a download nothing is asked.
        m_window->show();
        QVERIFY(m_window->close());
        QVERIFY(!m_window->quitQuestion());
    }

    void badInputStaysUsable() {
        writeDocument(largeDocument(QStringLiteral("http://127.0.0.1:%1/thumb.webp").arg(closedPort())));
        CHECKED(startWithTools());
        CHECKED(analyze());
        auto *title = find<WrappingLabel>(QStringLiteral("mediaTitleLabel"));
        QCOMPARE(title->text().size(), 300);
        QVERIFY(title->lineCount(title->width()) >= 2);
        QCOMPARE(textOf(QStringLiteral("mediaFormatCountLabel")), QStringLiteral("150 formatos"));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-long-title")));

        AdvancedFormatsView *advanced = openAdvancedFormats();
        QApplication::processEvents();
        QCOMPARE(advanced->cards().size(), 150);
        // Columns at least 250 wide, as many as fit.
        for (ExactFormatCard *card : advanced->cards())
            QVERIFY(card->width() >= AdvancedFormatsView::minimumColumnWidth);
        QCOMPARE(advanced->cards().at(0)->y(), advanced->cards().at(1)->y());
        QCOMPARE(textOf(QStringLiteral("formatResolutionLabel"), find(QStringLiteral("exactFormatCard-f9"))),
                 QStringLiteral("Resolución no informada"));
        CHECKED(click(QStringLiteral("exactFormatCard-f149")));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-many-formats"), QStringLiteral("audioPairingView")));
    }

    void thumbnailLoadsInTheBackground() {
        QTemporaryDir served;
        QImage picture(320, 180, QImage::Format_RGB32);
        picture.fill(QColor(200, 40, 40));
        QVERIFY(picture.save(served.filePath(QStringLiteral("thumb.png"))));
        const bool webp = QImageWriter::supportedImageFormats().contains("webp");
        if (webp)
            QVERIFY(picture.save(served.filePath(QStringLiteral("thumb.webp"))));
        TestSupport::writeFile(served.filePath(QStringLiteral("broken.jpg")), "not a picture");
        LocalHttpServer server(served.path());

        ThumbnailView view;
        view.show();
        QCOMPARE(view.size(), QSize(178, 100));
        // Another address while one loads: the first is dropped, the second shows.
        view.setUrlString(QStringLiteral("http://127.0.0.1:%1/slow.jpg").arg(closedPort()));
        QCOMPARE(view.state(), ThumbnailView::State::loading);
        view.setUrlString(server.url(QStringLiteral("thumb.png")).toString());
        QTRY_COMPARE(view.state(), ThumbnailView::State::loaded);
        QCOMPARE(view.image().pixelColor(10, 10), QColor(200, 40, 40));
        if (webp) {
            view.setUrlString(server.url(QStringLiteral("thumb.webp")).toString());
            QTRY_COMPARE(view.state(), ThumbnailView::State::loaded);
        }
        // Broken, missing and oversized answers (announced or not) end on the placeholder.
        OversizedServer announced(true);
        OversizedServer streamed(false);
        for (const QString &address :
             {server.url(QStringLiteral("broken.jpg")).toString(), server.url(QStringLiteral("missing.jpg")).toString(),
              announced.url(), streamed.url()}) {
            view.setUrlString(address);
            QCOMPARE(view.state(), ThumbnailView::State::loading);
            QTRY_COMPARE(view.state(), ThumbnailView::State::placeholder);
        }
        for (const std::optional<QString> &unusable :
             {std::optional<QString>(), std::optional<QString>(QStringLiteral("no es una dirección")),
              std::optional<QString>(QStringLiteral("file:///etc/hostname"))}) {
            view.setUrlString(unusable);
            QCOMPARE(view.state(), ThumbnailView::State::placeholder);
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
