#include "toolrow.h"

#include "ui/components/elidedpathfield.h"
#include "ui/components/flowlayout.h"
#include "ui/components/iconlabel.h"
#include "ui/components/prominentbutton.h"
#include "ui/components/tintedpanel.h"
#include "ui/components/uiparts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString markIcon(ToolIndicatorState state) {
    switch (state) {
    case ToolIndicatorState::current:
        return QStringLiteral("checkmark.circle.fill");
    case ToolIndicatorState::updateAvailable:
        return QStringLiteral("arrow.down.circle.fill");
    case ToolIndicatorState::unchecked:
        return QStringLiteral("info.circle");
    case ToolIndicatorState::missing:
        break;
    }
    return QStringLiteral("xmark.octagon.fill");
}

} // namespace

QString ToolRow::stateText(ToolIndicatorState state) {
    switch (state) {
    case ToolIndicatorState::current:
        return QStringLiteral("Actualizado");
    case ToolIndicatorState::updateAvailable:
        return QStringLiteral("Actualización disponible");
    case ToolIndicatorState::unchecked:
        return QStringLiteral("Sin comprobar");
    case ToolIndicatorState::missing:
        break;
    }
    return QStringLiteral("No instalado");
}

ToolRow::ToolRow(AppModel &model, ToolKind tool, const QString &description, QWidget *parent)
    : TorvelCard(parent), m_model(model), m_tool(tool) {
    using TorvelTheme::TextStyle;
    const QString name = ToolUpdateStatus::rawValue(ToolUpdateStatus::of(tool));
    setObjectName(tool == ToolKind::ytDLP ? QStringLiteral("ytDLPRow") : QStringLiteral("ffmpegRow"));
    contentLayout()->setContentsMargins(16, 14, 16, 14);

    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    m_markBox = new TintedPanel({}, this, 8);
    m_markBox->setFixedSize(36, 36);
    auto *markLayout = new QHBoxLayout(m_markBox);
    markLayout->setContentsMargins(0, 0, 0, 0);
    m_mark = new IconLabel(QString(), {}, 20, m_markBox);
    m_mark->setObjectName(QStringLiteral("stateMark"));
    markLayout->addWidget(m_mark, 0, Qt::AlignCenter);
    top->addWidget(m_markBox, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(UiParts::label(name, TextStyle::headline, this, QStringLiteral("toolName")));
    titleRow->addStretch();
    m_state = UiParts::label(QString(), TextStyle::caption, this, QStringLiteral("stateText"), QFont::DemiBold);
    titleRow->addWidget(m_state);
    texts->addLayout(titleRow);
    QLabel *about = UiParts::secondaryLabel(description, TextStyle::caption, this, QStringLiteral("toolDescription"));
    about->setWordWrap(true);
    texts->addWidget(about);

    m_details = new QWidget(this);
    auto *details = new QVBoxLayout(m_details);
    details->setContentsMargins(0, 6, 0, 0);
    details->setSpacing(2);
    m_path = new ElidedPathField(m_details);
    m_path->setObjectName(QStringLiteral("toolPath"));
    QFont monospaced = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    monospaced.setPointSizeF(TorvelTheme::font(TextStyle::caption).pointSizeF());
    m_path->setFont(monospaced);
    details->addWidget(m_path);
    m_version = UiParts::secondaryLabel(QString(), TextStyle::caption, m_details, QStringLiteral("toolVersion"));
    details->addWidget(m_version);
    m_uncheckedReason =
        UiParts::secondaryLabel(QString(), TextStyle::caption, m_details, QStringLiteral("uncheckedReason"));
    m_uncheckedReason->setWordWrap(true);
    details->addWidget(m_uncheckedReason);
    texts->addWidget(m_details);
    top->addLayout(texts, 1);
    contentLayout()->addLayout(top);

    auto *buttons = new FlowLayout(nullptr, 8, 6);
    m_update = new ProminentButton(QStringLiteral("Actualizar…"), TorvelTheme::warning(), this);
    m_update->setObjectName(QStringLiteral("updateButton"));
    m_install = new ProminentButton(QStringLiteral("Instalar…"), TorvelTheme::danger(), this);
    m_install->setObjectName(QStringLiteral("installButton"));
    m_precompiled = UiParts::borderedButton(QStringLiteral("Usar versión precompilada…"), QString(), this,
                                            QStringLiteral("precompiledButton"));
    m_uninstall = UiParts::borderedButton(QStringLiteral("Desinstalar Homebrew…"), QString(), this,
                                          QStringLiteral("uninstallButton"));
    QPalette destructive = m_uninstall->palette();
    destructive.setColor(QPalette::ButtonText, TorvelTheme::danger());
    m_uninstall->setPalette(destructive);
    m_keep = UiParts::secondaryLabel(QString(), TextStyle::caption, this, QStringLiteral("keepHomebrewCaption"));
    m_keep->setWordWrap(true);
    m_rollBack = UiParts::borderedButton(QString(), QString(), this, QStringLiteral("rollBackButton"));
    m_select = UiParts::borderedButton(QStringLiteral("Seleccionar…"), QString(), this, QStringLiteral("selectButton"));
    for (QWidget *button :
         {static_cast<QWidget *>(m_update), static_cast<QWidget *>(m_install), static_cast<QWidget *>(m_precompiled),
          static_cast<QWidget *>(m_uninstall), static_cast<QWidget *>(m_keep), static_cast<QWidget *>(m_rollBack),
          static_cast<QWidget *>(m_select)})
        buttons->addWidget(button);
    contentLayout()->addLayout(buttons);

    using Action = AppModel::PendingToolAction;
    connect(m_update, &QPushButton::clicked, this, [this] { m_model.setPendingToolAction(Action::update(m_tool)); });
    connect(m_install, &QPushButton::clicked, this, [this] { m_model.setPendingToolAction(Action::install(m_tool)); });
    connect(m_precompiled, &QPushButton::clicked, this,
            [this] { m_model.setPendingToolAction(Action::install(m_tool)); });
    connect(m_uninstall, &QPushButton::clicked, this,
            [this] { m_model.setPendingToolAction(Action::uninstallHomebrew(m_tool)); });
    connect(m_rollBack, &QPushButton::clicked, this,
            [this] { m_model.setPendingToolAction(Action::rollBack(m_tool)); });
    connect(m_select, &QPushButton::clicked, this, [this] { m_model.chooseExecutable(m_tool); });

    for (const auto signal : {&AppModel::toolsChanged, &AppModel::updateStatusesChanged, &AppModel::homebrewChanged,
                              &AppModel::isUpdatingToolsChanged})
        connect(&m_model, signal, this, &ToolRow::refresh);
    refresh();
}

void ToolRow::refresh() {
    const ToolIndicatorState state = m_model.indicatorState(m_tool);
    const QColor color = TorvelTheme::indicatorColor(state);
    QColor tint = color;
    tint.setAlphaF(0.14f);
    m_markBox->setFill(tint);
    m_mark->setIconName(markIcon(state));
    m_mark->setColor(color);
    m_state->setText(stateText(state));
    UiParts::setTextColor(m_state, color);

    const std::optional<ToolInfo> &info = m_tool == ToolKind::ytDLP ? m_model.ytDLP() : m_model.ffmpeg();
    m_details->setVisible(info.has_value());
    m_uncheckedReason->setVisible(state == ToolIndicatorState::unchecked);
    m_uncheckedReason->setText(m_model.uncheckedReason());
    if (info) {
        m_path->setFullText(info->path);
        m_version->setText(QStringLiteral("Versión ") + info->version + QStringLiteral(" · ") +
                           info->installSource.displayLabel());
    }

    // A Homebrew copy, and on Linux a distribution's, is better left alone and replaced by a
    // managed copy beside it; only a Homebrew copy nothing else needs can be removed here.
    const bool homebrew = m_model.toolUsesHomebrew(m_tool);
    const bool systemPackage = info && info->installSource.kind == ToolInstallSource::Kind::systemPackage;
    const std::optional<QString> dependents = m_model.homebrewDependentSummary(m_tool);
    m_update->setVisible(state == ToolIndicatorState::updateAvailable);
    m_install->setVisible(state == ToolIndicatorState::missing);
    m_precompiled->setVisible(homebrew || systemPackage);
    m_uninstall->setVisible(homebrew && !dependents && !m_model.isCheckingHomebrewSupport());
    m_keep->setVisible(homebrew && dependents);
    m_keep->setText(QStringLiteral("Homebrew se conservará: lo necesita ") + dependents.value_or(QString()));
    const std::optional<QString> previous = m_model.previousManagedVersion(m_tool);
    m_rollBack->setVisible(previous.has_value());
    m_rollBack->setText(QStringLiteral("Volver a la versión anterior (") + previous.value_or(QString()) +
                        QStringLiteral(")"));

    const bool idle = !m_model.isUpdatingTools();
    for (QWidget *button :
         {static_cast<QWidget *>(m_update), static_cast<QWidget *>(m_install), static_cast<QWidget *>(m_precompiled),
          static_cast<QWidget *>(m_uninstall), static_cast<QWidget *>(m_rollBack), static_cast<QWidget *>(m_select)})
        button->setEnabled(idle);
}
