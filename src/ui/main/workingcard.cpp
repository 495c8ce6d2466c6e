#include "workingcard.h"

#include "ui/components/activityindicator.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

WorkingCard::WorkingCard(QWidget *parent) : TorvelCard(parent) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("workingCard"));
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(new ActivityIndicator(20, this), 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addStretch();
    auto *title = new WrappingLabel(QStringLiteral("Consultando formatos…"), this);
    title->setObjectName(QStringLiteral("workingTitleLabel"));
    title->setFont(TorvelTheme::font(TextStyle::headline));
    texts->addWidget(title);
    auto *detail = new WrappingLabel(QStringLiteral("Torvel Downloader está ejecutando yt-dlp localmente."), this);
    detail->setObjectName(QStringLiteral("workingDetailLabel"));
    detail->setFont(TorvelTheme::font(TextStyle::callout));
    SecondaryText::apply(detail);
    texts->addWidget(detail);
    texts->addStretch();
    row->addLayout(texts, 1);
    contentLayout()->addLayout(row);
}
