#include "playlistsummarycard.h"

#include "model/appmodel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/primarybutton.h"
#include "ui/components/secondarytext.h"
#include "ui/components/selectabletext.h"
#include "ui/components/uiparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

PlaylistSummaryCard::PlaylistSummaryCard(AppModel &model, QWidget *parent) : TorvelCard(parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("playlistSummaryCard"));
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    m_icon = new IconLabel(QStringLiteral("checkmark.circle.fill"), TorvelTheme::success(), 34, this);
    row->addWidget(m_icon, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_summary = UiParts::label(QString(), TextStyle::headline, this, QStringLiteral("playlistSummaryLabel"));
    texts->addWidget(m_summary);
    m_cancelled = UiParts::secondaryLabel(QStringLiteral("Se canceló la descarga de los videos restantes."),
                                          TextStyle::callout, this, QStringLiteral("playlistCancelledLabel"));
    texts->addWidget(m_cancelled);
    m_failures = new SelectableText(this);
    m_failures->setObjectName(QStringLiteral("playlistFailuresText"));
    m_failures->setFont(TorvelTheme::font(TextStyle::callout));
    SecondaryText::apply(m_failures);
    texts->addWidget(m_failures);
    row->addLayout(texts, 1);

    auto *reveal = new PrimaryButton(QStringLiteral("Mostrar en carpeta"), this);
    reveal->setObjectName(QStringLiteral("revealPlaylistFolderButton"));
    reveal->setIconName(QStringLiteral("magnifyingglass"));
    m_reveal = reveal;
    row->addWidget(reveal, 0, Qt::AlignTop);
    contentLayout()->addLayout(row);

    connect(reveal, &QPushButton::clicked, this, [this] { m_model.revealPlaylistFolder(); });
    connect(&m_model, &AppModel::playlistOutcomeChanged, this, &PlaylistSummaryCard::refresh);
    refresh();
}

void PlaylistSummaryCard::refresh() {
    const std::optional<PlaylistDownloader::Outcome> &outcome = m_model.playlistOutcome();
    if (!outcome)
        return;
    const bool complete = outcome->failures.isEmpty() && !outcome->cancelled;
    m_icon->setIconName(complete ? QStringLiteral("checkmark.circle.fill")
                                 : QStringLiteral("exclamationmark.triangle.fill"));
    m_icon->setColor(complete ? TorvelTheme::success() : TorvelTheme::warning());
    m_summary->setText(outcome->summaryText());
    m_cancelled->setVisible(outcome->cancelled);
    QStringList lines;
    for (const PlaylistDownloader::Failure &failure :
         outcome->failures.first(std::min(outcome->failures.size(), listedFailures)))
        lines.append(failure.summaryLine());
    if (outcome->failures.size() > listedFailures)
        lines.append(QStringLiteral("… y %1 más").arg(outcome->failures.size() - listedFailures));
    m_failures->setText(lines.join(QLatin1Char('\n')));
    m_failures->setVisible(!lines.isEmpty());
    m_reveal->setVisible(!outcome->placedFiles.isEmpty());
}
