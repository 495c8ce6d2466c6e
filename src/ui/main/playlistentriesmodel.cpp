#include "playlistentriesmodel.h"

#include "model/appmodel.h"

PlaylistEntriesModel::PlaylistEntriesModel(AppModel &model, QObject *parent)
    : QAbstractListModel(parent), m_model(model) {
    connect(&m_model, &AppModel::playlistChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
    connect(&m_model, &AppModel::playlistCheckedChanged, this, [this] {
        if (const int rows = rowCount(); rows > 0)
            Q_EMIT dataChanged(index(0), index(rows - 1), {Qt::CheckStateRole});
    });
}

int PlaylistEntriesModel::rowCount(const QModelIndex &parent) const {
    const std::optional<PlaylistInfo> &list = m_model.playlist();
    return parent.isValid() || !list ? 0 : int(list->entries.size());
}

QVariant PlaylistEntriesModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const PlaylistEntry &entry = m_model.playlist()->entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        QString text = QStringLiteral("%1. %2").arg(index.row() + 1).arg(entry.title);
        if (entry.duration)
            text += QStringLiteral(" · ") + torvelDuration(*entry.duration);
        if (!entry.isDownloadable())
            text += QStringLiteral(" · no se puede descargar");
        return text;
    }
    case Qt::ToolTipRole:
        return entry.url ? entry.url->toString()
                         : QStringLiteral("Este video no tiene una dirección que se pueda descargar.");
    case Qt::CheckStateRole:
        if (!entry.isDownloadable())
            return {};
        return m_model.isPlaylistEntryChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool PlaylistEntriesModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid())
        return false;
    m_model.setPlaylistEntryChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags PlaylistEntriesModel::flags(const QModelIndex &index) const {
    if (!index.isValid() || index.row() >= rowCount())
        return Qt::NoItemFlags;
    if (!m_model.playlist()->entries.at(index.row()).isDownloadable())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}
