// How long the interface thread stays away from its event loop while a tool operation floods
// the options window with output. A fake stand-alone yt-dlp "updates" itself by printing as fast
// as it can; the model and the shown tools page take every line. A 1 ms timer on the interface
// thread measures the longest gap between two turns of the loop.
// Usage: bench_toolflood [lines N | noline BYTES | bytes BYTES]   (default: lines 200000)
#include "common/blockingwait.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
#include "ui/options/optionswindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1, QStringLiteral("lines"));
    const qint64 amount = arguments.value(2, QStringLiteral("200000")).toLongLong();
    QString flood;
    if (mode == QLatin1String("noline"))
        flood = QStringLiteral("head -c %1 /dev/zero | tr '\\000' x").arg(amount);
    else if (mode == QLatin1String("bytes"))
        flood = QStringLiteral("yes 'Descargando fragmento con texto de prueba' | head -c %1").arg(amount);
    else
        flood = QStringLiteral("yes 'Descargando fragmento con texto de prueba' | head -n %1").arg(amount);

    QTemporaryDir dir;
    const QString folder = dir.path();
    TestSupport::writeScript(folder + QStringLiteral("/bin/yt-dlp"),
                             QStringLiteral("[ \"$1\" = --version ] && { echo 2025.01.01; exit 0; }\n") + flood);
    ScriptedHttpServer server;
    server.route(QStringLiteral("/repos/yt-dlp/yt-dlp/releases/latest"),
                 ScriptedHttpServer::Response::ok(R"({"tag_name":"2025.10.22"})"));
    QSettings store(folder + QStringLiteral("/settings.ini"), QSettings::IniFormat);
    AppSettings settings(&store, folder, folder);
    FakeDesktopServices desktop;
    const QUrl origin = server.origin();
    AppModel model(settings, desktop, ToolHosts{origin, origin, origin, origin},
                   DependencyLocator(TestSupport::sandboxedTools(folder)), JobFolders(folder + QStringLiteral("/jobs")),
                   folder + QStringLiteral("/Queue.sqlite"));
    while (model.isCheckingTools() || model.isCheckingUpdates())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    model.setSelectedOptionsTab(AppModel::OptionsTab::tools);
    OptionsWindow window(model);
    if (!qEnvironmentVariableIsSet("NO_WINDOW"))
        window.show();

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
    });
    int batches = 0;
    QObject::connect(&model, &AppModel::updateLogChanged, [&] { ++batches; });

    QElapsedTimer total;
    total.start();
    sinceTick.start();
    probe.start();
    BlockingWait::wait(model.updateTools(ToolKind::ytDLP));
    probe.stop();
    std::printf("%s %lld: %lld ms in all, longest time away from the event loop %lld ms, %d log updates, "
                "log %lld characters, outcome %d (%s)\n",
                qPrintable(mode), amount, total.elapsed(), longestGap, batches, qint64(model.updateLog().size()),
                int(model.updateOutcome()), qPrintable(model.updateMessage().left(120)));
    return 0;
}
