#include "aboutwindow.h"

#include "ui/about/aboutview.h"
#include "ui/components/appbackground.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

AboutWindow::AboutWindow(AppModel &model, QWidget *parent)
    : QWidget(parent, Qt::Window), m_model(model), m_view(new AboutView(false)) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("Acerca de Torvel Downloader"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *background = new AppBackground(this);
    layout->addWidget(background);
    auto *backgroundLayout = new QVBoxLayout(background);
    backgroundLayout->setContentsMargins(0, 0, 0, 0);

    // The scroll area tells how much height the wrapped texts need at the window's width; the
    // window grows by whatever is missing, so the view is never cut off or left to scroll.
    auto *scroll = new QScrollArea(background);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    m_view->setAutoFillBackground(false);
    scroll->setWidget(m_view);
    backgroundLayout->addWidget(scroll);

    const auto showTools = [this] { m_view->setTools(m_model.ytDLP(), m_model.ffmpeg()); };
    showTools();
    connect(&m_model, &AppModel::toolsChanged, this, showTools);

    // Taller than the usual size only when large fonts need it. The estimate can fall a few pixels
    // short; the shown view corrects it.
    resize(defaultWidth, qMax(defaultHeight, m_view->heightForWidth(defaultWidth)));
    connect(scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        // Before the window is shown its scroll area has no real size yet.
        if (isVisible() && maximum > 0)
            resize(width(), height() + maximum);
    });
}
