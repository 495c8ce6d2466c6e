#pragma once

#include "tools/toolhosts.h"
#include "update/appupdateservice.h"

#include <QProcessEnvironment>

// Everything the application reads from its environment at start-up: the hosts of the tool
// catalogs and downloads, and the update manifest's address. Read once by main() and handed to
// the window's model or to the command line, so both use the same values.
struct StartupConfiguration {
    ToolHosts toolHosts;
    AppUpdateService::Configuration updates;

    // Throws ServiceAddressError naming the first override that is not acceptable.
    static StartupConfiguration fromEnvironment(const QProcessEnvironment &environment);
};
