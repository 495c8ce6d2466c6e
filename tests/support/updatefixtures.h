#pragma once

#include "archivefixtures.h"
#include "update/appupdateservice.h"

#include <QByteArray>
#include <QString>

// Release bundles for the self-update tests: sealed with keys the test makes, zipped, described
// by a manifest, served from a local server.
namespace UpdateFixtures {

// A new Ed25519 private key (PEM) at path, made by OpenSSL's command-line tool.
QString makeKey(const QString &path);

// A bundle folder: Info.json, share/readme.txt and a bin/torvel-downloader that appends
// "<its bundle> <version>" to the file named by TORVEL_TEST_MARKER.
void makeBundle(const QString &bundlePath, const QString &version, qint64 build,
                const QString &identifier = QStringLiteral("app.torvel.downloader"));

// Every file under folder as archive entries below prefix, with their permissions.
QList<ArchiveFixtures::Entry> entriesOf(const QString &folder, const QString &prefix);

// A manifest whose archive is served at url, with its real size and digest.
AppUpdateManifest manifestFor(const QString &archivePath, const QUrl &url, const QString &version, qint64 build);

} // namespace UpdateFixtures
