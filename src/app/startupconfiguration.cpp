#include "startupconfiguration.h"

StartupConfiguration StartupConfiguration::fromEnvironment(const QProcessEnvironment &environment) {
    return {ToolHosts::fromEnvironment(environment), AppUpdateService::Configuration::system(environment)};
}
