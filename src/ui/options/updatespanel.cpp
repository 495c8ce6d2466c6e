#include "updatespanel.h"

#include "ui/components/activityindicator.h"
#include "ui/components/iconlabel.h"
#include "ui/components/labeledicon.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"
#include "ui/options/updateactivitypanel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *monospaced(const QString &text, QWidget *parent, const QString &objectName) {
    QLabel *label = UiParts::label(text, TorvelTheme::TextStyle::caption, parent, objectName);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(label->font().pointSizeF());
    label->setFont(font);
    return label;
}

} // namespace

std::pair<QString, QColor> UpdatesPanel::outcomeIcon(AppModel::ToolUpdateOutcome outcome) {
    switch (outcome) {
    case AppModel::ToolUpdateOutcome::none:
    case AppModel::ToolUpdateOutcome::success:
        break;
    case AppModel::ToolUpdateOutcome::failure:
        return {QStringLiteral("xmark.octagon.fill"), TorvelTheme::danger()};
    case AppModel::ToolUpdateOutcome::cancelled:
        return {QStringLiteral("stop.circle.fill"), TorvelTheme::warning()};
    }
    return {QStringLiteral("checkmark.circle.fill"), TorvelTheme::success()};
}

UpdatesPanel::UpdatesPanel(AppModel &model, QWidget *parent) : TintedPanel({}, parent), m_model(model) {
    using TorvelTheme::TextStyle;
    setObjectName(QStringLiteral("updatesPanel"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(
        UiParts::label(QStringLiteral("Actualizaciones"), TextStyle::headline, this, QStringLiteral("updatesTitle")));
    m_spinner = new ActivityIndicator(14, this);
    m_spinner->setObjectName(QStringLiteral("updatesSpinner"));
    header->addWidget(m_spinner);
    header->addStretch();
    m_check = UiParts::borderedButton(QStringLiteral("Comprobar"), QStringLiteral("arrow.triangle.2.circlepath"), this,
                                      QStringLiteral("checkUpdatesButton"));
    header->addWidget(m_check);
    layout->addLayout(header);

    m_empty = UiParts::secondaryLabel(QStringLiteral("No se pudo consultar el catálogo de versiones o todavía no hay "
                                                     "herramientas detectadas."),
                                      TextStyle::caption, this, QStringLiteral("noStatusesText"));
    m_empty->setWordWrap(true);
    layout->addWidget(m_empty);
    m_lastCheck = UiParts::secondaryLabel(QString(), TextStyle::caption, this, QStringLiteral("lastCheckLabel"));
    layout->addWidget(m_lastCheck);
    m_statusList = new QWidget(this);
    m_statusLayout = new QVBoxLayout(m_statusList);
    m_statusLayout->setContentsMargins(0, 0, 0, 0);
    m_statusLayout->setSpacing(6);
    layout->addWidget(m_statusList);
    m_separately = UiParts::secondaryLabel(
        QStringLiteral("Cada herramienta se actualiza por separado. Las copias administradas se descargan "
                       "precompiladas; las copias de Homebrew conservan su propio método de actualización."),
        TextStyle::caption, this, QStringLiteral("separateUpdatesCaption"));
    m_separately->setWordWrap(true);
    layout->addWidget(m_separately);

    m_running = new QWidget(this);
    m_running->setObjectName(QStringLiteral("operationInProgress"));
    auto *running = new QHBoxLayout(m_running);
    running->setContentsMargins(0, 0, 0, 0);
    running->addWidget(new LabeledIcon(QStringLiteral("gearshape.2.fill"), QStringLiteral("Operación en curso"),
                                       TextStyle::callout, m_running),
                       1);
    QPushButton *cancel = UiParts::borderedButton(QStringLiteral("Cancelar"), QString(), m_running,
                                                  QStringLiteral("cancelOperationButton"));
    running->addWidget(cancel);
    layout->addWidget(m_running);

    m_activity = new UpdateActivityPanel(m_model, this);
    layout->addWidget(m_activity);
    m_message = new LabeledIcon(QString(), QString(), TextStyle::callout, this);
    m_message->setObjectName(QStringLiteral("updateMessage"));
    layout->addWidget(m_message);
    QLabel *footer = UiParts::secondaryLabel(
        QStringLiteral("La aplicación muestra cada comando, su PID, la salida en vivo y los errores. Las descargas "
                       "administradas se verifican antes de instalarse."),
        TextStyle::caption, this, QStringLiteral("updatesFooter"));
    footer->setWordWrap(true);
    layout->addWidget(footer);

    connect(m_check, &QPushButton::clicked, this, [this] { m_model.checkForUpdates(); });
    connect(cancel, &QPushButton::clicked, this, [this] { m_model.cancelToolOperation(); });
    connect(&m_model, &AppModel::updateStatusesChanged, this, &UpdatesPanel::refreshHeader);
    connect(&m_model, &AppModel::isUpdatingToolsChanged, this, &UpdatesPanel::refreshHeader);
    connect(&m_model, &AppModel::updateStatusesChanged, this, &UpdatesPanel::refreshStatuses);
    for (const auto signal : {&AppModel::isUpdatingToolsChanged, &AppModel::updateLogChanged,
                              &AppModel::updateMessageChanged, &AppModel::updateOutcomeChanged})
        connect(&m_model, signal, this, &UpdatesPanel::refreshOperation);
    refreshHeader();
    refreshStatuses();
    refreshOperation();
}

void UpdatesPanel::refreshHeader() {
    const bool busy = m_model.isCheckingUpdates() || m_model.isUpdatingTools();
    m_spinner->setVisible(busy);
    m_check->setEnabled(!busy);
    // A check that ends at once still shows that it ran, and when.
    m_check->setText(m_model.isCheckingUpdates() ? QStringLiteral("Comprobando…") : QStringLiteral("Comprobar"));
    const std::optional<QDateTime> &checked = m_model.lastUpdateCheck();
    m_lastCheck->setVisible(checked && !m_model.isCheckingUpdates());
    if (checked)
        m_lastCheck->setText(QStringLiteral("Última comprobación: %1.")
                                 .arg(checked->toLocalTime().toString(QStringLiteral("HH:mm:ss"))));
    // The update buttons of the status lines follow the operation too.
    for (QPushButton *button : m_statusList->findChildren<QPushButton *>())
        button->setEnabled(!m_model.isUpdatingTools());
}

void UpdatesPanel::refreshStatuses() {
    const QList<ToolUpdateStatus> &statuses = m_model.updateStatuses();
    while (QLayoutItem *item = m_statusLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const ToolUpdateStatus &status : statuses)
        m_statusLayout->addWidget(statusLine(status));
    m_empty->setVisible(statuses.isEmpty() && !m_model.isCheckingUpdates());
    m_statusList->setVisible(!statuses.isEmpty());
    m_separately->setVisible(std::any_of(statuses.cbegin(), statuses.cend(),
                                         [](const ToolUpdateStatus &status) { return status.updateAvailable; }));
    refreshHeader();
}

QWidget *UpdatesPanel::statusLine(const ToolUpdateStatus &status) {
    using TorvelTheme::TextStyle;
    const QString name = ToolUpdateStatus::rawValue(status.tool);
    auto *line = new QWidget(m_statusList);
    line->setObjectName(status.tool == ToolUpdateStatus::Tool::ytDLP ? QStringLiteral("ytDLPStatusLine")
                                                                     : QStringLiteral("ffmpegStatusLine"));
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    const QColor color = status.updateAvailable ? TorvelTheme::warning() : TorvelTheme::success();
    row->addWidget(new IconLabel(status.updateAvailable ? QStringLiteral("arrow.down.circle.fill")
                                                        : QStringLiteral("checkmark.circle.fill"),
                                 color, 16, line));
    row->addWidget(UiParts::label(name, TextStyle::callout, line, QStringLiteral("statusName"), QFont::DemiBold));
    row->addWidget(monospaced(status.installedVersion, line, QStringLiteral("installedVersion")));
    row->addWidget(new IconLabel(QStringLiteral("arrow.right"), TorvelTheme::secondaryText(palette()), 12, line));
    row->addWidget(monospaced(status.latestVersion, line, QStringLiteral("latestVersion")));
    row->addStretch();
    QLabel *state =
        UiParts::label(status.updateAvailable ? QStringLiteral("Disponible") : QStringLiteral("Actualizado"),
                       TextStyle::caption, line, QStringLiteral("statusState"), QFont::DemiBold);
    UiParts::setTextColor(state, color);
    row->addWidget(state);
    if (status.updateAvailable) {
        QPushButton *update = UiParts::borderedButton(QStringLiteral("Actualizar…"), QString(), line,
                                                      QStringLiteral("statusUpdateButton"));
        const ToolKind tool = status.tool == ToolUpdateStatus::Tool::ytDLP ? ToolKind::ytDLP : ToolKind::ffmpeg;
        connect(update, &QPushButton::clicked, this,
                [this, tool] { m_model.setPendingToolAction(AppModel::PendingToolAction::update(tool)); });
        row->addWidget(update);
    }
    return line;
}

void UpdatesPanel::refreshOperation() {
    const bool running = m_model.isUpdatingTools();
    m_running->setVisible(running);
    m_activity->setVisible(running || !m_model.updateLog().isEmpty());
    m_message->setVisible(!m_model.updateMessage().isEmpty());
    m_message->setText(m_model.updateMessage());
    const auto [icon, color] = outcomeIcon(m_model.updateOutcome());
    m_message->setIconName(icon);
    m_message->setIconColor(color);
}
