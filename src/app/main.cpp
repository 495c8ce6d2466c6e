#include "commandline.h"
#include "common/blockingwait.h"
#include "platform/platformpaths.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>

#include <memory>

namespace {

int runCommandLine(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    return BlockingWait::wait(CommandLine::run(QCoreApplication::arguments()));
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

    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Torvel Downloader"));
    window.setCentralWidget(new QLabel(QStringLiteral("Torvel Downloader"), &window));
    window.resize(980, 760);
    window.show();
    return QApplication::exec();
}
