#include "toolspage.h"

#include "ui/components/activityindicator.h"
#include "ui/components/icons.h"
#include "ui/components/tintedpanel.h"
#include "ui/components/uiparts.h"
#include "ui/options/homebrewtierwarning.h"
#include "ui/options/toolrow.h"
#include "ui/options/updatespanel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

ToolsPage::ToolsPage(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("toolsPageContent"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);
    layout->addWidget(new ToolRow(m_model, ToolKind::ytDLP,
                                  QStringLiteral("Obtiene información y descarga el contenido compatible."), this));
    layout->addWidget(
        new ToolRow(m_model, ToolKind::ffmpeg, QStringLiteral("Combina video y audio y realiza conversiones."), this));

    m_checkingHomebrew = new QWidget(this);
    m_checkingHomebrew->setObjectName(QStringLiteral("checkingHomebrew"));
    auto *checking = new QHBoxLayout(m_checkingHomebrew);
    checking->setContentsMargins(0, 0, 0, 0);
    checking->addWidget(new ActivityIndicator(14, m_checkingHomebrew));
    checking->addWidget(UiParts::secondaryLabel(QStringLiteral("Consultando el nivel de soporte de Homebrew…"),
                                                TorvelTheme::TextStyle::caption, m_checkingHomebrew),
                        1);
    layout->addWidget(m_checkingHomebrew);
    m_tierWarning = new HomebrewTierWarning(m_model, this);
    layout->addWidget(m_tierWarning);

    layout->addWidget(new UpdatesPanel(m_model, this));
    layout->addWidget(buildManualAlternative());
    layout->addWidget(buildDetectionRow());
    layout->addStretch();

    for (const auto signal : {&AppModel::toolsChanged, &AppModel::homebrewChanged, &AppModel::isUpdatingToolsChanged})
        connect(&m_model, signal, this, &ToolsPage::refreshHomebrew);
    refreshHomebrew();
}

QWidget *ToolsPage::buildManualAlternative() {
    using TorvelTheme::TextStyle;
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("manualAlternative"));
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(UiParts::label(QStringLiteral("Instalación manual"), TextStyle::headline, section));
    // The buttons are named as they read, whatever colour the style gives them.
    const QStringList commands = m_model.manualInstallCommands();
    QLabel *caption = UiParts::secondaryLabel(
        QStringLiteral("«Instalar…» y «Actualizar…» instalan copias precompiladas dentro de Torvel Downloader. ") +
            (commands.isEmpty() ? QStringLiteral("También puedes instalar yt-dlp y FFmpeg con el gestor de paquetes "
                                                 "de tu sistema; la aplicación los detecta.")
                                : QStringLiteral("También puedes instalarlos tú; la aplicación los detecta y los "
                                                 "respeta:")),
        TextStyle::caption, section, QStringLiteral("manualCaption"));
    caption->setWordWrap(true);
    layout->addWidget(caption);

    for (const QString &text : commands) {
        auto *row = new QHBoxLayout;
        auto *commandBox = new TintedPanel({}, section, 8);
        auto *commandLayout = new QHBoxLayout(commandBox);
        commandLayout->setContentsMargins(10, 6, 10, 6);
        QLabel *command = UiParts::label(text, TextStyle::callout, commandBox, QStringLiteral("manualCommand"));
        QFont monospaced = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        monospaced.setPointSizeF(command->font().pointSizeF());
        command->setFont(monospaced);
        command->setTextInteractionFlags(Qt::TextSelectableByMouse);
        commandLayout->addWidget(command, 1);
        row->addWidget(commandBox, 1);
        auto *copy = new QToolButton(section);
        copy->setObjectName(QStringLiteral("copyCommandButton"));
        copy->setIcon(Icons::icon(QStringLiteral("doc.on.doc")));
        copy->setToolTip(QStringLiteral("Copiar comando"));
        copy->setAccessibleName(QStringLiteral("Copiar comando"));
        copy->setAutoRaise(true);
        connect(copy, &QToolButton::clicked, this, [this, text] { m_model.desktop().setClipboardText(text); });
        row->addWidget(copy);
        layout->addLayout(row);
    }
    return section;
}

QWidget *ToolsPage::buildDetectionRow() {
    auto *rowWidget = new QWidget(this);
    auto *row = new QHBoxLayout(rowWidget);
    row->setContentsMargins(0, 0, 0, 0);
    m_detecting = new ActivityIndicator(14, rowWidget);
    m_detecting->setObjectName(QStringLiteral("detectingIndicator"));
    row->addWidget(m_detecting);
    row->addStretch();
    // Stays enabled while a search runs: a second one simply reports again.
    QPushButton *redetect =
        UiParts::borderedButton(QStringLiteral("Volver a detectar"), QStringLiteral("arrow.clockwise"), rowWidget,
                                QStringLiteral("redetectButton"));
    connect(redetect, &QPushButton::clicked, this, [this] { m_model.refreshDependencies(); });
    row->addWidget(redetect);
    return rowWidget;
}

void ToolsPage::refreshHomebrew() {
    m_detecting->setVisible(m_model.isCheckingTools());
    m_checkingHomebrew->setVisible(m_model.isCheckingHomebrewSupport());
    m_tierWarning->setVisible(!m_model.isCheckingHomebrewSupport() && m_model.homebrewSupportWarning());
    m_tierWarning->refresh();
}
