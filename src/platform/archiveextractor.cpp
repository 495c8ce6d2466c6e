#include "archiveextractor.h"

#include "common/background.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>

#include <archive.h>
#include <archive_entry.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace ArchiveExtractor {

namespace {

struct ReaderDeleter {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive *a) const { archive_write_free(a); }
};

QString libarchiveMessage(archive *a) {
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("error desconocido");
}

// The ordinary steps of a relative path, "." steps dropped; nothing for an absolute path or one
// with a ".." step.
std::optional<QStringList> containedSteps(const QString &path) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QStringList steps;
    for (const QString &step : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (step == QStringLiteral(".."))
            return std::nullopt;
        if (step != QStringLiteral("."))
            steps.append(step);
    }
    return steps;
}

// The real path of a file or folder: no link on the way, so libarchive's link checks, which start at
// the top of an absolute path, only ever meet what the archive made.
QString realPath(const QString &folder) {
    char resolved[PATH_MAX];
    return ::realpath(QFile::encodeName(folder).constData(), resolved) ? QFile::decodeName(resolved) : QString();
}

class Extraction {
public:
    Extraction(const QString &archivePath, const std::atomic_bool *cancelled, const Limits &limits)
        : m_name(QFileInfo(archivePath).fileName()), m_cancelled(cancelled), m_limits(limits) {}

    void run(const QString &archivePath, const QString &destination) {
        if (!QDir().mkpath(destination) || (m_root = realPath(destination)).isEmpty())
            fail(QStringLiteral("No se pudo crear la carpeta de extracción de ") + m_name + QStringLiteral("."));
        std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
        archive_read_support_format_zip(reader.get());
        archive_read_support_format_tar(reader.get());
        archive_read_support_filter_gzip(reader.get());
        archive_read_support_filter_xz(reader.get());
        if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 64 * 1024) !=
            ARCHIVE_OK)
            fail(QStringLiteral("No se pudo abrir el archivo comprimido ") + m_name + QStringLiteral(": ") +
                 libarchiveMessage(reader.get()));

        std::unique_ptr<archive, WriterDeleter> writer(archive_write_disk_new());
        archive_write_disk_set_options(writer.get(),
                                       ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                           ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_NO_OVERWRITE);

        qint64 entries = 0;
        archive_entry *entry = nullptr;
        for (;;) {
            checkCancelled();
            const int status = archive_read_next_header(reader.get(), &entry);
            if (status == ARCHIVE_EOF)
                break;
            if (status < ARCHIVE_WARN)
                failReading(reader.get());
            if (++entries > m_limits.maxEntries)
                fail(QStringLiteral("El archivo comprimido ") + m_name +
                     QStringLiteral(" contiene demasiadas entradas; se canceló la extracción."));
            writeEntry(reader.get(), writer.get(), entry);
        }
        if (archive_write_close(writer.get()) != ARCHIVE_OK)
            fail(QStringLiteral("No se pudo descomprimir ") + m_name + QStringLiteral(": ") +
                 libarchiveMessage(writer.get()));
        checkTree();
    }

private:
    void writeEntry(archive *reader, archive *writer, archive_entry *entry) {
        const QString path = QString::fromUtf8(archive_entry_pathname_utf8(entry) ? archive_entry_pathname_utf8(entry)
                                                                                  : archive_entry_pathname(entry));
        const std::optional<QStringList> steps = containedSteps(path);
        if (!steps)
            refuse(path);
        const mode_t type = archive_entry_filetype(entry);
        // "." names the destination itself, whose mode is not the archive's to set.
        if (steps->isEmpty() && type == AE_IFDIR)
            return;
        if (steps->isEmpty() || (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK))
            refuse(path);
        if (steps->size() > m_limits.maxDepth)
            fail(QStringLiteral("El archivo comprimido ") + m_name +
                 QStringLiteral(" contiene carpetas demasiado anidadas; se canceló la extracción."));
        if (type == AE_IFLNK) {
            // Where a link really points is judged once everything is on disk (checkTree); here
            // only what can never stay inside is turned away.
            const char *target = archive_entry_symlink(entry);
            if (!target || !*target || *target == '/')
                refuse(path);
        }
        if (const char *hardlink = archive_entry_hardlink(entry)) {
            const std::optional<QStringList> linked = containedSteps(QString::fromUtf8(hardlink));
            if (!linked || linked->isEmpty())
                refuse(path);
            archive_entry_copy_hardlink(
                entry, QFile::encodeName(m_root + QLatin1Char('/') + linked->join(QLatin1Char('/'))).constData());
        }
        if (type == AE_IFREG && archive_entry_sparse_count(entry) > 0)
            fail(QStringLiteral("El archivo comprimido ") + m_name +
                 QStringLiteral(" contiene un archivo disperso, que no se admite: ") + path + QStringLiteral("."));

        // What a file declares counts before anything is written; the disk writer is not told the
        // size, so a file cannot grow beyond what its data really holds.
        qint64 declared = 0;
        if (type == AE_IFREG && archive_entry_size_is_set(entry) && !archive_entry_hardlink(entry)) {
            declared = qMax<qint64>(0, archive_entry_size(entry));
            count(declared);
        }
        if (type == AE_IFREG)
            archive_entry_unset_size(entry);
        archive_entry_set_perm(entry, type == AE_IFDIR || (archive_entry_perm(entry) & 0111) ? 0755 : 0644);
        archive_entry_copy_pathname(
            entry, QFile::encodeName(m_root + QLatin1Char('/') + steps->join(QLatin1Char('/'))).constData());

        if (archive_write_header(writer, entry) < ARCHIVE_WARN)
            fail(QStringLiteral("No se pudo descomprimir ") + path + QStringLiteral(" de ") + m_name +
                 QStringLiteral(": ") + libarchiveMessage(writer));
        if (type == AE_IFREG)
            copyData(reader, writer, path, declared);
        if (archive_write_finish_entry(writer) < ARCHIVE_WARN)
            fail(QStringLiteral("No se pudo descomprimir ") + path + QStringLiteral(" de ") + m_name +
                 QStringLiteral(": ") + libarchiveMessage(writer));
    }

    void copyData(archive *reader, archive *writer, const QString &path, qint64 counted) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        qint64 written = 0;
        for (;;) {
            checkCancelled();
            const int status = archive_read_data_block(reader, &block, &size, &offset);
            if (status == ARCHIVE_EOF)
                return;
            // A warning here is data that does not match its header (a size, a checksum).
            if (status != ARCHIVE_OK)
                failReading(reader);
            // Data that skips ahead leaves a hole: a sparse file by another name.
            if (offset != written)
                fail(QStringLiteral("El archivo comprimido ") + m_name +
                     QStringLiteral(" contiene un archivo disperso, que no se admite: ") + path + QStringLiteral("."));
            written += qint64(size);
            if (written > counted) {
                count(written - counted);
                counted = written;
            }
            if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
                fail(QStringLiteral("No se pudo descomprimir ") + path + QStringLiteral(" de ") + m_name +
                     QStringLiteral(": ") + libarchiveMessage(writer));
        }
    }

    void count(qint64 bytes) {
        m_total += bytes;
        if (bytes > m_limits.maxTotalBytes || m_total > m_limits.maxTotalBytes)
            fail(QStringLiteral("El archivo comprimido ") + m_name + QStringLiteral(" ocupa más de ") +
                 QLocale().formattedDataSize(m_limits.maxTotalBytes, 1, QLocale::DataSizeSIFormat) +
                 QStringLiteral(" al descomprimirse; se canceló la extracción."));
    }

    // Every link must lead, through whatever links follow it, to something inside the
    // destination; and the folders libarchive made for paths without a folder entry get the
    // same mode as the others.
    void checkTree() const {
        const QString inside = m_root + QLatin1Char('/');
        QDirIterator walk(m_root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                          QDirIterator::Subdirectories);
        while (walk.hasNext()) {
            const QString path = walk.next();
            const QByteArray encoded = QFile::encodeName(path);
            struct stat status {};
            if (::lstat(encoded.constData(), &status) != 0)
                fail(QStringLiteral("No se pudo descomprimir ") + m_name + QStringLiteral("."));
            if (S_ISDIR(status.st_mode) && (status.st_mode & 07777) != 0755 && ::chmod(encoded.constData(), 0755) != 0)
                fail(QStringLiteral("No se pudo descomprimir ") + m_name + QStringLiteral("."));
            if (!S_ISLNK(status.st_mode))
                continue;
            const QString target = realPath(path);
            if (target != m_root && !target.startsWith(inside))
                refuse(path.mid(inside.size()));
        }
    }

    void checkCancelled() const {
        if (m_cancelled && m_cancelled->load())
            throw CancellationError();
    }
    [[noreturn]] void failReading(archive *reader) const {
        fail(QStringLiteral("No se pudo descomprimir ") + m_name + QStringLiteral(": ") + libarchiveMessage(reader));
    }
    [[noreturn]] void refuse(const QString &path) const {
        fail(QStringLiteral("El archivo comprimido ") + m_name +
             QStringLiteral(" contiene una entrada no permitida: ") + path + QStringLiteral("."));
    }
    [[noreturn]] static void fail(const QString &message) { throw ArchiveError(message); }

    QString m_name;
    QString m_root;
    const std::atomic_bool *m_cancelled;
    Limits m_limits;
    qint64 m_total = 0;
};

// Removes what lies in the open folder, depth first, without following links.
bool removeContents(int folder) {
    QList<QByteArray> names;
    if (DIR *listing = ::fdopendir(::dup(folder))) {
        while (const dirent *item = ::readdir(listing))
            if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                names.append(QByteArray(item->d_name));
        ::closedir(listing);
    } else {
        return false;
    }
    bool removed = true;
    for (const QByteArray &name : std::as_const(names)) {
        struct stat status {};
        if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            ::fchmodat(folder, name.constData(), 0700, 0);
            const int child = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                removeContents(child);
                ::close(child);
            }
        }
        if (::unlinkat(folder, name.constData(), S_ISDIR(status.st_mode) ? AT_REMOVEDIR : 0) != 0)
            removed = false;
    }
    return removed;
}

} // namespace

void extract(const QString &archivePath, const QString &destination, const std::atomic_bool *cancelled,
             const Limits &limits) {
    Extraction(archivePath, cancelled, limits).run(archivePath, destination);
}

QCoro::Task<> extractInBackground(QString archivePath, QString destination, std::shared_ptr<std::atomic_bool> cancelled,
                                  Limits limits) {
    auto unpack = [archivePath, destination, cancelled, limits] {
        extract(archivePath, destination, cancelled.get(), limits);
    };
    co_await Background::run(unpack);
}

bool removeTree(const QString &path) {
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(encoded.constData(), &status) != 0)
        return errno == ENOENT;
    if (S_ISDIR(status.st_mode)) {
        ::chmod(encoded.constData(), 0700);
        const int folder = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder >= 0) {
            removeContents(folder);
            ::close(folder);
        }
        return ::rmdir(encoded.constData()) == 0;
    }
    return ::unlink(encoded.constData()) == 0;
}

} // namespace ArchiveExtractor
