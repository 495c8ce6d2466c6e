#include "selfupdatecommand.h"

#include "console.h"
#include "interruptwatcher.h"

#include "platform/singleinstance.h"
#include "update/appupdateerror.h"
#include "update/appupdateservice.h"
#include "update/bundleseal.h"

#include <QLocalSocket>

#include <cstdlib>

namespace SelfUpdateCommand {

namespace {

void print(FILE *stream, const QString &line) {
    QTextStream &text = stream == stderr ? Console::err() : Console::out();
    text << line << '\n';
    text.flush();
}

// Whether the window's instance answers under its name.
bool windowIsOpen() {
    QLocalSocket probe;
    probe.connectToServer(SingleInstance::defaultServerName());
    const bool answers = probe.waitForConnected(1000);
    probe.abort();
    return answers;
}

QString describe(const QString &version, qint64 build) {
    return version + QStringLiteral(" (compilación ") + QString::number(build) + QLatin1Char(')');
}

} // namespace

// `self-update --verify BUNDLE`: the bundle's seal against this program's release key, for a
// bundle installed by hand.
static int verify(const QString &bundle, const QByteArray &publicKey) {
    if (publicKey.size() != 32) {
        print(stderr, QStringLiteral("Esta compilación no lleva la clave de publicación: no puede comprobar ningún "
                                     "paquete."));
        return 1;
    }
    try {
        BundleSeal::verify(bundle, publicKey);
    } catch (const std::exception &error) {
        print(stderr, describeError(error));
        return 1;
    }
    print(stdout, QStringLiteral("El sello del paquete es válido."));
    return 0;
}

QCoro::Task<int> run(QStringList arguments, AppUpdateService::Configuration configuration) {
    if (arguments.size() == 2 && arguments.first() == QLatin1String("--verify"))
        co_return verify(arguments.at(1), configuration.publicKey);
    const bool checkOnly = arguments == QStringList{QStringLiteral("--check")};
    if (!checkOnly && !arguments.isEmpty()) {
        print(stderr, QStringLiteral("Uso: torvel-downloader self-update [--check | --verify PAQUETE]"));
        co_return 2;
    }
    const std::optional<AppUpdateService> service(std::in_place, std::move(configuration));
    const ApplicationInfo running = service->runningApplication();
    const QString current = QStringLiteral("Torvel Downloader ") + running.displayVersion() +
                            QStringLiteral(" es la versión más reciente.");

    std::optional<AppUpdateManifest> update;
    try {
        const AppUpdateManifest manifest = co_await service->fetchManifest();
        if (manifest.build > running.buildNumber())
            update = manifest;
        if (checkOnly) {
            print(stdout, QStringLiteral("Versión publicada: ") + describe(manifest.version, manifest.build));
            print(stdout,
                  QStringLiteral("Versión instalada: ") + describe(running.displayVersion(), running.buildNumber()));
            print(stdout, update ? QStringLiteral("Hay una versión más reciente: «torvel-downloader self-update» "
                                                  "la instala.")
                                 : current);
            co_return 0;
        }
        if (!update) {
            print(stdout, current);
            co_return 0;
        }
        // The installer would swap the bundle under a running window.
        if (windowIsOpen()) {
            print(stderr, QStringLiteral("Torvel Downloader está abierto. Ciérralo, o actualízalo desde su ventana "
                                         "(«Buscar actualizaciones…»), y vuelve a intentarlo."));
            co_return 1;
        }
        // Ctrl-C while it downloads or unpacks: what the preparation made goes with the command.
        const InterruptWatcher interrupts;
        QObject::connect(&interrupts, &InterruptWatcher::interrupted, [] {
            AppUpdateService::removeWorkFiles();
            print(stderr, QStringLiteral("Actualización cancelada."));
            std::_Exit(130);
        });
        print(stdout, QStringLiteral("Preparando la actualización…"));
        const AppUpdateService::Progress progress = [](const QString &stage) { print(stdout, stage); };
        const AppUpdateManifest chosen = *update;
        const AppUpdateService::Installer installer = co_await service->prepareUpdate(chosen, progress);
        // The window may have been opened while the update downloaded: asked again before the
        // installer is left to swap the bundle.
        if (windowIsOpen()) {
            AppUpdateService::abandon(installer);
            print(stderr, QStringLiteral("Torvel Downloader se abrió durante la descarga de la actualización. "
                                         "Ciérralo y vuelve a intentarlo."));
            co_return 1;
        }
    } catch (const std::exception &error) {
        print(stderr, describeError(error));
        const auto *updateError = dynamic_cast<const AppUpdateError *>(&error);
        if (update && updateError && updateError->kind() == AppUpdateError::Kind::unwritableInstallation)
            print(stderr,
                  QStringLiteral("Paquete para instalarla a mano: ") + update->dmgURL.toString(QUrl::FullyEncoded));
        co_return 1;
    }
    // The installer waits for this process to end, then swaps the bundle and starts the new one.
    print(stdout, QStringLiteral("Reiniciando Torvel Downloader…"));
    co_return 0;
}

} // namespace SelfUpdateCommand
