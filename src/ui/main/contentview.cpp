#include "contentview.h"

#include "model/appmodel.h"
#include "ui/components/appbackground.h"
#include "ui/main/applicationupdatebanner.h"
#include "ui/main/destinationcard.h"
#include "ui/main/mainheaderview.h"
#include "ui/main/phaseview.h"
#include "ui/main/urlinputcard.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

ContentView::ContentView(AppModel &model, DesktopServices &desktop, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("contentView"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *background = new AppBackground(this);
    outer->addWidget(background);
    auto *backgroundLayout = new QVBoxLayout(background);
    backgroundLayout->setContentsMargins(0, 0, 0, 0);

    m_scrollArea = new QScrollArea(background);
    m_scrollArea->setObjectName(QStringLiteral("contentScrollArea"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The background shows through the scrolling area.
    m_scrollArea->setAutoFillBackground(false);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    backgroundLayout->addWidget(m_scrollArea);

    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("contentPage"));
    auto *centering = new QHBoxLayout(page);
    centering->setContentsMargins(0, 0, 0, 0);
    centering->setSpacing(0);
    m_column = new QWidget(page);
    m_column->setObjectName(QStringLiteral("contentColumn"));
    m_column->setMaximumWidth(maximumColumnWidth);
    QSizePolicy columnPolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    columnPolicy.setHeightForWidth(true);
    m_column->setSizePolicy(columnPolicy);
    centering->addStretch();
    centering->addWidget(m_column, 1);
    centering->addStretch();

    auto *column = new QVBoxLayout(m_column);
    column->setContentsMargins(columnPadding, columnTopPadding, columnPadding, columnPadding);
    column->setSpacing(columnSpacing);
    // Only while the application installs its own update.
    auto *updateBanner = new ApplicationUpdateBanner(m_column);
    column->addWidget(updateBanner);
    const auto showUpdate = [&model, updateBanner] {
        updateBanner->setStage(model.applicationUpdateStage());
        updateBanner->setVisible(model.isInstallingApplicationUpdate());
    };
    connect(&model, &AppModel::applicationUpdateChanged, updateBanner, showUpdate);
    showUpdate();
    column->addWidget(new MainHeaderView(model, m_column));
    auto *urlCard = new URLInputCard(model, desktop, m_column);
    column->addWidget(urlCard);
    m_phaseView = new PhaseView(model, m_column);
    column->addWidget(m_phaseView);
    // Spare height stays below the content instead of stretching the cards.
    column->addStretch(1);

    m_scrollArea->setWidget(page);
    // setWidget() turns the filling on; the background must show through, as it does below.
    page->setAutoFillBackground(false);
    connect(urlCard, &URLInputCard::openOptionsRequested, this, &ContentView::openOptionsRequested);
    connect(m_phaseView, &PhaseView::openOptionsRequested, this, &ContentView::openOptionsRequested);

    // The destination with "Descargar" stays below the scrolling content, in the column's width,
    // so that the download can start whatever the choices and messages above it take.
    auto *footer = new QWidget(background);
    footer->setObjectName(QStringLiteral("contentFooter"));
    auto *footerCentering = new QHBoxLayout(footer);
    footerCentering->setContentsMargins(0, 0, 0, 0);
    auto *footerColumn = new QWidget(footer);
    footerColumn->setMaximumWidth(maximumColumnWidth);
    auto *footerLayout = new QVBoxLayout(footerColumn);
    footerLayout->setContentsMargins(columnPadding, footerSpacing, columnPadding, footerSpacing);
    auto *destination = new DestinationCard(model, footerColumn);
    footerLayout->addWidget(destination);
    footerCentering->addStretch();
    footerCentering->addWidget(footerColumn, 1);
    footerCentering->addStretch();
    backgroundLayout->addWidget(footer);
    // Lined up with the cards above, which the scroll bar pushes left while it shows.
    QScrollBar *scrollBar = m_scrollArea->verticalScrollBar();
    connect(scrollBar, &QScrollBar::rangeChanged, footer, [footerCentering, scrollBar](int, int maximum) {
        footerCentering->setContentsMargins(0, 0, maximum > 0 ? scrollBar->sizeHint().width() : 0, 0);
    });
    // With the choices: while analyzed media waits to be downloaded, again after a failure.
    const auto showFooter = [&model, footer] {
        const AppModel::Phase phase = model.phase();
        const bool chosen = model.mediaInfo() || model.playlist();
        footer->setVisible(chosen && (phase == AppModel::Phase::ready || phase == AppModel::Phase::failed));
    };
    connect(&model, &AppModel::phaseChanged, footer, showFooter);
    connect(&model, &AppModel::mediaInfoChanged, footer, showFooter);
    connect(&model, &AppModel::playlistChanged, footer, showFooter);
    showFooter();
}
