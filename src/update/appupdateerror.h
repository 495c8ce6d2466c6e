#pragma once

#include "common/torvelerror.h"

// Every refusal of the self-update, each with the sentence the user reads.
class AppUpdateError : public TorvelError {
public:
    enum class Kind {
        unsupportedSystem,
        commandFailed,
        invalidServerResponse,
        invalidManifest,
        untrustedURL,
        invalidDownload,
        checksumMismatch,
        invalidApplication,
        unwritableInstallation,
    };

    // The payload is the manifest's minimum system version for unsupportedSystem and the
    // message for commandFailed; the other kinds carry nothing.
    explicit AppUpdateError(Kind kind, QString payload = QString()) : m_kind(kind), m_payload(std::move(payload)) {}

    Kind kind() const { return m_kind; }
    QString payload() const { return m_payload; }
    QString errorDescription() const override;

private:
    Kind m_kind;
    QString m_payload;
};
