#include "appsettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

QString ytDLPPathKey() {
    return QStringLiteral("ytDLPPath");
}
QString ffmpegPathKey() {
    return QStringLiteral("ffmpegPath");
}
QString downloadDirectoryKey() {
    return QStringLiteral("downloadDirectory");
}
QString revealWhenFinishedKey() {
    return QStringLiteral("revealWhenFinished");
}
QString cookiesKey() {
    return QStringLiteral("cookies");
}
QString notifyWhenFinishedKey() {
    return QStringLiteral("notifyWhenFinished");
}
QString concurrentFragmentsKey() {
    return QStringLiteral("concurrentFragments");
}
QString limitRateKey() {
    return QStringLiteral("limitRate");
}
QString proxyKey() {
    return QStringLiteral("proxy");
}

QString preferredSubtitlesKey() {
    return QStringLiteral("preferredSubtitles");
}
QString embedMetadataKey() {
    return QStringLiteral("embedMetadata");
}
QString concurrentDownloadsKey() {
    return QStringLiteral("concurrentDownloads");
}
QString resumeQueueAtStartKey() {
    return QStringLiteral("resumeQueueAtStart");
}

// A whole number, stored as one or (in an INI file, which has no types) as its decimal text.
std::optional<qint64> storedInteger(const QSettings &store, const QString &key) {
    const QVariant value = store.value(key);
    bool isNumber = false;
    qint64 number = 0;
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong)
        number = value.toLongLong(&isNumber);
    else if (value.typeId() == QMetaType::QString)
        number = value.toString().trimmed().toLongLong(&isNumber);
    return isNumber ? std::optional<qint64>(number) : std::nullopt;
}

std::optional<QString> storedString(const QSettings &store, const QString &key) {
    const QVariant value = store.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<bool> storedBoolean(const QSettings &store, const QString &key) {
    const QVariant value = store.value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    // An INI file has no types: QSettings writes a bool as this text and reads it back as a string.
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

// Whether QSettings reads the file at `path` without a complaint. QSettings shares one parsed copy
// of a file among all its objects in the process and tells only the object that parsed it about a
// syntax error, so the store's own status() may miss it; a private copy under another name is
// parsed afresh.
std::optional<bool> parsesCleanly(const QString &path, QSettings::Format format) {
    QFile original(path);
    if (!original.exists())
        return true;
    if (!original.open(QIODevice::ReadOnly))
        return false;
    const QByteArray contents = original.readAll();
    if (original.error() != QFileDevice::NoError)
        return false;
    if (contents.isEmpty())
        return true;

    const QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    const QString copyPath = folder.filePath(QFileInfo(path).fileName());
    QFile copy(copyPath);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(contents) != contents.size() || !copy.flush())
        return std::nullopt;
    copy.close();

    const QSettings probe(copyPath, format);
    const QStringList keys = probe.allKeys(); // parses every section
    if (probe.status() != QSettings::NoError)
        return false;
    // A value QSettings cannot decode would come back from a rewrite as "@Invalid()".
    return std::all_of(keys.cbegin(), keys.cend(), [&](const QString &key) { return probe.value(key).isValid(); });
}

} // namespace

AppSettings::AppSettings(QSettings *defaults, QString downloadsFolder, QString homeFolder, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_homeFolder(std::move(homeFolder)) {
    Q_ASSERT(m_defaults);
    m_ytDLPPath = storedString(*m_defaults, ytDLPPathKey()).value_or(QString());
    m_ffmpegPath = storedString(*m_defaults, ffmpegPathKey()).value_or(QString());
    m_downloadDirectory = storedString(*m_defaults, downloadDirectoryKey()).value_or(std::move(downloadsFolder));
    m_revealWhenFinished = storedBoolean(*m_defaults, revealWhenFinishedKey()).value_or(true);
    m_cookies = storedString(*m_defaults, cookiesKey()).value_or(QString());
    m_notifyWhenFinished = storedBoolean(*m_defaults, notifyWhenFinishedKey()).value_or(true);
    if (const std::optional<qint64> fragments = storedInteger(*m_defaults, concurrentFragmentsKey()))
        m_concurrentFragments =
            int(std::clamp<qint64>(*fragments, minimumConcurrentFragments, maximumConcurrentFragments));
    m_preferredSubtitles = storedString(*m_defaults, preferredSubtitlesKey()).value_or(QString());
    m_embedMetadata = storedBoolean(*m_defaults, embedMetadataKey()).value_or(true);
    if (const std::optional<qint64> downloads = storedInteger(*m_defaults, concurrentDownloadsKey()))
        m_concurrentDownloads =
            int(std::clamp<qint64>(*downloads, minimumConcurrentDownloads, maximumConcurrentDownloads));
    m_resumeQueueAtStart = storedBoolean(*m_defaults, resumeQueueAtStartKey()).value_or(true);
    m_limitRate =
        NetworkOptions::parseRate(storedString(*m_defaults, limitRateKey()).value_or(QString())).value_or(QString());
    m_proxy = NetworkOptions::Proxy::fromSetting(storedString(*m_defaults, proxyKey()).value_or(QString()));
}

QString AppSettings::downloadDirectoryPath() const {
    if (m_downloadDirectory == QLatin1String("~"))
        return m_homeFolder;
    if (m_downloadDirectory.startsWith(QLatin1String("~/")))
        return m_homeFolder + m_downloadDirectory.mid(1);
    return m_downloadDirectory;
}

void AppSettings::setYtDLPPath(const QString &path) {
    const bool changed = path != m_ytDLPPath;
    m_ytDLPPath = path;
    store(ytDLPPathKey(), path);
    if (changed)
        Q_EMIT ytDLPPathChanged();
}

void AppSettings::setFfmpegPath(const QString &path) {
    const bool changed = path != m_ffmpegPath;
    m_ffmpegPath = path;
    store(ffmpegPathKey(), path);
    if (changed)
        Q_EMIT ffmpegPathChanged();
}

void AppSettings::setDownloadDirectory(const QString &path) {
    const bool changed = path != m_downloadDirectory;
    m_downloadDirectory = path;
    store(downloadDirectoryKey(), path);
    if (changed)
        Q_EMIT downloadDirectoryChanged();
}

void AppSettings::setRevealWhenFinished(bool reveal) {
    const bool changed = reveal != m_revealWhenFinished;
    m_revealWhenFinished = reveal;
    store(revealWhenFinishedKey(), reveal);
    if (changed)
        Q_EMIT revealWhenFinishedChanged();
}

void AppSettings::setCookies(const QString &browserOrFile) {
    const bool changed = browserOrFile != m_cookies;
    m_cookies = browserOrFile;
    store(cookiesKey(), browserOrFile);
    if (changed)
        Q_EMIT cookiesChanged();
}

void AppSettings::setNotifyWhenFinished(bool notify) {
    const bool changed = notify != m_notifyWhenFinished;
    m_notifyWhenFinished = notify;
    store(notifyWhenFinishedKey(), notify);
    if (changed)
        Q_EMIT notifyWhenFinishedChanged();
}

void AppSettings::setConcurrentFragments(int fragments) {
    fragments = std::clamp(fragments, minimumConcurrentFragments, maximumConcurrentFragments);
    const bool changed = fragments != m_concurrentFragments;
    m_concurrentFragments = fragments;
    store(concurrentFragmentsKey(), fragments);
    if (changed)
        Q_EMIT concurrentFragmentsChanged();
}

void AppSettings::setPreferredSubtitles(const QString &languages) {
    const bool changed = languages != m_preferredSubtitles;
    m_preferredSubtitles = languages;
    store(preferredSubtitlesKey(), languages);
    if (changed)
        Q_EMIT preferredSubtitlesChanged();
}

void AppSettings::setEmbedMetadata(bool embed) {
    const bool changed = embed != m_embedMetadata;
    m_embedMetadata = embed;
    store(embedMetadataKey(), embed);
    if (changed)
        Q_EMIT embedMetadataChanged();
}

void AppSettings::setConcurrentDownloads(int downloads) {
    downloads = std::clamp(downloads, minimumConcurrentDownloads, maximumConcurrentDownloads);
    const bool changed = downloads != m_concurrentDownloads;
    m_concurrentDownloads = downloads;
    store(concurrentDownloadsKey(), downloads);
    if (changed)
        Q_EMIT concurrentDownloadsChanged();
}

void AppSettings::setResumeQueueAtStart(bool resume) {
    const bool changed = resume != m_resumeQueueAtStart;
    m_resumeQueueAtStart = resume;
    store(resumeQueueAtStartKey(), resume);
    if (changed)
        Q_EMIT resumeQueueAtStartChanged();
}

void AppSettings::setLimitRate(const QString &rate) {
    QString problem;
    const QString limit = NetworkOptions::parseRate(rate, &problem).value_or(QString());
    if (!problem.isEmpty())
        return;
    const bool changed = limit != m_limitRate;
    m_limitRate = limit;
    store(limitRateKey(), limit);
    if (changed)
        Q_EMIT limitRateChanged();
}

void AppSettings::setProxy(const NetworkOptions::Proxy &proxy) {
    if (proxy.kind == NetworkOptions::Proxy::Kind::address &&
        !NetworkOptions::proxyAddressProblem(proxy.address).isEmpty())
        return;
    NetworkOptions::Proxy stored = proxy;
    stored.address = proxy.kind == NetworkOptions::Proxy::Kind::address ? proxy.address.trimmed() : QString();
    const bool changed = !(stored == m_proxy);
    m_proxy = stored;
    store(proxyKey(), stored.setting());
    if (changed)
        Q_EMIT proxyChanged();
}

void AppSettings::store(const QString &key, const QVariant &value) {
    if (!storeIsSafeToRewrite()) {
        if (!m_warnedAboutStore) {
            m_warnedAboutStore = true;
            qWarning("The settings file %s cannot be read cleanly; setting changes are kept for this session only.",
                     qPrintable(m_defaults->fileName()));
        }
        return;
    }
    m_defaults->setValue(key, value);
    m_defaults->sync();
    // What QSettings has just written it can read again.
    if (m_defaults->status() == QSettings::NoError)
        m_examinedStamp = currentStamp();
    else
        m_examinedStamp.reset();
}

AppSettings::FileStamp AppSettings::currentStamp() const {
    const std::filesystem::path file(QFile::encodeName(m_defaults->fileName()).toStdString());
    std::error_code error;
    FileStamp stamp;
    stamp.exists = std::filesystem::exists(file, error);
    if (!stamp.exists)
        return stamp;
    stamp.size = qint64(std::filesystem::file_size(file, error));
    const auto modified = std::filesystem::last_write_time(file, error);
    stamp.modified = qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count());
    if (error)
        stamp.modified = -1; // never equal to a stamp taken when the file could be examined
    return stamp;
}

// On a write QSettings rewrites the whole file from the keys it understood: lines it could not
// parse would be dropped, and an unreadable file would be replaced by one holding only our keys.
bool AppSettings::storeIsSafeToRewrite() {
    const FileStamp stamp = currentStamp();
    if (m_examinedStamp && *m_examinedStamp == stamp && stamp.modified != -1)
        return m_examinedSafe;
    bool safe = false;
    if (const std::optional<bool> clean = parsesCleanly(m_defaults->fileName(), m_defaults->format())) {
        safe = *clean;
    } else {
        // No room for a private copy: rely on what the store itself has noticed.
        m_defaults->sync();
        (void)m_defaults->allKeys();
        safe = m_defaults->status() == QSettings::NoError;
    }
    m_examinedStamp = stamp;
    m_examinedSafe = safe;
    return safe;
}
