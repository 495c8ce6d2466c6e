#include "toolactiondialog.h"

#include "platform/toolassets.h"
#include "ui/components/uiparts.h"
#include "ui/components/wrappinglabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString nameOf(ToolKind tool) {
    return ToolUpdateStatus::rawValue(ToolUpdateStatus::of(tool));
}

} // namespace

ToolActionDialog::ToolActionDialog(AppModel &model, QWidget *parent) : QDialog(parent), m_model(model) {
    setObjectName(QStringLiteral("toolActionDialog"));
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 20, 22, 18);
    layout->setSpacing(12);
    m_title = UiParts::label(QString(), TorvelTheme::TextStyle::headline, this, QStringLiteral("toolActionTitle"),
                             QFont::DemiBold);
    layout->addWidget(m_title);
    m_message = new WrappingLabel(QString(), this);
    m_message->setObjectName(QStringLiteral("toolActionMessage"));
    m_message->setMinimumWidth(420);
    layout->addWidget(m_message);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    m_recommended = new QPushButton(QStringLiteral("Usar versión precompilada (recomendado)"), this);
    m_recommended->setObjectName(QStringLiteral("recommendedActionButton"));
    m_confirm = new QPushButton(this);
    m_confirm->setObjectName(QStringLiteral("confirmActionButton"));
    auto *cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelActionButton"));
    for (QPushButton *button : {m_recommended, m_confirm, cancel}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);

    connect(m_recommended, &QPushButton::clicked, this, &ToolActionDialog::installInstead);
    connect(m_confirm, &QPushButton::clicked, this, &ToolActionDialog::performPendingAction);
    connect(cancel, &QPushButton::clicked, this, &ToolActionDialog::reject);
    refresh();
}

void ToolActionDialog::refresh() {
    const std::optional<Action> action = m_model.pendingToolAction();
    setWindowTitle(title(action));
    m_title->setText(title(action));
    m_message->setText(message(m_model, action));
    m_message->setVisible(!m_message->text().isEmpty());
    m_confirm->setText(buttonTitle(m_model, action));
    m_recommended->setVisible(action && action->kind == Action::Kind::update && m_model.homebrewWarning(action->tool));
    // The recommended way is the default where there is one; a removal is never the default.
    QPushButton *preferred = m_recommended->isVisible() ? m_recommended : m_confirm;
    preferred->setDefault(!action || action->kind != Action::Kind::uninstallHomebrew);
    setMinimumHeight(0);
    adjustSize();
    // A window takes the height of its size hint, which knows nothing of the width the message
    // wraps at; without this its last line can be cut off.
    setMinimumHeight(layout()->totalHeightForWidth(width()));
}

QString ToolActionDialog::title(const std::optional<Action> &action) {
    if (!action)
        return QStringLiteral("Administrar herramienta");
    const QString name = nameOf(action->tool);
    switch (action->kind) {
    case Action::Kind::install:
        return QStringLiteral("¿Instalar ") + name + QStringLiteral("?");
    case Action::Kind::update:
        return QStringLiteral("¿Actualizar ") + name + QStringLiteral("?");
    case Action::Kind::rollBack:
        return QStringLiteral("¿Volver a la versión anterior de ") + name + QStringLiteral("?");
    case Action::Kind::uninstallHomebrew:
        break;
    }
    return QStringLiteral("¿Desinstalar ") + name + QStringLiteral(" de Homebrew?");
}

QString ToolActionDialog::buttonTitle(const AppModel &model, const std::optional<Action> &action) {
    if (!action)
        return QStringLiteral("Continuar");
    switch (action->kind) {
    case Action::Kind::install:
        return action->tool == ToolKind::ytDLP ? QStringLiteral("Instalar versión oficial")
                                               : QStringLiteral("Instalar versión precompilada");
    case Action::Kind::update:
        return model.homebrewWarning(action->tool) ? QStringLiteral("Actualizar con Homebrew de todos modos")
                                                   : QStringLiteral("Actualizar con su administrador");
    case Action::Kind::rollBack:
        return QStringLiteral("Volver a la versión anterior");
    case Action::Kind::uninstallHomebrew:
        break;
    }
    return QStringLiteral("Desinstalar ") + nameOf(action->tool);
}

QString ToolActionDialog::message(const AppModel &model, const std::optional<Action> &action) {
    if (!action)
        return QString();
    const ToolKind tool = action->tool;
    switch (action->kind) {
    case Action::Kind::install:
        if (tool == ToolKind::ffmpeg)
            return QStringLiteral("Se descargarán FFmpeg y FFprobe precompilados para la arquitectura de este equipo. "
                                  "Se verificarán el SHA-256, la firma y el funcionamiento antes de instalarlos "
                                  "dentro de Torvel Downloader. No requiere Homebrew ni compilar.") +
                   (model.toolUsesHomebrew(tool)
                        ? QStringLiteral(" La copia de Homebrew se conservará para programas como scrcpy; Torvel "
                                         "utilizará la nueva copia administrada.")
                        : QString());
        return QStringLiteral("Se descargarán el ejecutable oficial ") + ToolAssets::ytDLPAssetName() +
               QStringLiteral(" y, si hace falta, Deno. Se verificarán sus SHA-256 y se instalarán dentro de Torvel "
                              "Downloader. No requiere Homebrew, Python, Rust ni LLVM.") +
               (model.toolUsesHomebrew(tool) ? QStringLiteral(" La copia de Homebrew se conservará para no afectar "
                                                              "otros programas; Torvel utilizará la nueva copia "
                                                              "administrada.")
                                             : QString());
    case Action::Kind::update: {
        QString text = QStringLiteral("Solo se actualizará ") + nameOf(tool) +
                       QStringLiteral("; la otra herramienta no se incluirá en el mismo comando.");
        if (const std::optional<QString> warning = model.homebrewWarning(tool))
            text += QStringLiteral(" ") + *warning +
                    QStringLiteral(" La opción recomendada instala la versión precompilada en paralelo y hace que "
                                   "Torvel la use, sin afectar otros programas de Homebrew.");
        return text;
    }
    case Action::Kind::rollBack: {
        const std::optional<ToolInfo> &current = tool == ToolKind::ytDLP ? model.ytDLP() : model.ffmpeg();
        return QStringLiteral("Se restaurará ") +
               (tool == ToolKind::ytDLP ? QStringLiteral("yt-dlp ") : QStringLiteral("FFmpeg y FFprobe ")) +
               model.previousManagedVersion(tool).value_or(QString()) +
               QStringLiteral(", la copia administrada que reemplazó la última instalación, en lugar de la versión ") +
               (current ? current->version : QString()) +
               QStringLiteral(". Antes se comprobará que es la misma copia que se guardó y que sigue funcionando.");
    }
    case Action::Kind::uninstallHomebrew:
        break;
    }
    if (const std::optional<QString> dependents = model.homebrewDependentSummary(tool))
        return QStringLiteral("No se debe desinstalar porque Homebrew lo necesita para: ") + *dependents +
               QStringLiteral(". Usa la versión precompilada en paralelo para no romper esos programas.");
    if (tool == ToolKind::ffmpeg)
        return QStringLiteral("Se ejecutará brew uninstall ffmpeg. No se usará autoremove y las dependencias se "
                              "conservarán. Después se ofrecerá instalar FFmpeg y FFprobe precompilados, sin "
                              "Homebrew ni compilación.");
    return QStringLiteral("Se ejecutará brew uninstall yt-dlp. No se usará autoremove: Deno, FFmpeg y las demás "
                          "dependencias se conservarán. Después se ofrecerá instalar la versión oficial rápida.");
}

void ToolActionDialog::reject() {
    m_model.setPendingToolAction(std::nullopt);
    QDialog::reject();
}

void ToolActionDialog::performPendingAction() {
    const std::optional<Action> action = m_model.pendingToolAction();
    if (!action)
        return;
    m_model.setPendingToolAction(std::nullopt);
    accept();
    switch (action->kind) {
    case Action::Kind::install:
        m_model.installTool(action->tool);
        break;
    case Action::Kind::update:
        m_model.updateTools(action->tool);
        break;
    case Action::Kind::uninstallHomebrew:
        m_model.uninstallHomebrew(action->tool);
        break;
    case Action::Kind::rollBack:
        m_model.rollBackTool(action->tool);
        break;
    }
}

void ToolActionDialog::installInstead() {
    const std::optional<Action> action = m_model.pendingToolAction();
    if (!action)
        return;
    m_model.setPendingToolAction(std::nullopt);
    accept();
    m_model.installTool(action->tool);
}
