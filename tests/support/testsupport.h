#pragma once

#include "common/blockingwait.h"
#include "common/torvelerror.h"
#include "process/processrunner.h"
#include "tools/dependencylocator.h"
#include "tools/toolhosts.h"

#include <QString>

namespace TestSupport {

// Writes an executable /bin/sh script and returns its path.
QString writeScript(const QString &path, const QString &body);
// Writes a file (creating its folders) and returns its path.
QString writeFile(const QString &path, const QByteArray &contents);
// The contents of a file; empty when it cannot be read.
QByteArray readFile(const QString &path);
// A tool search confined to a test folder: PATH is folder/bin, the home folder folder/home and the
// managed tools folder/tools; none of the machine's own folders are searched.
LocatorEnvironment sandboxedTools(const QString &folder);
// Tool hosts on a loopback port where nothing listens: every catalog query fails at once.
ToolHosts unreachableToolHosts();
// The built application, for tests that run it as a separate process.
QString applicationPath();
// Runs the built application to its end with a home folder of its own, PATH /usr/bin:/bin, a
// UTF-8 locale and the extra variables given.
ProcessResult runApplication(const QStringList &arguments, const QString &home, const ProcessEnvironment &extra = {},
                             const ProcessCallback &onProcess = {}, const LineCallback &onLine = {});
// The environment given, with the sanitizer options of this test process added.
ProcessEnvironment applicationEnvironment(ProcessEnvironment environment);
// Children (and their descendants) of this test process that are still running.
QList<qint32> runningChildren();
// Waits until this process has no child left, not even one waiting to be collected, so that the
// work that awaited it has moved on and nothing is still pending when the test ends.
bool waitUntilChildless(int timeoutMilliseconds = 10'000);
// A folder under the build tree where tests keep artefacts (screenshots, media).
QString artefactFolder(const QString &name);

// How a run ended: the description of the error it threw ("cancelada" for a user stop), or an
// empty text when it returned.
template <typename Run> QString failureOf(Run &&run) {
    try {
        std::forward<Run>(run)();
    } catch (const CancellationError &) {
        return QStringLiteral("cancelada");
    } catch (const TorvelError &error) {
        return error.errorDescription();
    }
    return {};
}
template <typename T> QString failureOf(QCoro::Task<T> &&task) {
    return failureOf([&] { BlockingWait::wait(std::move(task)); });
}

} // namespace TestSupport
