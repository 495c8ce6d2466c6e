#include "applicationinfo.h"

#include "platform/platformpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

std::optional<QString> textEntry(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

} // namespace

QJsonObject ApplicationInfo::entriesOf(const QString &bundlePath) {
    QFile file(bundlePath + QStringLiteral("/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.read(1024 * 1024)).object();
}

ApplicationInfo ApplicationInfo::fromBundle(const QString &bundlePath) {
    const QJsonObject object = entriesOf(bundlePath);
    if (object.isEmpty())
        return {};
    return {textEntry(object, QStringLiteral("CFBundleIdentifier")),
            textEntry(object, QStringLiteral("CFBundleShortVersionString")),
            textEntry(object, QStringLiteral("CFBundleVersion"))};
}

ApplicationInfo ApplicationInfo::fromBuild() {
    return {QString::fromLatin1(PlatformPaths::bundleIdentifier), QStringLiteral(TORVEL_VERSION),
            QStringLiteral(TORVEL_BUILD_NUMBER)};
}

std::optional<QString> ApplicationInfo::bundleContaining(const QString &executablePath) {
    const QDir binFolder = QFileInfo(executablePath).absoluteDir();
    if (binFolder.dirName() != QStringLiteral("bin"))
        return std::nullopt;
    const QString bundle = QFileInfo(binFolder.absolutePath()).absolutePath();
    if (!bundle.endsWith(QStringLiteral(".app")) || !QFileInfo(bundle + QStringLiteral("/Info.json")).isFile())
        return std::nullopt;
    return bundle;
}

ApplicationInfo ApplicationInfo::current() {
    if (const auto bundle = bundleContaining(QCoreApplication::applicationFilePath()))
        return fromBundle(*bundle);
    return fromBuild();
}

QString ApplicationInfo::displayVersion() const {
    return shortVersion.value_or(QStringLiteral("0.5.2"));
}

std::optional<qint64> ApplicationInfo::parseBuild(const QString &text) {
    static const QRegularExpression decimal(QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9]+")));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

qint64 ApplicationInfo::buildNumber() const {
    return parseBuild(version.value_or(QStringLiteral("0"))).value_or(0);
}
