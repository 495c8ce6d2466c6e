#include "choicetile.h"

#include "ui/components/iconlabel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

ChoiceTile::ChoiceTile(QWidget *parent) : TileButton(parent) {
    using TorvelTheme::TextStyle;
    setMinimumHeight(minimumTileHeight);
    QVBoxLayout *layout = contentLayout();
    layout->setSpacing(4);

    auto *top = new QHBoxLayout;
    m_icon = new IconLabel(QString(), TorvelTheme::accent(), 24, this);
    top->addWidget(m_icon);
    top->addStretch();
    m_check = new IconLabel(QStringLiteral("circle"), QColor(), 20, this);
    top->addWidget(m_check);
    layout->addLayout(top);
    layout->addSpacing(6);

    m_title = new WrappingLabel(QString(), this);
    m_title->setObjectName(QStringLiteral("choiceTitleLabel"));
    m_title->setFont(TorvelTheme::font(TextStyle::headline));
    layout->addWidget(m_title);
    m_subtitle = new WrappingLabel(QString(), this);
    m_subtitle->setObjectName(QStringLiteral("choiceSubtitleLabel"));
    m_subtitle->setFont(TorvelTheme::font(TextStyle::caption));
    SecondaryText::apply(m_subtitle);
    layout->addWidget(m_subtitle);
    m_note = new WrappingLabel(QString(), this);
    m_note->setObjectName(QStringLiteral("choiceNoteLabel"));
    m_note->setFont(TorvelTheme::font(TextStyle::caption));
    UiParts::setTextColor(m_note, TorvelTheme::warning());
    m_note->hide();
    layout->addWidget(m_note);
    layout->addStretch();
    selectionChanged();
}

void ChoiceTile::setChoice(const DownloadChoice &choice) {
    m_choiceID = choice.id;
    setObjectName(QStringLiteral("choiceTile-") + choice.id);
    m_icon->setIconName(choice.icon);
    m_title->setText(choice.title);
    m_subtitle->setText(choice.subtitle);
    setAccessibleName(choice.title);
}

void ChoiceTile::setNote(const QString &note) {
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
}

void ChoiceTile::selectionChanged() {
    m_check->setIconName(isSelected() ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"));
    m_check->setColor(isSelected() ? TorvelTheme::accent() : TorvelTheme::primary(palette(), 0.3));
}
