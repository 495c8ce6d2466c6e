#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

// The update manifest the maker publishes: one JSON object with exactly these eight keys (more
// are ignored). `build` alone decides whether an update is newer.
struct AppUpdateManifest {
    QString version;
    qint64 build = 0;
    QString minimumSystemVersion;
    QUrl zipURL;
    QUrl dmgURL; // on Linux the package for manual installation
    QString sha256;
    qint64 size = 0;
    QString releaseNotes;

    bool operator==(const AppUpdateManifest &) const = default;

    // Strict decoding: every key present, no null, the exact JSON type, integers without a
    // fraction, URLs that parse. Throws AppUpdateError::invalidManifest otherwise. The values
    // themselves (build ≥ 1, …) are checked by the service.
    static AppUpdateManifest decode(const QByteArray &json);
    QJsonObject encode() const;
};
