#include "fakedesktopservices.h"
#include "testsupport.h"

#include "media/jobfolders.h"
#include "model/appmodel.h"
#include "model/appsettings.h"
#include "tools/dependencylocator.h"
#include "ui/about/aboutview.h"
#include "ui/about/aboutwindow.h"
#include "ui/components/elidedpathfield.h"
#include "ui/components/switchbutton.h"
#include "ui/components/toolstatuspill.h"
#include "ui/main/mainwindow.h"
#include "ui/options/optionswindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QString mediaDocument = QStringLiteral(
    R"({"id":"abc","title":"Clip","formats":[{"format_id":"18","vcodec":"avc1.42001E","acodec":"mp4a.40.2"}]})");

// A yt-dlp that answers the version query, appends each analysis command line to analyses.log
// and prints a small document; every other run is a download: its command line goes to
// downloads.log, and it either finishes at once (when a file named "finish" exists beside the
// logs) or leaves a partial file in its job folder and waits to be stopped.
QString fakeYTDLP(const QString &binFolder, const QString &logFolder) {
    return TestSupport::writeScript(
        binFolder + QStringLiteral("/yt-dlp"),
        QStringLiteral("log='%1'\n"
                       "if [ \"$1\" = --version ]; then echo 2023.03.04; exit 0; fi\n"
                       "for a in \"$@\"; do\n"
                       "  if [ \"$a\" = --dump-single-json ]; then\n"
                       "    printf '%s\\n' \"$*\" >> \"$log/analyses.log\"; printf '%s' '%2'; exit 0\n"
                       "  fi\n"
                       "done\n"
                       "printf '%s\\n' \"$*\" >> \"$log/downloads.log\"\n"
                       "job=''; prev=''\n"
                       "for a in \"$@\"; do [ \"$prev\" = --paths ] && job=\"$a\"; prev=\"$a\"; done\n"
                       "if [ -e \"$log/finish\" ]; then echo data > \"$job/Clip [abc].mp4\"; exit 0; fi\n"
                       "echo x > \"$job/Clip [abc].mp4.part\"\n"
                       "echo '__TORVEL_PROGRESS__ 10.0%|100|1000|NA|NA|NA|NA|NA|18|avc1|mp4a'\n"
                       "exec sleep 30")
            .arg(logFolder, mediaDocument));
}

QStringList logLines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString screenshotPath(const QString &name) {
    const qreal ratio = qApp->devicePixelRatio();
    const QString suffix = ratio > 1 ? QStringLiteral("@%1x").arg(ratio) : QString();
    return TestSupport::artefactFolder(QStringLiteral("ui")) + QLatin1Char('/') + name + suffix +
           QStringLiteral(".png");
}

// Visible texts and controls that do not get the room they ask for, or reach outside the window.
QStringList clippedWidgets(QWidget *window) {
    QStringList clipped;
    const QRect bounds = window->rect();
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(window) ||
            !(qobject_cast<QLabel *>(widget) || qobject_cast<QAbstractButton *>(widget)))
            continue;
        const QRect inWindow(widget->mapTo(window, QPoint()), widget->size());
        const QSize needed = widget->minimumSizeHint();
        int neededHeight = needed.height();
        if (widget->hasHeightForWidth())
            neededHeight = qMax(neededHeight, widget->heightForWidth(widget->width()));
        if (!bounds.contains(inWindow) || widget->width() < needed.width() || widget->height() < neededHeight) {
            const auto *label = qobject_cast<QLabel *>(widget);
            clipped.append(widget->objectName() + QLatin1Char(' ') + (label ? label->text() : QString()));
        }
    }
    return clipped;
}

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<FakeDesktopServices> m_desktop;
    std::unique_ptr<AppModel> m_model;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString jobsRoot() const { return path(QStringLiteral("jobs")); }
    QStringList jobFolders() const { return QDir(jobsRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    static QAction *action(QWidget &window, const char *name) {
        auto *found = window.findChild<QAction *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no action %s", name);
        return found;
    }

    // A download that waits in its job folder until it is stopped.
    bool startWaitingDownload() {
        m_model->setUrlInput(QStringLiteral("https://example.invalid/watch?v=1"));
        m_model->analyze();
        if (!QTest::qWaitFor([this] { return m_model->phase() == AppModel::Phase::ready; }, 10000))
            return false;
        m_model->startDownload();
        return QTest::qWaitFor(
                   [this] {
                       return !jobFolders().isEmpty() && QFileInfo::exists(path(QStringLiteral("logs/downloads.log")));
                   },
                   10000) &&
               m_model->phase() == AppModel::Phase::downloading;
    }

private Q_SLOTS:
    void initTestCase() {
        // The windows under test are closed on purpose; that must not end the test run.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(QStringLiteral("logs")));
        fakeYTDLP(path(QStringLiteral("bin")), path(QStringLiteral("logs")));
        const LocatorEnvironment environment = TestSupport::sandboxedTools(m_dir->path());
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), path(QStringLiteral("Descargas")),
                                                   path(QStringLiteral("home")));
        m_desktop = std::make_unique<FakeDesktopServices>();
        m_model =
            std::make_unique<AppModel>(*m_settings, *m_desktop, DependencyLocator(environment), JobFolders(jobsRoot()));
        QTRY_VERIFY(!m_model->isCheckingTools());
        QVERIFY(m_model->ytDLP());
    }

    void cleanup() {
        if (m_model && m_model->phase() == AppModel::Phase::downloading) {
            m_model->cancelDownload();
            QTRY_VERIFY(m_model->phase() != AppModel::Phase::downloading);
        }
        m_model.reset();
        m_desktop.reset();
        m_settings.reset();
        m_store.reset();
        m_dir.reset();
    }

    void optionsWindowIsSingleAndFollowsTheModel() {
        MainWindow window(*m_model, *m_desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Torvel Downloader"));
        QCOMPARE(window.size(), QSize(980, 760));
        QCOMPARE(window.minimumSize(), QSize(900, 680));
        QVERIFY(!window.optionsWindow());

        action(window, "optionsAction")->trigger();
        OptionsWindow *options = window.optionsWindow();
        QVERIFY(options && options->isVisible());
        QCOMPARE(options->windowTitle(), QStringLiteral("Opciones"));
        QTabWidget *tabs = options->tabs();
        QCOMPARE(tabs->count(), 3);
        const QStringList labels{QStringLiteral("General"), QStringLiteral("Herramientas"),
                                 QStringLiteral("Acerca de")};
        for (int i = 0; i < tabs->count(); ++i) {
            QCOMPARE(tabs->tabText(i), labels.at(i));
            QVERIFY(!tabs->tabIcon(i).pixmap(16).isNull());
        }
        QCOMPARE(tabs->currentIndex(), 0);

        // Both ways: the tab the user picks lands in the model, the model's tab is shown.
        tabs->setCurrentIndex(2);
        QCOMPARE(m_model->selectedOptionsTab(), AppModel::OptionsTab::about);
        m_model->setSelectedOptionsTab(AppModel::OptionsTab::tools);
        QCOMPARE(tabs->currentIndex(), 1);

        // "Opciones…" reuses the one window and always starts on General.
        options->close();
        action(window, "optionsAction")->trigger();
        QCOMPARE(window.optionsWindow(), options);
        QVERIFY(options->isVisible());
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(window.findChildren<OptionsWindow *>().size(), 1);

        // A tool's pill opens Herramientas; the toolbar's button opens General again.
        auto *pill = window.findChild<ToolStatusPill *>(QStringLiteral("ffmpegPill"));
        QVERIFY(pill);
        QTest::mouseClick(pill, Qt::LeftButton);
        QCOMPARE(tabs->currentIndex(), 1);
        auto *optionsButton = window.findChild<QToolButton *>(QStringLiteral("optionsToolButton"));
        QCOMPARE(optionsButton->text(), QStringLiteral("Opciones"));
        QCOMPARE(optionsButton->toolTip(), QStringLiteral("Opciones"));
        QTest::mouseClick(optionsButton, Qt::LeftButton);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(m_model->selectedOptionsTab(), AppModel::OptionsTab::general);

        // The about tab is the compact view, the about window the full one; also single.
        QVERIFY(tabs->widget(2)->findChild<AboutView *>()->isCompact());
        action(window, "aboutAction")->trigger();
        AboutWindow *about = window.aboutWindow();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("Acerca de Torvel Downloader"));
        QVERIFY(!about->view()->isCompact());
        about->close();
        action(window, "aboutAction")->trigger();
        QCOMPARE(window.aboutWindow(), about);
        QVERIFY(about->isVisible());
    }

    void toolbarPillsShowTheLocatedTools() {
        MainWindow window(*m_model, *m_desktop);
        auto *ytDLP = window.findChild<ToolStatusPill *>(QStringLiteral("ytDLPPill"));
        auto *ffmpeg = window.findChild<ToolStatusPill *>(QStringLiteral("ffmpegPill"));
        QCOMPARE(ytDLP->title(), QStringLiteral("yt-dlp"));
        QCOMPARE(ffmpeg->title(), QStringLiteral("FFmpeg"));
        QCOMPARE(ytDLP->state(), ToolIndicatorState::current);
        QCOMPARE(ffmpeg->state(), ToolIndicatorState::missing); // nowhere in the test's PATH

        // The fake disappears; the next search says so.
        QFile::remove(path(QStringLiteral("bin/yt-dlp")));
        m_settings->setYtDLPPath(QString());
        m_model->refreshDependencies();
        QTRY_COMPARE(ytDLP->state(), ToolIndicatorState::missing);

        // The missing-tool warning's "Abrir opciones" shows the options where they were left.
        m_model->setSelectedOptionsTab(AppModel::OptionsTab::about);
        QPushButton *openOptions = nullptr;
        for (QPushButton *button : window.findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("Abrir opciones"))
                openOptions = button;
        }
        QVERIFY(openOptions);
        openOptions->click();
        QVERIFY(window.optionsWindow() && window.optionsWindow()->isVisible());
        QCOMPARE(window.optionsWindow()->tabs()->currentIndex(), 2);
    }

    void generalTabShowsAndWritesTheSettings() {
        OptionsWindow options(*m_model);
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
        const auto text = [&options](const char *name) {
            auto *label = options.findChild<QLabel *>(QString::fromLatin1(name));
            return label ? label->text() : QStringLiteral("(missing %1)").arg(QString::fromLatin1(name));
        };
        QCOMPARE(text("downloadsSectionTitle"), QStringLiteral("Descargas"));
        QCOMPARE(text("folderLabel"), QStringLiteral("Carpeta"));
        QCOMPARE(text("revealWhenFinishedLabel"), QStringLiteral("Mostrar el archivo en su carpeta al terminar"));
        QCOMPARE(text("privacySectionTitle"), QStringLiteral("Privacidad"));
        QCOMPARE(text("privacyLabel"),
                 QStringLiteral("Los enlaces, metadatos y archivos se procesan localmente. Torvel "
                                "Downloader no los envía a torvel.example."));
        QCOMPARE(text("webIntegrationSectionTitle"), QStringLiteral("Integración web"));
        QCOMPARE(text("protocolLabel"), QStringLiteral("Protocolo"));
        QCOMPARE(
            text("webIntegrationCaption"),
            QStringLiteral("Los enlaces externos solo pueden abrir y analizar una URL. La descarga siempre requiere "
                           "una acción dentro de la aplicación."));
        auto *scheme = options.findChild<QLabel *>(QStringLiteral("protocolSchemeLabel"));
        QCOMPARE(scheme->text(), QStringLiteral("tdl://"));
        const QFontMetrics schemeMetrics(scheme->font());
        QCOMPARE(schemeMetrics.horizontalAdvance(QLatin1Char('i')), schemeMetrics.horizontalAdvance(QLatin1Char('m')));
        QVERIFY(scheme->textInteractionFlags() & Qt::TextSelectableByMouse);

        // The folder: the expanded path, replaced when the user chooses another one.
        auto *folder = options.findChild<ElidedPathField *>(QStringLiteral("downloadFolderField"));
        QCOMPARE(folder->fullText(), path(QStringLiteral("Descargas")));
        QVERIFY(folder->isReadOnly());
        m_desktop->folderAnswer = path(QStringLiteral("Otra carpeta"));
        auto *choose = options.findChild<QPushButton *>(QStringLiteral("chooseFolderButton"));
        QCOMPARE(choose->text(), QStringLiteral("Elegir…"));
        QTest::mouseClick(choose, Qt::LeftButton);
        QCOMPARE(m_desktop->folderRequests.size(), 1);
        QCOMPARE(m_settings->downloadDirectory(), path(QStringLiteral("Otra carpeta")));
        QCOMPARE(folder->fullText(), path(QStringLiteral("Otra carpeta")));

        // A path longer than the row keeps both ends on one line.
        const QString deep =
            QStringLiteral("~/") + QStringLiteral("carpeta-muy-larga/").repeated(20) + QStringLiteral("final");
        m_settings->setDownloadDirectory(deep);
        QCOMPARE(folder->fullText(), path(QStringLiteral("home/")) + deep.mid(2));
        QVERIFY2(folder->text().contains(QChar(0x2026)), qPrintable(folder->text()));
        QVERIFY(folder->text().startsWith(path(QStringLiteral("home")).left(4)));
        QVERIFY(folder->text().endsWith(QStringLiteral("final")));
        QVERIFY(folder->fontMetrics().horizontalAdvance(folder->text()) < folder->width());

        // The switch writes through to the store and follows the setting.
        auto *reveal = options.findChild<SwitchButton *>(QStringLiteral("revealWhenFinishedSwitch"));
        QVERIFY(reveal->isChecked());
        QTest::mouseClick(reveal, Qt::LeftButton);
        QCOMPARE(m_settings->revealWhenFinished(), false);
        QSettings stored(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("revealWhenFinished")).toString(), QStringLiteral("false"));
        m_settings->setRevealWhenFinished(true);
        QVERIFY(reveal->isChecked());
    }

    void menusOfferEveryCommand() {
        MainWindow window(*m_model, *m_desktop);
        QStringList menus;
        for (QAction *menuAction : window.menuBar()->actions()) {
            QStringList items;
            for (QAction *item : menuAction->menu()->actions())
                items.append(item->isSeparator() ? QStringLiteral("-")
                                                 : item->text() + QLatin1Char(' ') +
                                                       item->shortcut().toString(QKeySequence::PortableText));
            menus.append(menuAction->text() + QStringLiteral(": ") + items.join(QStringLiteral(" | ")));
        }
        QCOMPARE(menus,
                 QStringList({
                     QStringLiteral("Torvel Downloader: Acerca de Torvel Downloader  | - | Buscar actualizaciones…  "
                                    "| - | Opciones… Ctrl+, | - | Salir Ctrl+Q"),
                     QStringLiteral("Archivo: Nueva descarga Ctrl+N"),
                     QStringLiteral("Descarga: Pegar enlace Ctrl+Shift+V | Analizar Ctrl+Return | - | Cancelar "
                                    "Ctrl+. | Mostrar archivo en su carpeta "),
                 }));
        // Nothing checks or installs an update: the check can be asked for.
        QVERIFY(action(window, "checkForUpdatesAction")->isEnabled());
    }

    void pasteLinkCleansTheClipboardText() {
        MainWindow window(*m_model, *m_desktop);
        m_model->setUrlInput(QStringLiteral("antes"));
        action(window, "pasteLinkAction")->trigger();
        QCOMPARE(m_model->urlInput(), QStringLiteral("antes"));

        m_desktop->clipboard = QStringLiteral("  [vídeo](<https://example.invalid/watch?v=1\\&t=2>)\n");
        action(window, "pasteLinkAction")->trigger();
        QCOMPARE(m_model->urlInput(), QStringLiteral("https://example.invalid/watch?v=1&t=2"));
        QCOMPARE(m_model->phase(), AppModel::Phase::idle); // pasting alone analyzes nothing
    }

    void analyzeWithAnEmptyFieldAsksForAValidURL() {
        MainWindow window(*m_model, *m_desktop);
        action(window, "analyzeAction")->trigger();
        QCOMPARE(m_model->phase(), AppModel::Phase::failed);
        QCOMPARE(m_model->errorMessage(),
                 QStringLiteral("Introduce una URL válida que comience con http:// o https://."));
        QVERIFY(logLines(path(QStringLiteral("logs/analyses.log"))).isEmpty());
    }

    void menuItemsFollowThePhase() {
        MainWindow window(*m_model, *m_desktop);
        QAction *analyze = action(window, "analyzeAction");
        QAction *cancel = action(window, "cancelAction");
        QAction *reveal = action(window, "revealAction");
        QAction *newDownload = action(window, "newDownloadAction");
        const auto states = [&] { return QList<bool>{analyze->isEnabled(), cancel->isEnabled(), reveal->isEnabled()}; };
        QCOMPARE(states(), QList<bool>({true, false, false}));

        m_model->setUrlInput(QStringLiteral("https://example.invalid/watch?v=1"));
        analyze->trigger();
        QCOMPARE(m_model->phase(), AppModel::Phase::analyzing);
        QCOMPARE(states(), QList<bool>({false, false, false}));
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        QCOMPARE(states(), QList<bool>({true, false, false}));

        m_model->startDownload();
        QCOMPARE(states(), QList<bool>({false, true, false}));
        QTRY_VERIFY(!jobFolders().isEmpty());
        // "Nueva descarga" leaves a running download alone.
        newDownload->trigger();
        QCOMPARE(m_model->phase(), AppModel::Phase::downloading);

        // "Cancelar" stops yt-dlp and keeps the media and the selection.
        const QString choice = m_model->selectedChoiceID();
        cancel->trigger();
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::ready);
        QVERIFY(m_model->mediaInfo());
        QCOMPARE(m_model->selectedChoiceID(), choice);
        QVERIFY(jobFolders().isEmpty());
        QCOMPARE(states(), QList<bool>({true, false, false}));

        // A finished download can be shown in its folder.
        TestSupport::writeFile(path(QStringLiteral("logs/finish")), {});
        m_model->startDownload();
        QTRY_COMPARE(m_model->phase(), AppModel::Phase::completed);
        QCOMPARE(states(), QList<bool>({true, false, true}));
        const qsizetype revealedBefore = m_desktop->revealedFiles.size();
        reveal->trigger();
        QCOMPARE(m_desktop->revealedFiles.size(), revealedBefore + 1);
        QCOMPARE(m_desktop->revealedFiles.last(), path(QStringLiteral("Descargas/Clip [abc].mp4")));

        newDownload->trigger();
        QCOMPARE(m_model->phase(), AppModel::Phase::idle);
        QCOMPARE(states(), QList<bool>({true, false, false}));
        QVERIFY(m_model->urlInput().isEmpty());
    }

    void closingDuringADownloadAsksFirst() {
        MainWindow window(*m_model, *m_desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(startWaitingDownload());

        QVERIFY(!window.close());
        QMessageBox *question = window.quitQuestion();
        QVERIFY(question);
        QTRY_VERIFY(question->isVisible());
        QCOMPARE(question->windowTitle(), QStringLiteral("¿Salir de Torvel Downloader?"));
        QCOMPARE(question->informativeText(), QStringLiteral("Hay una descarga en curso. Si sales, se cancelará."));
        auto *keep = question->findChild<QPushButton *>(QStringLiteral("keepDownloadingButton"));
        auto *quit = question->findChild<QPushButton *>(QStringLiteral("quitButton"));
        QVERIFY(keep && quit);
        QCOMPARE(keep->text(), QStringLiteral("Seguir descargando"));
        QCOMPARE(quit->text(), QStringLiteral("Salir"));
        QCOMPARE(question->defaultButton(), keep);

        // "Seguir descargando" changes nothing.
        keep->click();
        QTRY_VERIFY(!window.quitQuestion());
        QVERIFY(window.isVisible());
        QCOMPARE(m_model->phase(), AppModel::Phase::downloading);
        QCOMPARE(jobFolders().size(), 1);

        // "Salir" cancels, waits for yt-dlp to end, then closes.
        QVERIFY(!window.close());
        QVERIFY(window.quitQuestion());
        window.quitQuestion()->findChild<QPushButton *>(QStringLiteral("quitButton"))->click();
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(m_model->phase(), AppModel::Phase::ready);
        QVERIFY(jobFolders().isEmpty());
        QCOMPARE(logLines(path(QStringLiteral("logs/downloads.log"))).size(), 1);

        // Without a download nothing is asked.
        MainWindow idle(*m_model, *m_desktop);
        idle.show();
        QVERIFY(idle.close());
        QVERIFY(!idle.quitQuestion());
    }

    void linksFromASecondStartOnlyAnalyze() {
        const QString application = TestSupport::applicationPath();
        if (application.isEmpty())
            QSKIP("TORVEL_APP does not name the built application");
        QVERIFY2(QFileInfo(application).isExecutable(), qPrintable(application));

        const auto environmentFor = [this](const QString &name) {
            const QString home = path(name + QStringLiteral("/home"));
            const QString runtime = path(name + QStringLiteral("/run"));
            QDir().mkpath(home);
            QDir().mkpath(runtime);
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                         "QT_SCALE_FACTOR", "TORVEL_APP"})
                environment.remove(QString::fromLatin1(variable));
            environment.insert(QStringLiteral("HOME"), home);
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            environment.insert(QStringLiteral("PATH"), path(QStringLiteral("bin")) + QStringLiteral(":/usr/bin:/bin"));
            return environment;
        };
        const auto linkTo = [](const QString &address) -> QString {
            return QStringLiteral("tdl://analyze?url=") + QString::fromLatin1(QUrl::toPercentEncoding(address));
        };
        const auto stop = [](QProcess &process) {
            process.terminate();
            if (!process.waitForFinished(10000))
                process.kill();
        };
        const QString analyses = path(QStringLiteral("logs/analyses.log"));
        const QString downloads = path(QStringLiteral("logs/downloads.log"));

        // A first instance, then a second start with a link: the second hands the link over and
        // ends; the first fills the field and analyzes.
        const QProcessEnvironment environment = environmentFor(QStringLiteral("forwarded"));
        QProcess first;
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        first.start(application, {});
        QVERIFY(first.waitForStarted());
        // Its tool search has finished once it stored the fake's path.
        const QString storedSettings =
            environment.value(QStringLiteral("HOME")) + QStringLiteral("/.config/Torvel/Torvel Downloader.conf");
        QTRY_VERIFY_WITH_TIMEOUT(
            logLines(storedSettings).join(QLatin1Char('\n')).contains(path(QStringLiteral("bin/yt-dlp"))), 20000);

        const QString address = QStringLiteral("http://127.0.0.1:48123/x?a=1&b=2");
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(application, {linkTo(address)});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(analyses).size(), 1, 20000);
        QVERIFY2(logLines(analyses).constFirst().endsWith(QStringLiteral(" -- ") + address),
                 qPrintable(logLines(analyses).constFirst()));

        // A start without a link leaves the running instance alone.
        QProcess third;
        third.setProcessEnvironment(environment);
        third.start(application, {});
        QVERIFY(third.waitForFinished(20000));
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        // Nothing was ever downloaded.
        QTest::qWait(500);
        QVERIFY(!QFileInfo::exists(downloads));
        stop(first);

        // A link given to the first instance itself is analyzed once it has found yt-dlp.
        QProcess own;
        own.setProcessEnvironment(environmentFor(QStringLiteral("own")));
        own.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        own.start(application, {linkTo(QStringLiteral("https://127.0.0.1:48124/y"))});
        QTRY_COMPARE_WITH_TIMEOUT(logLines(analyses).size(), 2, 20000);
        QVERIFY(logLines(analyses).constLast().endsWith(QStringLiteral(" -- https://127.0.0.1:48124/y")));
        QTest::qWait(500);
        QVERIFY(!QFileInfo::exists(downloads));
        QCOMPARE(own.state(), QProcess::Running);
        stop(own);
    }

    void userInstallRegistersTheLinkHandler() {
        const QString script = QStringLiteral(QT_TESTCASE_SOURCEDIR "/../packaging/linux/install-user.sh");
        const QString home = path(QStringLiteral("mi casa"));
        const QString calls = path(QStringLiteral("logs/desktop-tools.log"));
        // Stand-ins for the desktop's tools, so the real desktop of whoever runs the tests is untouched.
        for (const char *tool : {"xdg-mime", "update-desktop-database"})
            TestSupport::writeScript(path(QStringLiteral("desktop-bin/")) + QString::fromLatin1(tool),
                                     QStringLiteral("printf '%s\\n' \"$(basename \"$0\") $*\" >> '%1'").arg(calls));
        const QString executable =
            TestSupport::writeScript(path(QStringLiteral("build/torvel-downloader")), QStringLiteral("exit 0"));

        QProcess install;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.remove(QStringLiteral("XDG_DATA_HOME"));
        environment.insert(QStringLiteral("PATH"),
                           path(QStringLiteral("desktop-bin")) + QStringLiteral(":/usr/bin:/bin"));
        install.setProcessEnvironment(environment);
        install.start(QStringLiteral("/bin/sh"), {script, executable});
        QVERIFY(install.waitForFinished(20000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

        const QString installed = home + QStringLiteral("/.local/bin/torvel-downloader");
        QVERIFY(QFileInfo(installed).isExecutable());
        const QString applications = home + QStringLiteral("/.local/share/applications");
        const QStringList entry = logLines(applications + QStringLiteral("/torvel-downloader.desktop"));
        QVERIFY(entry.contains(QStringLiteral("Exec=\"") + installed + QStringLiteral("\" %u")));
        QVERIFY(entry.contains(QStringLiteral("MimeType=x-scheme-handler/tdl;")));
        QVERIFY(entry.contains(QStringLiteral("Icon=torvel-downloader")));
        QVERIFY(QFileInfo::exists(home +
                                  QStringLiteral("/.local/share/icons/hicolor/scalable/apps/torvel-downloader.svg")));
        QCOMPARE(logLines(calls), QStringList({QStringLiteral("update-desktop-database ") + applications,
                                               QStringLiteral("xdg-mime default torvel-downloader.desktop "
                                                              "x-scheme-handler/tdl")}));

        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
        QProcess validate;
        validate.start(validator, {applications + QStringLiteral("/torvel-downloader.desktop")});
        QVERIFY(validate.waitForFinished(10000));
        QVERIFY2(validate.exitCode() == 0, validate.readAllStandardOutput().constData());
    }

    // Both windows show their whole content at their usual width: never cut off, never left to
    // scroll, and no taller than the content needs once they had to grow.
    void screenshots() {
        const auto fitsWithoutScrolling = [](QWidget &window, QScrollArea *area, int usualHeight) {
            if (area->verticalScrollBar()->maximum() != 0 || area->verticalScrollBar()->isVisible())
                return false;
            const int needed = area->widget()->heightForWidth(area->viewport()->width());
            return window.height() == usualHeight || area->viewport()->height() <= needed + 4;
        };

        m_settings->setDownloadDirectory(QStringLiteral("~/Descargas/Vídeos de la semana/Torvel"));
        OptionsWindow options(*m_model);
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
        QCOMPARE(options.width(), OptionsWindow::defaultWidth);
        QVERIFY(options.height() >= OptionsWindow::defaultHeight);
        QVERIFY2(clippedWidgets(&options).isEmpty(), qPrintable(clippedWidgets(&options).join(QLatin1Char('\n'))));
        QVERIFY(options.grab().save(screenshotPath(QStringLiteral("options-general"))));

        options.tabs()->setCurrentIndex(OptionsWindow::tabIndex(AppModel::OptionsTab::about));
        auto *aboutPage = qobject_cast<QScrollArea *>(options.tabs()->currentWidget());
        QVERIFY(aboutPage);
        QTRY_VERIFY(fitsWithoutScrolling(options, aboutPage, OptionsWindow::defaultHeight));
        QVERIFY(options.grab().save(screenshotPath(QStringLiteral("options-about"))));

        AboutWindow about(*m_model);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.width(), AboutWindow::defaultWidth);
        QTRY_VERIFY(fitsWithoutScrolling(about, about.findChild<QScrollArea *>(), AboutWindow::defaultHeight));
        QVERIFY2(clippedWidgets(&about).isEmpty(), qPrintable(clippedWidgets(&about).join(QLatin1Char('\n'))));
        QVERIFY(about.grab().save(screenshotPath(QStringLiteral("about-window"))));

        // The menu bar and the toolbar over the download view.
        MainWindow window(*m_model, *m_desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.grab().save(screenshotPath(QStringLiteral("main-window"))));
    }

    void screenshotsAtDoubleScale() {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QSKIP("already running scaled");
        QProcess scaled;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        scaled.setProcessEnvironment(environment);
        scaled.setProcessChannelMode(QProcess::ForwardedChannels);
        scaled.start(QCoreApplication::applicationFilePath(), {QStringLiteral("screenshots")});
        QVERIFY(scaled.waitForFinished(60000));
        QCOMPARE(scaled.exitCode(), 0);
        const QImage image(TestSupport::artefactFolder(QStringLiteral("ui")) +
                           QStringLiteral("/options-general@2x.png"));
        QCOMPARE(image.width(), 2 * OptionsWindow::defaultWidth);
    }
};

QTEST_MAIN(ShellTest)
#include "tst_shell.moc"
