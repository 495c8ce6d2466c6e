#include "signingkeys.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

class GnuPGHome {
public:
    GnuPGHome() {
        for (const char *user : {"trusted", "stranger"})
            gpg({u"--quick-generate-key"_s, QString::fromLatin1(user) + u"@torvel.invalid"_s, u"ed25519"_s, u"sign"_s,
                 u"never"_s});
        // Made and used at a time long past: it expired the next day.
        gpg({u"--faked-system-time"_s, u"20200101T000000!"_s, u"--quick-generate-key"_s, u"expired@torvel.invalid"_s,
             u"ed25519"_s, u"sign"_s, u"1d"_s});
        publicKey = gpg({u"--armor"_s, u"--export"_s, u"trusted@torvel.invalid"_s});
        expiredKey = gpg({u"--armor"_s, u"--export"_s, u"expired@torvel.invalid"_s});
        QFile file(keyFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(publicKey) != publicKey.size())
            qFatal("cannot write the test key");
    }
    ~GnuPGHome() { QProcess::execute(u"/usr/bin/gpgconf"_s, {u"--homedir"_s, home.path(), u"--kill"_s, u"all"_s}); }

    QByteArray gpg(const QStringList &arguments, const QByteArray &input = {}) const {
        QProcess process;
        process.start(u"/usr/bin/gpg"_s, QStringList{u"--homedir"_s, home.path(), u"--batch"_s, u"--quiet"_s,
                                                     u"--passphrase"_s, QString()} +
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
    QByteArray expiredKey;
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
    const QString user = trusted ? u"trusted@torvel.invalid"_s : u"stranger@torvel.invalid"_s;
    return gnupg().gpg({u"--local-user"_s, user, u"--detach-sign"_s}, data);
}

QByteArray expiredPublicKey() {
    return gnupg().expiredKey;
}

QByteArray signWithExpiredKey(const QByteArray &data) {
    return gnupg().gpg({u"--faked-system-time"_s, u"20200101T120000!"_s, u"--local-user"_s, u"expired@torvel.invalid"_s,
                        u"--detach-sign"_s},
                       data);
}

} // namespace SigningKeys
