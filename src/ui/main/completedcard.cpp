#include "completedcard.h"

#include "model/appmodel.h"
#include "ui/components/elidedlabel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/primarybutton.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CompletedCard::CompletedCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("completedCard"));
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(new IconLabel(QStringLiteral("checkmark.circle.fill"), TorvelTheme::success(), 34, this), 0,
                   Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addStretch();
    texts->addWidget(UiParts::label(QStringLiteral("Descarga completada"), TextStyle::headline, this,
                                    QStringLiteral("completedTitleLabel")));
    // A long file name keeps its beginning and its extension.
    m_fileName = new ElidedLabel(QString(), Qt::ElideMiddle, this);
    m_fileName->setObjectName(QStringLiteral("completedFileLabel"));
    m_fileName->setFont(TorvelTheme::font(TextStyle::callout));
    SecondaryText::apply(m_fileName);
    texts->addWidget(m_fileName);
    texts->addStretch();
    row->addLayout(texts, 1);

    auto *reveal = new PrimaryButton(QStringLiteral("Mostrar en carpeta"), this);
    reveal->setObjectName(QStringLiteral("revealButton"));
    reveal->setIconName(QStringLiteral("magnifyingglass"));
    row->addWidget(reveal, 0, Qt::AlignVCenter);
    contentLayout()->addLayout(row);

    connect(reveal, &QPushButton::clicked, this, [this] { m_model.revealCompletedFile(); });
    connect(&m_model, &AppModel::completedFileChanged, this, &CompletedCard::refresh);
    refresh();
}

void CompletedCard::refresh() {
    const std::optional<QString> &file = m_model.completedFile();
    const QString name = file ? QFileInfo(*file).fileName() : QString();
    m_fileName->setText(name.isEmpty() ? QStringLiteral("El archivo se guardó correctamente.") : name);
}
