#pragma once

#include "common/torvelerror.h"

// A tool operation that could not be done. Each kind carries the text its description is made of.
class ToolUpdateError : public TorvelError {
public:
    enum class Kind { invalidResponse, commandFailed, unsupported };

    // payload: the tool or catalog entry whose answer could not be read.
    static ToolUpdateError invalidResponse(QString name) { return {Kind::invalidResponse, std::move(name)}; }
    static ToolUpdateError commandFailed(QString message) { return {Kind::commandFailed, std::move(message)}; }
    static ToolUpdateError unsupported(QString message) { return {Kind::unsupported, std::move(message)}; }
    // A transfer curl could not make: what its exit status means, in Spanish, then curl's own
    // line (or, without one, its status) as the detail.
    static ToolUpdateError transferFailed(int curlStatus, const QString &host, const QString &curlMessage);

    Kind kind() const { return m_kind; }
    QString payload() const { return m_payload; }
    QString errorDescription() const override;

private:
    ToolUpdateError(Kind kind, QString payload) : m_kind(kind), m_payload(std::move(payload)) {}

    Kind m_kind;
    QString m_payload;
};
