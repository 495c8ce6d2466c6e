#include "errorcard.h"

#include "media/ytdlpexplanations.h"
#include "model/appmodel.h"
#include "ui/components/iconlabel.h"
#include "ui/components/secondarytext.h"
#include "ui/components/selectabletext.h"
#include "ui/components/uiparts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using YTDLPExplanations::Action;

bool ytDLPUpdateAvailable(const AppModel &model) {
    const QList<ToolUpdateStatus> &statuses = model.updateStatuses();
    return std::any_of(statuses.cbegin(), statuses.cend(), [](const ToolUpdateStatus &status) {
        return status.tool == ToolUpdateStatus::Tool::ytDLP && status.updateAvailable;
    });
}

// The button's text; empty when the action has none in the window.
QString actionLabel(Action action, const AppModel &model) {
    switch (action) {
    case Action::useCookies:
        return QStringLiteral("Usar cookies de…");
    case Action::changeCookies:
        return QStringLiteral("Elegir otras cookies…");
    case Action::installDeno:
        return QStringLiteral("Instalar Deno…");
    case Action::updateYTDLP:
        return ytDLPUpdateAvailable(model) ? QStringLiteral("Actualizar yt-dlp y reintentar")
                                           : QStringLiteral("Informar del problema");
    case Action::none:
    case Action::wait:
    case Action::useProxy:
        break;
    }
    return {};
}

} // namespace

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
    m_details = new SelectableText(this);
    m_details->setObjectName(QStringLiteral("errorDetailsLabel"));
    m_details->setFont(TorvelTheme::font(TextStyle::caption));
    SecondaryText::apply(m_details);
    m_details->hide();
    texts->addWidget(m_details);

    auto *buttons = new QHBoxLayout;
    m_action = UiParts::borderedButton(QString(), QString(), this, QStringLiteral("errorActionButton"));
    m_retry = UiParts::borderedButton(QStringLiteral("Reintentar"), QStringLiteral("arrow.clockwise"), this,
                                      QStringLiteral("errorRetryButton"));
    m_showDetails =
        UiParts::borderedButton(QStringLiteral("Detalles"), QString(), this, QStringLiteral("errorDetailsButton"));
    m_showDetails->setCheckable(true);
    buttons->addWidget(m_action);
    buttons->addWidget(m_retry);
    buttons->addStretch(1);
    buttons->addWidget(m_showDetails);
    texts->addLayout(buttons);
    row->addLayout(texts, 1);
    contentLayout()->addLayout(row);

    connect(&m_model, &AppModel::errorMessageChanged, this, &ErrorCard::refresh);
    connect(&m_model, &AppModel::updateStatusesChanged, this, &ErrorCard::refresh);
    connect(&m_model, &AppModel::phaseChanged, this, &ErrorCard::refresh);
    connect(m_action, &QPushButton::clicked, this, &ErrorCard::runAction);
    connect(m_retry, &QPushButton::clicked, this, [this] { m_model.retry(); });
    connect(m_showDetails, &QPushButton::toggled, m_details, &QWidget::setVisible);
    refresh();
}

void ErrorCard::runAction() {
    switch (YTDLPExplanations::split(m_model.errorMessage()).action) {
    case Action::useCookies:
    case Action::changeCookies:
        m_model.setSelectedOptionsTab(AppModel::OptionsTab::general);
        Q_EMIT openOptionsRequested();
        break;
    case Action::installDeno:
        m_model.setSelectedOptionsTab(AppModel::OptionsTab::tools);
        Q_EMIT openOptionsRequested();
        break;
    case Action::updateYTDLP:
        if (ytDLPUpdateAvailable(m_model))
            m_model.updateYTDLPAndRetry();
        else
            m_model.desktop().openURL(QUrl(QStringLiteral("https://github.com/yt-dlp/yt-dlp/issues")));
        break;
    case Action::none:
    case Action::wait:
    case Action::useProxy:
        break;
    }
}

void ErrorCard::refresh() {
    const YTDLPExplanations::Parts parts = YTDLPExplanations::split(m_model.errorMessage());
    m_explanation->setText(parts.explanation);
    m_explanation->setVisible(!parts.explanation.isEmpty());
    const QString summary = parts.summary();
    m_message->setText(summary);
    m_details->setText(parts.detail);
    m_showDetails->setVisible(summary != parts.detail);
    m_showDetails->setChecked(false);
    // A message shown beside a running download (a refused link) has nothing to retry.
    m_retry->setVisible(m_model.phase() == AppModel::Phase::failed);
    const QString label = actionLabel(parts.action, m_model);
    m_action->setText(label);
    m_action->setVisible(!label.isEmpty());
}
