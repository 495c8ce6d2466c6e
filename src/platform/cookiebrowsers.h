#pragma once

#include <QList>
#include <QString>

#include <optional>

// The browsers whose cookies yt-dlp can read on this system, and where each keeps its profiles.
namespace CookieBrowsers {

struct Browser {
    QString name;  // yt-dlp's name: "firefox", "chrome", …
    QString label; // as the window shows it: "Firefox", "Google Chrome", …
};

// Every browser the application offers, in the order the window lists them.
QList<Browser> all();
// The browser of that yt-dlp name, if it is one of all().
std::optional<Browser> named(const QString &name);
// The browsers with a profile folder under homeFolder (Flatpak and Snap installations included).
QList<Browser> installed(const QString &homeFolder);

// What follows "--cookies-from-browser": the name alone when the browser's usual folder exists
// (the one every yt-dlp version searches) or none of its folders does; otherwise the name, ":"
// and the Flatpak or Snap folder that exists, which yt-dlp searches for the profile's cookies.
QString cookiesFromBrowserValue(const QString &name, const QString &homeFolder);

} // namespace CookieBrowsers
