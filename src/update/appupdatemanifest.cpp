#include "appupdatemanifest.h"

#include "update/appupdateerror.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QMap>
#include <QRegularExpression>

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

// The text of every number written directly as a value of the top-level object, by its key as
// written. The document has already been parsed, so it is well-formed JSON.
QMap<QByteArray, QByteArray> topLevelNumbers(const QByteArray &json) {
    QMap<QByteArray, QByteArray> numbers;
    int depth = 0;
    bool afterColon = false;
    QByteArray key;
    for (qsizetype at = 0; at < json.size(); ++at) {
        const char c = json.at(at);
        if (c == '"') {
            qsizetype end = at + 1;
            while (end < json.size() && json.at(end) != '"')
                end += json.at(end) == '\\' ? 2 : 1;
            if (depth == 1 && !afterColon)
                key = json.mid(at + 1, end - at - 1);
            afterColon = false;
            at = end;
        } else if (c == '{' || c == '[') {
            ++depth;
            afterColon = false;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ':' || c == ',') {
            afterColon = c == ':';
        } else if (depth == 1 && afterColon && (c == '-' || (c >= '0' && c <= '9'))) {
            qsizetype end = at;
            while (end < json.size() && QByteArrayView("+-.eE0123456789").contains(json.at(end)))
                ++end;
            numbers.insert(key, json.mid(at, end - at));
            afterColon = false;
            at = end - 1;
        }
    }
    return numbers;
}

// An integer key takes digits only, as written: Qt's parser turns 1.0 or 1e3 into integers too.
qint64 integer(const QJsonObject &object, const QMap<QByteArray, QByteArray> &written, const QString &key) {
    static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("-?[0-9]+")));
    const QVariant variant = object.value(key).toVariant();
    if (variant.typeId() != QMetaType::LongLong ||
        !digits.match(QString::fromLatin1(written.value(key.toUtf8()))).hasMatch())
        invalid();
    return variant.toLongLong();
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
    const QMap<QByteArray, QByteArray> written = topLevelNumbers(json);
    AppUpdateManifest manifest;
    manifest.version = text(object, QStringLiteral("version"));
    manifest.build = integer(object, written, QStringLiteral("build"));
    manifest.minimumSystemVersion = text(object, QStringLiteral("minimumSystemVersion"));
    manifest.zipURL = url(object, QStringLiteral("zipURL"));
    manifest.dmgURL = url(object, QStringLiteral("dmgURL"));
    manifest.sha256 = text(object, QStringLiteral("sha256"));
    manifest.size = integer(object, written, QStringLiteral("size"));
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
