#include "updatefixtures.h"

#include "common/filedigest.h"
#include "platform/updateplatform.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace UpdateFixtures {

QString makeKey(const QString &path) {
    QProcess openssl;
    openssl.start(QStringLiteral("/usr/bin/openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                                                       QStringLiteral("ed25519"), QStringLiteral("-out"), path});
    if (!openssl.waitForFinished() || openssl.exitCode() != 0)
        qFatal("openssl genpkey failed");
    return path;
}

void makeBundle(const QString &bundlePath, const QString &version, qint64 build, const QString &identifier,
                const QString &architecture) {
    TestSupport::writeFile(bundlePath + QStringLiteral("/Info.json"),
                           QStringLiteral(R"({"CFBundleIdentifier":"%1","CFBundleShortVersionString":"%2",)"
                                          R"("CFBundleVersion":"%3","TorvelArchitecture":"%4",)"
                                          R"("TorvelMinimumGlibc":"2.17"})")
                               .arg(identifier, version)
                               .arg(build)
                               .arg(architecture.isEmpty() ? UpdatePlatform::architecture() : architecture)
                               .toUtf8());
    TestSupport::writeFile(bundlePath + QStringLiteral("/share/readme.txt"), version.toUtf8());
    const QString program = bundlePath + QStringLiteral("/bin/torvel-downloader");
    QDir().mkpath(bundlePath + QStringLiteral("/bin"));
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
        QFile file(info.filePath());
        file.open(QIODevice::ReadOnly);
        entries.append(ArchiveFixtures::file(name, file.readAll(), info.isExecutable() ? 0755 : 0644));
    }
    return entries;
}

AppUpdateManifest manifestFor(const QString &archivePath, const QUrl &url, const QString &version, qint64 build) {
    AppUpdateManifest manifest;
    manifest.version = version;
    manifest.build = build;
    manifest.minimumSystemVersion = QStringLiteral("2.17");
    manifest.zipURL = url;
    manifest.dmgURL = url.resolved(QUrl(QStringLiteral("package.tar.gz")));
    manifest.sha256 = FileDigest::sha256(archivePath);
    manifest.size = QFileInfo(archivePath).size();
    return manifest;
}

AppUpdateManifest serve(ScriptedHttpServer &server, const QString &folder,
                        const QList<ArchiveFixtures::Entry> &entries) {
    const QString zip = folder + QStringLiteral("/u.zip");
    ArchiveFixtures::write(zip, entries);
    QFile file(zip);
    file.open(QIODevice::ReadOnly);
    server.route(QStringLiteral("/u.zip"), ScriptedHttpServer::Response::ok(file.readAll()));
    return manifestFor(zip, server.url(QStringLiteral("/u.zip")), QStringLiteral("2.0.0"), 6);
}

ModelHarness::ModelHarness(const QString &folder, const AppUpdateService::Configuration &updates)
    : store(folder + QStringLiteral("/settings.ini"), QSettings::IniFormat),
      settings(&store, folder + QStringLiteral("/Descargas"), folder),
      model(settings, desktop, TestSupport::unreachableToolHosts(),
            DependencyLocator(TestSupport::sandboxedTools(folder)), JobFolders(folder + QStringLiteral("/jobs")),
            AppUpdateService(updates)) {
    static_cast<void>(QTest::qWaitFor([this] { return !model.isCheckingApplicationUpdate(); }));
}

} // namespace UpdateFixtures
