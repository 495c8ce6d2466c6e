#include "queueitem.h"

namespace QueueStates {

QList<QueueState> allCases() {
    return {QueueState::waiting,   QueueState::running, QueueState::paused,
            QueueState::completed, QueueState::failed,  QueueState::cancelled};
}

QString rawValue(QueueState state) {
    switch (state) {
    case QueueState::waiting:
        return QStringLiteral("waiting");
    case QueueState::running:
        return QStringLiteral("running");
    case QueueState::paused:
        return QStringLiteral("paused");
    case QueueState::completed:
        return QStringLiteral("completed");
    case QueueState::failed:
        return QStringLiteral("failed");
    case QueueState::cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

std::optional<QueueState> fromRawValue(const QString &rawValue) {
    for (const QueueState state : allCases())
        if (QueueStates::rawValue(state) == rawValue)
            return state;
    return std::nullopt;
}

QString label(QueueState state) {
    switch (state) {
    case QueueState::waiting:
        return QStringLiteral("En espera");
    case QueueState::running:
        return QStringLiteral("Descargando");
    case QueueState::paused:
        return QStringLiteral("En pausa");
    case QueueState::completed:
        return QStringLiteral("Completada");
    case QueueState::failed:
        return QStringLiteral("Fallida");
    case QueueState::cancelled:
        return QStringLiteral("Cancelada");
    }
    return {};
}

} // namespace QueueStates
