#include "appupdateerror.h"

QString AppUpdateError::errorDescription() const {
    switch (m_kind) {
    case Kind::unsupportedSystem:
        return QStringLiteral("Esta actualización requiere glibc ") + m_payload + QStringLiteral(" o posterior.");
    case Kind::commandFailed:
        return QStringLiteral("No se pudo preparar la actualización. ") + m_payload;
    case Kind::invalidServerResponse:
        return QStringLiteral("El servidor de actualizaciones no respondió correctamente.");
    case Kind::invalidManifest:
        return QStringLiteral("La información de la actualización no es válida.");
    case Kind::untrustedURL:
        return QStringLiteral("La actualización no procede de un servidor autorizado de Torvel.");
    case Kind::invalidDownload:
        return QStringLiteral("El archivo descargado está incompleto o no tiene el tamaño esperado.");
    case Kind::checksumMismatch:
        return QStringLiteral("La verificación SHA-256 no coincide. La actualización no se instalará.");
    case Kind::invalidApplication:
        return QStringLiteral("El paquete descargado no contiene una versión válida de Torvel Downloader.");
    case Kind::unwritableInstallation:
        return QStringLiteral("La app no puede reemplazarse desde su ubicación actual. Instala la actualización con "
                              "el paquete descargable.");
    }
    return {};
}
