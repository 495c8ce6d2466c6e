#pragma once

#include "common/torvelerror.h"

class ProcessRunnerError : public TorvelError {
public:
    enum class Kind { couldNotStart, failed };

    static ProcessRunnerError couldNotStart(QString message) { return {Kind::couldNotStart, 0, std::move(message)}; }
    static ProcessRunnerError failed(qint32 status, QString message) {
        return {Kind::failed, status, std::move(message)};
    }

    Kind kind() const { return m_kind; }
    qint32 status() const { return m_status; }
    QString message() const { return m_message; }
    QString errorDescription() const override;

private:
    ProcessRunnerError(Kind kind, qint32 status, QString message)
        : m_kind(kind), m_status(status), m_message(std::move(message)) {}

    Kind m_kind;
    qint32 m_status;
    QString m_message;
};
