#pragma once

#include "tools/toolhosts.h"

#include <QStringList>

#include <QCoroTask>

// `torvel-downloader tools …`: the tool status with the version check, and the managed
// installs, updates and Homebrew removals, with the operation's log live on standard error.
namespace ToolsCommand {

// arguments: what follows "tools"; hosts: where the catalogs and downloads are. Returns the exit status: 0, 1 on
// failure, 2 on a usage error, 130 when cancelled with Ctrl-C.
QCoro::Task<int> run(QStringList arguments, ToolHosts hosts);

} // namespace ToolsCommand
