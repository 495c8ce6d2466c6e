#pragma once

#include <QList>
#include <QtGlobal>

#include <chrono>

// Stops a child together with everything it started (yt-dlp with its FFmpeg, brew with its
// compilers, a test run with its helpers). The tree is read from /proc before the first signal,
// so children re-parented to init after their parent died are still reached. A child that
// leads a process group of its own (ProcessOptions::ownProcessGroup) is also signalled through
// its group, which reaches what it started after the tree was read.
namespace ProcessTree {

// Every descendant of pid, in post-order: each process comes after all of its own descendants;
// pid itself is not in the list. Unreadable or vanished entries are skipped; an unreadable
// /proc gives an empty list.
QList<qint32> descendantProcessIDs(qint32 pid);

// Builds the post-order list from (process id, parent id) pairs in listing order. Children of
// a process are visited in the order they were listed; each process appears once.
QList<qint32> descendantsFromPairs(const QList<QPair<qint32, qint32>> &pairs, qint32 pid);

// Whether pid exists and has not ended: a zombie waiting for its parent to collect it counts
// as ended.
bool isRunning(qint32 pid);

// Whether any process of the group exists and has not ended.
bool groupIsRunning(qint32 groupID);

// Sends SIGTERM to pid, then to each descendant in list order, and returns at once. After
// `grace`, a detached thread sends SIGKILL to whichever of them still exist: descendants in
// list order, pid last. A pid <= 0 does nothing. Returns pid and the descendants it signalled,
// so that a caller can wait for all of them to be gone.
QList<qint32> terminate(qint32 pid, std::chrono::milliseconds grace = std::chrono::seconds(2));

// Sends SIGKILL to pid and then to every descendant, now. For quitting the application.
void kill(qint32 pid);

} // namespace ProcessTree
