#include "bundleseal.h"

#include "common/filedigest.h"
#include "common/torvelerror.h"
#include "update/appupdateerror.h"

#include <QFile>
#include <QMap>
#include <QSaveFile>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace BundleSeal {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr qint64 maxSignatureBytes = 16 * 1024 * 1024;
constexpr int openFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

[[noreturn]] void refuse(const QString &message) {
    throw AppUpdateError(AppUpdateError::Kind::commandFailed, message);
}

[[noreturn]] void refuseSeal() {
    refuse(QStringLiteral("El sello del paquete no es válido."));
}

// A tree that no seal can describe.
[[noreturn]] void refuseTree() {
    throw AppUpdateError(AppUpdateError::Kind::invalidApplication);
}

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Names and link targets stand in the listing as they are: valid UTF-8 without control
// characters, so that no tab or line end can start another field or another line.
bool isSealable(const QByteArray &text) {
    if (text.isEmpty() || QString::fromUtf8(text).toUtf8() != text)
        return false;
    return std::none_of(text.begin(), text.end(), [](char byte) {
        const auto value = static_cast<unsigned char>(byte);
        return value < 0x20 || value == 0x7f;
    });
}

QByteArray modeText(mode_t mode) {
    return QByteArray::number(mode & 07777, 8).rightJustified(4, '0');
}

// One thing in the bundle: its relative path, its status (not following a link) and where to
// open it.
struct Item {
    QByteArray path;
    struct stat status;
    int folder;
    QByteArray name;
};

// Every item below the open folder except the top-level Signature, in path order, folders
// before what they hold. Refuses what cannot be sealed before visiting it.
void walk(int folder, const QByteArray &prefix, int depth, const std::function<void(const Item &)> &visit) {
    QList<QByteArray> names;
    {
        DIR *listing = ::fdopendir(::dup(folder));
        if (!listing)
            throw PlatformError(QStringLiteral("No se pudo leer la carpeta ") + QString::fromUtf8(prefix) +
                                QStringLiteral(" del paquete."));
        while (const dirent *entry = ::readdir(listing))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(QByteArray(entry->d_name));
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : std::as_const(names)) {
        if (prefix.isEmpty() && name == fileName)
            continue;
        const QByteArray path = prefix.isEmpty() ? name : prefix + '/' + name;
        Item item{path, {}, folder, name};
        if (::fstatat(folder, name.constData(), &item.status, AT_SYMLINK_NOFOLLOW) != 0)
            throw PlatformError(QStringLiteral("No se pudo leer ") + QString::fromUtf8(path) + QStringLiteral("."));
        const mode_t mode = item.status.st_mode & 07777;
        const bool sealable = isSealable(name) && ((S_ISDIR(item.status.st_mode) && mode == 0755 && depth < maxDepth) ||
                                                   (S_ISREG(item.status.st_mode) && (mode == 0644 || mode == 0755)) ||
                                                   S_ISLNK(item.status.st_mode));
        if (!sealable)
            refuseTree();
        visit(item);
        if (S_ISDIR(item.status.st_mode)) {
            const Descriptor child(::openat(folder, name.constData(), openFlags | O_DIRECTORY));
            if (child.fd < 0)
                throw PlatformError(QStringLiteral("No se pudo leer ") + QString::fromUtf8(path) + QStringLiteral("."));
            walk(child.fd, path, depth + 1, visit);
        }
    }
}

void walk(const QString &bundlePath, const std::function<void(const Item &)> &visit) {
    const Descriptor bundle(::open(QFile::encodeName(bundlePath).constData(), openFlags | O_DIRECTORY));
    if (bundle.fd < 0)
        refuseTree();
    walk(bundle.fd, {}, 0, visit);
}

QByteArray linkTarget(const Item &item) {
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t length = ::readlinkat(item.folder, item.name.constData(), target.data(), size_t(target.size()));
    if (length < 0 || length >= target.size())
        throw PlatformError(QStringLiteral("No se pudo leer ") + QString::fromUtf8(item.path) + QStringLiteral("."));
    target.truncate(length);
    if (!isSealable(target))
        refuseTree();
    return target;
}

// The listing line of an item; a file's digest only when its mode and size are those of
// expected (when given), so that no file is read beyond the size the seal allows.
QByteArray lineOf(const Item &item, const QByteArray *expected = nullptr) {
    if (S_ISDIR(item.status.st_mode))
        return "dir\t" + modeText(item.status.st_mode) + '\t' + item.path;
    if (S_ISLNK(item.status.st_mode))
        return "link\t" + linkTarget(item) + '\t' + item.path;
    const QByteArray head =
        "file\t" + modeText(item.status.st_mode) + '\t' + QByteArray::number(qint64(item.status.st_size)) + '\t';
    if (expected && !expected->startsWith(head))
        return head;
    const int fd = ::openat(item.folder, item.name.constData(), openFlags);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw PlatformError(QStringLiteral("No se pudo leer ") + QString::fromUtf8(item.path) + QStringLiteral("."));
    }
    return head + FileDigest::sha256(file, qint64(item.status.st_size)).toLatin1() + '\t' + item.path;
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

// The Signature file: a regular file of bounded size, never a link.
QByteArray readSignature(const QString &bundlePath) {
    const Descriptor fd(
        ::open(QFile::encodeName(bundlePath + QLatin1Char('/') + QLatin1String(fileName)).constData(), openFlags));
    struct stat status {};
    if (fd.fd < 0 || ::fstat(fd.fd, &status) != 0 || !S_ISREG(status.st_mode))
        refuse(QStringLiteral("El paquete no está sellado."));
    if (status.st_size > maxSignatureBytes)
        refuseSeal();
    QFile file;
    if (!file.open(fd.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        refuseSeal();
    return file.read(maxSignatureBytes);
}

// The signed listing as path → line; refuses lines that are not one of the three forms.
QMap<QByteArray, QByteArray> sealedLines(const QByteArray &signedText) {
    QMap<QByteArray, QByteArray> sealed;
    for (const QByteArray &line : signedText.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        const QByteArray &kind = fields.constFirst();
        const qsizetype expected = kind == "file" ? 5 : kind == "dir" || kind == "link" ? 3 : 0;
        if (fields.size() != expected || !isSealable(fields.constLast()) ||
            (kind == "link" && !isSealable(fields.at(1))) || sealed.contains(fields.constLast()))
            refuseSeal();
        sealed.insert(fields.constLast(), line);
    }
    return sealed;
}

} // namespace

QByteArray listing(const QString &bundlePath) {
    QMap<QByteArray, QByteArray> lines;
    walk(bundlePath, [&lines](const Item &item) { lines.insert(item.path, lineOf(item)); });
    QByteArray text;
    for (const QByteArray &line : std::as_const(lines))
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
    const QByteArray contents = readSignature(bundlePath);
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

    QMap<QByteArray, QByteArray> sealed = sealedLines(signedText);
    walk(bundlePath, [&sealed](const Item &item) {
        const QString path = QString::fromUtf8(item.path);
        const auto line = sealed.constFind(item.path);
        if (line == sealed.constEnd())
            refuse(QStringLiteral("El archivo ") + path + QStringLiteral(" no figura en el sello del paquete."));
        if (lineOf(item, &*line) != *line)
            refuse(QStringLiteral("El archivo ") + path + QStringLiteral(" no coincide con el sello del paquete."));
        sealed.erase(line);
    });
    if (!sealed.isEmpty())
        refuse(QStringLiteral("Falta el archivo ") + QString::fromUtf8(sealed.firstKey()) +
               QStringLiteral(" del paquete."));
}

} // namespace BundleSeal
