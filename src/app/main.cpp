#include "applicationicon.h"
#include "commandline.h"
#include "common/blockingwait.h"
#include "model/appmodel.h"
#include "model/appsettings.h"
#include "platform/applicationinfo.h"
#include "platform/linuxdesktopservices.h"
#include "platform/platformpaths.h"
#include "platform/singleinstance.h"
#include "ui/main/mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocalSocket>
#include <QSettings>
#include <QTranslator>

#include <memory>
#include <optional>

namespace {

int runCommandLine(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    return BlockingWait::wait(CommandLine::run(QCoreApplication::arguments()));
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

// Qt's own texts (the context menus of text fields, standard buttons) in the interface's language.
void installQtTranslations(QApplication &application) {
    auto *translator = new QTranslator(&application);
    if (translator->load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

void postWhenToolsAreKnown(AppModel &model, const QUrl &link) {
    if (!model.isCheckingTools()) {
        IncomingLinks::instance().post(link);
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&model, &AppModel::toolsChanged, &model, [&model, link, connection] {
        if (model.isCheckingTools())
            return;
        QObject::disconnect(*connection);
        IncomingLinks::instance().post(link);
    });
}

int runWindows(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("torvel-downloader"));
    QCoreApplication::setApplicationVersion(ApplicationInfo::current().displayVersion());

    // One instance per user. A later start hands its link to the running one, or asks it for
    // its window, and ends.
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

    installQtTranslations(application);
    QApplication::setWindowIcon(applicationIcon());

    QSettings store;
    AppSettings settings(&store);
    LinuxDesktopServices desktop;
    AppModel model(settings, desktop);

    MainWindow window(model, desktop);
    window.show();
    QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                     [&desktop] { desktop.activateApplication(); });

    // A link given to this, the first instance, goes the same way as a forwarded one, once the
    // first tool search has found yt-dlp: analyzing earlier would only report it missing.
    if (link)
        postWhenToolsAreKnown(model, *link);

    const int status = QApplication::exec();
    // The window closes during a download only after the closing question's grace period;
    // whatever yt-dlp still runs then, FFmpeg included, ends with the application.
    model.service().killProcessTree();
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
    return runWindows(argc, argv);
}
