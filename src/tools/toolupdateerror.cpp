#include "toolupdateerror.h"

QString ToolUpdateError::errorDescription() const {
    if (m_kind == Kind::invalidResponse)
        return QStringLiteral("No se pudo consultar la versión más reciente de ") + m_payload + QStringLiteral(".");
    return m_payload;
}
