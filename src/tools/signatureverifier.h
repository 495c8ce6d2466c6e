#pragma once

#include <QByteArray>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <optional>

// Checks detached OpenPGP signatures against one public key with gpgv (Debian package gpgv).
// Each check works in a private temporary folder holding the key as the only keyring, which
// is also gpgv's home, so nothing of the user's own GnuPG set-up takes part.
class SignatureVerifier {
public:
    // armoredKey: an ASCII-armored public key block, as projects publish it. gpgv reads only
    // binary keyrings; the armor is decoded here.
    explicit SignatureVerifier(QByteArray armoredKey, QString gpgv = QStringLiteral("/usr/bin/gpgv"),
                               std::chrono::milliseconds limit = std::chrono::seconds(30));

    // Whether signature (binary or armored) is a good signature of data made by the key. False
    // for a bad or foreign signature, an empty one, an unusable key or a gpgv that does not
    // answer within the limit. Throws ProcessRunnerError when gpgv cannot be started, and
    // PlatformError when the work folder cannot be written.
    QCoro::Task<bool> verify(QByteArray data, QByteArray signature) const;

    // The key packets of an armored public key block; absent when the text is not one.
    static std::optional<QByteArray> dearmor(const QByteArray &armoredKey);

private:
    QByteArray m_keyring; // binary; empty when the key could not be decoded
    QString m_gpgv;
    std::chrono::milliseconds m_limit;
};
