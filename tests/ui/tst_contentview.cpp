#include "fakedesktopservices.h"
#include "localhttpserver.h"
#include "testsupport.h"

#include "model/appmodel.h"
#include "model/appsettings.h"
#include "ui/components/elidedlabel.h"
#include "ui/components/icons.h"
#include "ui/components/labeledicon.h"
#include "ui/components/segmentedcontrol.h"
#include "ui/components/selectabletext.h"
#include "ui/components/tilebutton.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/advancedformatsview.h"
#include "ui/main/audiopairingview.h"
#include "ui/main/contentview.h"
#include "ui/main/exactformatcard.h"
#include "ui/main/formattexts.h"
#include "ui/main/thumbnailview.h"
#include "ui/main/urltextfield.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QImageWriter>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

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
const QString mediaTitle = QStringLiteral("Concierto en el parque");
const QString resultName = QStringLiteral("Concierto [abc].mp4");

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

// 150 formats of every kind, a few of them without any number, and a 300-character title.
QByteArray largeDocument(const QString &thumbnail) {
    QStringList formats;
    for (int i = 0; i < 150; ++i) {
        const QString id = QStringLiteral("\"format_id\": \"f%1\"").arg(i);
        if (i % 10 == 9) {
            formats.append(QStringLiteral("{%1, \"vcodec\": \"av01.0.08M.08\"}").arg(id));
        } else if (i % 3 == 0) {
            formats.append(QStringLiteral("{%1, \"vcodec\": \"none\", \"acodec\": \"opus\", \"ext\": \"webm\", "
                                          "\"abr\": %2, \"tbr\": %2, \"audio_channels\": 2}")
                               .arg(id)
                               .arg(40 + i));
        } else {
            formats.append(QStringLiteral("{%1, \"vcodec\": \"vp09.00.40.08\", \"acodec\": \"%2\", \"ext\": \"webm\", "
                                          "\"width\": %3, \"height\": %4, \"fps\": %5, \"tbr\": %6, "
                                          "\"format_note\": \"DASH video %7 HDR10 alta tasa de bits\", "
                                          "\"filesize\": %8}")
                               .arg(id, i % 3 == 1 ? QStringLiteral("none") : QStringLiteral("mp4a.40.2"))
                               .arg(256 * (1 + i % 8))
                               .arg(144 * (1 + i % 8))
                               .arg(i % 2 ? 60 : 25)
                               .arg(300.0 + i * 37.5)
                               .arg(i)
                               .arg(qint64(1000) * 1000 * (i + 1)));
        }
    }
    // One run of characters without a space longer than any line, then words.
    QString title = QStringLiteral("Grabación_") + QString(110, QLatin1Char('x')) + QLatin1Char(' ');
    while (title.size() < 300)
        title += QStringLiteral("Un título larguísimo de concierto completo grabado en directo ");
    return QStringLiteral(R"({"id": "long", "title": "%1", "uploader": "Canal con un nombre también bastante largo",
        "duration": 5400, "thumbnail": "%2", "formats": [%3]})")
        .arg(title.left(300), thumbnail, formats.join(QStringLiteral(",\n")))
        .toUtf8();
}

QString progressLine(double percent, qint64 done, qint64 total, int index, int count, const QString &formatID,
                     const QString &videoCodec, const QString &audioCodec) {
    return QStringLiteral("__TORVEL_PROGRESS__ %1%|%2|%3|NA|1500000|42|%4|%5|%6|%7|%8\n")
        .arg(QString::number(percent, 'f', 1))
        .arg(done)
        .arg(total)
        .arg(index)
        .arg(count)
        .arg(formatID, videoCodec, audioCodec);
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
                QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n";
                if (announcesLength) {
                    socket->write(head + "Content-Length: " + QByteArray::number(size) + "\r\n\r\n");
                    socket->write(QByteArray(1000, 'x'));
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
    result.formatID = QStringLiteral("x");
    result.videoCodec = std::move(video);
    result.audioCodec = std::move(audio);
    return result;
}

} // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<FakeDesktopServices> m_desktop;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<ContentView> m_view;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void touch(const QString &name) { TestSupport::writeFile(path(name), QByteArray()); }
    void release(const QString &name) { QFile::remove(path(name)); }
    QString destination() const { return path(QStringLiteral("Descargas")); }

    // A yt-dlp that answers its version, prints the document in media.json for an analysis and,
    // for a download, prints progress.txt, then waits while hold-download exists and ends as the
    // files in the folder say. Files named hold-* make it wait, so a test can look at a phase.
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

    void start() {
        const LocatorEnvironment environment = TestSupport::sandboxedTools(m_dir->path());
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), destination(), path(QStringLiteral("home")));
        m_desktop = std::make_unique<FakeDesktopServices>();
        m_model = std::make_unique<AppModel>(*m_settings, *m_desktop, TestSupport::unreachableToolHosts(),
                                             DependencyLocator(environment), JobFolders(path(QStringLiteral("jobs"))));
        m_view = std::make_unique<ContentView>(*m_model, *m_desktop);
        m_view->resize(900, 680);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void startWithTools() {
        CHECKED(start());
        QTRY_VERIFY(!m_model->isCheckingTools());
        QVERIFY(m_model->ytDLP());
    }

    template <typename T = QWidget> T *find(const QString &name) const { return m_view->findChild<T *>(name); }

    bool shown(const QString &name) const {
        QWidget *widget = find(name);
        return widget && widget->isVisibleTo(m_view.get());
    }

    QString textOf(const QString &name, QWidget *within = nullptr) const {
        QWidget *root = within ? within : m_view.get();
        QWidget *widget = root->findChild<QWidget *>(name);
        if (auto *label = qobject_cast<QLabel *>(widget))
            return label->text();
        if (auto *wrapping = qobject_cast<WrappingLabel *>(widget))
            return wrapping->text();
        if (auto *labeled = qobject_cast<LabeledIcon *>(widget))
            return labeled->text();
        if (auto *elided = qobject_cast<ElidedLabel *>(widget))
            return elided->text();
        if (auto *selectable = qobject_cast<SelectableText *>(widget))
            return selectable->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            return button->text();
        return QStringLiteral("(no text widget %1)").arg(name);
    }

    bool isSelected(const QString &name) const {
        auto *tile = find<TileButton>(name);
        return tile && tile->isSelected();
    }

    void click(const QString &name) {
        auto *button = find<QAbstractButton>(name);
        QVERIFY2(button, qPrintable(name));
        QVERIFY2(button->isVisibleTo(m_view.get()), qPrintable(name));
        QVERIFY2(button->isEnabled(), qPrintable(name));
        m_view->scrollArea()->ensureWidgetVisible(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Scrolls the page until the widget, laid out in its final place, is in view.
    void scrollTo(const QString &name, int margin = 24) {
        QWidget *widget = find(name);
        QVERIFY2(widget, qPrintable(name));
        QApplication::processEvents();
        m_view->scrollArea()->ensureWidgetVisible(widget, 0, margin);
        QApplication::processEvents();
    }

    void screenshot(const QString &name) {
        const qreal ratio = qApp->devicePixelRatio();
        const QString suffix = ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString();
        QApplication::processEvents();
        QVERIFY(m_view->grab().save(TestSupport::artefactFolder(QStringLiteral("ui")) + QLatin1Char('/') + name +
                                    suffix + QStringLiteral(".png")));
    }

    void analyze(const QString &address = pageAddress) {
        m_model->setUrlInput(address);
        CHECKED(click(QStringLiteral("analyzeButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
    }

    AdvancedFormatsView *openAdvancedFormats() {
        auto *advanced = find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"));
        if (!advanced->isExpanded())
            QTest::mouseClick(find<QAbstractButton>(QStringLiteral("advancedFormatsToggle")), Qt::LeftButton);
        return advanced;
    }

    QAction *pairingAction(const QString &objectName) const {
        auto *view = find<AudioPairingView>(QStringLiteral("audioPairingView"));
        for (QAction *action : view->menu()->actions()) {
            if (action->objectName() == objectName)
                return action;
        }
        return nullptr;
    }

    // Nothing cut off and nothing on top of anything else: every visible widget of the column
    // lies within it, gets at least the size its content needs, and overlaps none of its
    // siblings.
    void verifyNothingClipped() {
        QApplication::processEvents();
        QWidget *column = m_view->column();
        QScrollArea *scroll = m_view->scrollArea();
        QVERIFY2(column->width() <= scroll->viewport()->width(), "the column is wider than the window");
        QVERIFY(m_view->minimumSizeHint().width() <= 900);
        const QRect bounds = column->rect();
        const QList<QWidget *> widgets = column->findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (!widget->isVisibleTo(column) || widget->isWindow())
                continue;
            // The insides of the text fields are theirs to arrange.
            if (widget->parentWidget() && qobject_cast<QAbstractScrollArea *>(widget->parentWidget()))
                continue;
            const QString name = widget->objectName() + QStringLiteral(" (") +
                                 QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char(')');
            const QRect area(widget->mapTo(column, QPoint(0, 0)), widget->size());
            QVERIFY2(area.left() >= bounds.left() && area.right() <= bounds.right(), qPrintable(name));
            if (widget->hasHeightForWidth() && !qobject_cast<QAbstractButton *>(widget))
                QVERIFY2(widget->height() >= widget->heightForWidth(widget->width()),
                         qPrintable(name +
                                    QStringLiteral(" %1x%2 needs %3, parent %4x%5 hfw %6")
                                        .arg(widget->width())
                                        .arg(widget->height())
                                        .arg(widget->heightForWidth(widget->width()))
                                        .arg(widget->parentWidget()->width())
                                        .arg(widget->parentWidget()->height())
                                        .arg(widget->parentWidget()->heightForWidth(widget->parentWidget()->width()))));
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
            for (qsizetype i = 0; i < siblings.size(); ++i) {
                for (qsizetype j = i + 1; j < siblings.size(); ++j) {
                    QVERIFY2(!siblings.at(i)->geometry().intersects(siblings.at(j)->geometry()),
                             qPrintable(siblings.at(i)->objectName() + QStringLiteral(" overlaps ") +
                                        siblings.at(j)->objectName()));
                }
            }
        }
    }

private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
        QVERIFY2(!QFontDatabase::families().isEmpty(), "no font installed: text would draw as boxes");
        QVERIFY2(!Icons::fontFamily().isEmpty(), "the Material Icons font is not installed");
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        writeFakeYTDLP();
        writeDocument(standardDocument(QStringLiteral("http://127.0.0.1:%1/thumb.jpg").arg(closedPort())));
    }

    void cleanup() {
        for (const QString &hold : {QStringLiteral("hold-analysis"), QStringLiteral("hold-download")})
            release(hold);
        if (m_model && m_model->phase() == AppModel::Phase::downloading)
            m_model->cancelDownload();
        if (m_model)
            QTRY_VERIFY(m_model->phase() != AppModel::Phase::downloading &&
                        m_model->phase() != AppModel::Phase::analyzing);
        m_view.reset();
        m_model.reset();
        m_desktop.reset();
        m_settings.reset();
        m_store.reset();
        m_dir.reset();
    }

    void cardTextsWithRealNumbers() {
        MediaFormat video = mediaFormat(QStringLiteral("avc1.640028"), QStringLiteral("none"));
        QCOMPARE(FormatTexts::bitrateText(video), QStringLiteral("Bitrate no informado"));
        QCOMPARE(FormatTexts::sizeText(video, 60.0), QStringLiteral("Tamaño no informado"));
        video.videoBitrate = 1500;
        video.audioBitrate = 96; // a video format's own rate wins over an audio rate
        QCOMPARE(FormatTexts::bitrateText(video), QStringLiteral("1.5 Mb/s"));
        video.videoBitrate = 0;
        QCOMPARE(FormatTexts::bitrateText(video), QStringLiteral("Bitrate no informado"));
        video.videoBitrate.reset();
        video.totalBitrate = 849.5;
        QCOMPARE(FormatTexts::bitrateText(video), QStringLiteral("850 kb/s"));

        MediaFormat audio = mediaFormat(QStringLiteral("none"), QStringLiteral("opus"));
        audio.totalBitrate = 128;
        QCOMPARE(FormatTexts::sizeText(audio, 60.0), QStringLiteral("~") + formattedByteCount(128 * 60 * 125));
        QCOMPARE(FormatTexts::sizeText(audio, 60.0), QStringLiteral("~960,0 kB"));
        QCOMPARE(FormatTexts::sizeText(audio, std::nullopt), QStringLiteral("Tamaño no informado"));
        audio.approximateFileSize = 2500000;
        QCOMPARE(FormatTexts::sizeText(audio, 60.0), QStringLiteral("~2,5 MB"));
        audio.fileSize = 3200000;
        QCOMPARE(FormatTexts::sizeText(audio, 60.0), QStringLiteral("3,2 MB"));
        // Without a total rate the estimate uses the stream's own rate.
        MediaFormat streamOnly = mediaFormat(QStringLiteral("none"), QStringLiteral("opus"));
        streamOnly.audioBitrate = 64;
        QCOMPARE(FormatTexts::sizeText(streamOnly, 10.0), QStringLiteral("~") + formattedByteCount(64 * 10 * 125));

        QCOMPARE(FormatTexts::audioText(video), QStringLiteral("Sin audio"));
        QCOMPARE(FormatTexts::audioText(mediaFormat(QStringLiteral("vp9"), std::nullopt)), QStringLiteral("Sin audio"));
        MediaFormat stereo = mediaFormat(QStringLiteral("none"), QStringLiteral("mp4a.40.2"));
        stereo.audioBitrate = 127.5;
        stereo.audioChannels = 2;
        QCOMPARE(FormatTexts::audioText(stereo), QStringLiteral("AAC · 128 kb/s · estéreo"));
        stereo.audioChannels = 6;
        stereo.audioBitrate = 0;
        QCOMPARE(FormatTexts::audioText(stereo), QStringLiteral("AAC · 6 canales"));
        stereo.audioChannels = 1;
        QCOMPARE(FormatTexts::audioText(stereo), QStringLiteral("AAC · mono"));

        MediaFormat track = mediaFormat(QStringLiteral("none"), QStringLiteral("mp4a.40.2"));
        track.formatID = QStringLiteral("140");
        QCOMPARE(FormatTexts::audioDescription(track), QStringLiteral("ID 140"));
        track.ext = QStringLiteral("m4a");
        track.totalBitrate = 129.5;
        track.approximateFileSize = 3200000;
        QCOMPARE(FormatTexts::audioDescription(track), QStringLiteral("ID 140 · M4A · 130 kb/s · 3,2 MB"));

        QCOMPARE(FormatTexts::percentageText(0.999), QStringLiteral("99 %"));
        QCOMPARE(FormatTexts::percentageText(0.42), QStringLiteral("42 %"));
        QCOMPARE(FormatTexts::percentageText(1.0), QStringLiteral("100 %"));
        QCOMPARE(FormatTexts::percentageText(0.0), QStringLiteral("0 %"));
        QCOMPARE(FormatTexts::framesPerSecondText(29.97), QStringLiteral("30 fps"));
        QCOMPARE(FormatTexts::framesPerSecondText(23.5), QStringLiteral("24 fps"));
    }

    void idleWindow() {
        CHECKED(startWithTools());
        QVERIFY(shown(QStringLiteral("idleView")));
        QVERIFY(!shown(QStringLiteral("workingCard")));
        QVERIFY(!shown(QStringLiteral("mediaCard")));
        QVERIFY(!shown(QStringLiteral("newDownloadButton")));
        QVERIFY(!shown(QStringLiteral("missingToolWarning")));
        QCOMPARE(textOf(QStringLiteral("idlePromiseLabel")),
                 QStringLiteral("El procesamiento ocurre en tu equipo. El enlace y el contenido no pasan por "
                                "servidores de Torvel Downloader."));

        auto *analyzeButton = find<QPushButton>(QStringLiteral("analyzeButton"));
        QCOMPARE(analyzeButton->text(), QStringLiteral("Analizar"));
        QVERIFY(!analyzeButton->isEnabled());
        auto *field = find<URLTextField>(QStringLiteral("urlField"));
        QTest::keyClicks(field, QStringLiteral("   "));
        QCOMPARE(m_model->urlInput(), QStringLiteral("   "));
        QVERIFY(!analyzeButton->isEnabled());
        QTest::keyClicks(field, QStringLiteral("https://video.example/x"));
        QVERIFY(analyzeButton->isEnabled());
        QCOMPARE(field->visibleLineCount(), 1);

        // A long address grows the field to three lines, never more.
        m_model->setUrlInput(QStringLiteral("https://video.example/") + QString(600, QLatin1Char('a')));
        QTRY_COMPARE(field->visibleLineCount(), URLTextField::maximumLines);
        m_model->setUrlInput(QString());
        QTRY_COMPARE(field->visibleLineCount(), 1);
        QCOMPARE(field->toPlainText(), QString());
        QVERIFY(!analyzeButton->isEnabled());
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-idle")));
    }

    void missingYTDLPWarningWaitsForTheToolCheck() {
        // A candidate that takes a moment to answer and then fails: the check runs, finds nothing.
        TestSupport::writeScript(path(QStringLiteral("bin/yt-dlp")), QStringLiteral("sleep 0.4; exit 1"));
        CHECKED(start());
        QVERIFY(m_model->isCheckingTools());
        QVERIFY(!shown(QStringLiteral("missingToolWarning")));
        QTRY_VERIFY(!m_model->isCheckingTools());
        QVERIFY(!m_model->ytDLP());
        QVERIFY(shown(QStringLiteral("missingToolWarning")));
        QCOMPARE(textOf(QStringLiteral("missingToolText")),
                 QStringLiteral("Selecciona o instala yt-dlp para poder analizar enlaces."));

        QSignalSpy openOptions(m_view.get(), &ContentView::openOptionsRequested);
        CHECKED(click(QStringLiteral("openOptionsButton")));
        QCOMPARE(openOptions.count(), 1);

        m_model->setUrlInput(pageAddress);
        CHECKED(click(QStringLiteral("analyzeButton")));
        QTRY_VERIFY(shown(QStringLiteral("errorCard")));
        QCOMPARE(textOf(QStringLiteral("errorMessageLabel")),
                 QStringLiteral("No encontramos yt-dlp. Abre Opciones para seleccionar el ejecutable o instalarlo."));
        QVERIFY(!shown(QStringLiteral("mediaCard")));
        CHECKED(verifyNothingClipped());
    }

    void pasteTakesTheCleanedClipboardText() {
        CHECKED(startWithTools());
        auto *field = find<URLTextField>(QStringLiteral("urlField"));
        m_model->setUrlInput(QStringLiteral("https://video.example/keep"));
        m_desktop->clipboard = QString();
        CHECKED(click(QStringLiteral("pasteButton")));
        QCOMPARE(m_desktop->clipboardReads, 1);
        QCOMPARE(field->toPlainText(), QStringLiteral("https://video.example/keep"));

        m_desktop->clipboard = QStringLiteral("  [mira esto](https://video.example/watch?v=1\\&t=2)\n");
        CHECKED(click(QStringLiteral("pasteButton")));
        QCOMPARE(field->toPlainText(), QStringLiteral("https://video.example/watch?v=1&t=2"));
        QCOMPARE(m_model->urlInput(), field->toPlainText());
    }

    void analysisShowsTheWorkingCardThenTheMedia() {
        CHECKED(startWithTools());
        touch(QStringLiteral("hold-analysis"));
        QTest::keyClicks(find(QStringLiteral("urlField")), QStringLiteral("  ") + pageAddress);
        // Return in the field analyzes, like the button, and adds no line.
        QTest::keyClick(find(QStringLiteral("urlField")), Qt::Key_Return);
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::analyzing);

        auto *analyzeButton = find<QPushButton>(QStringLiteral("analyzeButton"));
        QCOMPARE(analyzeButton->text(), QStringLiteral("Analizando"));
        QVERIFY(!analyzeButton->isEnabled());
        QVERIFY(!find(QStringLiteral("urlField"))->isEnabled());
        QVERIFY(!find(QStringLiteral("pasteButton"))->isEnabled());
        QCOMPARE(find<URLTextField>(QStringLiteral("urlField"))->toPlainText(), pageAddress);
        QVERIFY(shown(QStringLiteral("workingCard")));
        QVERIFY(!shown(QStringLiteral("idleView")));
        QVERIFY(shown(QStringLiteral("newDownloadButton")));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-analyzing")));

        release(QStringLiteral("hold-analysis"));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        QCOMPARE(analyzeButton->text(), QStringLiteral("Analizar"));
        QVERIFY(analyzeButton->isEnabled());
        QVERIFY(!shown(QStringLiteral("workingCard")));
        QVERIFY(shown(QStringLiteral("mediaCard")));
        QCOMPARE(textOf(QStringLiteral("mediaTitleLabel")), mediaTitle);
        QCOMPARE(textOf(QStringLiteral("mediaUploaderLabel")), QStringLiteral("Canal Torvel"));
        QCOMPARE(textOf(QStringLiteral("mediaDurationLabel")), QStringLiteral("1:00"));
        QCOMPARE(textOf(QStringLiteral("mediaFormatCountLabel")), QStringLiteral("6 formatos"));
        QVERIFY(isSelected(QStringLiteral("choiceTile-recommended")));
        QVERIFY(!isSelected(QStringLiteral("choiceTile-compatible-mp4")));
        QCOMPARE(textOf(QStringLiteral("advancedFormatsToggle")), QStringLiteral("Formatos avanzados (5)"));
        QVERIFY(!find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"))->isExpanded());
        QCOMPARE(textOf(QStringLiteral("destinationPathLabel")), destination());
        QVERIFY(shown(QStringLiteral("downloadButton")));

        // The thumbnail's address refuses connections: the placeholder icon stands in.
        auto *thumbnail = find<ThumbnailView>(QStringLiteral("thumbnailView"));
        QTRY_COMPARE(thumbnail->state(), ThumbnailView::State::placeholder);
        QVERIFY(thumbnail->urlString().has_value());
    }

    void failedAnalysisShowsOnlyTheError() {
        CHECKED(startWithTools());
        TestSupport::writeFile(path(QStringLiteral("analysis-error")), "ERROR: [generic] Unsupported URL: x\n");
        m_model->setUrlInput(pageAddress);
        CHECKED(click(QStringLiteral("analyzeButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::failed);
        QVERIFY(shown(QStringLiteral("errorCard")));
        QCOMPARE(textOf(QStringLiteral("errorMessageLabel")), QStringLiteral("ERROR: [generic] Unsupported URL: x"));
        QVERIFY(!shown(QStringLiteral("mediaCard")));
        QVERIFY(!shown(QStringLiteral("choiceCard")));
        QVERIFY(shown(QStringLiteral("newDownloadButton")));
        CHECKED(click(QStringLiteral("newDownloadButton")));
        QCOMPARE(m_model->phase(), AppModel::Phase::idle);
        QVERIFY(shown(QStringLiteral("idleView")));
        QVERIFY(!shown(QStringLiteral("errorCard")));
    }

    void standardChoicesAndTheAudioContainer() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        CHECKED(click(QStringLiteral("choiceTile-compatible-mp4")));
        QCOMPARE(m_model->selectedChoiceID(), QStringLiteral("compatible-mp4"));
        QVERIFY(isSelected(QStringLiteral("choiceTile-compatible-mp4")));
        QVERIFY(!isSelected(QStringLiteral("choiceTile-recommended")));
        QVERIFY(!shown(QStringLiteral("audioExportFormatView")));

        CHECKED(click(QStringLiteral("choiceTile-audio-only")));
        QVERIFY(shown(QStringLiteral("audioExportFormatView")));
        QCOMPARE(textOf(QStringLiteral("audioFormatDescription")),
                 QStringLiteral("Buena calidad y compatibilidad con dispositivos Apple"));
        QVERIFY(shown(QStringLiteral("audioFormatFFmpegWarning")));
        QCOMPARE(textOf(QStringLiteral("audioFormatFFmpegWarning")),
                 QStringLiteral("FFmpeg es necesario para extraer y convertir el audio."));

        auto *picker = find<SegmentedControl>(QStringLiteral("audioFormatPicker"));
        QCOMPARE(picker->label(0), QStringLiteral("M4A"));
        QCOMPARE(picker->currentIndex(), 0);
        QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(1).center());
        QCOMPARE(m_model->audioExportFormat(), AudioExportFormat::mp3);
        QCOMPARE(textOf(QStringLiteral("audioFormatDescription")),
                 QStringLiteral("Compatibilidad amplia con reproductores y equipos antiguos"));
        auto *tile = find(QStringLiteral("choiceTile-audio-only"));
        QCOMPARE(textOf(QStringLiteral("choiceSubtitleLabel"), tile), QStringLiteral("Extrae el audio en MP3"));
        QVERIFY(isSelected(QStringLiteral("choiceTile-audio-only")));
        CHECKED(verifyNothingClipped());
    }

    void exactFormatsAndAudioPairing() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        AdvancedFormatsView *advanced = openAdvancedFormats();
        QVERIFY(advanced->isExpanded());
        QCOMPARE(advanced->cards().size(), 5);
        QVERIFY(!shown(QStringLiteral("audioPairingView")));

        auto *video = find<ExactFormatCard>(QStringLiteral("exactFormatCard-137"));
        QVERIFY(video);
        QCOMPARE(textOf(QStringLiteral("formatBitrateLabel"), video), QStringLiteral("1.5 Mb/s"));
        QCOMPARE(textOf(QStringLiteral("formatSizeLabel"), video), QStringLiteral("~11,3 MB"));
        QCOMPARE(textOf(QStringLiteral("formatFpsLabel"), video), QStringLiteral("30 fps"));
        QCOMPARE(textOf(QStringLiteral("formatResolutionLabel"), video), QStringLiteral("1920×1080"));
        QCOMPARE(textOf(QStringLiteral("formatAudioLabel"), video), QStringLiteral("Sin audio"));
        QCOMPARE(textOf(QStringLiteral("formatQualityLabel"), video), QStringLiteral("1080p"));
        auto *surround = find(QStringLiteral("exactFormatCard-251"));
        QCOMPARE(textOf(QStringLiteral("formatSizeLabel"), surround), QStringLiteral("~960,0 kB"));
        QCOMPARE(textOf(QStringLiteral("formatAudioLabel"), surround), QStringLiteral("Opus · 160 kb/s · 6 canales"));
        QCOMPARE(textOf(QStringLiteral("formatAudioLabel"), find(QStringLiteral("exactFormatCard-140"))),
                 QStringLiteral("AAC · 128 kb/s · estéreo"));
        auto *bare = find(QStringLiteral("exactFormatCard-bare"));
        QCOMPARE(textOf(QStringLiteral("formatBitrateLabel"), bare), QStringLiteral("Bitrate no informado"));
        QCOMPARE(textOf(QStringLiteral("formatSizeLabel"), bare), QStringLiteral("Tamaño no informado"));
        QVERIFY(!find(QStringLiteral("exactFormatCard-sb0")));

        const QList<ExactFormatCard *> cards = advanced->cards();
        CHECKED(click(QStringLiteral("exactFormatCard-137")));
        QCOMPARE(m_model->selectedChoiceID(), QStringLiteral("format-137"));
        QVERIFY(isSelected(QStringLiteral("exactFormatCard-137")));
        QVERIFY(!isSelected(QStringLiteral("choiceTile-recommended")));
        QCOMPARE(advanced->cards(), cards); // selecting moves the marks, it makes no new cards

        QVERIFY(shown(QStringLiteral("audioPairingView")));
        QCOMPARE(textOf(QStringLiteral("audioPairingVideo")), QStringLiteral("Video 137"));
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")),
                 QStringLiteral("ID 140 · M4A · 130 kb/s · 3,2 MB"));
        QCOMPARE(textOf(QStringLiteral("audioPairingFooter")),
                 QStringLiteral("FFmpeg es necesario para unir el video y el audio."));
        QCOMPARE(textOf(QStringLiteral("audioPairingMenuButton")), QStringLiteral("Elegir audio"));

        const QList<QAction *> actions = find<AudioPairingView>(QStringLiteral("audioPairingView"))->menu()->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions.at(0)->text(), QStringLiteral("Sin audio"));
        QVERIFY(actions.at(1)->isSeparator());
        QCOMPARE(actions.at(2)->text(), QStringLiteral("ID 140 · M4A · 130 kb/s · 3,2 MB"));
        QVERIFY(!actions.at(2)->icon().isNull()); // the check mark of the current track
        QCOMPARE(actions.at(3)->text(), QStringLiteral("ID 251 · WEBM · 128 kb/s"));
        QVERIFY(actions.at(3)->icon().isNull());

        pairingAction(QStringLiteral("audioPairing-251"))->trigger();
        QCOMPARE(m_model->selectedAudioFormatID(), std::optional<QString>(QStringLiteral("251")));
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")), QStringLiteral("ID 251 · WEBM · 128 kb/s"));
        QVERIFY(!pairingAction(QStringLiteral("audioPairing-251"))->icon().isNull());
        CHECKED(scrollTo(QStringLiteral("audioPairingView")));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-ready-advanced")));

        pairingAction(QStringLiteral("audioPairingNone"))->trigger();
        QCOMPARE(m_model->selectedAudioFormatID(), std::nullopt);
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")),
                 QStringLiteral("Sin audio · descargar únicamente el video"));
        QCOMPARE(textOf(QStringLiteral("audioPairingFooter")),
                 QStringLiteral("Se descargará el formato de video tal como está, sin agregar audio."));

        // A format with audio of its own needs no pairing.
        CHECKED(click(QStringLiteral("exactFormatCard-18")));
        QVERIFY(!shown(QStringLiteral("audioPairingView")));
        QVERIFY(!isSelected(QStringLiteral("exactFormatCard-137")));
    }

    void pairingFooterWithFFmpeg() {
        writeFakeFFmpeg();
        CHECKED(startWithTools());
        QVERIFY(m_model->ffmpeg());
        CHECKED(analyze());
        openAdvancedFormats();
        CHECKED(click(QStringLiteral("exactFormatCard-137")));
        QCOMPARE(textOf(QStringLiteral("audioPairingFooter")),
                 QStringLiteral("FFmpeg combinará ambas pistas en un único archivo."));
        CHECKED(click(QStringLiteral("choiceTile-audio-only")));
        QVERIFY(!shown(QStringLiteral("audioFormatFFmpegWarning")));
    }

    void downloadShowsProgressAndCancels() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        openAdvancedFormats();
        CHECKED(click(QStringLiteral("exactFormatCard-137")));
        pairingAction(QStringLiteral("audioPairing-251"))->trigger();
        const QList<ExactFormatCard *> cards =
            find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"))->cards();

        TestSupport::writeFile(path(QStringLiteral("progress.txt")),
                               progressLine(80.0, 8000000, 10000000, 1, 2, QStringLiteral("137"),
                                            QStringLiteral("avc1.640028"), QStringLiteral("none"))
                                   .toUtf8());
        touch(QStringLiteral("hold-download"));
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::downloading);
        QTRY_VERIFY(m_model->progress().fraction > 0.3);

        QVERIFY(shown(QStringLiteral("downloadingCard")));
        QVERIFY(!shown(QStringLiteral("mediaCard")));
        QVERIFY(!shown(QStringLiteral("choiceCard")));
        QVERIFY(!shown(QStringLiteral("newDownloadButton")));
        QVERIFY(!find(QStringLiteral("urlField"))->isEnabled());
        QVERIFY(!find(QStringLiteral("pasteButton"))->isEnabled());
        QVERIFY(!find(QStringLiteral("analyzeButton"))->isEnabled());
        // About 40 %: four fifths of the first of two transfers.
        const double fraction = m_model->progress().fraction;
        QVERIFY2(fraction > 0.38 && fraction < 0.42, qPrintable(QString::number(fraction)));
        QCOMPARE(textOf(QStringLiteral("progressPercentLabel")), FormatTexts::percentageText(fraction));
        QCOMPARE(find<QProgressBar>(QStringLiteral("progressBar"))->value(), int(fraction * 1000));
        QCOMPARE(textOf(QStringLiteral("progressTitleLabel")), mediaTitle);
        QCOMPARE(textOf(QStringLiteral("progressPhaseLabel")), m_model->progress().phaseText);
        QCOMPARE(textOf(QStringLiteral("progressStatusLabel")),
                 formattedByteCount(8000000) + QStringLiteral(" de ") + formattedByteCount(10000000));
        QVERIFY(shown(QStringLiteral("progressSpeedLabel")));
        QCOMPARE(textOf(QStringLiteral("progressSpeedLabel")), formattedByteCount(1500000) + QStringLiteral("/s"));
        QCOMPARE(textOf(QStringLiteral("progressEtaLabel")), QStringLiteral("Quedan 0:42"));
        QCOMPARE(textOf(QStringLiteral("cancelButton")), QStringLiteral("Cancelar"));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-downloading")));

        CHECKED(click(QStringLiteral("cancelButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        QVERIFY(!shown(QStringLiteral("downloadingCard")));
        QVERIFY(!shown(QStringLiteral("errorCard")));
        QVERIFY(shown(QStringLiteral("choiceCard")));
        QVERIFY(isSelected(QStringLiteral("exactFormatCard-137")));
        QCOMPARE(textOf(QStringLiteral("audioPairingCurrentLabel")), QStringLiteral("ID 251 · WEBM · 128 kb/s"));
        // What was chosen through the cards and the menu is what yt-dlp was asked for.
        QFile format(path(QStringLiteral("format.txt")));
        QVERIFY(format.open(QIODevice::ReadOnly));
        QCOMPARE(format.readAll(), QByteArray("137+251"));
        // The progress redraws left the format grid alone.
        QCOMPARE(find<AdvancedFormatsView>(QStringLiteral("advancedFormatsView"))->cards(), cards);
    }

    void completedDownloadLeavesOnlyTheMedia() {
        CHECKED(startWithTools());
        m_settings->setRevealWhenFinished(false);
        CHECKED(analyze());
        touch(QStringLiteral("report-file"));
        touch(QStringLiteral("hold-download"));
        CHECKED(click(QStringLiteral("downloadButton")));
        // The final file is being written: the tracker says 0.999.
        QTRY_COMPARE(m_model->progress().fraction, 0.999);
        QCOMPARE(textOf(QStringLiteral("progressPercentLabel")), QStringLiteral("99 %"));

        release(QStringLiteral("hold-download"));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QVERIFY(shown(QStringLiteral("completedCard")));
        QCOMPARE(textOf(QStringLiteral("completedFileLabel")), resultName);
        QVERIFY(shown(QStringLiteral("mediaCard")));
        QVERIFY(!shown(QStringLiteral("choiceCard")));
        QVERIFY(!shown(QStringLiteral("destinationCard")));
        QVERIFY(!shown(QStringLiteral("downloadingCard")));
        QVERIFY(shown(QStringLiteral("newDownloadButton")));
        QCOMPARE(textOf(QStringLiteral("revealButton")), QStringLiteral("Mostrar en carpeta"));
        QVERIFY(m_desktop->revealedFiles.isEmpty());
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-completed")));

        CHECKED(click(QStringLiteral("revealButton")));
        QCOMPARE(m_desktop->revealedFiles, QStringList{destination() + QLatin1Char('/') + resultName});

        CHECKED(click(QStringLiteral("newDownloadButton")));
        QCOMPARE(m_model->phase(), AppModel::Phase::idle);
        QVERIFY(shown(QStringLiteral("idleView")));
        QVERIFY(!shown(QStringLiteral("completedCard")));
        QVERIFY(!shown(QStringLiteral("mediaCard")));
        QCOMPARE(find<URLTextField>(QStringLiteral("urlField"))->toPlainText(), QString());
    }

    void failedDownloadKeepsTheChoices() {
        CHECKED(startWithTools());
        CHECKED(analyze());
        CHECKED(click(QStringLiteral("choiceTile-audio-only")));
        m_desktop->folderAnswer = path(QStringLiteral("Elegida"));
        CHECKED(click(QStringLiteral("changeFolderButton")));
        QCOMPARE(textOf(QStringLiteral("destinationPathLabel")), path(QStringLiteral("Elegida")));

        TestSupport::writeFile(path(QStringLiteral("download-error")),
                               "ERROR: [youtube] abc: Este video no está disponible en tu país\n");
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::failed);
        QVERIFY(shown(QStringLiteral("errorCard")));
        QCOMPARE(textOf(QStringLiteral("errorTitleLabel")), QStringLiteral("No se pudo completar la operación"));
        QCOMPARE(textOf(QStringLiteral("errorMessageLabel")),
                 QStringLiteral("ERROR: [youtube] abc: Este video no está disponible en tu país"));
        QVERIFY(shown(QStringLiteral("mediaCard")));
        QVERIFY(shown(QStringLiteral("choiceCard")));
        QVERIFY(shown(QStringLiteral("destinationCard")));
        QVERIFY(isSelected(QStringLiteral("choiceTile-audio-only")));
        QCOMPARE(textOf(QStringLiteral("destinationPathLabel")), path(QStringLiteral("Elegida")));
        QVERIFY(shown(QStringLiteral("newDownloadButton")));
        CHECKED(verifyNothingClipped());
        CHECKED(screenshot(QStringLiteral("contentview-failed")));
        auto *message = find<SelectableText>(QStringLiteral("errorMessageLabel"));
        QVERIFY(message->textInteractionFlags() & Qt::TextSelectableByMouse);
        message->selectAll();
        QCOMPARE(message->textCursor().selectedText(), m_model->errorMessage());

        // "Descargar" again, this time successfully, from the same choices.
        release(QStringLiteral("download-error"));
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QVERIFY(QFile::exists(path(QStringLiteral("Elegida/")) + resultName));
        QVERIFY(!shown(QStringLiteral("errorCard")));
    }

    void badInputStaysUsable() {
        writeDocument(largeDocument(QStringLiteral("http://127.0.0.1:%1/thumb.webp").arg(closedPort())));
        CHECKED(startWithTools());
        CHECKED(analyze());
        auto *title = find<WrappingLabel>(QStringLiteral("mediaTitleLabel"));
        QCOMPARE(title->text().size(), 300);
        QVERIFY(title->lineCount(title->width()) >= 2);
        QCOMPARE(textOf(QStringLiteral("mediaFormatCountLabel")), QStringLiteral("150 formatos"));
        CHECKED(screenshot(QStringLiteral("contentview-long-title")));
        QTRY_COMPARE(find<ThumbnailView>(QStringLiteral("thumbnailView"))->state(), ThumbnailView::State::placeholder);
        CHECKED(verifyNothingClipped());

        AdvancedFormatsView *advanced = openAdvancedFormats();
        QApplication::processEvents();
        QCOMPARE(advanced->cards().size(), 150);
        // Columns at least 250 wide, as many as fit.
        for (ExactFormatCard *card : advanced->cards())
            QVERIFY(card->width() >= AdvancedFormatsView::minimumColumnWidth);
        QVERIFY(advanced->cards().at(0)->y() == advanced->cards().at(1)->y());

        // A format with no numbers at all.
        auto *bare = find(QStringLiteral("exactFormatCard-f9"));
        QCOMPARE(textOf(QStringLiteral("formatBitrateLabel"), bare), QStringLiteral("Bitrate no informado"));
        QCOMPARE(textOf(QStringLiteral("formatSizeLabel"), bare), QStringLiteral("Tamaño no informado"));
        QCOMPARE(textOf(QStringLiteral("formatResolutionLabel"), bare), QStringLiteral("Resolución no informada"));
        QCOMPARE(textOf(QStringLiteral("formatQualityLabel"), bare), QStringLiteral("Video"));

        CHECKED(click(QStringLiteral("exactFormatCard-f149")));
        QVERIFY(shown(QStringLiteral("audioPairingView")));
        CHECKED(verifyNothingClipped());
        CHECKED(scrollTo(QStringLiteral("audioPairingView")));
        CHECKED(screenshot(QStringLiteral("contentview-many-formats")));

        // Many progress updates while the grid is open behind the downloading card.
        QString lines;
        for (int i = 1; i <= 300; ++i)
            lines += progressLine(i / 3.0, i * 1000, 900000, 1, 1, QStringLiteral("f149"),
                                  QStringLiteral("vp09.00.40.08"), QStringLiteral("none"));
        TestSupport::writeFile(path(QStringLiteral("progress.txt")), lines.toUtf8());
        touch(QStringLiteral("hold-download"));
        QList<QPointer<ExactFormatCard>> before;
        for (ExactFormatCard *card : advanced->cards())
            before.append(card);
        CHECKED(click(QStringLiteral("downloadButton")));
        QTRY_VERIFY(m_model->progress().fraction > 0.9);
        QCOMPARE(textOf(QStringLiteral("progressTitleLabel")), title->text());
        CHECKED(verifyNothingClipped());
        CHECKED(click(QStringLiteral("cancelButton")));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        for (qsizetype i = 0; i < before.size(); ++i)
            QVERIFY(before.at(i) && before.at(i) == advanced->cards().at(i));
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
        QCOMPARE(view.state(), ThumbnailView::State::placeholder);
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
        for (const QString &name : {QStringLiteral("broken.jpg"), QStringLiteral("missing.jpg")}) {
            view.setUrlString(server.url(name).toString());
            QCOMPARE(view.state(), ThumbnailView::State::loading);
            QTRY_COMPARE(view.state(), ThumbnailView::State::placeholder);
        }
        // Oversized answers are dropped as soon as they show their size, announced or not.
        OversizedServer announced(true);
        view.setUrlString(announced.url());
        QTRY_COMPARE(view.state(), ThumbnailView::State::placeholder);
        OversizedServer streamed(false);
        view.setUrlString(streamed.url());
        QCOMPARE(view.state(), ThumbnailView::State::loading);
        QTRY_COMPARE(view.state(), ThumbnailView::State::placeholder);

        for (const std::optional<QString> &unusable :
             {std::optional<QString>(), std::optional<QString>(QStringLiteral("no es una dirección")),
              std::optional<QString>(QStringLiteral("file:///etc/hostname"))}) {
            view.setUrlString(unusable);
            QCOMPARE(view.state(), ThumbnailView::State::placeholder);
        }
    }
};

QTEST_MAIN(ContentViewTest)
#include "tst_contentview.moc"
