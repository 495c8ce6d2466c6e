#include "historyview.h"

#include "common/torvelerror.h"
#include "model/appmodel.h"
#include "queue/historylistmodel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/torveltheme.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

HistoryView::HistoryView(AppModel &model, QWidget *parent) : QWidget(parent, Qt::Window), m_model(model) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QStringLiteral("Historial"));
    m_list = new HistoryListModel(m_model.queue().store(), this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("historySearchField"));
    m_search->setPlaceholderText(QStringLiteral("Buscar por título, dirección o archivo"));
    m_search->setAccessibleName(QStringLiteral("Buscar en el historial"));
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textChanged, m_list, &HistoryListModel::setSearch);
    layout->addWidget(m_search);

    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("historyList"));
    m_view->setModel(m_list);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setUniformRowHeights(true);
    m_view->setAlternatingRowColors(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setTextElideMode(Qt::ElideMiddle);
    QHeaderView *header = m_view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(HistoryListModel::titleColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(HistoryListModel::addressColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(HistoryListModel::pathColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(HistoryListModel::sizeColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(HistoryListModel::dateColumn, QHeaderView::ResizeToContents);
    header->resizeSection(HistoryListModel::addressColumn, 200);
    header->resizeSection(HistoryListModel::pathColumn, 200);
    connect(m_view, &QTreeView::doubleClicked, this, &HistoryView::revealSelected);
    layout->addWidget(m_view, 1);

    m_emptyLabel = new QLabel(this);
    m_emptyLabel->setObjectName(QStringLiteral("historyEmptyLabel"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    SecondaryText::apply(m_emptyLabel);
    layout->addWidget(m_emptyLabel, 1);

    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("historyStatusLabel"));
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setFont(TorvelTheme::font(TorvelTheme::TextStyle::caption));
    m_statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SecondaryText::apply(m_statusLabel);
    m_statusLabel->hide();
    layout->addWidget(m_statusLabel);

    auto *buttons = new QHBoxLayout;
    const auto button = [this, buttons](const QString &text, const QString &name) {
        auto *result = new QPushButton(text, this);
        result->setObjectName(name);
        result->setAutoDefault(false);
        buttons->addWidget(result);
        return result;
    };
    m_revealButton = button(QStringLiteral("Mostrar en carpeta"), QStringLiteral("historyRevealButton"));
    connect(m_revealButton, &QPushButton::clicked, this, &HistoryView::revealSelected);
    m_againButton = button(QStringLiteral("Descargar de nuevo"), QStringLiteral("historyAgainButton"));
    connect(m_againButton, &QPushButton::clicked, this, &HistoryView::downloadSelectedAgain);
    m_removeButton = button(QStringLiteral("Quitar"), QStringLiteral("historyRemoveButton"));
    connect(m_removeButton, &QPushButton::clicked, this, &HistoryView::removeSelected);
    buttons->addStretch();
    m_clearButton = button(QStringLiteral("Borrar historial…"), QStringLiteral("historyClearButton"));
    connect(m_clearButton, &QPushButton::clicked, this, &HistoryView::askBeforeClearing);
    layout->addLayout(buttons);

    connect(m_list, &HistoryListModel::refreshed, this, &HistoryView::refreshState);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &HistoryView::refreshState);
    refreshState();
    resize(defaultWidth, defaultHeight);
}

void HistoryView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    // A command line sharing the store may have completed downloads meanwhile.
    m_list->refresh();
}

int HistoryView::selectedRow() const {
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void HistoryView::refreshState() {
    const bool empty = m_list->rowCount() == 0;
    m_view->setVisible(!empty);
    m_emptyLabel->setVisible(empty);
    if (!m_list->problem().isEmpty())
        m_emptyLabel->setText(m_list->problem());
    else if (!m_list->search().trimmed().isEmpty())
        m_emptyLabel->setText(
            QStringLiteral("Ninguna descarga del historial coincide con «%1».").arg(m_list->search().trimmed()));
    else
        m_emptyLabel->setText(QStringLiteral("Aún no hay descargas completadas."));
    const bool selected = selectedRow() >= 0;
    for (QPushButton *button : {m_revealButton, m_againButton, m_removeButton})
        button->setEnabled(selected);
    // A search that finds nothing leaves the rest of the history to clear.
    m_clearButton->setEnabled(!empty || !m_list->search().trimmed().isEmpty());
}

void HistoryView::showStatus(const QString &text) {
    m_statusLabel->setText(text);
    m_statusLabel->setVisible(!text.isEmpty());
}

void HistoryView::revealSelected() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const QString path = m_list->entry(row).path;
    if (!QFileInfo::exists(path)) {
        showStatus(QStringLiteral("El archivo ya no está en %1.").arg(path));
        return;
    }
    showStatus(QString());
    m_model.desktop().revealFile(path, DesktopServices::Reveal::asked);
}

void HistoryView::downloadSelectedAgain() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const HistoryEntry &entry = m_list->entry(row);
    QueueItem item;
    item.url = entry.url;
    item.title = entry.title;
    item.destination = m_model.downloadDirectoryURL();
    item.cookies = m_model.settings().cookies();
    // A store that cannot be written says why through the queue's signal, shown here.
    DownloadQueue &queue = m_model.queue();
    const QMetaObject::Connection problem =
        connect(&queue, &DownloadQueue::problemOccurred, this, &HistoryView::showStatus);
    const qint64 id = queue.enqueue(item);
    disconnect(problem);
    if (id != 0)
        showStatus(QStringLiteral("«%1» está en la cola, con la forma recomendada, para %2.")
                       .arg(entry.title.isEmpty() ? entry.url : entry.title, item.destination));
}

void HistoryView::removeSelected() {
    const int row = selectedRow();
    if (row < 0)
        return;
    try {
        m_model.queue().store().removeHistoryEntry(m_list->entry(row).id);
        showStatus(QString());
    } catch (const TorvelError &error) {
        showStatus(error.errorDescription());
    }
}

void HistoryView::askBeforeClearing() {
    if (m_clearQuestion)
        return;
    auto *question = new QMessageBox(this);
    question->setObjectName(QStringLiteral("clearHistoryQuestion"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    question->setIcon(QMessageBox::Warning);
    const QString title = QStringLiteral("¿Borrar el historial?");
    question->setWindowTitle(title);
    question->setText(title);
    question->setInformativeText(QStringLiteral("Se olvidan todas las descargas completadas; los archivos "
                                                "descargados no se borran. Una dirección ya descargada dejará de "
                                                "reconocerse como tal."));
    QPushButton *clear = question->addButton(QStringLiteral("Borrar historial"), QMessageBox::DestructiveRole);
    clear->setObjectName(QStringLiteral("confirmClearHistoryButton"));
    QPushButton *cancel = question->addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelClearHistoryButton"));
    question->setDefaultButton(cancel);
    question->setEscapeButton(cancel);
    connect(clear, &QPushButton::clicked, this, [this] {
        try {
            m_model.queue().store().clearHistory();
            showStatus(QString());
        } catch (const TorvelError &error) {
            showStatus(error.errorDescription());
        }
    });
    m_clearQuestion = question;
    question->open();
}
