#include "playlistcard.h"

#include "common/plural.h"

#include "model/appmodel.h"
#include "ui/components/flowlayout.h"
#include "ui/components/labeledicon.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/main/playlistentriesmodel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

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
    m_entries->setFixedHeight(entriesHeight);
    m_entries->setModel(new PlaylistEntriesModel(m_model, m_entries));
    layout->addWidget(m_entries);

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
    // A short list takes only the height of its rows; a long one scrolls.
    const int rows = m_entries->model()->rowCount();
    const int rowsHeight = rows > 0 ? rows * m_entries->sizeHintForRow(0) + 2 * m_entries->frameWidth() : 0;
    m_entries->setFixedHeight(std::clamp(rowsHeight, 0, entriesHeight));
    m_entries->scrollToTop();
}
