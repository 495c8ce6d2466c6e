#include "advancedformatsview.h"

#include "model/appmodel.h"
#include "ui/components/adaptivegridlayout.h"
#include "ui/components/torveltheme.h"
#include "ui/main/audiopairingview.h"
#include "ui/main/exactformatcard.h"

#include <QToolButton>
#include <QVBoxLayout>

AdvancedFormatsView::AdvancedFormatsView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model) {
    setObjectName(QStringLiteral("advancedFormatsView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    m_toggle = new QToolButton(this);
    m_toggle->setObjectName(QStringLiteral("advancedFormatsToggle"));
    m_toggle->setAutoRaise(true);
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toggle->setArrowType(Qt::RightArrow);
    m_toggle->setFont(TorvelTheme::font(TorvelTheme::TextStyle::callout, QFont::DemiBold));
    m_toggle->setCursor(Qt::PointingHandCursor);
    layout->addWidget(m_toggle, 0, Qt::AlignLeft);

    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("advancedFormatsContent"));
    auto *contentLayout = new QVBoxLayout(m_content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(gridSpacing);
    m_pairing = new AudioPairingView(m_model, m_content);
    contentLayout->addWidget(m_pairing);
    m_content->hide();
    layout->addWidget(m_content);

    connect(m_toggle, &QToolButton::clicked, this, [this] { setExpanded(!isExpanded()); });
    connect(&m_model, &AppModel::mediaInfoChanged, this, &AdvancedFormatsView::refreshFormats);
    connect(&m_model, &AppModel::selectionChanged, this, &AdvancedFormatsView::refreshSelection);
    refreshFormats();
}

bool AdvancedFormatsView::isExpanded() const {
    return m_expanded;
}

void AdvancedFormatsView::setExpanded(bool expanded) {
    m_expanded = expanded;
    m_toggle->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    m_toggle->setAccessibleDescription(expanded ? QStringLiteral("Desplegado") : QStringLiteral("Plegado"));
    if (expanded) {
        ensureGrid();
        refreshSelection();
    }
    m_content->setVisible(expanded);
}

void AdvancedFormatsView::refreshFormats() {
    const qsizetype count = m_model.exactFormats().size();
    m_toggle->setText(QStringLiteral("Formatos avanzados (") + QString::number(count) + QLatin1Char(')'));
    // A section that would open on nothing is not offered (a list has no formats of its own).
    setVisible(count > 0);
    // Another media, another list: the old cards go, and the section starts closed as it does
    // for every new analysis.
    m_gridStale = true;
    setExpanded(false);
}

void AdvancedFormatsView::ensureGrid() {
    if (!m_gridStale)
        return;
    m_gridStale = false;
    if (m_grid) {
        m_grid->hide();
        m_grid->deleteLater();
    }
    m_cards.clear();
    m_cardChoiceIDs.clear();

    m_grid = new QWidget(m_content);
    m_grid->setObjectName(QStringLiteral("advancedFormatsGrid"));
    auto *grid = new AdaptiveGridLayout(minimumColumnWidth, gridSpacing, m_grid);
    const std::optional<MediaInfo> &media = m_model.mediaInfo();
    const std::optional<double> duration = media ? media->duration : std::nullopt;
    for (const MediaFormat &format : m_model.exactFormats()) {
        auto *card = new ExactFormatCard(format, duration, m_grid);
        grid->addWidget(card);
        const DownloadChoice choice = DownloadChoice::exact(format);
        connect(card, &QAbstractButton::clicked, this, [this, choice] { m_model.selectChoice(choice); });
        m_cards.append(card);
        m_cardChoiceIDs.append(choice.id);
    }
    static_cast<QVBoxLayout *>(m_content->layout())->insertWidget(0, m_grid);
}

void AdvancedFormatsView::refreshSelection() {
    m_pairing->setVisible(m_model.selectedVideoOnlyFormat().has_value());
    if (m_gridStale)
        return;
    const QString &selected = m_model.selectedChoiceID();
    for (qsizetype i = 0; i < m_cards.size(); ++i)
        m_cards.at(i)->setSelected(m_cardChoiceIDs.at(i) == selected);
}
