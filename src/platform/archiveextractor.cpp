#include "archiveextractor.h"

#include "common/background.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>

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

// A relative path made only of ordinary steps: not absolute, no "..", not empty.
bool isContainedPath(const QString &path) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList steps = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (steps.isEmpty())
        return false;
    for (const QString &step : steps)
        if (step == QStringLiteral(".."))
            return false;
    return true;
}

// A symbolic link's target, read from the folder that holds the link, must stay inside.
bool isContainedLink(const QString &entryPath, const QString &target) {
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    const QString folder = QFileInfo(entryPath).path();
    const QString joined =
        QDir::cleanPath((folder == QStringLiteral(".") ? QString() : folder + QLatin1Char('/')) + target);
    return joined != QStringLiteral("..") && !joined.startsWith(QStringLiteral("../")) &&
           !joined.startsWith(QLatin1Char('/'));
}

class Extraction {
public:
    Extraction(const QString &archivePath, const QString &destination, const std::atomic_bool *cancelled,
               const Limits &limits)
        : m_name(QFileInfo(archivePath).fileName()), m_destination(QDir::cleanPath(destination)),
          m_cancelled(cancelled), m_limits(limits) {}

    void run(const QString &archivePath) {
        if (!QDir().mkpath(m_destination))
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
    }

private:
    void writeEntry(archive *reader, archive *writer, archive_entry *entry) {
        const QString path = QString::fromUtf8(archive_entry_pathname_utf8(entry) ? archive_entry_pathname_utf8(entry)
                                                                                  : archive_entry_pathname(entry));
        if (!isContainedPath(path))
            refuse(path);
        const mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFLNK) {
            const char *target = archive_entry_symlink(entry);
            if (!target || !isContainedLink(path, QString::fromUtf8(target)))
                refuse(path);
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            refuse(path);
        }
        if (const char *hardlink = archive_entry_hardlink(entry)) {
            const QString linked = QString::fromUtf8(hardlink);
            if (!isContainedPath(linked))
                refuse(path);
            archive_entry_copy_hardlink(entry,
                                        QFile::encodeName(m_destination + QLatin1Char('/') + linked).constData());
        }
        // Only permission bits are kept: no set-user-id, set-group-id or sticky bits.
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        archive_entry_copy_pathname(entry, QFile::encodeName(m_destination + QLatin1Char('/') + path).constData());

        if (archive_write_header(writer, entry) < ARCHIVE_WARN)
            fail(QStringLiteral("No se pudo descomprimir ") + path + QStringLiteral(" de ") + m_name +
                 QStringLiteral(": ") + libarchiveMessage(writer));
        if (type == AE_IFREG)
            copyData(reader, writer, path);
        if (archive_write_finish_entry(writer) < ARCHIVE_WARN)
            fail(QStringLiteral("No se pudo descomprimir ") + path + QStringLiteral(" de ") + m_name +
                 QStringLiteral(": ") + libarchiveMessage(writer));
    }

    void copyData(archive *reader, archive *writer, const QString &path) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        for (;;) {
            checkCancelled();
            const int status = archive_read_data_block(reader, &block, &size, &offset);
            if (status == ARCHIVE_EOF)
                return;
            if (status < ARCHIVE_WARN)
                failReading(reader);
            // Counted as unpacked, not as the archive declares: a crafted header cannot hide a bomb.
            m_written += qint64(size);
            if (m_written > m_limits.maxTotalBytes)
                fail(QStringLiteral("El archivo comprimido ") + m_name + QStringLiteral(" ocupa más de ") +
                     QLocale().formattedDataSize(m_limits.maxTotalBytes, 1, QLocale::DataSizeSIFormat) +
                     QStringLiteral(" al descomprimirse; se canceló la extracción."));
            if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
                fail(QStringLiteral("No se pudo descomprimir ") + path + QStringLiteral(" de ") + m_name +
                     QStringLiteral(": ") + libarchiveMessage(writer));
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
    QString m_destination;
    const std::atomic_bool *m_cancelled;
    Limits m_limits;
    qint64 m_written = 0;
};

} // namespace

void extract(const QString &archivePath, const QString &destination, const std::atomic_bool *cancelled,
             const Limits &limits) {
    Extraction(archivePath, destination, cancelled, limits).run(archivePath);
}

QCoro::Task<> extractInBackground(QString archivePath, QString destination, std::shared_ptr<std::atomic_bool> cancelled,
                                  Limits limits) {
    auto unpack = [archivePath, destination, cancelled, limits] {
        extract(archivePath, destination, cancelled.get(), limits);
    };
    co_await Background::run(unpack);
}

} // namespace ArchiveExtractor
