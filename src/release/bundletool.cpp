// torvel-bundle-tool: what packaging/linux/make-release needs beside OpenSSL's command-line
// tool, sharing the application's own code for the seal, so that what is sealed here is exactly
// what the application checks.
//
//   torvel-bundle-tool info BUNDLE VERSION BUILD
//   torvel-bundle-tool seal BUNDLE PRIVATE_KEY.pem
//   torvel-bundle-tool verify BUNDLE PUBLIC_KEY_BASE64
//   torvel-bundle-tool archive BUNDLE OUT.zip|OUT.tar.gz
//   torvel-bundle-tool manifest VERSION BUILD ZIP_URL PACKAGE_URL ARCHIVE
#include "common/filedigest.h"
#include "common/torvelerror.h"
#include "platform/platformpaths.h"
#include "platform/updateplatform.h"
#include "update/appupdatemanifest.h"
#include "update/appupdateservice.h"
#include "update/bundleseal.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

int usage() {
    err() << "Uso: torvel-bundle-tool info PAQUETE VERSION COMPILACION\n"
             "     torvel-bundle-tool seal PAQUETE CLAVE.pem\n"
             "     torvel-bundle-tool verify PAQUETE CLAVE_PUBLICA_BASE64\n"
             "     torvel-bundle-tool archive PAQUETE SALIDA.zip|SALIDA.tar.gz\n"
             "     torvel-bundle-tool manifest VERSION COMPILACION URL_ZIP URL_PAQUETE ARCHIVO\n";
    return 2;
}

[[noreturn]] void failArchive(archive *writer) {
    const char *message = archive_error_string(writer);
    throw PlatformError(QString::fromLocal8Bit(message ? message : "error de libarchive"));
}

// The bundle folder as the archive's one top-level entry, folders, files and links in path
// order, permission bits kept.
void writeArchive(const QString &bundlePath, const QString &output) {
    const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(), &archive_write_free);
    if (output.endsWith(QStringLiteral(".zip"))) {
        archive_write_set_format_zip(writer.get());
    } else {
        archive_write_set_format_pax_restricted(writer.get());
        archive_write_add_filter_gzip(writer.get());
    }
    if (archive_write_open_filename(writer.get(), QFile::encodeName(output).constData()) != ARCHIVE_OK)
        failArchive(writer.get());

    const QDir bundle(bundlePath);
    QStringList paths{bundle.absolutePath()};
    QDirIterator walk(bundlePath, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        paths.append(walk.next());
    std::sort(paths.begin() + 1, paths.end());

    const QString top = QFileInfo(bundle.absolutePath()).fileName();
    for (const QString &path : paths) {
        const QString relative = bundle.relativeFilePath(path);
        const QString name = relative == QStringLiteral(".") ? top : top + QLatin1Char('/') + relative;
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            throw PlatformError(QStringLiteral("No se pudo leer ") + path);
        const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                                  &archive_entry_free);
        archive_entry_copy_stat(entry.get(), &status);
        archive_entry_set_pathname(entry.get(), QFile::encodeName(name).constData());
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        if (S_ISLNK(status.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t length =
                ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
            if (length < 0 || length >= target.size())
                throw PlatformError(QStringLiteral("No se pudo leer ") + path);
            target.truncate(length);
            archive_entry_set_symlink(entry.get(), target.constData());
        }
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            failArchive(writer.get());
        if (!S_ISREG(status.st_mode))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw PlatformError(file.errorString());
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qint64 read; (read = file.read(block.data(), block.size())) > 0;)
            if (archive_write_data(writer.get(), block.constData(), size_t(read)) < 0)
                failArchive(writer.get());
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        failArchive(writer.get());
}

// Info.json with the identifier the application checks, the version, the build, and the processor
// and lowest glibc of this build machine, which the program is built for.
void writeInfo(const QString &bundlePath, const QString &version, const QString &build) {
    QFile file(bundlePath + QStringLiteral("/Info.json"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw PlatformError(file.errorString());
    file.write(
        QJsonDocument(QJsonObject{
                          {QStringLiteral("CFBundleIdentifier"), QString::fromLatin1(PlatformPaths::bundleIdentifier)},
                          {QStringLiteral("CFBundleShortVersionString"), version},
                          {QStringLiteral("CFBundleVersion"), build},
                          {QLatin1String(AppUpdateService::architectureKey), UpdatePlatform::architecture()},
                          {QLatin1String(AppUpdateService::minimumGlibcKey), UpdatePlatform::systemVersion()},
                      })
            .toJson());
}

QByteArray manifest(const QStringList &arguments) {
    AppUpdateManifest manifest;
    manifest.version = arguments.at(0);
    manifest.build = arguments.at(1).toLongLong();
    manifest.minimumSystemVersion = UpdatePlatform::systemVersion();
    manifest.zipURL = QUrl(arguments.at(2));
    manifest.dmgURL = QUrl(arguments.at(3));
    manifest.sha256 = FileDigest::sha256(arguments.at(4));
    manifest.size = QFileInfo(arguments.at(4)).size();
    return QJsonDocument(manifest.encode()).toJson();
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    try {
        if (command == QLatin1String("info") && rest.size() == 3)
            writeInfo(rest.at(0), rest.at(1), rest.at(2));
        else if (command == QLatin1String("seal") && rest.size() == 2)
            BundleSeal::seal(rest.at(0), rest.at(1));
        else if (command == QLatin1String("verify") && rest.size() == 2)
            BundleSeal::verify(rest.at(0), QByteArray::fromBase64(rest.at(1).toLatin1()));
        else if (command == QLatin1String("archive") && rest.size() == 2)
            writeArchive(rest.at(0), rest.at(1));
        else if (command == QLatin1String("manifest") && rest.size() == 5)
            QTextStream(stdout) << manifest(rest);
        else
            return usage();
    } catch (const TorvelError &error) {
        err() << error.errorDescription() << '\n';
        return 1;
    }
    return 0;
}
