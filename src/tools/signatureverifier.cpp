#include "signatureverifier.h"

#include "common/torvelerror.h"
#include "process/processrunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace {

void writeFile(const QString &path, const QByteArray &contents) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        throw PlatformError(file.errorString());
}

// Whether a packet header starts a public-key packet (tag 6), in the old or the new format.
bool startsWithPublicKeyPacket(const QByteArray &packets) {
    if (packets.isEmpty())
        return false;
    const auto header = static_cast<unsigned char>(packets.front());
    if (!(header & 0x80))
        return false;
    const int tag = (header & 0x40) ? (header & 0x3f) : ((header >> 2) & 0x0f);
    return tag == 6;
}

// gpgv's exit status says a signature is good even when its key has expired or was revoked:
// only the status lines tell. A good signature (GOODSIG, VALIDSIG) and no other verdict.
bool isGoodAndCurrent(const QByteArray &status) {
    bool good = false, valid = false;
    for (const QByteArray &line : status.split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() < 2 || words.constFirst() != "[GNUPG:]")
            continue;
        const QByteArray &keyword = words.at(1);
        if (keyword == "EXPKEYSIG" || keyword == "REVKEYSIG" || keyword == "EXPSIG" || keyword == "BADSIG" ||
            keyword == "ERRSIG" || keyword == "KEYREVOKED")
            return false;
        good = good || keyword == "GOODSIG";
        valid = valid || keyword == "VALIDSIG";
    }
    return good && valid;
}

} // namespace

SignatureVerifier::SignatureVerifier(QByteArray armoredKey, QString gpgv, std::chrono::milliseconds limit)
    : m_keyring(dearmor(armoredKey).value_or(QByteArray())), m_gpgv(std::move(gpgv)), m_limit(limit) {}

std::optional<QByteArray> SignatureVerifier::dearmor(const QByteArray &armoredKey) {
    const QList<QByteArray> lines = armoredKey.split('\n');
    qsizetype line = 0;
    while (line < lines.size() && lines[line].trimmed() != "-----BEGIN PGP PUBLIC KEY BLOCK-----")
        ++line;
    ++line;
    // Armor headers ("Comment: …") up to the blank line; base64 never holds a colon.
    while (line < lines.size() && lines[line].contains(':'))
        ++line;
    QByteArray base64;
    for (; line < lines.size(); ++line) {
        const QByteArray text = lines[line].trimmed();
        if (text.startsWith('=') || text.startsWith("-----END PGP PUBLIC KEY BLOCK-----"))
            break; // the checksum line, or the end
        base64 += text;
    }
    if (line == lines.size())
        return std::nullopt;
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || !startsWithPublicKeyPacket(decoded.decoded))
        return std::nullopt;
    return decoded.decoded;
}

QCoro::Task<bool> SignatureVerifier::verify(QByteArray data, QByteArray signature) const {
    if (m_keyring.isEmpty() || signature.isEmpty())
        co_return false;
    const QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/torvel-gpgv-XXXXXX"));
    if (!folder.isValid())
        throw PlatformError(folder.errorString());
    const QString keyring = folder.filePath(QStringLiteral("keyring.gpg"));
    const QString content = folder.filePath(QStringLiteral("data"));
    const QString detached = folder.filePath(QStringLiteral("data.sig"));
    writeFile(keyring, m_keyring);
    writeFile(content, data);
    writeFile(detached, signature);

    QTimer limit;
    limit.setSingleShot(true);
    const ProcessCallback onProcess = [&](const ProcessHandle &handle) {
        QObject::connect(&limit, &QTimer::timeout, [handle] { handle.kill(); });
        limit.start(m_limit);
    };
    const QStringList arguments{QStringLiteral("--homedir"),
                                folder.path(),
                                QStringLiteral("--keyring"),
                                keyring,
                                QStringLiteral("--status-fd"),
                                QStringLiteral("1"),
                                detached,
                                content};
    const ProcessResult result = co_await ProcessRunner::run(m_gpgv, arguments, std::nullopt, onProcess);
    co_return result.status == 0 && limit.isActive() && isGoodAndCurrent(result.standardOutput);
}
