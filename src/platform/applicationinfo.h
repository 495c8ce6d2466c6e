#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The running application's information entries: its identifier, version and build.
//
// An installed bundle ("… .app" folder above bin/, holding Info.json) says them itself. Outside
// a bundle (a build folder, a distribution package) the build's own values apply, compiled in
// from the project; the fixed fallbacks only when neither says.
struct ApplicationInfo {
    std::optional<QString> identifier;   // "CFBundleIdentifier"
    std::optional<QString> shortVersion; // "CFBundleShortVersionString"
    std::optional<QString> version;      // "CFBundleVersion", the build number as text

    bool operator==(const ApplicationInfo &) const = default;

    // Info.json of a bundle folder. Only text values count; a missing, unreadable or malformed
    // document gives no entries at all.
    static ApplicationInfo fromBundle(const QString &bundlePath);
    // Every entry of a bundle's Info.json (at most 1 MiB is read); empty when there is none.
    static QJsonObject entriesOf(const QString &bundlePath);
    // The values compiled into this build.
    static ApplicationInfo fromBuild();
    // The bundle that holds executablePath (bin/ inside "….app" with Info.json), if any.
    static std::optional<QString> bundleContaining(const QString &executablePath);
    // The running application: its bundle's entries when it runs from one, else the build's.
    static ApplicationInfo current();

    // The short version, or "0.5.2" when there is none.
    QString displayVersion() const;
    // The build number: "CFBundleVersion" read as a decimal integer with an optional sign;
    // missing, empty or unparsable text gives 0.
    qint64 buildNumber() const;
    static std::optional<qint64> parseBuild(const QString &text);
};
