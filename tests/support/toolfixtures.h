#pragma once

#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "scriptedhttpserver.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// A machine for tool-operation tests: a temporary home with a sandboxed tool search, settings,
// a fake desktop, a managed Deno (so a yt-dlp install needs none) and a local server publishing
// yt-dlp 2025.10.22. Fake tools take their behaviour from files the test writes.
struct ToolMachine {
    ToolMachine();

    QString path(const QString &relative) const { return dir.filePath(relative); }
    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &contents) const;
    // yt-dlp in bin/: "--version" prints the file "version" (2025.01.01 without it), "-U" runs
    // the file "update-script" with $dir set to the machine's folder.
    void standaloneYTDLP(const QByteArray &version = {}) const;
    // yt-dlp linked from a Homebrew Cellar; brew prints the diagnosis for "doctor", the
    // dependents for "uses" and removes the link for "uninstall", logging its calls.
    void homebrewYTDLP(const QByteArray &diagnosis, const QByteArray &dependents = {}) const;
    // A managed yt-dlp answering version; with previous, the copy an earlier install replaced,
    // kept for a step back.
    void managedYTDLP(const QByteArray &version, const QByteArray &previous = {}) const;
    // A model over this machine whose start-up search and checks have ended.
    std::unique_ptr<AppModel> makeModel(AppModel::Clock clock = &QDateTime::currentDateTimeUtc);
    // The model's hosts: the local server, or, offline, a closed port.
    bool offline = false;

    QTemporaryDir dir;
    ScriptedHttpServer server;
    QSettings store;
    AppSettings settings;
    FakeDesktopServices desktop;
};
