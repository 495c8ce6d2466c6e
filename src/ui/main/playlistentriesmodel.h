#pragma once

#include <QAbstractListModel>

class AppModel;

// The entries of the analyzed list for a list view: one row each, checkable when the entry can be
// downloaded. It reads the application model on demand and keeps nothing, so a list of thousands
// of entries costs only the rows on screen.
class PlaylistEntriesModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit PlaylistEntriesModel(AppModel &model, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    AppModel &m_model;
};
