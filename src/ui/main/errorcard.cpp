#include "errorcard.h"

#include "media/ytdlpexplanations.h"
#include "model/appmodel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/selectabletext.h"
#include "ui/components/uiparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ErrorCard::ErrorCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("errorCard"));
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(new IconLabel(QStringLiteral("exclamationmark.triangle.fill"), TorvelTheme::warning(), 30, this), 0,
                   Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(UiParts::label(QStringLiteral("No se pudo completar la operación"), TextStyle::headline, this,
                                    QStringLiteral("errorTitleLabel")));
    m_explanation = new SelectableText(this);
    m_explanation->setObjectName(QStringLiteral("errorExplanationLabel"));
    m_explanation->setFont(TorvelTheme::font(TextStyle::callout));
    texts->addWidget(m_explanation);
    m_message = new SelectableText(this);
    m_message->setObjectName(QStringLiteral("errorMessageLabel"));
    m_message->setFont(TorvelTheme::font(TextStyle::callout));
    SecondaryText::apply(m_message);
    texts->addWidget(m_message);
    row->addLayout(texts, 1);
    contentLayout()->addLayout(row);

    connect(&m_model, &AppModel::errorMessageChanged, this, &ErrorCard::refresh);
    refresh();
}

void ErrorCard::refresh() {
    const YTDLPExplanations::Parts parts = YTDLPExplanations::split(m_model.errorMessage());
    m_explanation->setText(parts.explanation);
    m_explanation->setVisible(!parts.explanation.isEmpty());
    m_message->setText(parts.detail);
}
