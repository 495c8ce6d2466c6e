#include "testsupport.h"

#include "process/processtree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;

namespace TestSupport {

QString writeFile(const QString &path, const QByteArray &contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(contents);
    return path;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeScript(const QString &path, const QString &body) {
    writeFile(path, (u"#!/bin/sh\n"_s + body + QLatin1Char('\n')).toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    return path;
}

LocatorEnvironment sandboxedTools(const QString &folder) {
    LocatorEnvironment environment;
    environment.homeFolder = folder + u"/home"_s;
    environment.pathVariable = folder + u"/bin"_s;
    environment.managedToolsFolder = folder + u"/tools"_s;
    return environment;
}

ToolHosts unreachableToolHosts() {
    const QUrl nowhere(u"http://127.0.0.1:9"_s);
    return ToolHosts{nowhere, nowhere, nowhere, nowhere};
}

QString applicationPath() {
    return qEnvironmentVariable("TORVEL_APP");
}

ProcessEnvironment applicationEnvironment(ProcessEnvironment environment) {
    // A sanitizer build's child must report with the same options as the test itself.
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (qEnvironmentVariableIsSet(name))
            environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    return environment;
}

QList<qint32> runningChildren() {
    QList<qint32> running;
    const QList<qint32> all = ProcessTree::descendantProcessIDs(qint32(QCoreApplication::applicationPid()));
    for (qint32 pid : all)
        if (ProcessTree::isRunning(pid))
            running.append(pid);
    return running;
}

bool waitUntilChildless(int timeoutMilliseconds) {
    const qint32 self = qint32(QCoreApplication::applicationPid());
    return QTest::qWaitFor([self] { return ProcessTree::descendantProcessIDs(self).isEmpty(); }, timeoutMilliseconds);
}

ProcessResult runApplication(const QStringList &arguments, const QString &home, const ProcessEnvironment &extra,
                             const ProcessCallback &onProcess, const LineCallback &onLine) {
    ProcessEnvironment environment{{u"HOME"_s, home}, {u"PATH"_s, u"/usr/bin:/bin"_s}, {u"LANG"_s, u"C.UTF-8"_s}};
    environment.insert(extra);
    return BlockingWait::wait(
        ProcessRunner::run(applicationPath(), arguments, applicationEnvironment(environment), onProcess, onLine));
}

QString artefactFolder(const QString &name) {
    QString root = qEnvironmentVariable("TORVEL_TEST_BINARY_DIR");
    if (root.isEmpty())
        root = QDir::currentPath();
    const QString folder = root + u"/test-artefacts/"_s + name;
    QDir().mkpath(folder);
    return folder;
}

} // namespace TestSupport
