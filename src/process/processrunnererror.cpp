#include "processrunnererror.h"

QString ProcessRunnerError::errorDescription() const {
    if (m_kind == Kind::couldNotStart)
        return QStringLiteral("No se pudo iniciar la herramienta: ") + m_message;
    if (m_message.isEmpty())
        return QStringLiteral("La herramienta terminó con un error.");
    return m_message;
}
