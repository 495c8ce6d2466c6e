#include "filedigest.h"

#include "common/background.h"
#include "common/torvelerror.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace FileDigest {

QString sha256(const QString &path, const std::atomic_bool *cancelled) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(file.errorString());
    return sha256(file, -1, cancelled);
}

QString sha256(QIODevice &file, qint64 maxBytes, const std::atomic_bool *cancelled) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw PlatformError(QStringLiteral("No se pudo iniciar el cálculo SHA-256."));

    QByteArray block(1024 * 1024, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        if (cancelled && cancelled->load())
            throw CancellationError();
        const qint64 read = file.read(block.data(), block.size());
        if (read < 0)
            throw PlatformError(file.errorString());
        if (read == 0)
            break;
        total += read;
        if (maxBytes >= 0 && total > maxBytes)
            throw PlatformError(QStringLiteral("El archivo es más grande de lo esperado."));
        EVP_DigestUpdate(context.get(), block.constData(), size_t(read));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

QCoro::Task<QString> sha256InBackground(QString path, std::shared_ptr<std::atomic_bool> cancelled) {
    auto digest = [path, cancelled] { return sha256(path, cancelled.get()); };
    co_return co_await Background::run(digest);
}

} // namespace FileDigest
