#pragma once

#include "update/appupdatemanifest.h"

#include <QString>
#include <QUrl>

#include <optional>

// The self-update dialog the window shows: a found update, a plain answer, or a failure that
// may offer the package for manual installation.
struct AppUpdateAlert {
    enum class Kind { available, information, failure };

    Kind kind = Kind::information;
    std::optional<AppUpdateManifest> manifest; // available
    QString message;                           // information and failure
    std::optional<QUrl> dmgURL;                // a failure that offers the package

    bool operator==(const AppUpdateAlert &) const = default;

    static AppUpdateAlert available(const AppUpdateManifest &manifest) { return {Kind::available, manifest, {}, {}}; }
    static AppUpdateAlert information(const QString &message) { return {Kind::information, {}, message, {}}; }
    static AppUpdateAlert failure(const QString &message, const std::optional<QUrl> &dmgURL = std::nullopt) {
        return {Kind::failure, {}, message, dmgURL};
    }

    // "available-" + build, "information-" + message, "failure-" + message.
    QString id() const {
        switch (kind) {
        case Kind::available:
            return QStringLiteral("available-") + QString::number(manifest ? manifest->build : 0);
        case Kind::information:
            return QStringLiteral("information-") + message;
        case Kind::failure:
            break;
        }
        return QStringLiteral("failure-") + message;
    }
};
