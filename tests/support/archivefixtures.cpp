#include "archivefixtures.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

namespace ArchiveFixtures {

void write(const QString &path, const QList<Entry> &entries) {
    archive *writer = archive_write_new();
    if (path.endsWith(QStringLiteral(".zip"))) {
        archive_write_set_format_zip(writer);
    } else {
        archive_write_set_format_pax_restricted(writer);
        archive_write_add_filter_gzip(writer);
    }
    if (archive_write_open_filename(writer, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        qFatal("cannot write archive %s", qPrintable(path));
    for (const Entry &item : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.path.toUtf8().constData());
        archive_entry_set_perm(entry, item.permissions);
        switch (item.type) {
        case Entry::Type::file:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, item.declaredSize >= 0 ? item.declaredSize : item.contents.size());
            if (item.sparse)
                archive_entry_sparse_add_entry(entry, item.declaredSize - item.contents.size(), item.contents.size());
            break;
        case Entry::Type::folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case Entry::Type::symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.contents.constData());
            break;
        case Entry::Type::hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, item.contents.constData());
            break;
        }
        archive_write_header(writer, entry);
        if (item.type == Entry::Type::file)
            archive_write_data(writer, item.contents.constData(), size_t(item.contents.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

} // namespace ArchiveFixtures
