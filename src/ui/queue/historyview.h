#pragma once

#include <QPointer>
#include <QWidget>

class AppModel;
class HistoryListModel;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QTreeView;

// The "Historial" window: the completed downloads, newest first, with a search that filters as
// one types. For the selected entry: "Mostrar en carpeta", "Descargar de nuevo" (queued with the
// recommended way into the current download folder) and "Quitar"; "Borrar historial" asks first.
// Removing entries never touches the downloaded files.
class HistoryView : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 860;
    static constexpr int defaultHeight = 520;

    // The model must outlive the window.
    explicit HistoryView(AppModel &model, QWidget *parent = nullptr);

    HistoryListModel *listModel() const { return m_list; }
    // The question before "Borrar historial", while it is shown.
    QMessageBox *clearQuestion() const { return m_clearQuestion; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The selected entry's row, or -1.
    int selectedRow() const;
    void refreshState();
    void revealSelected();
    void downloadSelectedAgain();
    void removeSelected();
    void askBeforeClearing();
    void showStatus(const QString &text);

    AppModel &m_model;
    HistoryListModel *m_list = nullptr;
    QLineEdit *m_search = nullptr;
    QTreeView *m_view = nullptr;
    QLabel *m_emptyLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QPushButton *m_revealButton = nullptr;
    QPushButton *m_againButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QPointer<QMessageBox> m_clearQuestion;
};
