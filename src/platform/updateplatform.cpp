#include "updateplatform.h"

#include <QFile>
#include <QtGlobal>

#include <gnu/libc-version.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace UpdatePlatform {

QString architecture() {
#if defined(Q_PROCESSOR_X86_64)
    return QStringLiteral("x86_64");
#elif defined(Q_PROCESSOR_ARM_64)
    return QStringLiteral("aarch64");
#else
#error "Torvel Downloader is built for x86-64 and arm64 only"
#endif
}

QString manifestPath() {
    return QStringLiteral("/downloads/torvel-downloader/linux-") + architecture() + QStringLiteral("/update.json");
}

QString systemVersion() {
    return QString::fromLatin1(gnu_get_libc_version());
}

bool canReplaceIn(const QString &folder) {
    const QByteArray path = QFile::encodeName(folder);
    struct statvfs fileSystem {};
    if (::statvfs(path.constData(), &fileSystem) != 0 || (fileSystem.f_flag & ST_RDONLY))
        return false;
    // access() also answers no on a read-only file system and for immutable folders.
    return ::access(path.constData(), W_OK | X_OK) == 0;
}

} // namespace UpdatePlatform
