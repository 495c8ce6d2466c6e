#include "torvelerror.h"

const char *TorvelError::what() const noexcept {
    if (m_what.isEmpty())
        m_what = errorDescription().toUtf8();
    return m_what.constData();
}

QString CancellationError::errorDescription() const {
    return QStringLiteral("La operación se canceló.");
}

QString describeError(const std::exception &error) {
    if (const auto *torvel = dynamic_cast<const TorvelError *>(&error))
        return torvel->errorDescription();
    return QString::fromUtf8(error.what());
}
