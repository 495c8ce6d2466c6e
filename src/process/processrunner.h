#pragma once

#include "lineaccumulator.h"
#include "processrunnererror.h"

#include <QByteArray>
#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <QCoroTask>

#include <functional>
#include <optional>

struct ProcessResult {
    // Exit code, or the number of the signal that ended the child (15, 9).
    qint32 status = 0;
    QByteArray standardOutput;
    QByteArray standardError;

    bool operator==(const ProcessResult &) const = default;
};

// What a caller keeps of a running child: its process id and a way to stop it.
class ProcessHandle {
public:
    ProcessHandle() = default;
    explicit ProcessHandle(QProcess *process);

    qint64 processID() const { return m_processID; }
    void terminate() const; // SIGTERM
    void kill() const;      // SIGKILL

private:
    void signal(int number) const;

    QPointer<QProcess> m_process;
    qint64 m_processID = 0;
};

using ProcessEnvironment = QMap<QString, QString>;
using ProcessCallback = std::function<void(const ProcessHandle &handle)>;

// How a child is started and how much of its output is kept. The defaults start it like any
// other child of the application and keep every byte.
struct ProcessOptions {
    // The child leads a process group of its own, so a terminal's Ctrl-C reaches the
    // application alone, which then stops the child's whole tree itself. Its standard input is
    // /dev/null: a background group that read the terminal would be stopped by it.
    bool ownProcessGroup = false;
    // Linux: the child receives SIGKILL when the thread that started it ends, so a crash or a
    // SIGKILL of the application does not leave it running. Start such children only from a
    // thread that lives as long as they may (the interface thread).
    bool dieWithApplication = false;
    // When positive: ProcessResult keeps only the last this many bytes of each stream. For
    // children whose output a line callback consumes and that may print without end.
    qsizetype retainedOutputTail = 0;
    // Ends records inside lines as well (see LineAccumulator).
    RecordEnd recordEnd;
    // Longer lines are handed over in pieces of this many characters.
    qsizetype longestLine = LineAccumulator::maximumLineLength;
};

// Starts outside programs directly by path (no shell, no PATH search), collects both output
// streams as bytes and streams them as lines while the child runs. It never judges the exit
// status: callers decide whether a non-zero status is an error.
class ProcessRunner {
public:
    // environment: absent inherits this process's environment; a map (even empty) is the whole
    // environment of the child. Throws ProcessRunnerError::couldNotStart.
    static QCoro::Task<ProcessResult> run(QString executable, QStringList arguments,
                                          std::optional<ProcessEnvironment> environment = std::nullopt,
                                          ProcessCallback onProcess = {}, LineCallback onLine = {},
                                          ProcessOptions options = {});
};
