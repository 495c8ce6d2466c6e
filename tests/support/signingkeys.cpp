#include "signingkeys.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

class GnuPGHome {
public:
    GnuPGHome() {
        for (const char *user : {"trusted", "stranger"})
            gpg({QStringLiteral("--quick-generate-key"), QString::fromLatin1(user) + QStringLiteral("@torvel.invalid"),
                 QStringLiteral("ed25519"), QStringLiteral("sign"), QStringLiteral("never")});
        publicKey =
            gpg({QStringLiteral("--armor"), QStringLiteral("--export"), QStringLiteral("trusted@torvel.invalid")});
        QFile file(keyFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(publicKey) != publicKey.size())
            qFatal("cannot write the test key");
    }
    ~GnuPGHome() {
        QProcess::execute(QStringLiteral("/usr/bin/gpgconf"),
                          {QStringLiteral("--homedir"), home.path(), QStringLiteral("--kill"), QStringLiteral("all")});
    }

    QByteArray gpg(const QStringList &arguments, const QByteArray &input = {}) const {
        QProcess process;
        process.start(QStringLiteral("/usr/bin/gpg"),
                      QStringList{QStringLiteral("--homedir"), home.path(), QStringLiteral("--batch"),
                                  QStringLiteral("--quiet"), QStringLiteral("--passphrase"), QString()} +
                          arguments);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            qFatal("gpg %s failed: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                   process.readAllStandardError().constData());
        return process.readAllStandardOutput();
    }
    QString keyFile() const { return home.filePath(QStringLiteral("trusted.asc")); }

    QTemporaryDir home{QDir::tempPath() + QStringLiteral("/torvel-gnupg-XXXXXX")};
    QByteArray publicKey;
};

const GnuPGHome &gnupg() {
    static const GnuPGHome home;
    return home;
}

} // namespace

namespace SigningKeys {

QByteArray trustedPublicKey() {
    return gnupg().publicKey;
}

QString trustedPublicKeyFile() {
    return gnupg().keyFile();
}

QByteArray sign(const QByteArray &data, bool trusted) {
    const QString user = trusted ? QStringLiteral("trusted@torvel.invalid") : QStringLiteral("stranger@torvel.invalid");
    return gnupg().gpg({QStringLiteral("--local-user"), user, QStringLiteral("--detach-sign")}, data);
}

} // namespace SigningKeys
