#pragma once

#include "archivefixtures.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "scriptedhttpserver.h"
#include "update/appupdateservice.h"

#include <QSettings>

// Release bundles for the self-update tests, and a model to install them with.
namespace UpdateFixtures {

// A new Ed25519 private key (PEM) at path, made by OpenSSL's command-line tool.
QString makeKey(const QString &path);

// A bundle folder: Info.json (for this processor unless architecture says otherwise, glibc
// 2.17), share/readme.txt and a bin/torvel-downloader, native code, that appends
// "<its bundle> <version>" to the file named by TORVEL_TEST_MARKER.
void makeBundle(const QString &bundlePath, const QString &version, qint64 build,
                const QString &identifier = QStringLiteral("app.torvel.downloader"), const QString &architecture = {});

// Every file under folder as archive entries below prefix, with their permissions.
QList<ArchiveFixtures::Entry> entriesOf(const QString &folder, const QString &prefix);

// A manifest whose archive is served at url, with its real size and digest.
AppUpdateManifest manifestFor(const QString &archivePath, const QUrl &url, const QString &version, qint64 build);

// Writes the entries as folder/u.zip, serves it as /u.zip and describes it as version 2.0.0, build 6.
AppUpdateManifest serve(ScriptedHttpServer &server, const QString &folder,
                        const QList<ArchiveFixtures::Entry> &entries);

// A model with settings and tools confined to folder and the given update service, its
// automatic update check over.
struct ModelHarness {
    ModelHarness(const QString &folder, const AppUpdateService::Configuration &updates);
    QSettings store;
    AppSettings settings;
    FakeDesktopServices desktop;
    AppModel model;
};

} // namespace UpdateFixtures
