#include "processrunner.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QFileInfo>
#include <QFuture>
#include <QProcessEnvironment>
#include <QPromise>
#include <QThread>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

ProcessHandle::ProcessHandle(QProcess *process) : m_process(process), m_processID(process->processId()) {}

void ProcessHandle::terminate() const {
    signal(SIGTERM);
}

void ProcessHandle::kill() const {
    signal(SIGKILL);
}

void ProcessHandle::signal(int number) const {
    QProcess *process = m_process.data();
    if (!process || process->state() == QProcess::NotRunning)
        return;
    // QProcess belongs to the thread that started it; from there it can be asked directly.
    if (process->thread() == QThread::currentThread()) {
        number == SIGKILL ? process->kill() : process->terminate();
        return;
    }
    QMetaObject::invokeMethod(
        process, [process, number] { number == SIGKILL ? process->kill() : process->terminate(); },
        Qt::QueuedConnection);
}

namespace {

// Appends a chunk, dropping what lies beyond the tail to keep. Trimming only once the buffer
// holds twice the tail keeps the cost of the copies proportional to the output.
void keep(QByteArray &buffer, const QByteArray &chunk, qsizetype tail) {
    buffer += chunk;
    if (tail > 0 && buffer.size() > 2 * tail)
        buffer.remove(0, buffer.size() - tail);
}

void trimToTail(QByteArray &buffer, qsizetype tail) {
    if (tail > 0 && buffer.size() > tail)
        buffer.remove(0, buffer.size() - tail);
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void prepareChild(bool ownProcessGroup, bool dieWithApplication, pid_t application) {
    if (ownProcessGroup)
        ::setpgid(0, 0);
    if (dieWithApplication) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The application may have ended before the request took effect.
        if (::getppid() != application)
            ::_exit(127);
    }
}

} // namespace

QCoro::Task<ProcessResult> ProcessRunner::run(QString executable, QStringList arguments,
                                              std::optional<ProcessEnvironment> environment, ProcessCallback onProcess,
                                              LineCallback onLine, ProcessOptions options) {
    QProcess process;
    // A name without a slash would make QProcess search PATH; a file location is what we mean.
    process.setProgram(executable.isEmpty() ? executable : QFileInfo(executable).absoluteFilePath());
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    if (options.ownProcessGroup)
        process.setStandardInputFile(QProcess::nullDevice());
    else
        process.setInputChannelMode(QProcess::ForwardedInputChannel);
    if (options.ownProcessGroup || options.dieWithApplication) {
        const bool ownGroup = options.ownProcessGroup;
        const bool dieWith = options.dieWithApplication;
        const pid_t application = ::getpid();
        process.setChildProcessModifier(
            [ownGroup, dieWith, application] { prepareChild(ownGroup, dieWith, application); });
    }
    if (environment) {
        QProcessEnvironment childEnvironment; // starts empty: nothing is inherited
        for (auto it = environment->cbegin(); it != environment->cend(); ++it)
            childEnvironment.insert(it.key(), it.value());
        process.setProcessEnvironment(childEnvironment);
    }

    ProcessResult result;
    const qsizetype tail = options.retainedOutputTail;
    LineAccumulator outputLines(options.recordEnd, options.longestLine);
    LineAccumulator errorLines(options.recordEnd, options.longestLine);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [&] {
        const QByteArray chunk = process.readAllStandardOutput();
        keep(result.standardOutput, chunk, tail);
        if (onLine)
            outputLines.append(chunk, onLine);
    });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, [&] {
        const QByteArray chunk = process.readAllStandardError();
        keep(result.standardError, chunk, tail);
        if (onLine)
            errorLines.append(chunk, onLine);
    });

    if (executable.isEmpty())
        throw ProcessRunnerError::couldNotStart(QStringLiteral("no se indicó ningún ejecutable."));

    // The start is awaited through a future: awaiting QProcess's own state signal would bind
    // its private tag argument to a null reference inside QCoro.
    QPromise<bool> startPromise;
    QFuture<bool> started = startPromise.future();
    startPromise.start();
    QObject::connect(&process, &QProcess::started, &process, [&startPromise] {
        startPromise.addResult(true);
        startPromise.finish();
    });
    QObject::connect(&process, &QProcess::errorOccurred, &process, [&startPromise](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || startPromise.future().isFinished())
            return;
        startPromise.addResult(false);
        startPromise.finish();
    });
    process.start(QIODevice::ReadOnly);
    if (!co_await started) {
        QObject::disconnect(&process, nullptr, &process, nullptr);
        throw ProcessRunnerError::couldNotStart(process.errorString());
    }
    if (onProcess)
        onProcess(ProcessHandle(&process));

    if (process.state() != QProcess::NotRunning)
        co_await qCoro(&process, &QProcess::finished);
    QObject::disconnect(&process, nullptr, &process, nullptr);

    // Whatever arrived after the last notification: standard output first, then standard error.
    const QByteArray outputRest = process.readAllStandardOutput();
    const QByteArray errorRest = process.readAllStandardError();
    keep(result.standardOutput, outputRest, tail);
    keep(result.standardError, errorRest, tail);
    trimToTail(result.standardOutput, tail);
    trimToTail(result.standardError, tail);
    if (onLine) {
        outputLines.append(outputRest, onLine);
        errorLines.append(errorRest, onLine);
        outputLines.flush(onLine);
        errorLines.flush(onLine);
    }
    // On Unix a crashed child reports the number of the signal that ended it as its exit code.
    result.status = process.exitCode();
    co_return result;
}
