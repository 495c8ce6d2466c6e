#include "historylistmodel.h"

#include "common/torvelerror.h"
#include "queue/queuestore.h"

#include <QFileInfo>
#include <QLocale>

HistoryListModel::HistoryListModel(QueueStore &store, QObject *parent) : QAbstractTableModel(parent), m_store(store) {
    connect(&m_store, &QueueStore::historyChanged, this, &HistoryListModel::refresh);
    refresh();
}

void HistoryListModel::setSearch(const QString &search) {
    if (search == m_search)
        return;
    m_search = search;
    refresh();
}

void HistoryListModel::refresh() {
    beginResetModel();
    try {
        m_entries = m_store.history(m_search.trimmed());
        m_problem.clear();
    } catch (const TorvelError &error) {
        m_entries.clear();
        m_problem = error.errorDescription();
    }
    endResetModel();
    Q_EMIT refreshed();
}

int HistoryListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

int HistoryListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(columnTotal);
}

QVariant HistoryListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const HistoryEntry &entry = m_entries.at(index.row());
    if (role == idRole)
        return entry.id;
    if (role == Qt::TextAlignmentRole && index.column() == sizeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case titleColumn:
        // An entry recorded before its title was known is named by its file.
        return entry.title.isEmpty() ? QFileInfo(entry.path).fileName() : entry.title;
    case addressColumn:
        return entry.url;
    case pathColumn:
        return entry.path;
    case sizeColumn:
        return entry.size > 0 ? QLocale().formattedDataSize(entry.size, 1, QLocale::DataSizeSIFormat) : QString();
    case dateColumn:
        return QLocale().toString(entry.completedAt.toLocalTime(),
                                  role == Qt::ToolTipRole ? QLocale::LongFormat : QLocale::ShortFormat);
    default:
        return {};
    }
}

QVariant HistoryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case titleColumn:
        return QStringLiteral("Título");
    case addressColumn:
        return QStringLiteral("Dirección");
    case pathColumn:
        return QStringLiteral("Archivo");
    case sizeColumn:
        return QStringLiteral("Tamaño");
    case dateColumn:
        return QStringLiteral("Fecha");
    default:
        return {};
    }
}
