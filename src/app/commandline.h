#pragma once

#include "startupconfiguration.h"

#include <QStringList>

#include <QCoroTask>

// The command-line front end: `torvel-downloader doctor|analyze|download …`.
namespace CommandLine {

bool handles(const QStringList &arguments);
// Runs the subcommand named by arguments[1] and returns the process exit status.
QCoro::Task<int> run(QStringList arguments, StartupConfiguration configuration);

} // namespace CommandLine
