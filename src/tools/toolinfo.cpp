#include "toolinfo.h"

QString ToolInstallSource::displayLabel() const {
    switch (kind) {
    case Kind::managed:
        return QStringLiteral("Administrado por Torvel");
    case Kind::homebrew:
        return QStringLiteral("Homebrew");
    case Kind::macPorts:
        return QStringLiteral("MacPorts");
    case Kind::pip:
        return QStringLiteral("pip");
    case Kind::systemPackage:
        return QStringLiteral("Paquete del sistema");
    case Kind::standalone:
        break;
    }
    return QStringLiteral("Instalación independiente");
}
