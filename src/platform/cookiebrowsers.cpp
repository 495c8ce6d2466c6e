#include "cookiebrowsers.h"

#include <QFileInfo>

#include <algorithm>

namespace {

struct Installation {
    CookieBrowsers::Browser browser;
    // Relative to the home folder; the first is the folder yt-dlp itself searches.
    QStringList profileRoots;
};

const QList<Installation> &installations() {
    static const QList<Installation> list{
        {{QStringLiteral("firefox"), QStringLiteral("Firefox")},
         {QStringLiteral(".mozilla/firefox"), QStringLiteral(".config/mozilla/firefox"),
          QStringLiteral(".var/app/org.mozilla.firefox/.mozilla/firefox"),
          QStringLiteral(".var/app/org.mozilla.firefox/config/mozilla/firefox"),
          QStringLiteral("snap/firefox/common/.mozilla/firefox")}},
        {{QStringLiteral("chrome"), QStringLiteral("Google Chrome")},
         {QStringLiteral(".config/google-chrome"), QStringLiteral(".var/app/com.google.Chrome/config/google-chrome")}},
        {{QStringLiteral("chromium"), QStringLiteral("Chromium")},
         {QStringLiteral(".config/chromium"), QStringLiteral(".var/app/org.chromium.Chromium/config/chromium"),
          QStringLiteral("snap/chromium/common/chromium")}},
        {{QStringLiteral("brave"), QStringLiteral("Brave")},
         {QStringLiteral(".config/BraveSoftware/Brave-Browser"),
          QStringLiteral(".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser"),
          QStringLiteral("snap/brave/current/.config/BraveSoftware/Brave-Browser")}},
        {{QStringLiteral("edge"), QStringLiteral("Microsoft Edge")},
         {QStringLiteral(".config/microsoft-edge"),
          QStringLiteral(".var/app/com.microsoft.Edge/config/microsoft-edge")}},
        {{QStringLiteral("opera"), QStringLiteral("Opera")},
         {QStringLiteral(".config/opera"), QStringLiteral(".var/app/com.opera.Opera/config/opera"),
          QStringLiteral("snap/opera/current/.config/opera")}},
        {{QStringLiteral("vivaldi"), QStringLiteral("Vivaldi")},
         {QStringLiteral(".config/vivaldi"), QStringLiteral(".var/app/com.vivaldi.Vivaldi/config/vivaldi"),
          QStringLiteral("snap/vivaldi/current/.config/vivaldi")}},
    };
    return list;
}

const Installation *installationNamed(const QString &name) {
    const QList<Installation> &list = installations();
    const auto found =
        std::find_if(list.cbegin(), list.cend(), [&](const Installation &entry) { return entry.browser.name == name; });
    return found == list.cend() ? nullptr : &*found;
}

// The first of the browser's profile folders that exists, with its position in the list.
std::optional<std::pair<qsizetype, QString>> existingRoot(const Installation &installation, const QString &home) {
    for (qsizetype i = 0; i < installation.profileRoots.size(); ++i) {
        const QString folder = home + QLatin1Char('/') + installation.profileRoots.at(i);
        if (QFileInfo(folder).isDir())
            return std::pair{i, folder};
    }
    return std::nullopt;
}

} // namespace

namespace CookieBrowsers {

QList<Browser> all() {
    QList<Browser> browsers;
    for (const Installation &installation : installations())
        browsers.append(installation.browser);
    return browsers;
}

std::optional<Browser> named(const QString &name) {
    const Installation *installation = installationNamed(name);
    return installation ? std::optional<Browser>(installation->browser) : std::nullopt;
}

QList<Browser> installed(const QString &homeFolder) {
    QList<Browser> browsers;
    for (const Installation &installation : installations())
        if (existingRoot(installation, homeFolder))
            browsers.append(installation.browser);
    return browsers;
}

QString cookiesFromBrowserValue(const QString &name, const QString &homeFolder) {
    const Installation *installation = installationNamed(name);
    if (!installation)
        return name;
    const auto root = existingRoot(*installation, homeFolder);
    if (!root || root->first == 0)
        return name;
    return name + QLatin1Char(':') + root->second;
}

} // namespace CookieBrowsers
