#pragma once

#include <QString>

#include <memory>

class JobFolders;

// Where yt-dlp takes cookies from: nowhere, a browser's profile, or a Netscape-format file. The
// setting stores a browser's yt-dlp name or a file's path; this is its meaning for one run.
struct CookieSource {
    enum class Kind { none, browser, file };

    Kind kind = Kind::none;
    QString browser;            // yt-dlp's name, for browser
    QString cookiesFromBrowser; // the value of "--cookies-from-browser", for browser
    QString file;               // the user's file, absolute, for file

    static CookieSource none() { return {}; }
    // A browser of CookieBrowsers::all(); its profile folder is looked for under homeFolder.
    static CookieSource fromBrowser(const QString &name, const QString &homeFolder);
    static CookieSource fromFile(const QString &absolutePath);
    // A stored setting: a known browser's name, or an existing readable file given by its
    // absolute path. Anything else means none.
    static CookieSource fromSetting(const QString &setting, const QString &homeFolder);

    bool inUse() const { return kind != Kind::none; }
    bool operator==(const CookieSource &) const = default;
};

// A copy of the user's cookies file that yt-dlp may read and rewrite (it writes its cookie jar
// back at the end), so the user's own file is never changed. It lives in a job folder of its
// own, readable by the user alone, which goes with this object; one left behind by a crash goes
// with the clean-up of abandoned job folders.
class PrivateCookieFile {
public:
    // Throws PlatformError when the file cannot be read or the copy cannot be written.
    PrivateCookieFile(const QString &userFile, const JobFolders &jobFolders);
    ~PrivateCookieFile();
    PrivateCookieFile(const PrivateCookieFile &) = delete;
    PrivateCookieFile &operator=(const PrivateCookieFile &) = delete;

    const QString &path() const { return m_path; }
    const QString &folder() const { return m_folder; }

private:
    QString m_folder;
    QString m_path;
};
