#include "toolupdateerror.h"

ToolUpdateError ToolUpdateError::transferFailed(int curlStatus, const QString &host, const QString &curlMessage) {
    QString explanation;
    switch (curlStatus) {
    case 5:
        explanation = QStringLiteral("No se encontró el proxy configurado, así que no se pudo llegar a %1.");
        break;
    case 6:
        explanation = QStringLiteral("No se encontró el servidor %1: el nombre no se pudo resolver. Comprueba la "
                                     "conexión a internet.");
        break;
    case 7:
        explanation = QStringLiteral("No se pudo conectar con %1: no hay conexión a internet o el servidor no "
                                     "responde.");
        break;
    case 28:
        explanation = QStringLiteral("%1 tardó demasiado en responder y se abandonó la descarga. Comprueba la "
                                     "conexión e inténtalo de nuevo.");
        break;
    case 35:
    case 51:
    case 53:
    case 54:
    case 58:
    case 59:
    case 60:
    case 77:
    case 80:
    case 82:
    case 83:
    case 90:
    case 91:
        explanation = QStringLiteral("No se pudo establecer una conexión segura con %1: su certificado no se pudo "
                                     "comprobar. Revisa la fecha del equipo o el proxy de la red.");
        break;
    case 18:
    case 52:
    case 55:
    case 56:
    case 92:
        explanation = QStringLiteral("La conexión con %1 se cortó durante la descarga. Inténtalo de nuevo.");
        break;
    default:
        explanation = QStringLiteral("No se pudo descargar desde %1.");
        break;
    }
    const QString detail = curlMessage.trimmed().isEmpty()
                               ? QStringLiteral("curl terminó con el código %1.").arg(curlStatus)
                               : curlMessage.trimmed();
    return commandFailed(explanation.arg(host) + QStringLiteral("\n\n") + detail);
}

QString ToolUpdateError::errorDescription() const {
    if (m_kind == Kind::invalidResponse)
        return QStringLiteral("No se pudo consultar la versión más reciente de ") + m_payload + QStringLiteral(".");
    return m_payload;
}
