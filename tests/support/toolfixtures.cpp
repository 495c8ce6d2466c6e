#include "toolfixtures.h"

#include "platform/toolassets.h"
#include "signingkeys.h"
#include "testsupport.h"
#include "tools/previoustoolcopy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char fakeYTDLP[] = R"(dir='%1'
case "$1" in
--version) cat "$dir/version" 2>/dev/null || echo 2025.01.01; exit 0 ;;
-U) [ -e "$dir/update-script" ] && . "$dir/update-script"; exit 0 ;;
esac)";

const char fakeBrew[] = R"sh(dir='%1'
echo "$*" >> "$dir/brew-calls"
case "$1" in
doctor) cat "$dir/doctor"; exit 1 ;;
uses) cat "$dir/dependents" 2>/dev/null; exit 0 ;;
uninstall) rm -f "$dir/bin/yt-dlp"; echo "Uninstalling /x/Cellar/yt-dlp/1... (10 files)"; exit 0 ;;
esac)sh";

} // namespace

ToolMachine::ToolMachine()
    : store(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat),
      settings(&store, dir.filePath(QStringLiteral("Descargas")), dir.filePath(QStringLiteral("home"))) {
    using Response = ScriptedHttpServer::Response;
    QDir().mkpath(path(QStringLiteral("bin")));
    TestSupport::writeScript(path(QStringLiteral("tools/deno")), QStringLiteral("echo 'deno 2.5.0'"));
    const QByteArray asset = "#!/bin/sh\necho 2025.10.22\n";
    const QString folder = QStringLiteral("/yt-dlp/yt-dlp/releases/latest/download/");
    server.route(folder + ToolAssets::ytDLPAssetName(), Response::ok(asset));
    const QByteArray sums = QCryptographicHash::hash(asset, QCryptographicHash::Sha256).toHex() + "  " +
                            ToolAssets::ytDLPAssetName().toUtf8() + "\n";
    server.route(folder + QStringLiteral("SHA2-256SUMS"), Response::ok(sums));
    server.route(folder + QStringLiteral("SHA2-256SUMS.sig"), Response::ok(SigningKeys::sign(sums)));
    server.route(QStringLiteral("/repos/yt-dlp/yt-dlp/releases/latest"), Response::ok(R"({"tag_name":"2025.10.22"})"));
    server.route(QStringLiteral("/api/formula/yt-dlp.json"), Response::ok(R"({"versions":{"stable":"2025.10.22"}})"));
}

QByteArray ToolMachine::read(const QString &name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void ToolMachine::write(const QString &name, const QByteArray &contents) const {
    TestSupport::writeFile(path(name), contents);
}

void ToolMachine::standaloneYTDLP(const QByteArray &version) const {
    if (!version.isEmpty())
        write(QStringLiteral("version"), version);
    TestSupport::writeScript(path(QStringLiteral("bin/yt-dlp")), QString::fromLatin1(fakeYTDLP).arg(dir.path()));
}

void ToolMachine::homebrewYTDLP(const QByteArray &diagnosis, const QByteArray &dependents) const {
    const QString cellar = path(QStringLiteral("Cellar/yt-dlp/1/bin/yt-dlp"));
    TestSupport::writeScript(cellar, QString::fromLatin1(fakeYTDLP).arg(dir.path()));
    QFile::link(cellar, path(QStringLiteral("bin/yt-dlp")));
    TestSupport::writeScript(path(QStringLiteral("brew")), QString::fromLatin1(fakeBrew).arg(dir.path()));
    write(QStringLiteral("version"), "2025.10.22");
    write(QStringLiteral("doctor"), diagnosis);
    write(QStringLiteral("dependents"), dependents);
}

void ToolMachine::managedYTDLP(const QByteArray &version, const QByteArray &previous) const {
    TestSupport::writeScript(path(QStringLiteral("tools/yt-dlp")),
                             QStringLiteral("echo ") + QString::fromUtf8(version));
    if (previous.isEmpty())
        return;
    const QString kept = TestSupport::writeScript(path(QStringLiteral("tools/yt-dlp.previous")),
                                                  QStringLiteral("echo ") + QString::fromUtf8(previous));
    const QByteArray digest =
        QCryptographicHash::hash(read(QStringLiteral("tools/yt-dlp.previous")), QCryptographicHash::Sha256).toHex();
    PreviousToolCopy{ToolKind::ytDLP,
                     {{QStringLiteral("yt-dlp"), QString::fromUtf8(previous), QString::fromLatin1(digest)}}}
        .write(QFileInfo(kept).path());
}

std::unique_ptr<AppModel> ToolMachine::makeModel(AppModel::Clock clock) {
    LocatorEnvironment environment = TestSupport::sandboxedTools(dir.path());
    environment.homebrewExecutables = {path(QStringLiteral("brew"))};
    const QUrl origin = server.origin();
    auto model = std::make_unique<AppModel>(
        settings, desktop, ToolHosts{origin, origin, origin, origin, SigningKeys::trustedPublicKey()},
        DependencyLocator(environment), JobFolders(path(QStringLiteral("jobs"))), AppUpdateService(), std::move(clock));
    const QDeadlineTimer deadline(10'000);
    while ((model->isCheckingTools() || model->isCheckingUpdates() || model->isCheckingHomebrewSupport()) &&
           !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return model;
}
