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

using namespace Qt::StringLiterals;

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
    : store(dir.filePath(u"settings.ini"_s), QSettings::IniFormat),
      settings(&store, dir.filePath(u"Descargas"_s), dir.filePath(u"home"_s)) {
    using Response = ScriptedHttpServer::Response;
    QDir().mkpath(path(u"bin"_s));
    TestSupport::writeScript(path(u"tools/deno"_s), u"echo 'deno 2.5.0'"_s);
    const QByteArray asset = "#!/bin/sh\necho 2025.10.22\n";
    const QString folder = u"/yt-dlp/yt-dlp/releases/latest/download/"_s;
    server.route(folder + ToolAssets::ytDLPAssetName(), Response::ok(asset));
    const QByteArray sums = QCryptographicHash::hash(asset, QCryptographicHash::Sha256).toHex() + "  " +
                            ToolAssets::ytDLPAssetName().toUtf8() + "\n";
    server.route(folder + u"SHA2-256SUMS"_s, Response::ok(sums));
    server.route(folder + u"SHA2-256SUMS.sig"_s, Response::ok(SigningKeys::sign(sums)));
    server.route(u"/repos/yt-dlp/yt-dlp/releases/latest"_s, Response::ok(R"({"tag_name":"2025.10.22"})"));
    server.route(u"/api/formula/yt-dlp.json"_s, Response::ok(R"({"versions":{"stable":"2025.10.22"}})"));
}

QByteArray ToolMachine::read(const QString &name) const {
    return TestSupport::readFile(path(name));
}

void ToolMachine::write(const QString &name, const QByteArray &contents) const {
    TestSupport::writeFile(path(name), contents);
}

void ToolMachine::standaloneYTDLP(const QByteArray &version) const {
    if (!version.isEmpty())
        write(u"version"_s, version);
    TestSupport::writeScript(path(u"bin/yt-dlp"_s), QString::fromLatin1(fakeYTDLP).arg(dir.path()));
}

void ToolMachine::homebrewYTDLP(const QByteArray &diagnosis, const QByteArray &dependents) const {
    const QString cellar = path(u"Cellar/yt-dlp/1/bin/yt-dlp"_s);
    TestSupport::writeScript(cellar, QString::fromLatin1(fakeYTDLP).arg(dir.path()));
    QFile::link(cellar, path(u"bin/yt-dlp"_s));
    TestSupport::writeScript(path(u"brew"_s), QString::fromLatin1(fakeBrew).arg(dir.path()));
    write(u"version"_s, "2025.10.22");
    write(u"doctor"_s, diagnosis);
    write(u"dependents"_s, dependents);
}

void ToolMachine::managedYTDLP(const QByteArray &version, const QByteArray &previous) const {
    TestSupport::writeScript(path(u"tools/yt-dlp"_s), u"echo "_s + QString::fromUtf8(version));
    if (previous.isEmpty())
        return;
    const QString kept =
        TestSupport::writeScript(path(u"tools/yt-dlp.previous"_s), u"echo "_s + QString::fromUtf8(previous));
    const QByteArray digest =
        QCryptographicHash::hash(read(u"tools/yt-dlp.previous"_s), QCryptographicHash::Sha256).toHex();
    PreviousToolCopy{ToolKind::ytDLP, {{u"yt-dlp"_s, QString::fromUtf8(previous), QString::fromLatin1(digest)}}}.write(
        QFileInfo(kept).path());
}

std::unique_ptr<AppModel> ToolMachine::makeModel(AppModel::Clock clock) {
    LocatorEnvironment environment = TestSupport::sandboxedTools(dir.path());
    environment.homebrewExecutables = {path(u"brew"_s)};
    const QUrl origin = server.origin();
    auto model =
        std::make_unique<AppModel>(settings, desktop,
                                   offline ? TestSupport::unreachableToolHosts()
                                           : ToolHosts{origin, origin, origin, origin, SigningKeys::trustedPublicKey()},
                                   DependencyLocator(environment), JobFolders(path(u"jobs"_s)), path(u"Queue.sqlite"_s),
                                   AppUpdateService(), std::move(clock));
    const QDeadlineTimer deadline(10'000);
    while ((model->isCheckingTools() || model->isCheckingUpdates() || model->isCheckingHomebrewSupport()) &&
           !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return model;
}
