#include "bundlerecovery.h"

#include "common/torvelerror.h"
#include "platform/archiveextractor.h"
#include "update/bundleseal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cstdio>

namespace BundleRecovery {

namespace {

bool isSound(const QString &bundle, const QByteArray &publicKey) {
    try {
        BundleSeal::verify(bundle, publicKey);
        return true;
    } catch (const TorvelError &) {
        return false;
    }
}

} // namespace

void recover(const QString &installedBundle, const QByteArray &publicKey) {
    if (publicKey.size() != 32)
        return;
    const QDir parent = QFileInfo(installedBundle).absoluteDir();
    const auto hidden = QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot;
    for (const QString &staged : parent.entryList({QStringLiteral(".Torvel Downloader.new-*.app")}, hidden))
        ArchiveExtractor::removeTree(parent.filePath(staged));
    for (const QString &name : parent.entryList({QStringLiteral(".Torvel Downloader.backup-*.app")}, hidden)) {
        const QString backup = parent.filePath(name);
        if (QFileInfo::exists(installedBundle) && isSound(installedBundle, publicKey)) {
            ArchiveExtractor::removeTree(backup);
            continue;
        }
        const QString broken =
            parent.filePath(QStringLiteral(".Torvel Downloader.broken-") +
                            QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".app"));
        const bool aside =
            !QFileInfo::exists(installedBundle) ||
            std::rename(QFile::encodeName(installedBundle).constData(), QFile::encodeName(broken).constData()) == 0;
        if (!aside)
            continue;
        if (std::rename(QFile::encodeName(backup).constData(), QFile::encodeName(installedBundle).constData()) == 0)
            ArchiveExtractor::removeTree(broken);
        else
            std::rename(QFile::encodeName(broken).constData(), QFile::encodeName(installedBundle).constData());
    }
}

} // namespace BundleRecovery
