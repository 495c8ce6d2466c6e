#pragma once

#include "update/appupdateservice.h"

#include <QStringList>

#include <QCoroTask>

// `torvel-downloader self-update [--check]`: the window's update check and installation from a
// terminal, with the same manifest, proofs and installer.
namespace SelfUpdateCommand {

// arguments are those after "self-update". Returns the process exit status.
QCoro::Task<int> run(QStringList arguments, AppUpdateService::Configuration configuration);

} // namespace SelfUpdateCommand
