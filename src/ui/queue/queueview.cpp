#include "queueview.h"

#include "common/plural.h"
#include "model/downloadqueue.h"
#include "platform/desktopservices.h"
#include "queue/queuelistmodel.h"
#include "ui/components/icons.h"
#include "ui/components/torveltheme.h"
#include "ui/queue/queuethumbnails.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

using Role = QueueListModel::Role;

constexpr int padding = 10;
constexpr int gap = 12;
constexpr int barHeight = 6;
constexpr int barWidth = 220;

QueueState stateOf(const QModelIndex &index) {
    return QueueState(index.data(Role::stateRole).toInt());
}

QColor stateColor(QueueState state, const QPalette &palette) {
    switch (state) {
    case QueueState::running:
        return TorvelTheme::accent();
    case QueueState::completed:
        return TorvelTheme::success();
    case QueueState::failed:
        return TorvelTheme::danger();
    case QueueState::paused:
        return TorvelTheme::warning();
    case QueueState::waiting:
    case QueueState::cancelled:
        break;
    }
    return TorvelTheme::secondaryText(palette);
}

// Where a row's parts go.
struct RowLayout {
    QRect thumbnail;
    QRect firstLine;
    QRect secondLine;
    QRect retry; // "Reintentar" of a failed item; empty otherwise

    RowLayout(const QRect &row, const QFontMetrics &metrics, bool failed) {
        thumbnail =
            QRect(QPoint(row.left() + padding, row.top() + (row.height() - QueueView::thumbnailSize.height()) / 2),
                  QueueView::thumbnailSize);
        const int left = thumbnail.right() + 1 + gap;
        const int width = row.right() - padding - left;
        const int lineHeight = metrics.height();
        const int top = row.top() + (row.height() - 2 * lineHeight - 6) / 2;
        firstLine = QRect(left, top, width, lineHeight);
        secondLine = QRect(left, top + lineHeight + 6, width, lineHeight);
        if (failed) {
            const int retryWidth = metrics.horizontalAdvance(QStringLiteral("Reintentar")) + 20;
            retry = QRect(secondLine.right() - retryWidth + 1, secondLine.top() - 3, retryWidth, lineHeight + 6);
            secondLine.setRight(retry.left() - gap);
        }
    }
};

// Paints a row of the queue; a click on a failed item's "Reintentar" asks for its retry.
class QueueItemDelegate final : public QStyledItemDelegate {
public:
    QueueItemDelegate(QueueThumbnails &thumbnails, std::function<void(qint64)> retry, QObject *parent)
        : QStyledItemDelegate(parent), m_thumbnails(thumbnails), m_retry(std::move(retry)) {}

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override {
        return {400, QueueView::rowHeight};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette &palette = option.palette;
        const QRect row = option.rect;
        if (option.state & QStyle::State_Selected) {
            painter->setPen(Qt::NoPen);
            QColor fill = TorvelTheme::accent();
            fill.setAlphaF(0.16);
            painter->setBrush(fill);
            painter->drawRoundedRect(QRectF(row).adjusted(2, 1, -2, -1), 6, 6);
        } else if (option.state & QStyle::State_MouseOver) {
            painter->fillRect(row, TorvelTheme::primary(palette, 0.04));
        }
        painter->setPen(TorvelTheme::primary(palette, 0.08));
        painter->drawLine(row.left() + padding, row.bottom(), row.right() - padding, row.bottom());

        const QueueState state = stateOf(index);
        const QFont body = option.font;
        const QFontMetrics metrics(body);
        const RowLayout layout(row, metrics, state == QueueState::failed);
        paintThumbnail(painter, layout.thumbnail, index.data(Role::thumbnailRole).toString(), palette);

        // First line: the title, and at the trailing end the state (with the attempts).
        QString stateText = index.data(Role::stateLabelRole).toString();
        if (const int attempts = index.data(Role::attemptsRole).toInt(); attempts > 1)
            stateText +=
                QStringLiteral(" · ") + countedText(attempts, QStringLiteral("intento"), QStringLiteral("intentos"));
        QFont bold = body;
        bold.setWeight(QFont::DemiBold);
        const QFontMetrics boldMetrics(bold);
        const int stateWidth = boldMetrics.horizontalAdvance(stateText);
        painter->setFont(bold);
        painter->setPen(stateColor(state, palette));
        painter->drawText(layout.firstLine, Qt::AlignRight | Qt::AlignVCenter, stateText);
        painter->setPen(palette.color(QPalette::Text));
        const QRect titleRect = layout.firstLine.adjusted(0, 0, -(stateWidth + gap), 0);
        painter->drawText(
            titleRect, Qt::AlignLeft | Qt::AlignVCenter,
            boldMetrics.elidedText(index.data(Role::titleRole).toString(), Qt::ElideRight, titleRect.width()));

        // Second line: what became of it, or how far it is.
        painter->setFont(body);
        QRect line = layout.secondLine;
        const double progress = index.data(Role::progressRole).toDouble();
        QString detail;
        QColor detailColor = TorvelTheme::secondaryText(palette);
        Qt::TextElideMode elide = Qt::ElideRight;
        switch (state) {
        case QueueState::running:
        case QueueState::paused: {
            const int width = std::min(barWidth, line.width() / 2);
            const QRectF bar(line.left(), line.center().y() - barHeight / 2.0 + 1, width, barHeight);
            painter->setPen(Qt::NoPen);
            painter->setBrush(TorvelTheme::primary(palette, 0.1));
            painter->drawRoundedRect(bar, barHeight / 2.0, barHeight / 2.0);
            if (progress > 0) {
                QRectF filled = bar;
                filled.setWidth(std::max<qreal>(barHeight, bar.width() * std::clamp(progress, 0.0, 1.0)));
                painter->setBrush(state == QueueState::running ? TorvelTheme::accent()
                                                               : TorvelTheme::primary(palette, 0.35));
                painter->drawRoundedRect(filled, barHeight / 2.0, barHeight / 2.0);
            }
            line.setLeft(int(bar.right()) + gap);
            QStringList parts{QStringLiteral("%1 %").arg(int(progress * 100))};
            for (const int role : {Role::phaseRole, Role::speedRole, Role::timeLeftRole})
                if (const QString text = index.data(role).toString(); !text.isEmpty())
                    parts.append(text);
            detail = parts.join(QStringLiteral(" · "));
            break;
        }
        case QueueState::failed:
            detail = index.data(Role::errorRole).toString();
            detailColor = TorvelTheme::danger();
            paintRetry(painter, layout.retry, option.state & QStyle::State_MouseOver);
            break;
        case QueueState::completed:
            detail = QDir::toNativeSeparators(index.data(Role::pathRole).toString());
            elide = Qt::ElideMiddle;
            break;
        case QueueState::waiting:
            if (const QString error = index.data(Role::errorRole).toString(); !error.isEmpty()) {
                detail = QStringLiteral("Se volverá a intentar: ") + error;
                detailColor = TorvelTheme::warning();
                break;
            }
            [[fallthrough]];
        case QueueState::cancelled:
            detail =
                QStringLiteral("Guardar en ") + QDir::toNativeSeparators(index.data(Role::destinationRole).toString());
            elide = Qt::ElideMiddle;
            break;
        }
        // The explanation is on one line: the tooltip has it whole.
        detail.replace(QLatin1Char('\n'), QLatin1Char(' '));
        painter->setPen(detailColor);
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(detail, elide, line.width()));
        painter->restore();
    }

    bool editorEvent(QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override {
        if (event->type() != QEvent::MouseButtonRelease || stateOf(index) != QueueState::failed)
            return false;
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const RowLayout layout(option.rect, QFontMetrics(option.font), true);
        if (mouse->button() != Qt::LeftButton || !layout.retry.contains(mouse->position().toPoint()))
            return false;
        m_retry(index.data(Role::idRole).toLongLong());
        return true;
    }

private:
    void paintThumbnail(QPainter *painter, const QRect &rect, const QString &address, const QPalette &palette) const {
        painter->save();
        QPainterPath frame;
        frame.addRoundedRect(QRectF(rect), 5, 5);
        painter->setClipPath(frame);
        const QImage image = m_thumbnails.picture(address);
        if (!image.isNull()) {
            painter->drawImage(QRectF(rect), image);
        } else {
            painter->fillRect(rect, TorvelTheme::primary(palette, 0.06));
            QRectF icon(0, 0, 20, 20);
            icon.moveCenter(QRectF(rect).center());
            Icons::paint(painter, icon, QStringLiteral("play.rectangle.fill"), TorvelTheme::primary(palette, 0.3));
        }
        painter->restore();
    }

    static void paintRetry(QPainter *painter, const QRect &rect, bool hovered) {
        painter->save();
        QColor fill = TorvelTheme::accent();
        fill.setAlphaF(hovered ? 0.16 : 0.08);
        painter->setBrush(fill);
        painter->setPen(TorvelTheme::accent());
        painter->drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter->drawText(rect, Qt::AlignCenter, QStringLiteral("Reintentar"));
        painter->restore();
    }

    QueueThumbnails &m_thumbnails;
    std::function<void(qint64)> m_retry;
};

QToolButton *buttonFor(QAction *action, QWidget *parent) {
    auto *button = new QToolButton(parent);
    button->setDefaultAction(action);
    button->setObjectName(action->objectName().chopped(6) + QStringLiteral("Button"));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

} // namespace

QueueView::QueueView(DownloadQueue &queue, DesktopServices &desktop, QNetworkAccessManager *network, QWidget *parent)
    : QWidget(parent), m_queue(queue), m_desktop(desktop),
      m_model(new QueueListModel(queue.store(), queue.runner(), this)),
      m_thumbnails(new QueueThumbnails(thumbnailSize, devicePixelRatioF(), network, this)), m_list(new QListView(this)),
      m_counts(new QLabel(this)), m_messageBar(new QWidget(this)), m_message(new QLabel(m_messageBar)) {
    setObjectName(QStringLiteral("queueView"));

    const auto action = [this](const QString &text, const QString &name, auto slot) {
        auto *result = new QAction(text, this);
        result->setObjectName(name);
        connect(result, &QAction::triggered, this, slot);
        return result;
    };
    m_pauseAll =
        action(QStringLiteral("Pausar todo"), QStringLiteral("pauseAllAction"), [this] { m_queue.pauseAll(); });
    m_resumeAll =
        action(QStringLiteral("Reanudar todo"), QStringLiteral("resumeAllAction"), [this] { m_queue.resumeAll(); });
    m_retryFailed = action(QStringLiteral("Reintentar las fallidas"), QStringLiteral("retryFailedAction"),
                           [this] { m_queue.retryFailed(); });
    m_removeCompleted = action(QStringLiteral("Quitar completadas"), QStringLiteral("removeCompletedAction"),
                               [this] { m_queue.removeCompleted(); });
    m_pause =
        action(QStringLiteral("Pausar"), QStringLiteral("pauseItemAction"), [this] { act(&DownloadQueue::pause); });
    m_resume =
        action(QStringLiteral("Reanudar"), QStringLiteral("resumeItemAction"), [this] { act(&DownloadQueue::resume); });
    m_retry =
        action(QStringLiteral("Reintentar"), QStringLiteral("retryItemAction"), [this] { act(&DownloadQueue::retry); });
    m_cancel =
        action(QStringLiteral("Cancelar"), QStringLiteral("cancelItemAction"), [this] { act(&DownloadQueue::cancel); });
    m_remove =
        action(QStringLiteral("Quitar"), QStringLiteral("removeItemAction"), [this] { act(&DownloadQueue::remove); });
    m_reveal = action(QStringLiteral("Mostrar en carpeta"), QStringLiteral("revealItemAction"), [this] { reveal(); });

    // Header: the title over the counts, and the actions on the whole queue.
    auto *title = new QLabel(QStringLiteral("Cola de descargas"), this);
    title->setFont(TorvelTheme::font(TorvelTheme::TextStyle::headline, QFont::DemiBold));
    m_counts->setObjectName(QStringLiteral("queueCounts"));
    m_counts->setWordWrap(true);
    QPalette secondary = m_counts->palette();
    secondary.setColor(QPalette::WindowText, TorvelTheme::secondaryText(palette()));
    m_counts->setPalette(secondary);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(title);
    titles->addWidget(m_counts);
    auto *header = new QHBoxLayout;
    header->addLayout(titles, 1);
    for (QAction *whole : {m_pauseAll, m_resumeAll, m_retryFailed, m_removeCompleted})
        header->addWidget(buttonFor(whole, this), 0, Qt::AlignBottom);

    // Problems of the queue's actions, and what became of a saved queue that could not be opened.
    m_messageBar->setObjectName(QStringLiteral("queueMessageBar"));
    m_message->setObjectName(QStringLiteral("queueMessage"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *dismiss = new QToolButton(m_messageBar);
    dismiss->setObjectName(QStringLiteral("dismissQueueMessageButton"));
    dismiss->setText(QStringLiteral("Cerrar"));
    dismiss->setAutoRaise(true);
    connect(dismiss, &QToolButton::clicked, this, [this] { showMessage({}); });
    auto *messageRow = new QHBoxLayout(m_messageBar);
    messageRow->setContentsMargins(0, 0, 0, 0);
    messageRow->addWidget(new QLabel(QStringLiteral("⚠"), m_messageBar));
    messageRow->addWidget(m_message, 1);
    messageRow->addWidget(dismiss);
    QPalette warning = m_message->palette();
    warning.setColor(QPalette::WindowText, TorvelTheme::warning());
    m_messageBar->setPalette(warning);
    m_messageBar->hide();

    m_list->setObjectName(QStringLiteral("queueList"));
    m_list->setModel(m_model);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setMouseTracking(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setItemDelegate(new QueueItemDelegate(
        *m_thumbnails, [this](qint64 id) { m_queue.retry(id); }, m_list));
    m_list->setAccessibleName(QStringLiteral("Cola de descargas"));
    connect(m_list, &QWidget::customContextMenuRequested, this, &QueueView::showContextMenu);
    // Delete removes the selected item while the list has the focus.
    m_remove->setShortcut(QKeySequence::Delete);
    m_remove->setShortcutContext(Qt::WidgetShortcut);
    m_list->addAction(m_remove);
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (stateOf(index) == QueueState::completed)
            reveal();
    });
    connect(m_thumbnails, &QueueThumbnails::loaded, m_list->viewport(), qOverload<>(&QWidget::update));

    // The actions on the selected item.
    auto *itemActions = new QHBoxLayout;
    itemActions->addStretch(1);
    for (QAction *one : {m_pause, m_resume, m_retry, m_cancel, m_remove, m_reveal})
        itemActions->addWidget(buttonFor(one, this));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 10);
    layout->setSpacing(8);
    layout->addLayout(header);
    layout->addWidget(m_messageBar);
    layout->addWidget(m_list, 1);
    layout->addLayout(itemActions);

    connect(m_model, &QueueListModel::countsChanged, this, &QueueView::refreshCounts);
    connect(m_model, &QueueListModel::problemOccurred, this, &QueueView::showMessage);
    connect(&m_queue, &DownloadQueue::problemOccurred, this, &QueueView::showMessage);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, &QueueView::refreshActions);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &QueueView::refreshActions);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &QueueView::refreshActions);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &QueueView::refreshActions);
    connect(m_model, &QAbstractItemModel::modelReset, this, &QueueView::refreshActions);
    showMessage(m_queue.notice());
    refreshCounts();
}

QueueView::~QueueView() = default;

void QueueView::changeEvent(QEvent *event) {
    // A command line may have changed the shared queue while the window was elsewhere.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_model->refresh();
    QWidget::changeEvent(event);
}

void QueueView::setProxy(const NetworkOptions::Proxy &proxy) {
    m_thumbnails->setProxy(proxy);
}

std::optional<qint64> QueueView::selectedID() const {
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first().data(QueueListModel::idRole).toLongLong();
}

QString QueueView::countsText() const {
    const struct {
        QueueState state;
        const char *singular;
        const char *plural;
    } words[] = {
        {QueueState::running, "descargando", "descargando"},  {QueueState::waiting, "en espera", "en espera"},
        {QueueState::paused, "en pausa", "en pausa"},         {QueueState::failed, "fallida", "fallidas"},
        {QueueState::completed, "completada", "completadas"}, {QueueState::cancelled, "cancelada", "canceladas"}};
    QStringList parts;
    for (const auto &word : words)
        if (const int count = m_model->count(word.state); count > 0)
            parts.append(countedText(count, QString::fromUtf8(word.singular), QString::fromUtf8(word.plural)));
    return parts.isEmpty() ? QStringLiteral("No hay descargas en la cola") : parts.join(QStringLiteral(" · "));
}

QString QueueView::message() const {
    return m_messageBar->isHidden() ? QString() : m_message->text();
}

QRect QueueView::retryButtonRect(int row) const {
    return RowLayout(m_list->visualRect(m_model->index(row)), QFontMetrics(m_list->font()), true).retry;
}

void QueueView::refreshCounts() {
    // Lines break between the counts only.
    QStringList counts = countsText().split(QStringLiteral(" · "));
    for (QString &count : counts)
        count.replace(QLatin1Char(' '), QChar::Nbsp);
    m_counts->setText(counts.join(QStringLiteral(" · ")));
    const auto count = [this](QueueState state) { return m_model->count(state); };
    m_pauseAll->setEnabled(count(QueueState::waiting) + count(QueueState::running) > 0);
    m_resumeAll->setEnabled(count(QueueState::paused) > 0);
    m_retryFailed->setEnabled(count(QueueState::failed) > 0);
    m_removeCompleted->setEnabled(count(QueueState::completed) > 0);
    refreshActions();
    refreshContent();
}

void QueueView::refreshContent() {
    const bool now = m_model->rowCount() > 0 || !m_messageBar->isHidden();
    if (now != m_hasContent) {
        m_hasContent = now;
        Q_EMIT hasContentChanged(now);
    }
}

void QueueView::refreshActions() {
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    const std::optional<QueueState> state =
        selected.isEmpty() ? std::nullopt : std::optional<QueueState>(stateOf(selected.first()));
    const auto in = [&](std::initializer_list<QueueState> states) {
        return state && std::find(states.begin(), states.end(), *state) != states.end();
    };
    m_pause->setEnabled(in({QueueState::waiting, QueueState::running}));
    m_resume->setEnabled(in({QueueState::paused}));
    m_retry->setEnabled(in({QueueState::failed, QueueState::cancelled}));
    m_cancel->setEnabled(in({QueueState::waiting, QueueState::running, QueueState::paused}));
    m_remove->setEnabled(state.has_value());
    m_reveal->setEnabled(in({QueueState::completed}) &&
                         !selected.first().data(QueueListModel::pathRole).toString().isEmpty());
}

void QueueView::showMessage(const QString &text) {
    m_message->setText(text);
    m_messageBar->setVisible(!text.isEmpty());
    refreshContent();
}

void QueueView::showContextMenu(const QPoint &position) {
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return;
    m_list->setCurrentIndex(index);
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("queueContextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions({m_pause, m_resume, m_retry, m_cancel});
    menu->addSeparator();
    menu->addActions({m_reveal, m_remove});
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

void QueueView::act(void (DownloadQueue::*action)(qint64)) {
    if (const std::optional<qint64> id = selectedID())
        (m_queue.*action)(*id);
}

void QueueView::reveal() {
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const QString path = selected.first().data(QueueListModel::pathRole).toString();
    if (!path.isEmpty())
        m_desktop.revealFile(path, DesktopServices::Reveal::asked);
}
