#pragma once

#include "platform/applicationinfo.h"
#include "platform/archiveextractor.h"
#include "update/appupdatemanifest.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

class QIODevice;

// Finds, proves and installs a new version of the application. It keeps no state between
// calls: everything it needs is its configuration, fixed when it is made.
class AppUpdateService {
public:
    // The sealed Info.json's entries that tie a release to a processor ("x86_64", "aarch64") and
    // to the lowest glibc it runs on.
    static constexpr char architectureKey[] = "TorvelArchitecture";
    static constexpr char minimumGlibcKey[] = "TorvelMinimumGlibc";

    // A stage text for the user; may be called on any thread.
    using Progress = std::function<void(const QString &)>;

    struct Configuration {
        // The manifest's address; its scheme and host are the only authorised origin. Empty:
        // no update host is configured and every check fails without touching the network.
        QUrl manifestURL;
        // The raw Ed25519 public key of the maker's release key. Anything but 32 bytes: every
        // downloaded bundle is refused.
        QByteArray publicKey;
        QString bundleIdentifier;
        // The bundle the running application was started from, if any. Without one the
        // installation cannot be replaced.
        std::optional<QString> installedBundle;
        qint64 processID = 0;                               // the process the installer waits for; 0: this one
        QString temporaryFolder;                            // empty: the system's
        QString systemVersion;                              // empty: the running system's (glibc)
        std::chrono::milliseconds manifestTimeout{15'000};  // without a byte arriving
        std::chrono::milliseconds manifestDeadline{60'000}; // for the whole manifest
        std::chrono::milliseconds downloadTimeout{120'000}; // without a byte arriving
        qint64 maxManifestBytes = 1024 * 1024;
        qint64 maxDownloadBytes = qint64(1024) * 1024 * 1024;
        ArchiveExtractor::Limits unpackLimits;
        QString copyProgram = QStringLiteral("/bin/cp");
        QString openProgram = QStringLiteral("/usr/bin/xdg-open");
        int installerWaitTenths = 300; // how long the installer waits for the application to quit

        // What the application uses: the update host and release key compiled in, or the
        // manifest address of TORVEL_UPDATE_MANIFEST_URL (throws ServiceAddressError when it is
        // not acceptable), and the bundle of the running executable.
        static Configuration system(const QProcessEnvironment &environment);
    };

    // Without an update host: every check fails without touching the network.
    AppUpdateService();
    explicit AppUpdateService(Configuration configuration);

    const Configuration &configuration() const { return m_configuration; }
    // The running application's information entries: the installed bundle's, else the build's.
    ApplicationInfo runningApplication() const;

    // The published manifest, fetched and checked (values, origins, minimum system), whatever
    // its build. Throws AppUpdateError, or PlatformError for a transport failure.
    QCoro::Task<AppUpdateManifest> fetchManifest() const;
    // The manifest when its build is newer than currentBuild, otherwise nothing.
    QCoro::Task<std::optional<AppUpdateManifest>> latestUpdate(qint64 currentBuild) const;
    // The installer script started for a prepared update, waiting for this process to end.
    struct Installer {
        qint64 processID = 0;
        QString script;
        QString updateRoot;
    };
    // Downloads, proves and unpacks the update and starts the installer script, which waits for
    // this process to end. Leaves no work file behind when it throws, nor when the process ends
    // while it is under way.
    QCoro::Task<Installer> prepareUpdate(AppUpdateManifest manifest, Progress progress) const;
    // Stops an installer that still waits and removes its script and work folder.
    static void abandon(const Installer &installer);
    // Removes what preparations still under way have made (a partial download, a work folder):
    // such a preparation never resumes once the application has quit. Called when the
    // application ends, and again, as a last resort, when the process exits.
    static void removeWorkFiles();

    // The origin test: https (or the override's scheme) and exactly the update host.
    bool isAuthorised(const QUrl &url) const;
    // The minimum-system test of a dotted version text against the running one.
    static bool systemSupports(const QString &minimumVersion, const QString &runningVersion);
    // Identity, version, build, processor, glibc, the bin/ program (native code) and the seal of
    // an unpacked bundle, which must be a folder itself, not a link. Reads every file: call it
    // off the interface thread.
    void validateApplication(const QString &bundlePath, const AppUpdateManifest &expected) const;

private:
    QCoro::Task<QByteArray> transfer(QUrl url, bool manifest, QIODevice *sink, qint64 expectedSize) const;
    void validateTorvelURL(const QUrl &url) const;
    Installer launchInstaller(const QString &applicationPath, const QString &updateRoot, const QUrl &fallbackDMG) const;
    QString temporaryFolder() const;
    QString runningSystemVersion() const;

    Configuration m_configuration;
};
