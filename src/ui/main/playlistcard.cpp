#include "playlistcard.h"

#include "common/plural.h"

#include "model/appmodel.h"
#include "ui/components/flowlayout.h"
#include "ui/components/labeledicon.h"
#include "ui/components/secondarytext.h"
#include "ui/components/tintedpanel.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/playlistentriesmodel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int rowPadding = 6;
constexpr int sidePadding = 10;
constexpr int box = 16;
constexpr int boxGap = 10;
constexpr int viewPadding = 4;

// One entry: room around it, a check box drawn as the window's other controls (accent fill and a
// white mark when on, a hairline square when off), the whole row toggling it.
class EntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override {
        return {option.rect.width(), std::max(option.fontMetrics.height(), box) + 2 * rowPadding};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette &palette = option.palette;
        const QRect row = option.rect.adjusted(2, 1, -2, -1);
        if (option.state & QStyle::State_MouseOver) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(TorvelTheme::primary(palette, 0.05));
            painter->drawRoundedRect(row, 6, 6);
        }
        const QVariant check = index.data(Qt::CheckStateRole);
        const QRectF square(row.left() + sidePadding - 2, row.center().y() - box / 2.0 + 0.5, box, box);
        if (check.isValid()) {
            const bool on = check.value<Qt::CheckState>() == Qt::Checked;
            painter->setPen(on ? Qt::NoPen : QPen(TorvelTheme::primary(palette, 0.35), 1));
            painter->setBrush(on ? TorvelTheme::accent() : palette.color(QPalette::Base));
            painter->drawRoundedRect(square.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
            if (on) {
                QPainterPath mark;
                mark.moveTo(square.left() + 4, square.center().y());
                mark.lineTo(square.left() + 7, square.bottom() - 4.5);
                mark.lineTo(square.right() - 3.5, square.top() + 4.5);
                painter->setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                painter->setBrush(Qt::NoBrush);
                painter->drawPath(mark);
            }
        }
        const int textLeft = int(square.right()) + boxGap;
        const QRect textRect(textLeft, row.top(), row.right() - sidePadding - textLeft, row.height());
        const bool enabled = index.flags() & Qt::ItemIsEnabled;
        painter->setPen(enabled ? palette.color(QPalette::Text) : TorvelTheme::secondaryText(palette));
        painter->setFont(option.font);
        const QString text =
            option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textRect.width());
        painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text);
        painter->restore();
    }

    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override {
        if (!(index.flags() & Qt::ItemIsUserCheckable) || !(index.flags() & Qt::ItemIsEnabled))
            return false;
        bool toggle = false;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            toggle = mouse->button() == Qt::LeftButton && option.rect.contains(mouse->position().toPoint());
        } else if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            return true; // the release toggles; a double click is two
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            toggle = key == Qt::Key_Space || key == Qt::Key_Select;
        }
        if (!toggle)
            return false;
        const bool on = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
        return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
};

} // namespace

PlaylistCard::PlaylistCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("playlistCard"));
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(10);

    m_title = new WrappingLabel(QString(), this);
    m_title->setObjectName(QStringLiteral("playlistTitleLabel"));
    m_title->setFont(UiParts::scaledFont(TextStyle::headline, 1.12, QFont::DemiBold));
    layout->addWidget(m_title);

    auto *metadata = new QWidget(this);
    auto *metadataLayout = new FlowLayout(metadata, 16, 6);
    m_count = new LabeledIcon(QStringLiteral("rectangle.stack"), QString(), TextStyle::callout, metadata);
    m_count->setObjectName(QStringLiteral("playlistCountLabel"));
    SecondaryText::apply(m_count);
    metadataLayout->addWidget(m_count);
    m_uploader = new LabeledIcon(QStringLiteral("person.crop.circle"), QString(), TextStyle::callout, metadata);
    m_uploader->setObjectName(QStringLiteral("playlistUploaderLabel"));
    SecondaryText::apply(m_uploader);
    metadataLayout->addWidget(m_uploader);
    layout->addWidget(metadata);

    m_entries = new QListView(this);
    m_entries->setObjectName(QStringLiteral("playlistEntriesView"));
    // Every row is one line: the view lays out thousands of them without measuring each.
    m_entries->setUniformItemSizes(true);
    m_entries->setSelectionMode(QAbstractItemView::NoSelection);
    m_entries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_entries->setTextElideMode(Qt::ElideMiddle);
    m_entries->setItemDelegate(new EntryDelegate(m_entries));
    m_entries->setMouseTracking(true);
    m_entries->viewport()->setAttribute(Qt::WA_Hover);
    // A rounded box as the window's other fields, with room between its edge and the rows.
    m_entries->setFrameShape(QFrame::NoFrame);
    m_entries->setAutoFillBackground(false);
    m_entries->viewport()->setAutoFillBackground(false);
    auto *frame = new TintedPanel({}, this, 10);
    frame->setBorder(TorvelTheme::primary(palette(), 0.12));
    frame->setObjectName(QStringLiteral("playlistEntriesFrame"));
    m_frame = frame;
    auto *frameLayout = new QVBoxLayout(m_frame);
    frameLayout->setContentsMargins(viewPadding, viewPadding, viewPadding, viewPadding);
    frameLayout->addWidget(m_entries);
    m_entries->setFixedHeight(entriesHeight);
    m_entries->setModel(new PlaylistEntriesModel(m_model, m_entries));
    layout->addWidget(m_frame);

    auto *footer = new QHBoxLayout;
    footer->setSpacing(10);
    QPushButton *all = UiParts::borderedButton(QStringLiteral("Seleccionar todos"), QString(), this,
                                               QStringLiteral("selectAllEntriesButton"));
    QPushButton *none =
        UiParts::borderedButton(QStringLiteral("Ninguno"), QString(), this, QStringLiteral("selectNoEntriesButton"));
    footer->addWidget(all);
    footer->addWidget(none);
    m_omitted = UiParts::secondaryLabel(QString(), TextStyle::callout, this, QStringLiteral("playlistOmittedLabel"));
    footer->addWidget(m_omitted);
    footer->addStretch();
    layout->addLayout(footer);

    connect(all, &QPushButton::clicked, this, [this] { m_model.setAllPlaylistEntriesChecked(true); });
    connect(none, &QPushButton::clicked, this, [this] { m_model.setAllPlaylistEntriesChecked(false); });
    connect(&m_model, &AppModel::playlistChanged, this, &PlaylistCard::refresh);
    refresh();
}

void PlaylistCard::refresh() {
    const std::optional<PlaylistInfo> &list = m_model.playlist();
    if (!list)
        return;
    m_title->setText(list->title);
    m_count->setText(countedText(list->entryCount(), QStringLiteral("video"), QStringLiteral("videos")));
    const bool hasUploader = list->uploader && !list->uploader->isEmpty();
    m_uploader->setText(hasUploader ? *list->uploader : QString());
    m_uploader->setVisible(hasUploader);
    m_omitted->setText(list->omittedEntriesText());
    m_omitted->setVisible(list->omittedEntryCount > 0);
    // A short list takes the height of its rows; a long one scrolls. The rows' height comes from
    // the delegate and the font, which hold before the view is first shown.
    const int rows = m_entries->model()->rowCount();
    QStyleOptionViewItem option;
    option.initFrom(m_entries);
    const int rowHeight = m_entries->itemDelegate()->sizeHint(option, {}).height();
    m_entries->setFixedHeight(std::min(rows * rowHeight, entriesHeight));
    m_entries->scrollToTop();
}
