#include "bundleseal.h"

#include "common/filedigest.h"
#include "common/torvelerror.h"
#include "update/appupdateerror.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QSet>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace BundleSeal {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr qint64 maxSignatureBytes = 16 * 1024 * 1024;

[[noreturn]] void refuse(const QString &message) {
    throw AppUpdateError(AppUpdateError::Kind::commandFailed, message);
}

[[noreturn]] void refuseSeal() {
    refuse(QStringLiteral("El sello del paquete no es válido."));
}

Key privateKey(const QString &pemPath) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> input(BIO_new_file(QFile::encodeName(pemPath).constData(), "r"),
                                                          &BIO_free);
    Key key(input ? PEM_read_bio_PrivateKey(input.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        throw PlatformError(QStringLiteral("La clave ") + pemPath +
                            QStringLiteral(" no es una clave Ed25519 privada."));
    return key;
}

// One listing line per file or link, keyed by path.
QMap<QString, QByteArray> entries(const QString &bundlePath) {
    QMap<QString, QByteArray> result;
    const QDir bundle(bundlePath);
    QDirIterator walk(bundlePath, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QString relative = bundle.relativeFilePath(path);
        if (relative == QLatin1String(fileName))
            continue;
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            throw PlatformError(QStringLiteral("No se pudo leer ") + relative + QStringLiteral("."));
        if (S_ISDIR(status.st_mode))
            continue;
        if (relative.contains(QLatin1Char('\t')) || relative.contains(QLatin1Char('\n')))
            refuse(QStringLiteral("El paquete contiene un nombre de archivo no permitido."));
        QByteArray line;
        if (S_ISLNK(status.st_mode)) {
            QByteArray target(4096, Qt::Uninitialized);
            const ssize_t length =
                ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
            if (length < 0 || length >= target.size())
                throw PlatformError(QStringLiteral("No se pudo leer ") + relative + QStringLiteral("."));
            target.truncate(length);
            line = "link\t" + target + '\t' + relative.toUtf8();
        } else if (S_ISREG(status.st_mode)) {
            line = "file\t" + QByteArray::number(status.st_mode & 07777, 8).rightJustified(4, '0') + '\t' +
                   QByteArray::number(qint64(status.st_size)) + '\t' + FileDigest::sha256(path).toLatin1() + '\t' +
                   relative.toUtf8();
        } else {
            refuse(QStringLiteral("El paquete contiene un archivo no permitido: ") + relative);
        }
        result.insert(relative, line);
    }
    return result;
}

} // namespace

QByteArray listing(const QString &bundlePath) {
    QByteArray text;
    const QMap<QString, QByteArray> lines = entries(bundlePath);
    for (const QByteArray &line : lines)
        text += line + '\n';
    return text;
}

QByteArray publicKeyOf(const QString &privateKeyPemPath) {
    const Key key = privateKey(privateKeyPemPath);
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char *>(raw.data()), &length) != 1 ||
        length != 32)
        throw PlatformError(QStringLiteral("No se pudo leer la clave pública de ") + privateKeyPemPath);
    return raw;
}

void seal(const QString &bundlePath, const QString &privateKeyPemPath) {
    const Key key = privateKey(privateKeyPemPath);
    const QByteArray signedText = listing(bundlePath);
    const DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(64, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                       reinterpret_cast<const unsigned char *>(signedText.constData()), size_t(signedText.size())) != 1)
        throw PlatformError(QStringLiteral("No se pudo firmar el paquete."));
    signature.resize(qsizetype(length));

    QSaveFile file(bundlePath + QLatin1Char('/') + QLatin1String(fileName));
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(file.errorString());
    file.write(signature.toBase64() + '\n' + signedText);
    if (!file.commit())
        throw PlatformError(file.errorString());
}

void verify(const QString &bundlePath, const QByteArray &publicKey) {
    QFile file(bundlePath + QLatin1Char('/') + QLatin1String(fileName));
    if (!file.open(QIODevice::ReadOnly))
        refuse(QStringLiteral("El paquete no está sellado."));
    if (file.size() > maxSignatureBytes)
        refuseSeal();
    const QByteArray contents = file.readAll();
    const qsizetype lineEnd = contents.indexOf('\n');
    if (lineEnd < 0)
        refuseSeal();
    const QByteArray signature = QByteArray::fromBase64(contents.left(lineEnd));
    const QByteArray signedText = contents.mid(lineEnd + 1);

    const Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                              reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                              size_t(publicKey.size())),
                  &EVP_PKEY_free);
    const DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || signature.size() != 64 ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                         size_t(signature.size()), reinterpret_cast<const unsigned char *>(signedText.constData()),
                         size_t(signedText.size())) != 1)
        refuseSeal();

    QMap<QString, QByteArray> sealed;
    for (const QByteArray &line : signedText.split('\n')) {
        if (line.isEmpty())
            continue;
        const qsizetype pathStart = line.lastIndexOf('\t');
        if (pathStart < 0)
            refuseSeal();
        sealed.insert(QString::fromUtf8(line.mid(pathStart + 1)), line);
    }

    const QMap<QString, QByteArray> present = entries(bundlePath);
    QSet<QString> paths(sealed.keyBegin(), sealed.keyEnd());
    paths.unite(QSet<QString>(present.keyBegin(), present.keyEnd()));
    QStringList ordered(paths.begin(), paths.end());
    ordered.sort();
    for (const QString &path : ordered) {
        if (!sealed.contains(path))
            refuse(QStringLiteral("El archivo ") + path + QStringLiteral(" no figura en el sello del paquete."));
        if (!present.contains(path))
            refuse(QStringLiteral("Falta el archivo ") + path + QStringLiteral(" del paquete."));
        if (sealed.value(path) != present.value(path))
            refuse(QStringLiteral("El archivo ") + path + QStringLiteral(" no coincide con el sello del paquete."));
    }
}

} // namespace BundleSeal
