#include "applicationicon.h"
#include "commandline.h"
#include "common/blockingwait.h"
#include "common/serviceaddress.h"
#include "model/appmodel.h"
#include "model/appsettings.h"
#include "platform/applicationinfo.h"
#include "platform/desktopnotifications.h"
#include "platform/launcherentry.h"
#include "platform/linuxdesktopservices.h"
#include "platform/platformpaths.h"
#include "platform/singleinstance.h"
#include "startupconfiguration.h"
#include "tools/toolhosts.h"
#include "ui/components/qttranslations.h"
#include "ui/main/downloadattention.h"
#include "ui/main/mainwindow.h"
#include "update/bundlerecovery.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLocalSocket>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>
#include <optional>

namespace {

// Host overrides are read once, as soon as the application object exists (the running bundle is
// part of the configuration); a bad one stops the start before anything else, and failure
// says why. What an interrupted update left beside the running bundle is dealt with here.
std::optional<StartupConfiguration> readConfiguration(QString &failure) {
    try {
        StartupConfiguration configuration =
            StartupConfiguration::fromEnvironment(QProcessEnvironment::systemEnvironment());
        // An installer interrupted while it swapped the bundle left a backup beside it.
        if (const auto &bundle = configuration.updates.installedBundle)
            BundleRecovery::recover(*bundle, configuration.updates.publicKey);
        return configuration;
    } catch (const ServiceAddressError &error) {
        failure = error.errorDescription();
        std::fprintf(stderr, "%s\n", failure.toLocal8Bit().constData());
        return std::nullopt;
    }
}

int runCommandLine(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    QString failure;
    const std::optional<StartupConfiguration> configuration = readConfiguration(failure);
    if (!configuration)
        return 1;
    return BlockingWait::wait(CommandLine::run(QCoreApplication::arguments(), *configuration));
}

// The first tdl: link among the arguments; the desktop file passes it as the only one (%u).
std::optional<QUrl> incomingLink(const QStringList &arguments) {
    for (const QString &argument : arguments.mid(1)) {
        if (!argument.startsWith(QLatin1String("tdl:"), Qt::CaseInsensitive))
            continue;
        const QUrl url(argument);
        if (url.isValid())
            return url;
    }
    return std::nullopt;
}

// Whether an instance answers under the name: listen() also fails for other reasons (an
// unwritable runtime folder), and then this instance should still run.
bool anotherInstanceAnswers(const QString &serverName) {
    QLocalSocket probe;
    probe.connectToServer(serverName);
    const bool answers = probe.waitForConnected(1000);
    probe.abort();
    return answers;
}

// Whether Qt can reach a display: a platform chosen on purpose (QT_QPA_PLATFORM, -platform), an
// X server or a Wayland compositor. Without one Qt would abort in English.
bool displayAvailable(const QStringList &arguments) {
    const auto set = [](const char *name) { return !qEnvironmentVariableIsEmpty(name); };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY") ||
           arguments.contains(QLatin1String("-platform"));
}

int runWindows(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QString failure;
    const std::optional<StartupConfiguration> configuration = readConfiguration(failure);
    if (!configuration) {
        // Started from a launcher, nobody reads standard error.
        QMessageBox::critical(nullptr, QStringLiteral("Torvel Downloader"), failure);
        return 1;
    }
    const QString desktopEntry = QStringLiteral("torvel-downloader");
    QGuiApplication::setDesktopFileName(desktopEntry);
    QCoreApplication::setApplicationVersion(ApplicationInfo::current().displayVersion());

    // One instance per user. A later start hands its link to the running one, or asks it for
    // its window, and ends.
    // Without a folder closed to other users, another user could take the links (and their
    // tokens) or answer in place of this instance: refuse rather than use a shared folder.
    QString unsafe;
    if (!SingleInstance::privateFolder(&unsafe)) {
        QMessageBox::critical(nullptr, QStringLiteral("Torvel Downloader"),
                              unsafe + QStringLiteral(" Torvel Downloader no se abre así; define XDG_RUNTIME_DIR "
                                                      "o elimina esa carpeta."));
        return 1;
    }
    const std::optional<QUrl> link = incomingLink(QCoreApplication::arguments());
    SingleInstance instance;
    if (link ? instance.forwardToRunningInstance(*link) : instance.activateRunningInstance())
        return 0;
    if (!instance.listen()) {
        if (anotherInstanceAnswers(instance.serverName()))
            return 0;
        qWarning("Torvel Downloader could not listen under %s: links from other applications will not arrive.",
                 qPrintable(instance.serverName()));
    }

    if (!QtTranslations::installSpanish())
        qWarning("Qt's Spanish translation is not installed (qt6-translations-l10n): Qt's own texts stay in English.");
    QApplication::setWindowIcon(applicationIcon());

    QSettings store;
    AppSettings settings(&store);
    LinuxDesktopServices desktop;
    AppModel model(settings, desktop, configuration->toolHosts, DependencyLocator(),
                   JobFolders(PlatformPaths::jobsRoot()), PlatformPaths::queueStoreFile(),
                   AppUpdateService(configuration->updates));

    MainWindow window(model, desktop);
    window.show();
    DesktopNotifications notifications(desktopEntry);
    LauncherEntry launcher(desktopEntry + QStringLiteral(".desktop"));
    DownloadAttention attention(model, notifications, launcher, [&window] { return window.isActiveWindow(); });
    // In the background the queue's items are told one by one, and the queue's end.
    QObject::connect(&window, &MainWindow::backgroundChanged, &attention, &DownloadAttention::setInBackground);
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     [&desktop] { desktop.activateApplication(); });

    // A link given to this, the first instance, goes the same way as a forwarded one; the model
    // analyzes it once the first tool search has ended.
    if (link)
        IncomingLinks::instance().post(*link);

    const int status = QApplication::exec();
    // An update being prepared when the window closed never resumes: its files go now.
    AppUpdateService::removeWorkFiles();
    // The window closes during a download only after the closing question's grace period;
    // whatever yt-dlp still runs then, FFmpeg included, ends with the application.
    model.service().killProcessTree();
    // The queue's running items stop paused, to go on at the next start.
    model.queue().quit();
    return status;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication::setOrganizationName(QString::fromLatin1(PlatformPaths::organizationName));
    QCoreApplication::setApplicationName(QString::fromLatin1(PlatformPaths::applicationName));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (CommandLine::handles(arguments))
        return runCommandLine(argc, argv);
    if (!displayAvailable(arguments)) {
        std::fputs("Torvel Downloader necesita una sesión gráfica para abrir su ventana. Sus órdenes funcionan sin "
                   "ella: torvel-downloader --help las describe.\n",
                   stderr);
        return 1;
    }
    return runWindows(argc, argv);
}
