#include "processtree.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <functional>
#include <optional>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace ProcessTree {

namespace {

// The fields of /proc/PID/stat after the command name in parentheses: state, parent id,
// process group id, … The name may itself hold spaces and parentheses, so the last ")" ends it.
QList<QByteArray> statFields(const QByteArray &stat) {
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 1).simplified().split(' ');
}

std::optional<qint32> parentFromStat(const QByteArray &stat) {
    const QList<QByteArray> fields = statFields(stat);
    if (fields.size() < 2)
        return std::nullopt;
    bool ok = false;
    const qint32 parent = fields.at(1).toInt(&ok);
    return ok ? std::optional<qint32>(parent) : std::nullopt;
}

QByteArray readStat(const QString &pid) {
    QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    return stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray(); // empty: gone since the listing
}

QStringList processEntries() {
    return QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// A child started in a group of its own is reached through its group as well: that also finds
// what it started and left behind (re-parented away from it), or started just after the tree
// was read.
bool leadsOwnGroup(qint32 pid) {
    return ::getpgid(pid) == pid;
}

bool exists(qint32 pid) {
    return ::kill(pid, 0) == 0;
}

} // namespace

bool isRunning(qint32 pid) {
    if (pid <= 0)
        return false;
    const QList<QByteArray> fields = statFields(readStat(QString::number(pid)));
    return !fields.isEmpty() && fields.first() != "Z";
}

bool groupIsRunning(qint32 groupID) {
    if (groupID <= 0)
        return false;
    const QByteArray group = QByteArray::number(groupID);
    const QStringList entries = processEntries();
    for (const QString &entry : entries) {
        const QList<QByteArray> fields = statFields(readStat(entry));
        if (fields.size() > 2 && fields.at(2) == group && fields.first() != "Z")
            return true;
    }
    return false;
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
    const QStringList entries = processEntries();
    for (const QString &entry : entries) {
        bool ok = false;
        const qint32 process = entry.toInt(&ok);
        if (!ok)
            continue;
        if (const auto parent = parentFromStat(readStat(entry)))
            pairs.append({process, *parent});
    }
    return descendantsFromPairs(pairs, pid);
}

QList<qint32> terminate(qint32 pid, std::chrono::milliseconds grace) {
    if (pid <= 0)
        return {};
    const bool group = leadsOwnGroup(pid);
    const QList<qint32> descendants = descendantProcessIDs(pid);
    ::kill(pid, SIGTERM);
    for (qint32 descendant : descendants)
        ::kill(descendant, SIGTERM);
    if (group)
        ::kill(-pid, SIGTERM);

    std::thread([pid, descendants, grace, group] {
        std::this_thread::sleep_for(grace);
        for (qint32 descendant : descendants)
            if (exists(descendant))
                ::kill(descendant, SIGKILL);
        if (group)
            ::kill(-pid, SIGKILL); // fails harmlessly once the group is empty
        if (exists(pid))
            ::kill(pid, SIGKILL);
    }).detach();
    return QList<qint32>{pid} + descendants;
}

void kill(qint32 pid) {
    if (pid <= 0)
        return;
    const bool group = leadsOwnGroup(pid);
    const QList<qint32> descendants = descendantProcessIDs(pid);
    // The child first: it must not see its own children die and end as if it had finished.
    ::kill(pid, SIGKILL);
    if (group)
        ::kill(-pid, SIGKILL);
    for (qint32 descendant : descendants)
        ::kill(descendant, SIGKILL);
}

} // namespace ProcessTree
