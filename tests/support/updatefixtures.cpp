#include "updatefixtures.h"

#include "common/filedigest.h"
#include "platform/updateplatform.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace UpdateFixtures {

QString makeKey(const QString &path) {
    QProcess openssl;
    openssl.start(u"/usr/bin/openssl"_s, {u"genpkey"_s, u"-algorithm"_s, u"ed25519"_s, u"-out"_s, path});
    if (!openssl.waitForFinished() || openssl.exitCode() != 0)
        qFatal("openssl genpkey failed");
    return path;
}

void makeBundle(const QString &bundlePath, const QString &version, qint64 build, const QString &identifier,
                const QString &architecture) {
    TestSupport::writeFile(bundlePath + u"/Info.json"_s,
                           QStringLiteral(R"({"CFBundleIdentifier":"%1","CFBundleShortVersionString":"%2",)"
                                          R"("CFBundleVersion":"%3","TorvelArchitecture":"%4",)"
                                          R"("TorvelMinimumGlibc":"2.17"})")
                               .arg(identifier, version)
                               .arg(build)
                               .arg(architecture.isEmpty() ? UpdatePlatform::architecture() : architecture)
                               .toUtf8());
    TestSupport::writeFile(bundlePath + u"/share/readme.txt"_s, version.toUtf8());
    const QString program = bundlePath + u"/bin/torvel-downloader"_s;
    QDir().mkpath(bundlePath + u"/bin"_s);
    QFile::copy(qEnvironmentVariable("TORVEL_TEST_BUNDLE_PROGRAM"), program);
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                       QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

QList<ArchiveFixtures::Entry> entriesOf(const QString &folder, const QString &prefix) {
    QList<ArchiveFixtures::Entry> entries;
    QDirIterator walk(folder, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo info(walk.next());
        const QString name = prefix + QDir(folder).relativeFilePath(info.filePath());
        entries.append(
            ArchiveFixtures::file(name, TestSupport::readFile(info.filePath()), info.isExecutable() ? 0755 : 0644));
    }
    return entries;
}

AppUpdateManifest manifestFor(const QString &archivePath, const QUrl &url, const QString &version, qint64 build) {
    AppUpdateManifest manifest;
    manifest.version = version;
    manifest.build = build;
    manifest.minimumSystemVersion = u"2.17"_s;
    manifest.zipURL = url;
    manifest.dmgURL = url.resolved(QUrl(u"package.tar.gz"_s));
    manifest.sha256 = FileDigest::sha256(archivePath);
    manifest.size = QFileInfo(archivePath).size();
    return manifest;
}

AppUpdateManifest serve(ScriptedHttpServer &server, const QString &folder,
                        const QList<ArchiveFixtures::Entry> &entries) {
    const QString zip = folder + u"/u.zip"_s;
    ArchiveFixtures::write(zip, entries);
    server.route(u"/u.zip"_s, ScriptedHttpServer::Response::ok(TestSupport::readFile(zip)));
    return manifestFor(zip, server.url(u"/u.zip"_s), u"2.0.0"_s, 6);
}

ModelHarness::ModelHarness(const QString &folder, const AppUpdateService::Configuration &updates)
    : store(folder + u"/settings.ini"_s, QSettings::IniFormat), settings(&store, folder + u"/Descargas"_s, folder),
      model(settings, desktop, TestSupport::unreachableToolHosts(),
            DependencyLocator(TestSupport::sandboxedTools(folder)), JobFolders(folder + u"/jobs"_s),
            folder + u"/Queue.sqlite"_s, AppUpdateService(updates)) {
    static_cast<void>(QTest::qWaitFor([this] { return !model.isCheckingApplicationUpdate(); }));
}

} // namespace UpdateFixtures
