#include "processtree.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <functional>
#include <optional>
#include <signal.h>
#include <thread>

namespace ProcessTree {

namespace {

// The parent id in /proc/PID/stat: the fourth field, after the command name in parentheses.
// The name may itself hold spaces and parentheses, so the last ")" ends it.
std::optional<qint32> parentFromStat(const QByteArray &stat) {
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qint32 parent = fields.at(1).toInt(&ok);
    return ok ? std::optional<qint32>(parent) : std::nullopt;
}

bool exists(qint32 pid) {
    return ::kill(pid, 0) == 0;
}

} // namespace

bool isRunning(qint32 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) != "Z";
}

QList<qint32> descendantsFromPairs(const QList<QPair<qint32, qint32>> &pairs, qint32 pid) {
    QHash<qint32, QList<qint32>> children;
    for (const auto &[child, parent] : pairs)
        children[parent].append(child);

    QList<qint32> result;
    QSet<qint32> visited;
    const std::function<void(qint32)> walk = [&](qint32 process) {
        for (qint32 child : children.value(process)) {
            if (visited.contains(child) || child == pid)
                continue;
            visited.insert(child);
            walk(child);
            result.append(child);
        }
    };
    walk(pid);
    return result;
}

QList<qint32> descendantProcessIDs(qint32 pid) {
    QList<QPair<qint32, qint32>> pairs;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint32 process = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue; // gone since the listing
        if (const auto parent = parentFromStat(stat.readAll()))
            pairs.append({process, *parent});
    }
    return descendantsFromPairs(pairs, pid);
}

QList<qint32> terminate(qint32 pid, std::chrono::milliseconds grace) {
    if (pid <= 0)
        return {};
    const QList<qint32> descendants = descendantProcessIDs(pid);
    ::kill(pid, SIGTERM);
    for (qint32 descendant : descendants)
        ::kill(descendant, SIGTERM);

    std::thread([pid, descendants, grace] {
        std::this_thread::sleep_for(grace);
        for (qint32 descendant : descendants)
            if (exists(descendant))
                ::kill(descendant, SIGKILL);
        if (exists(pid))
            ::kill(pid, SIGKILL);
    }).detach();
    return QList<qint32>{pid} + descendants;
}

void kill(qint32 pid) {
    if (pid <= 0)
        return;
    const QList<qint32> descendants = descendantProcessIDs(pid);
    for (qint32 descendant : descendants)
        ::kill(descendant, SIGKILL);
    ::kill(pid, SIGKILL);
}

} // namespace ProcessTree
