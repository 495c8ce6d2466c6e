#include "appupdateservice.h"

#include "common/background.h"
#include "common/filedigest.h"
#include "common/serviceaddress.h"
#include "platform/nativeexecutable.h"
#include "platform/platformpaths.h"
#include "platform/updateplatform.h"
#include "update/appupdateerror.h"
#include "update/bundleseal.h"
#include "update/installerscript.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>

#include <QCoroNetworkReply>

#include <QJsonValue>
#include <QMutex>
#include <QSet>

#include <array>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char newBundleName[] = "Torvel Downloader.app";

[[noreturn]] void refuse(AppUpdateError::Kind kind) {
    throw AppUpdateError(kind);
}

QString newUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Digits with an optional sign, as the build number is read.
std::optional<qint64> decimal(const QString &text) {
    return ApplicationInfo::parseBuild(text);
}

// The three leading integers of a dotted version; pieces that are not integers are dropped.
std::optional<std::array<qint64, 3>> versionTriple(const QString &text) {
    QList<qint64> numbers;
    for (const QString &piece : text.split(QLatin1Char('.'), Qt::SkipEmptyParts))
        if (const auto number = decimal(piece))
            numbers.append(*number);
    if (numbers.isEmpty())
        return std::nullopt;
    return std::array<qint64, 3>{numbers.value(0), numbers.value(1), numbers.value(2)};
}

// Work files of preparations under way. A preparation that is still waiting when the
// application quits never resumes, so what it made is removed when the process ends.
class WorkFiles {
public:
    static WorkFiles &instance() {
        static WorkFiles files;
        return files;
    }
    void add(const QString &path) {
        const QMutexLocker lock(&m_mutex);
        m_paths.insert(path);
    }
    void forget(const QString &path) {
        const QMutexLocker lock(&m_mutex);
        m_paths.remove(path);
    }
    void removeAll() {
        const QMutexLocker lock(&m_mutex);
        for (const QString &path : std::as_const(m_paths))
            ArchiveExtractor::removeTree(path);
        m_paths.clear();
    }
    ~WorkFiles() { removeAll(); }

private:
    QMutex m_mutex;
    QSet<QString> m_paths;
};

// A work file or folder, removed on every way out unless the installer took it over.
class WorkItem {
public:
    explicit WorkItem(QString path) : m_path(std::move(path)) { WorkFiles::instance().add(m_path); }
    WorkItem(const WorkItem &) = delete;
    WorkItem &operator=(const WorkItem &) = delete;
    ~WorkItem() {
        if (!m_handedOver)
            ArchiveExtractor::removeTree(m_path);
        WorkFiles::instance().forget(m_path);
    }
    const QString &path() const { return m_path; }
    void handOver() { m_handedOver = true; }

private:
    QString m_path;
    bool m_handedOver = false;
};

// A folder of this user's only, so that nobody else can change what is checked in it.
void createPrivateFolder(const QString &path) {
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        throw PlatformError(QStringLiteral("No se pudo crear la carpeta ") + path + QStringLiteral("."));
}

// A folder itself, not a link to one.
bool isRealFolder(const QString &path, mode_t mode = 0) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           (mode == 0 || (status.st_mode & 07777) == mode);
}

// A regular file itself, not a link to one, of at most maxBytes.
bool isRegularFile(const QString &path, qint64 maxBytes) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_size <= maxBytes;
}

} // namespace

AppUpdateService::Configuration AppUpdateService::Configuration::system(const QProcessEnvironment &environment) {
    Configuration configuration;
    if (const auto manifest = ServiceAddress::override(environment, QStringLiteral("TORVEL_UPDATE_MANIFEST_URL"),
                                                       ServiceAddress::Shape::address))
        configuration.manifestURL = *manifest;
    else
        configuration.manifestURL = QUrl(QStringLiteral(TORVEL_UPDATE_HOST) + UpdatePlatform::manifestPath());
    const QByteArray key = QByteArray::fromBase64(QByteArrayLiteral(TORVEL_UPDATE_PUBLIC_KEY));
    if (key.size() == 32)
        configuration.publicKey = key;
    configuration.bundleIdentifier = QString::fromLatin1(PlatformPaths::bundleIdentifier);
    configuration.installedBundle = ApplicationInfo::bundleContaining(QCoreApplication::applicationFilePath());
    return configuration;
}

AppUpdateService::AppUpdateService() : AppUpdateService(Configuration()) {}

AppUpdateService::AppUpdateService(Configuration configuration) : m_configuration(std::move(configuration)) {
    if (m_configuration.bundleIdentifier.isEmpty())
        m_configuration.bundleIdentifier = QString::fromLatin1(PlatformPaths::bundleIdentifier);
}

ApplicationInfo AppUpdateService::runningApplication() const {
    if (m_configuration.installedBundle)
        return ApplicationInfo::fromBundle(*m_configuration.installedBundle);
    return ApplicationInfo::current();
}

QString AppUpdateService::temporaryFolder() const {
    return m_configuration.temporaryFolder.isEmpty() ? QDir::tempPath() : m_configuration.temporaryFolder;
}

QString AppUpdateService::runningSystemVersion() const {
    return m_configuration.systemVersion.isEmpty() ? UpdatePlatform::systemVersion() : m_configuration.systemVersion;
}

bool AppUpdateService::isAuthorised(const QUrl &url) const {
    const QUrl &origin = m_configuration.manifestURL;
    return !url.scheme().isEmpty() && !url.host().isEmpty() && !origin.host().isEmpty() &&
           url.scheme().toLower() == origin.scheme().toLower() && url.host().toLower() == origin.host().toLower();
}

void AppUpdateService::validateTorvelURL(const QUrl &url) const {
    if (!isAuthorised(url))
        refuse(AppUpdateError::Kind::untrustedURL);
}

bool AppUpdateService::systemSupports(const QString &minimumVersion, const QString &runningVersion) {
    const auto minimum = versionTriple(minimumVersion);
    const auto running = versionTriple(runningVersion);
    return minimum && running && *running >= *minimum;
}

QCoro::Task<QByteArray> AppUpdateService::transfer(QUrl url, bool manifest, QIODevice *sink,
                                                   qint64 expectedSize) const {
    enum class Stop { none, untrusted, tooLarge, sinkFailed, deadline };
    const qint64 limit = manifest ? m_configuration.maxManifestBytes : expectedSize;
    const AppUpdateError::Kind oversize =
        manifest ? AppUpdateError::Kind::invalidServerResponse : AppUpdateError::Kind::invalidDownload;

    // Deleted later, never inside one of the reply's own signals.
    auto *network = new QNetworkAccessManager;
    const auto cleanUp = qScopeGuard([network] { network->deleteLater(); });
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Every redirect must stay on the authorised origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    const auto timeout = manifest ? m_configuration.manifestTimeout : m_configuration.downloadTimeout;
    request.setTransferTimeout(int(timeout.count()));
    if (manifest)
        request.setRawHeader("Accept", "application/json");

    QNetworkReply *reply = network->get(request);
    reply->setReadBufferSize(256 * 1024);
    Stop stop = Stop::none;
    QString sinkError;
    QByteArray body;
    qint64 received = 0;
    const QPointer<QNetworkReply> guarded(reply);
    const auto halt = [&stop, guarded](Stop reason) {
        if (stop == Stop::none)
            stop = reason;
        QMetaObject::invokeMethod(
            guarded,
            [guarded] {
                if (guarded)
                    guarded->abort();
            },
            Qt::QueuedConnection);
    };
    // The handlers refer to this frame: they end with it.
    QObject handlers;
    QObject::connect(reply, &QNetworkReply::redirected, &handlers, [&, reply](const QUrl &target) {
        if (isAuthorised(target))
            Q_EMIT reply->redirectAllowed();
        else
            halt(Stop::untrusted);
    });
    // A server announcing more than can be wanted is cut off before its body arrives.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &handlers, [&, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 200 && length.isValid() && length.toLongLong() > limit)
            halt(Stop::tooLarge);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &handlers, [&, reply] {
        const QByteArray chunk = reply->readAll();
        if (stop != Stop::none)
            return;
        received += chunk.size();
        if (received > limit)
            return halt(Stop::tooLarge);
        if (!sink)
            body.append(chunk);
        else if (sink->write(chunk) != chunk.size()) {
            sinkError = sink->errorString();
            halt(Stop::sinkFailed);
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &handlers, [&] { halt(Stop::deadline); });
    if (manifest)
        deadline.start(m_configuration.manifestDeadline);

    co_await qCoro(reply).waitForFinished();

    switch (stop) {
    case Stop::untrusted:
        refuse(AppUpdateError::Kind::untrustedURL);
    case Stop::tooLarge:
        refuse(oversize);
    case Stop::sinkFailed:
        throw PlatformError(sinkError);
    case Stop::deadline:
        throw PlatformError(QStringLiteral("El servidor de actualizaciones tardó demasiado en responder."));
    case Stop::none:
        break;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200)
        refuse(AppUpdateError::Kind::invalidServerResponse);
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError)
        // Qt ends a transfer that stalls longer than its timeout as if it had been cancelled.
        throw PlatformError(QStringLiteral("Se agotó el tiempo de espera de la conexión."));
    if (reply->error() != QNetworkReply::NoError)
        throw PlatformError(reply->errorString());
    if (!status.isValid())
        refuse(AppUpdateError::Kind::invalidServerResponse);
    co_return body;
}

QCoro::Task<AppUpdateManifest> AppUpdateService::fetchManifest() const {
    if (!m_configuration.manifestURL.isValid() || m_configuration.manifestURL.isEmpty())
        refuse(AppUpdateError::Kind::invalidServerResponse);
    const QUrl url = m_configuration.manifestURL;
    const QByteArray body = co_await transfer(url, true, nullptr, -1);
    const AppUpdateManifest manifest = AppUpdateManifest::decode(body);
    if (manifest.build < 1 || manifest.version.isEmpty() || manifest.size < 1 || manifest.sha256.size() != 64)
        refuse(AppUpdateError::Kind::invalidManifest);
    validateTorvelURL(manifest.zipURL);
    validateTorvelURL(manifest.dmgURL);
    if (!systemSupports(manifest.minimumSystemVersion, runningSystemVersion()))
        throw AppUpdateError(AppUpdateError::Kind::unsupportedSystem, manifest.minimumSystemVersion);
    co_return manifest;
}

QCoro::Task<std::optional<AppUpdateManifest>> AppUpdateService::latestUpdate(qint64 currentBuild) const {
    const AppUpdateManifest manifest = co_await fetchManifest();
    if (manifest.build > currentBuild)
        co_return manifest;
    co_return std::nullopt;
}

void AppUpdateService::validateApplication(const QString &bundlePath, const AppUpdateManifest &expected) const {
    // The bundle and what is read before the seal is checked must be themselves, not links: a
    // link would be copied as a link, and could lead anywhere.
    const QString information = bundlePath + QStringLiteral("/Info.json");
    const QString program = bundlePath + QStringLiteral("/bin/torvel-downloader");
    if (!isRealFolder(QFileInfo(bundlePath).path()) || !isRealFolder(bundlePath, 0755) ||
        !isRegularFile(information, 1024 * 1024) || !isRealFolder(bundlePath + QStringLiteral("/bin"), 0755) ||
        !isRegularFile(program, m_configuration.maxDownloadBytes))
        refuse(AppUpdateError::Kind::invalidApplication);
    const ApplicationInfo info = ApplicationInfo::fromBundle(bundlePath);
    const std::optional<qint64> build = info.version ? decimal(*info.version) : std::nullopt;
    if (info.identifier != m_configuration.bundleIdentifier || info.shortVersion != expected.version ||
        build != expected.build)
        refuse(AppUpdateError::Kind::invalidApplication);
    // The release says which processor and which glibc it is for; the manifest's minimum is not
    // sealed, this one is.
    const QJsonObject entries = ApplicationInfo::entriesOf(bundlePath);
    const QJsonValue architecture = entries.value(QLatin1String(architectureKey));
    const QJsonValue glibc = entries.value(QLatin1String(minimumGlibcKey));
    if (architecture.toString() != UpdatePlatform::architecture() || !glibc.isString() ||
        !QFileInfo(program).isExecutable() || !NativeExecutable::isNativeExecutable(program))
        refuse(AppUpdateError::Kind::invalidApplication);
    if (!systemSupports(glibc.toString(), runningSystemVersion()))
        throw AppUpdateError(AppUpdateError::Kind::unsupportedSystem, glibc.toString());
    // A build without the release key trusts no bundle at all.
    if (m_configuration.publicKey.size() != 32)
        refuse(AppUpdateError::Kind::invalidApplication);
    BundleSeal::verify(bundlePath, m_configuration.publicKey);
}

QCoro::Task<AppUpdateService::Installer> AppUpdateService::prepareUpdate(AppUpdateManifest manifest,
                                                                         Progress progress) const {
    validateTorvelURL(manifest.zipURL);
    // Without the release key nothing could be proved: nothing is downloaded.
    if (m_configuration.publicKey.size() != 32)
        refuse(AppUpdateError::Kind::invalidApplication);
    if (manifest.size > m_configuration.maxDownloadBytes)
        refuse(AppUpdateError::Kind::invalidDownload);
    progress(QStringLiteral("Descargando Torvel Downloader ") + manifest.version + QStringLiteral("…"));

    QTemporaryFile download(temporaryFolder() + QStringLiteral("/TorvelDownloader-Download-XXXXXX.zip"));
    if (!download.open())
        throw PlatformError(download.errorString());
    const WorkItem downloadItem(download.fileName());
    const QUrl zipURL = manifest.zipURL;
    QIODevice *sink = &download;
    co_await transfer(zipURL, false, sink, manifest.size);
    if (!download.flush())
        throw PlatformError(download.errorString());
    download.close();
    if (QFileInfo(download.fileName()).size() != manifest.size)
        refuse(AppUpdateError::Kind::invalidDownload);

    progress(QStringLiteral("Verificando la integridad del archivo…"));
    const QString digest = co_await FileDigest::sha256InBackground(download.fileName());
    if (digest.compare(manifest.sha256, Qt::CaseInsensitive) != 0)
        refuse(AppUpdateError::Kind::checksumMismatch);

    WorkItem updateRoot(temporaryFolder() + QStringLiteral("/TorvelDownloader-Update-") + newUuid());
    createPrivateFolder(updateRoot.path());
    const QString extracted = updateRoot.path() + QStringLiteral("/extracted");
    createPrivateFolder(extracted);
    // The download is not needed under its own name any more: moved, not copied.
    const QString archive = updateRoot.path() + QStringLiteral("/update.zip");
    if (!download.rename(archive))
        throw PlatformError(download.errorString());
    download.setAutoRemove(false);

    progress(QStringLiteral("Comprobando el paquete de la aplicación…"));
    const ArchiveExtractor::Limits limits = m_configuration.unpackLimits;
    try {
        co_await ArchiveExtractor::extractInBackground(archive, extracted, {}, limits);
    } catch (const ArchiveError &error) {
        throw AppUpdateError(AppUpdateError::Kind::commandFailed, error.errorDescription());
    }
    const QString application = extracted + QLatin1Char('/') + QLatin1String(newBundleName);
    auto validate = [this, application, manifest] { validateApplication(application, manifest); };
    co_await Background::run(validate);

    progress(QStringLiteral("Preparando el reinicio…"));
    const Installer installer = launchInstaller(application, updateRoot.path(), manifest.dmgURL);
    updateRoot.handOver();
    co_return installer;
}

void AppUpdateService::removeWorkFiles() {
    WorkFiles::instance().removeAll();
}

void AppUpdateService::abandon(const Installer &installer) {
    // Only while the process is still that script: its number may be another's by now.
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(installer.processID));
    if (installer.processID > 0 && commandLine.open(QIODevice::ReadOnly) &&
        commandLine.readAll().split('\0').contains(QFile::encodeName(installer.script))) {
        // It leads a session of its own: its sleep goes with it.
        ::kill(-pid_t(installer.processID), SIGKILL);
        ::kill(pid_t(installer.processID), SIGKILL);
    }
    QFile::remove(installer.script);
    ArchiveExtractor::removeTree(installer.updateRoot);
}

AppUpdateService::Installer AppUpdateService::launchInstaller(const QString &applicationPath, const QString &updateRoot,
                                                              const QUrl &fallbackDMG) const {
    if (!m_configuration.installedBundle)
        refuse(AppUpdateError::Kind::unwritableInstallation);
    const QString target = QDir::cleanPath(QFileInfo(*m_configuration.installedBundle).absoluteFilePath());
    const QString parent = QFileInfo(target).absolutePath();
    if (!target.endsWith(QStringLiteral(".app")) || !UpdatePlatform::canReplaceIn(parent))
        refuse(AppUpdateError::Kind::unwritableInstallation);

    const QString script = temporaryFolder() + QStringLiteral("/torvel-updater-") + newUuid() + QStringLiteral(".sh");
    const QString backup = parent + QStringLiteral("/.Torvel Downloader.backup-") + newUuid() + QStringLiteral(".app");
    QSaveFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(file.errorString());
    file.write(InstallerScript::text(m_configuration.copyProgram, m_configuration.openProgram,
                                     m_configuration.installerWaitTenths)
                   .toUtf8());
    if (!file.commit())
        throw PlatformError(file.errorString());
    if (!QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        QFile::remove(script);
        throw PlatformError(QStringLiteral("No se pudieron ajustar los permisos de ") + script + QStringLiteral("."));
    }

    const qint64 processID =
        m_configuration.processID > 0 ? m_configuration.processID : QCoreApplication::applicationPid();
    QProcess installer;
    installer.setProgram(QStringLiteral("/bin/sh"));
    installer.setArguments({script, QString::number(processID), applicationPath, target, backup, updateRoot,
                            fallbackDMG.toString(QUrl::FullyEncoded)});
    installer.setStandardInputFile(QProcess::nullDevice());
    installer.setStandardOutputFile(QProcess::nullDevice());
    installer.setStandardErrorFile(QProcess::nullDevice());
    // Its own session: a Ctrl-C in the terminal that started the application must not reach it.
    installer.setChildProcessModifier([] { ::setsid(); });
    qint64 installerID = 0;
    if (!installer.startDetached(&installerID)) {
        QFile::remove(script);
        throw PlatformError(installer.errorString());
    }
    return {installerID, script, updateRoot};
}
