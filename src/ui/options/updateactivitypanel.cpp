#include "updateactivitypanel.h"

#include "ui/components/activityindicator.h"
#include "ui/components/iconlabel.h"
#include "ui/components/icons.h"
#include "ui/components/labeledicon.h"
#include "ui/components/logview.h"
#include "ui/components/uiparts.h"
#include "ui/options/updatespanel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr qint64 quietSeconds = 10;
constexpr qint64 longSilenceSeconds = 60;

QFont monospacedFont(TorvelTheme::TextStyle style) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(TorvelTheme::font(style).pointSizeF());
    return font;
}

} // namespace

UpdateActivityPanel::UpdateActivityPanel(AppModel &model, QWidget *parent) : TintedPanel({}, parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("updateActivityPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 12);
    layout->setSpacing(6);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    m_spinner = new ActivityIndicator(14, this);
    m_spinner->setObjectName(QStringLiteral("activitySpinner"));
    header->addWidget(m_spinner);
    m_outcomeIcon = new IconLabel(QString(), {}, 16, this);
    m_outcomeIcon->setObjectName(QStringLiteral("activityOutcomeIcon"));
    header->addWidget(m_outcomeIcon);
    m_title = UiParts::label(QString(), TextStyle::callout, this, QStringLiteral("activityTitle"), QFont::DemiBold);
    header->addWidget(m_title, 1);
    auto *copy = new QToolButton(this);
    copy->setObjectName(QStringLiteral("copyLogButton"));
    copy->setIcon(Icons::icon(QStringLiteral("doc.on.doc")));
    copy->setToolTip(QStringLiteral("Copiar registro"));
    copy->setAccessibleName(QStringLiteral("Copiar registro"));
    copy->setAutoRaise(true);
    header->addWidget(copy);
    layout->addLayout(header);

    auto *times = new QHBoxLayout;
    m_silence = UiParts::label(QString(), TextStyle::caption, this, QStringLiteral("silenceLabel"));
    times->addWidget(m_silence);
    times->addStretch();
    m_elapsed = UiParts::label(QString(), TextStyle::caption, this, QStringLiteral("elapsedLabel"));
    m_elapsed->setFont(monospacedFont(TextStyle::caption));
    times->addWidget(m_elapsed);
    layout->addLayout(times);

    m_process = new LabeledIcon(QStringLiteral("terminal.fill"), QString(), TextStyle::caption, this);
    m_process->setObjectName(QStringLiteral("processLabel"));
    layout->addWidget(m_process);
    m_notice = new LabeledIcon(QStringLiteral("exclamationmark.triangle.fill"), QString(), TextStyle::caption, this);
    m_notice->setObjectName(QStringLiteral("noticeLabel"));
    m_notice->setColor(TorvelTheme::warning());
    layout->addWidget(m_notice);

    m_log = new LogView(QStringLiteral("updateLogView"), this);
    layout->addWidget(m_log);

    connect(copy, &QToolButton::clicked, this, [this] { m_model.copyToolUpdateLog(); });
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &UpdateActivityPanel::refreshTimes);

    for (const auto signal : {&AppModel::isUpdatingToolsChanged, &AppModel::updateStageChanged,
                              &AppModel::updateOutcomeChanged, &AppModel::updateTimesChanged}) {
        connect(&m_model, signal, this, &UpdateActivityPanel::refreshHeader);
        connect(&m_model, signal, this, &UpdateActivityPanel::refreshTimes);
    }
    connect(&m_model, &AppModel::isUpdatingToolsChanged, this, &UpdateActivityPanel::refreshProcess);
    connect(&m_model, &AppModel::updateProcessIDChanged, this, &UpdateActivityPanel::refreshProcess);
    connect(&m_model, &AppModel::updateNoticeChanged, this, &UpdateActivityPanel::refreshNotice);
    connect(&m_model, &AppModel::updateLogChanged, this, &UpdateActivityPanel::refreshLog);
    refreshHeader();
    refreshTimes();
    refreshProcess();
    refreshNotice();
    refreshLog();
}

QString UpdateActivityPanel::elapsedText(const QDateTime &from, const QDateTime &to) {
    const qint64 seconds = std::max<qint64>(0, from.msecsTo(to) / 1000);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void UpdateActivityPanel::showEvent(QShowEvent *event) {
    TintedPanel::showEvent(event);
    refreshTimes();
    m_clock.start();
}

void UpdateActivityPanel::hideEvent(QHideEvent *event) {
    TintedPanel::hideEvent(event);
    m_clock.stop();
}

void UpdateActivityPanel::refreshHeader() {
    const bool running = m_model.isUpdatingTools();
    m_spinner->setVisible(running);
    m_outcomeIcon->setVisible(!running);
    if (!running) {
        const auto [icon, color] = UpdatesPanel::outcomeIcon(m_model.updateOutcome());
        m_outcomeIcon->setIconName(icon);
        m_outcomeIcon->setColor(color);
    }
    m_title->setText(m_model.updateStage().isEmpty() ? QStringLiteral("Actividad") : m_model.updateStage());
}

void UpdateActivityPanel::refreshTimes() {
    const QDateTime now = m_model.now();
    const std::optional<QDateTime> &lastActivity = m_model.updateLastActivityAt();
    const bool listening = m_model.isUpdatingTools() && lastActivity;
    m_silence->setVisible(listening);
    if (listening) {
        const qint64 silent = std::max<qint64>(0, lastActivity->msecsTo(now) / 1000);
        m_silence->setText(silent < quietSeconds ? QStringLiteral("Actividad reciente")
                                                 : QStringLiteral("Sin salida: ") + elapsedText(*lastActivity, now));
        UiParts::setTextColor(m_silence, silent >= longSilenceSeconds ? TorvelTheme::warning()
                                                                      : TorvelTheme::secondaryText(palette()));
    }
    const std::optional<QDateTime> &started = m_model.updateStartedAt();
    m_elapsed->setVisible(started.has_value());
    if (started)
        m_elapsed->setText(elapsedText(*started, m_model.updateFinishedAt().value_or(now)));
}

void UpdateActivityPanel::refreshProcess() {
    m_process->setVisible(m_model.isUpdatingTools());
    const std::optional<qint32> pid = m_model.updateProcessID();
    m_process->setText(pid ? QStringLiteral("Proceso activo (PID ") + QString::number(*pid) +
                                 QStringLiteral("). La etapa y el tiempo sin nueva salida se muestran arriba.")
                           : QStringLiteral("Preparando el siguiente proceso…"));
}

void UpdateActivityPanel::refreshNotice() {
    m_notice->setVisible(!m_model.updateNotice().isEmpty());
    m_notice->setText(m_model.updateNotice());
}

void UpdateActivityPanel::refreshLog() {
    m_log->showLog(m_model.updateLog());
}
