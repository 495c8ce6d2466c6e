#include "homebrewtierwarning.h"

#include "ui/components/labeledicon.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

HomebrewTierWarning::HomebrewTierWarning(AppModel &model, QWidget *parent) : TintedPanel({}, parent), m_model(model) {
    setObjectName(QStringLiteral("homebrewTierWarning"));
    QColor fill = TorvelTheme::warning();
    fill.setAlphaF(0.10f);
    setFill(fill);
    QColor border = TorvelTheme::warning();
    border.setAlphaF(0.45f);
    setBorder(border);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    auto *title = new LabeledIcon(QStringLiteral("exclamationmark.triangle.fill"),
                                  QStringLiteral("Configuración Homebrew de alto riesgo"),
                                  TorvelTheme::TextStyle::callout, this, QFont::DemiBold);
    title->setIconColor(TorvelTheme::warning());
    layout->addWidget(title);
    m_text = new WrappingLabel(QString(), this);
    m_text->setObjectName(QStringLiteral("homebrewTierText"));
    m_text->setFont(TorvelTheme::font(TorvelTheme::TextStyle::callout));
    layout->addWidget(m_text);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_migrateYTDLP =
        UiParts::borderedButton(QStringLiteral("Migrar yt-dlp"), QString(), this, QStringLiteral("migrateYTDLPButton"));
    m_migrateFFmpeg = UiParts::borderedButton(QStringLiteral("Migrar FFmpeg"), QString(), this,
                                              QStringLiteral("migrateFFmpegButton"));
    buttons->addWidget(m_migrateYTDLP);
    buttons->addWidget(m_migrateFFmpeg);
    buttons->addStretch();
    layout->addLayout(buttons);

    using Action = AppModel::PendingToolAction;
    connect(m_migrateYTDLP, &QPushButton::clicked, this,
            [this] { m_model.setPendingToolAction(Action::install(ToolKind::ytDLP)); });
    connect(m_migrateFFmpeg, &QPushButton::clicked, this,
            [this] { m_model.setPendingToolAction(Action::install(ToolKind::ffmpeg)); });
    refresh();
}

void HomebrewTierWarning::refresh() {
    m_text->setText(m_model.homebrewSupportWarning().value_or(QString()));
    m_migrateYTDLP->setVisible(m_model.toolUsesHomebrew(ToolKind::ytDLP));
    m_migrateFFmpeg->setVisible(m_model.toolUsesHomebrew(ToolKind::ffmpeg));
    m_migrateYTDLP->setEnabled(!m_model.isUpdatingTools());
    m_migrateFFmpeg->setEnabled(!m_model.isUpdatingTools());
}
