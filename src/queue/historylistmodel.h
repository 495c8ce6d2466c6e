#pragma once

#include "queue/queueitem.h"

#include <QAbstractTableModel>
#include <QList>

class QueueStore;

// The history of completed downloads as a table, newest first, filtered by a search text (in the
// title, address or path, ignoring case). It follows the store: every change of the history
// reads it again. A store that cannot be read leaves the table empty and problem() says why.
class HistoryListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { titleColumn, addressColumn, pathColumn, sizeColumn, dateColumn, columnTotal };
    // The entry's id, in every column.
    static constexpr int idRole = Qt::UserRole;

    explicit HistoryListModel(QueueStore &store, QObject *parent = nullptr);

    const QString &search() const { return m_search; }
    void setSearch(const QString &search);
    const QString &problem() const { return m_problem; }
    const HistoryEntry &entry(int row) const { return m_entries.at(row); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Reads the history again.
    void refresh();

Q_SIGNALS:
    // After every reading: the entries, the search or the problem may have changed.
    void refreshed();

private:
    QueueStore &m_store;
    QString m_search;
    QString m_problem;
    QList<HistoryEntry> m_entries;
};
