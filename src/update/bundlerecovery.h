#pragma once

#include <QByteArray>
#include <QString>

// What an interrupted installer script leaves beside the installed bundle: a staged copy of the
// new bundle (".Torvel Downloader.new-….app") or the old bundle's backup
// (".Torvel Downloader.backup-….app"). Dealt with at start-up.
namespace BundleRecovery {

// Removes staged copies. A backup is removed when the installed bundle is sound (its seal holds
// with publicKey), and otherwise put back in the installed bundle's place; the running process
// goes on, the next start runs the restored version. Without a 32-byte key nothing can be
// judged and nothing is touched. Failures are ignored: the start goes on.
void recover(const QString &installedBundle, const QByteArray &publicKey);

} // namespace BundleRecovery
