#include "appupdatemanifest.h"

#include "update/appupdateerror.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

namespace {

[[noreturn]] void invalid() {
    throw AppUpdateError(AppUpdateError::Kind::invalidManifest);
}

QString text(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        invalid();
    return value.toString();
}

// JSON numbers are doubles to QJsonValue; an integer key takes only whole values that fit.
qint64 integer(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        invalid();
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < -9.2e18 || number > 9.2e18)
        invalid();
    return qint64(number);
}

QUrl url(const QJsonObject &object, const QString &key) {
    const QUrl parsed(text(object, key), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isEmpty())
        invalid();
    return parsed;
}

} // namespace

AppUpdateManifest AppUpdateManifest::decode(const QByteArray &json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        invalid();
    const QJsonObject object = document.object();
    AppUpdateManifest manifest;
    manifest.version = text(object, QStringLiteral("version"));
    manifest.build = integer(object, QStringLiteral("build"));
    manifest.minimumSystemVersion = text(object, QStringLiteral("minimumSystemVersion"));
    manifest.zipURL = url(object, QStringLiteral("zipURL"));
    manifest.dmgURL = url(object, QStringLiteral("dmgURL"));
    manifest.sha256 = text(object, QStringLiteral("sha256"));
    manifest.size = integer(object, QStringLiteral("size"));
    manifest.releaseNotes = text(object, QStringLiteral("releaseNotes"));
    return manifest;
}

QJsonObject AppUpdateManifest::encode() const {
    return {{QStringLiteral("version"), version},
            {QStringLiteral("build"), build},
            {QStringLiteral("minimumSystemVersion"), minimumSystemVersion},
            {QStringLiteral("zipURL"), zipURL.toString(QUrl::FullyEncoded)},
            {QStringLiteral("dmgURL"), dmgURL.toString(QUrl::FullyEncoded)},
            {QStringLiteral("sha256"), sha256},
            {QStringLiteral("size"), size},
            {QStringLiteral("releaseNotes"), releaseNotes}};
}
