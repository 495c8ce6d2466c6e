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
#include <QRegularExpression>
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
// and prints a small document; any other run is a download and is logged in downloads.log.
QString fakeYTDLP(const QString &binFolder, const QString &logFolder) {
    return TestSupport::writeScript(
        binFolder + QStringLiteral("/yt-dlp"),
        QStringLiteral("log='%1'\n"
                       "if [ \"$1\" = --version ]; then\n"
                       "  echo v >> \"$log/versions.log\"; [ -e \"$log/slow-version\" ] && sleep 1\n"
                       "  echo 2023.03.04; exit 0\n"
                       "fi\n"
                       "case \" $* \" in *\" --dump-single-json \"*)\n"
                       "  printf '%s\\n' \"$*\" >> \"$log/analyses.log\"; printf '%s' '%2'; exit 0 ;;\n"
                       "esac\n"
                       "printf '%s\\n' \"$*\" >> \"$log/downloads.log\"; exit 1")
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

    static QAction *action(QWidget &window, const char *name) {
        auto *found = window.findChild<QAction *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no action %s", name);
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        // The windows under test are closed on purpose; that must not end the test run.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void init() {
        // A missing icon font, or an icon name the table lacks, fails the test that draws it.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^Icons: ")));
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(QStringLiteral("logs")));
        fakeYTDLP(path(QStringLiteral("bin")), path(QStringLiteral("logs")));
        const LocatorEnvironment environment = TestSupport::sandboxedTools(m_dir->path());
        m_store = std::make_unique<QSettings>(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), path(QStringLiteral("Descargas")),
                                                   path(QStringLiteral("home")));
        m_desktop = std::make_unique<FakeDesktopServices>();
        m_model = std::make_unique<AppModel>(*m_settings, *m_desktop, TestSupport::unreachableToolHosts(),
                                             DependencyLocator(environment), JobFolders(path(QStringLiteral("jobs"))));
        QTRY_VERIFY(!m_model->isCheckingTools());
        QVERIFY(m_model->ytDLP());
    }

    void cleanup() {
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
        QVERIFY(!window.optionsWindow());

        action(window, "optionsAction")->trigger();
        OptionsWindow *options = window.optionsWindow();
        QVERIFY(options && options->isVisible());
        QTabWidget *tabs = options->tabs();
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
        QTest::mouseClick(optionsButton, Qt::LeftButton);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(m_model->selectedOptionsTab(), AppModel::OptionsTab::general);

        // The about tab is the compact view, the about window the full one; also single.
        QVERIFY(tabs->widget(2)->findChild<AboutView *>()->isCompact());
        action(window, "aboutAction")->trigger();
        AboutWindow *about = window.aboutWindow();
        QVERIFY(about && about->isVisible());
        QVERIFY(!about->view()->isCompact());
        about->close();
        action(window, "aboutAction")->trigger();
        QCOMPARE(window.aboutWindow(), about);
        QVERIFY(about->isVisible());
    }

    void generalTabShowsAndWritesTheSettings() {
        OptionsWindow options(*m_model);
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
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

    // The first start's own link, and one that a second start forwards while the first is still
    // searching for its tools, are analyzed once the search has ended; nothing is downloaded.
    void linksFromLaterStartsOnlyAnalyze() {
        const QString application = TestSupport::applicationPath();
        if (application.isEmpty())
            QSKIP("TORVEL_APP does not name the built application");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_SCALE_FACTOR"})
            environment.remove(QString::fromLatin1(variable));
        QDir().mkpath(path(QStringLiteral("home")));
        QDir().mkpath(path(QStringLiteral("run")));
        QFile::setPermissions(path(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("PATH"), path(QStringLiteral("bin")) + QStringLiteral(":/usr/bin:/bin"));
        const auto start = [&](QProcess &process, const QString &address) {
            process.setProcessEnvironment(environment);
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process.start(application, address.isEmpty()
                                           ? QStringList()
                                           : QStringList{QStringLiteral("tdl://analyze?url=") +
                                                         QString::fromLatin1(QUrl::toPercentEncoding(address))});
        };
        const QString analyses = path(QStringLiteral("logs/analyses.log"));

        // The first instance listens before it searches; its search takes a second.
        TestSupport::writeFile(path(QStringLiteral("logs/slow-version")), {});
        QFile::remove(path(QStringLiteral("logs/versions.log")));
        QProcess first;
        start(first, QStringLiteral("https://127.0.0.1:48124/propio"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path(QStringLiteral("logs/versions.log"))), 20000);
        const QString forwarded = QStringLiteral("http://127.0.0.1:48123/x?a=1&b=2");
        QProcess second;
        start(second, forwarded);
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        // The later link replaced the first in the field before the one analysis began.
        QTRY_COMPARE_WITH_TIMEOUT(logLines(analyses).size(), 1, 20000);
        QVERIFY2(logLines(analyses).constFirst().endsWith(QStringLiteral(" -- ") + forwarded),
                 qPrintable(logLines(analyses).constFirst()));

        // A start without a link leaves the running instance alone.
        QProcess third;
        start(third, {});
        QVERIFY(third.waitForFinished(20000));
        QCOMPARE(third.exitCode(), 0);
        QTest::qWait(500);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(logLines(analyses).size(), 1);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("logs/downloads.log"))));
        first.terminate();
        if (!first.waitForFinished(10000))
            first.kill();
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
