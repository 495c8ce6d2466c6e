#pragma once

#include "startupconfiguration.h"

#include <QStringList>

#include <QCoroTask>

// The command-line front end: `torvel-downloader doctor|analyze|download|tools|self-update …`,
// `--version` and `--help`.
namespace CommandLine {

// Whether the arguments are the command line's: anything but none or a tdl: link.
bool handles(const QStringList &arguments);
// Runs the subcommand named by arguments[1] and returns the process exit status.
QCoro::Task<int> run(QStringList arguments, StartupConfiguration configuration);

} // namespace CommandLine
