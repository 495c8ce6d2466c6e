#include "cookiesource.h"

#include "common/torvelerror.h"
#include "media/jobfolders.h"
#include "platform/cookiebrowsers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

CookieSource CookieSource::fromBrowser(const QString &name, const QString &homeFolder) {
    CookieSource source;
    source.kind = Kind::browser;
    source.browser = name;
    source.cookiesFromBrowser = CookieBrowsers::cookiesFromBrowserValue(name, homeFolder);
    return source;
}

CookieSource CookieSource::fromFile(const QString &absolutePath) {
    CookieSource source;
    source.kind = Kind::file;
    source.file = absolutePath;
    return source;
}

CookieSource CookieSource::fromSetting(const QString &setting, const QString &homeFolder) {
    if (setting.isEmpty())
        return none();
    if (CookieBrowsers::named(setting))
        return fromBrowser(setting, homeFolder);
    const QFileInfo file(setting);
    if (file.isAbsolute() && file.isFile() && file.isReadable())
        return fromFile(setting);
    return none();
}

PrivateCookieFile::PrivateCookieFile(const QString &userFile, const JobFolders &jobFolders) {
    QFile source(userFile);
    if (!source.open(QIODevice::ReadOnly))
        throw PlatformError(
            QStringLiteral("No se pudo leer el archivo de cookies «%1»: %2").arg(userFile, source.errorString()));
    const QByteArray contents = source.readAll();
    if (source.error() != QFileDevice::NoError)
        throw PlatformError(
            QStringLiteral("No se pudo leer el archivo de cookies «%1»: %2").arg(userFile, source.errorString()));

    m_folder = jobFolders.createJobFolder();
    QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_path = m_folder + QStringLiteral("/cookies.txt");
    QFile copy(m_path);
    // Created with the user's permissions alone: the cookies are never readable by others, not
    // even for a moment.
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        copy.write(contents) != contents.size() || !copy.flush()) {
        const QString reason = copy.errorString();
        copy.close();
        JobFolders::removeQuietly(m_folder);
        throw PlatformError(QStringLiteral("No se pudo preparar la copia del archivo de cookies: ") + reason);
    }
}

PrivateCookieFile::~PrivateCookieFile() {
    JobFolders::removeQuietly(m_folder);
}
