#include "updatefixtures.h"

#include "common/filedigest.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>

namespace UpdateFixtures {

QString makeKey(const QString &path) {
    QProcess openssl;
    openssl.start(QStringLiteral("/usr/bin/openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                                                       QStringLiteral("ed25519"), QStringLiteral("-out"), path});
    if (!openssl.waitForFinished() || openssl.exitCode() != 0)
        qFatal("openssl genpkey failed");
    return path;
}

void makeBundle(const QString &bundlePath, const QString &version, qint64 build, const QString &identifier) {
    TestSupport::writeFile(bundlePath + QStringLiteral("/Info.json"),
                           QStringLiteral(R"({"CFBundleIdentifier":"%1","CFBundleShortVersionString":"%2",)"
                                          R"("CFBundleVersion":"%3"})")
                               .arg(identifier, version)
                               .arg(build)
                               .toUtf8());
    TestSupport::writeFile(bundlePath + QStringLiteral("/share/readme.txt"), version.toUtf8());
    TestSupport::writeScript(
        bundlePath + QStringLiteral("/bin/torvel-downloader"),
        QStringLiteral(R"(echo "$(cd "$(dirname "$0")/.." && pwd) %1" >> "$TORVEL_TEST_MARKER")").arg(version));
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

} // namespace UpdateFixtures
