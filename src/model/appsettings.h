#pragma once

#include "common/networkoptions.h"
#include "media/cookiesource.h"
#include "media/ytdlparguments.h"
#include "platform/platformpaths.h"

#include <QObject>
#include <QString>

#include <optional>

class QSettings;

// The user preferences that survive a restart, read from and written through to a QSettings
// store. Lives on the interface thread.
//
// Reading: a string setting counts only when the store holds a string; anything else gives the
// setting's fallback. With the INI files QSettings uses on Linux a boolean comes back as the text
// "true" or "false" (or as a bool while the same process still has it cached), so exactly those
// count as a stored boolean for revealWhenFinished and notifyWhenFinished; any other value ("sí", "1", a list) gives
// true. The downloads folder is only the fallback of downloadDirectory and is never stored.
//
// Writing: every assignment, even of the value already held, is stored and synced at once. A
// store file that QSettings cannot read or parse cleanly is never rewritten, because QSettings
// would drop whatever it could not parse: the assignment then stays in memory for this run.
// The file is examined again only when its size or modification time differs from when it was
// last examined or written here (the same test QSettings uses to re-read it), so an ordinary
// assignment costs no copy and no parse.
class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ytDLPPath READ ytDLPPath WRITE setYtDLPPath NOTIFY ytDLPPathChanged)
    Q_PROPERTY(QString ffmpegPath READ ffmpegPath WRITE setFfmpegPath NOTIFY ffmpegPathChanged)
    Q_PROPERTY(
        QString downloadDirectory READ downloadDirectory WRITE setDownloadDirectory NOTIFY downloadDirectoryChanged)
    Q_PROPERTY(
        bool revealWhenFinished READ revealWhenFinished WRITE setRevealWhenFinished NOTIFY revealWhenFinishedChanged)
    Q_PROPERTY(QString cookies READ cookies WRITE setCookies NOTIFY cookiesChanged)
    Q_PROPERTY(
        bool notifyWhenFinished READ notifyWhenFinished WRITE setNotifyWhenFinished NOTIFY notifyWhenFinishedChanged)
    Q_PROPERTY(
        int concurrentFragments READ concurrentFragments WRITE setConcurrentFragments NOTIFY concurrentFragmentsChanged)
    Q_PROPERTY(
        QString preferredSubtitles READ preferredSubtitles WRITE setPreferredSubtitles NOTIFY preferredSubtitlesChanged)
    Q_PROPERTY(bool embedMetadata READ embedMetadata WRITE setEmbedMetadata NOTIFY embedMetadataChanged)
    Q_PROPERTY(QString limitRate READ limitRate WRITE setLimitRate NOTIFY limitRateChanged)
    Q_PROPERTY(
        int concurrentDownloads READ concurrentDownloads WRITE setConcurrentDownloads NOTIFY concurrentDownloadsChanged)
    Q_PROPERTY(
        bool resumeQueueAtStart READ resumeQueueAtStart WRITE setResumeQueueAtStart NOTIFY resumeQueueAtStartChanged)

public:
    // The store must outlive this object. Loading reads the keys and writes nothing.
    explicit AppSettings(QSettings *defaults, QString downloadsFolder = PlatformPaths::downloadsFolder(),
                         QString homeFolder = PlatformPaths::homeFolder(), QObject *parent = nullptr);

    QString ytDLPPath() const { return m_ytDLPPath; }
    QString ffmpegPath() const { return m_ffmpegPath; }
    // As the user typed it; may begin with "~".
    QString downloadDirectory() const { return m_downloadDirectory; }
    bool revealWhenFinished() const { return m_revealWhenFinished; }
    // Where yt-dlp takes cookies from, as stored: a browser's yt-dlp name, a cookies file's path,
    // or empty for none.
    QString cookies() const { return m_cookies; }
    // What the stored value means now: a value that is neither a known browser nor a readable
    // file is none (and stays stored as it is).
    CookieSource cookieSource() const { return CookieSource::fromSetting(m_cookies, m_homeFolder); }
    // Whether a download that ends while the window is in the background is announced by a
    // desktop notification. Read like revealWhenFinished.
    bool notifyWhenFinished() const { return m_notifyWhenFinished; }
    // How many fragments of a DASH or HLS format a download fetches at once ("Fragmentos
    // simultáneos"): 1 to 16, 4 when unset; a stored number outside that range is brought into it,
    // anything else gives 4.
    static constexpr int minimumConcurrentFragments = 1;
    static constexpr int maximumConcurrentFragments = 16;
    int concurrentFragments() const { return m_concurrentFragments; }
    // "Subtítulos preferidos": language codes separated by commas ("es, en"), empty by default.
    // The first one a page's subtitles have is chosen for it.
    QString preferredSubtitles() const { return m_preferredSubtitles; }
    // "Guardar título, capítulos y portada en el archivo": true unless stored false, read like
    // revealWhenFinished.
    bool embedMetadata() const { return m_embedMetadata; }
    // "Descargas simultáneas": how many items of the queue download at once, 1 to 8, 3 when unset;
    // read like concurrentFragments.
    static constexpr int minimumConcurrentDownloads = 1;
    static constexpr int maximumConcurrentDownloads = 8;
    static constexpr int defaultConcurrentDownloads = 3;
    int concurrentDownloads() const { return m_concurrentDownloads; }
    // "Reanudar la cola al iniciar": whether the items that were downloading when the application
    // quit go on at the next start; true unless stored false.
    bool resumeQueueAtStart() const { return m_resumeQueueAtStart; }
    // "Limitar velocidad": yt-dlp's form of the limit ("500K", "2M"), or empty for none. A stored
    // text that is not a speed is none.
    QString limitRate() const { return m_limitRate; }
    // "Proxy": none, the system's (when unset) or an address; a stored address that is not
    // usable is the system's.
    NetworkOptions::Proxy proxy() const { return m_proxy; }

    // The user's home folder, where "~" leads and where browsers keep their profiles.
    const QString &homeFolder() const { return m_homeFolder; }
    // downloadDirectory with a leading "~" (alone or followed by "/") replaced by the home folder.
    QString downloadDirectoryPath() const;

    // Each setter stores the value even when it equals the current one; the change signal is
    // emitted only when the value differs.
    void setYtDLPPath(const QString &path);
    void setFfmpegPath(const QString &path);
    void setDownloadDirectory(const QString &path);
    void setRevealWhenFinished(bool reveal);
    void setCookies(const QString &browserOrFile);
    void setNotifyWhenFinished(bool notify);
    // Brought into 1…16.
    void setConcurrentFragments(int fragments);
    void setPreferredSubtitles(const QString &languages);
    void setEmbedMetadata(bool embed);
    // Brought into 1…8.
    void setConcurrentDownloads(int downloads);
    void setResumeQueueAtStart(bool resume);
    // A text that parseRate refuses is ignored; an empty one is no limit.
    void setLimitRate(const QString &rate);
    // An address that proxyAddressProblem refuses is ignored.
    void setProxy(const NetworkOptions::Proxy &proxy);

Q_SIGNALS:
    void ytDLPPathChanged();
    void ffmpegPathChanged();
    void downloadDirectoryChanged();
    void revealWhenFinishedChanged();
    void cookiesChanged();
    void notifyWhenFinishedChanged();
    void concurrentFragmentsChanged();
    void preferredSubtitlesChanged();
    void embedMetadataChanged();
    void concurrentDownloadsChanged();
    void resumeQueueAtStartChanged();
    void limitRateChanged();
    void proxyChanged();

private:
    void store(const QString &key, const QVariant &value);
    bool storeIsSafeToRewrite();

    // What identifies one version of the store file without reading it.
    struct FileStamp {
        bool exists = false;
        qint64 size = 0;
        qint64 modified = 0; // nanoseconds, as the file system keeps them
        bool operator==(const FileStamp &) const = default;
    };
    FileStamp currentStamp() const;

    QSettings *m_defaults;
    QString m_homeFolder;
    QString m_ytDLPPath;
    QString m_ffmpegPath;
    QString m_downloadDirectory;
    bool m_revealWhenFinished = true;
    QString m_cookies;
    bool m_notifyWhenFinished = true;
    int m_concurrentFragments = YTDLPArguments::defaultConcurrentFragments;
    QString m_preferredSubtitles;
    bool m_embedMetadata = true;
    int m_concurrentDownloads = defaultConcurrentDownloads;
    bool m_resumeQueueAtStart = true;
    QString m_limitRate;
    NetworkOptions::Proxy m_proxy;
    bool m_warnedAboutStore = false;
    std::optional<FileStamp> m_examinedStamp;
    bool m_examinedSafe = false;
};
