#pragma once

#include <QDateTime>
#include <QStringList>

#include <QCoroTask>

#include <memory>

class QueueStore;

// The command line's side of the download queue, shared with the window through one store:
// `queue add|list|run|retry|pause|resume|remove …` and `history`.
namespace QueueCommand {

// `queue …` with the words after "queue"; the exit status.
QCoro::Task<int> run(QStringList arguments);
// `history [--json] [--search TEXT]`.
int history(const QStringList &arguments);
// What `COMMAND --help` prints for "queue" and "history"; empty for another word.
QString help(const QString &command);

// The store at its usual place, its notice (a store kept aside) said on standard error; nothing,
// with the failure said, when not even a new one can be started.
std::unique_ptr<QueueStore> openStore();
// "Ya descargado el 7/12/2026 (RUTA)" for a history entry's date and path.
QString downloadedBefore(const QDateTime &completedAt, const QString &path);

} // namespace QueueCommand
