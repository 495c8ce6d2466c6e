#include "processrunner.h"

#include <QCoroSignal>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QThread>

#include <signal.h>

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

QCoro::Task<ProcessResult> ProcessRunner::run(QString executable, QStringList arguments,
                                              std::optional<ProcessEnvironment> environment, ProcessCallback onProcess,
                                              LineCallback onLine) {
    QProcess process;
    // A name without a slash would make QProcess search PATH; a file location is what we mean.
    process.setProgram(executable.isEmpty() ? executable : QFileInfo(executable).absoluteFilePath());
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    if (environment) {
        QProcessEnvironment childEnvironment; // starts empty: nothing is inherited
        for (auto it = environment->cbegin(); it != environment->cend(); ++it)
            childEnvironment.insert(it.key(), it.value());
        process.setProcessEnvironment(childEnvironment);
    }

    ProcessResult result;
    LineAccumulator outputLines;
    LineAccumulator errorLines;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [&] {
        const QByteArray chunk = process.readAllStandardOutput();
        result.standardOutput += chunk;
        if (onLine)
            outputLines.append(chunk, onLine);
    });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, [&] {
        const QByteArray chunk = process.readAllStandardError();
        result.standardError += chunk;
        if (onLine)
            errorLines.append(chunk, onLine);
    });

    if (executable.isEmpty())
        throw ProcessRunnerError::couldNotStart(QStringLiteral("no se indicó ningún ejecutable."));

    process.start(QIODevice::ReadOnly);
    while (process.state() == QProcess::Starting)
        co_await qCoro(&process, &QProcess::stateChanged);
    if (process.state() != QProcess::Running && process.error() == QProcess::FailedToStart) {
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
    result.standardOutput += outputRest;
    result.standardError += errorRest;
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
