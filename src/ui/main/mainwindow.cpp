#include "mainwindow.h"

#include "ui/about/aboutwindow.h"
#include "ui/components/icons.h"
#include "ui/components/toolstatuspill.h"
#include "ui/main/backgroundtray.h"
#include "ui/main/contentview.h"
#include "ui/options/optionswindow.h"
#include "ui/queue/historyview.h"
#include "ui/queue/queueview.h"

#include "common/plural.h"
#include "platform/linuxdesktopservices.h"
#include "platform/singleinstance.h"

#include <QAction>

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <utility>

MainWindow::MainWindow(AppModel &model, DesktopServices &desktop, QWidget *parent)
    : QMainWindow(parent), m_model(model), m_desktop(desktop) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Torvel Downloader"));
    setCentralWidget(createContent());

    createActions();
    createMenus();
    createToolBar();
    createQueueParts();

    // The window's own minimum follows from the content's plus the menu bar and the toolbar.
    centralWidget()->setMinimumSize(minimumContentSize);
    resize(defaultContentSize + (minimumSizeHint() - minimumContentSize));

    m_quitDeadline = new QTimer(this);
    m_quitDeadline->setSingleShot(true);
    m_quitDeadline->setInterval(cancellationGraceMs);
    connect(m_quitDeadline, &QTimer::timeout, this, &MainWindow::finishQuitting);

    // Every published change may alter a title or an enabled state.
    for (const auto signal :
         {&AppModel::urlInputChanged, &AppModel::phaseChanged, &AppModel::mediaInfoChanged, &AppModel::selectionChanged,
          &AppModel::progressChanged, &AppModel::errorMessageChanged, &AppModel::completedFileChanged,
          &AppModel::toolsChanged, &AppModel::selectedOptionsTabChanged, &AppModel::applicationUpdateChanged})
        connect(&m_model, signal, this, &MainWindow::refreshActions);
    connect(&m_model, &AppModel::toolsChanged, this, &MainWindow::refreshToolPills);
    connect(&m_model, &AppModel::updateStatusesChanged, this, &MainWindow::refreshToolPills);
    // Work that ends by itself while the closing question is shown leaves nothing to ask.
    for (const auto signal : {&AppModel::phaseChanged, &AppModel::isUpdatingToolsChanged})
        connect(&m_model, signal, this, &MainWindow::rejectQuestionWhenIdle);
    connect(&m_model, &AppModel::appUpdateAlertChanged, this, &MainWindow::showAppUpdateAlert);
    // The installer waits for this process: quit the way the user would.
    connect(&m_model, &AppModel::applicationTerminationRequested, this, &MainWindow::requestQuit, Qt::QueuedConnection);
    refreshActions();
    refreshToolPills();
    showAppUpdateAlert();
}

MainWindow::~MainWindow() = default;

QWidget *MainWindow::createContent() {
    auto *content = new ContentView(m_model, m_desktop, this);
    // "Abrir opciones" shows the options on whatever tab they were left.
    connect(content, &ContentView::openOptionsRequested, this, &MainWindow::showOptionsWindow);

    // The queue below the download view, while it has items (or a message) and "Cola" is on.
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("contentSplitter"));
    splitter->setChildrenCollapsible(false);
    m_queueView = new QueueView(m_model.queue(), m_desktop, nullptr, splitter);
    m_queueView->setMinimumHeight(queuePanelMinimumHeight);
    const auto useProxy = [this] { m_queueView->setProxy(m_model.settings().proxy()); };
    useProxy();
    connect(&m_model.settings(), &AppSettings::proxyChanged, m_queueView, useProxy);
    splitter->addWidget(content);
    splitter->addWidget(m_queueView);
    // A smaller window takes room from both.
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    m_queueView->setVisible(m_queueView->hasContent());
    connect(m_queueView, &QueueView::hasContentChanged, this, &MainWindow::refreshQueuePanel);
    return splitter;
}

void MainWindow::refreshQueuePanel() {
    const bool shown = m_queueAction->isChecked() && m_queueView->hasContent();
    if (shown == !m_queueView->isHidden())
        return;
    m_queueView->setVisible(shown);
    if (shown) {
        // The download view keeps the larger share.
        auto *splitter = static_cast<QSplitter *>(centralWidget());
        const int total = splitter->height() - splitter->handleWidth();
        const int queue = std::max(queuePanelMinimumHeight, total * 2 / 5);
        splitter->setSizes({total - queue, queue});
    }
}

void MainWindow::createActions() {
    const auto action = [this](const QString &text, const QString &objectName) {
        auto *result = new QAction(text, this);
        result->setObjectName(objectName);
        return result;
    };

    m_aboutAction = action(QStringLiteral("Acerca de Torvel Downloader"), QStringLiteral("aboutAction"));
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::showAboutWindow);

    m_checkForUpdatesAction =
        action(QStringLiteral("Buscar actualizaciones…"), QStringLiteral("checkForUpdatesAction"));
    m_checkForUpdatesAction->setMenuRole(QAction::ApplicationSpecificRole);
    connect(m_checkForUpdatesAction, &QAction::triggered, this, [this] { m_model.checkForApplicationUpdate(true); });

    m_optionsAction = action(QStringLiteral("Preferencias…"), QStringLiteral("optionsAction"));
    m_optionsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_optionsAction->setMenuRole(QAction::PreferencesRole);
    connect(m_optionsAction, &QAction::triggered, this, &MainWindow::showOptions);

    m_quitAction = action(QStringLiteral("Salir"), QStringLiteral("quitAction"));
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quitAction->setMenuRole(QAction::QuitRole);
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::requestQuit);

    m_newDownloadAction = action(QStringLiteral("Nueva descarga"), QStringLiteral("newDownloadAction"));
    m_newDownloadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(m_newDownloadAction, &QAction::triggered, this, [this] { m_model.reset(); });

    m_pasteLinkAction = action(QStringLiteral("Pegar enlace"), QStringLiteral("pasteLinkAction"));
    m_pasteLinkAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    connect(m_pasteLinkAction, &QAction::triggered, this, &MainWindow::pasteLink);

    m_analyzeAction = action(QStringLiteral("Analizar"), QStringLiteral("analyzeAction"));
    // Return on the main keyboard and Enter on the keypad.
    m_analyzeAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    connect(m_analyzeAction, &QAction::triggered, this, [this] { m_model.analyze(); });

    // Esc stops what runs, as in a dialog; the action is disabled, and Esc free, otherwise.
    m_cancelAction = action(QStringLiteral("Cancelar"), QStringLiteral("cancelAction"));
    m_cancelAction->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(m_cancelAction, &QAction::triggered, this, [this] { m_model.cancelDownload(); });

    m_revealAction = action(QStringLiteral("Mostrar archivo en su carpeta"), QStringLiteral("revealAction"));
    connect(m_revealAction, &QAction::triggered, this, [this] { m_model.revealCompletedFile(); });

    m_queueAction = action(QStringLiteral("Cola"), QStringLiteral("queueAction"));
    m_queueAction->setCheckable(true);
    m_queueAction->setChecked(true);
    connect(m_queueAction, &QAction::toggled, this, &MainWindow::refreshQueuePanel);
}

// As a Linux desktop lays out its menus: Archivo, Editar, the application's own, Ayuda.
void MainWindow::createMenus() {
    QMenuBar *bar = menuBar();

    QMenu *file = bar->addMenu(QStringLiteral("&Archivo"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(m_newDownloadAction);
    file->addSeparator();
    file->addAction(m_quitAction);

    QMenu *edit = bar->addMenu(QStringLiteral("&Editar"));
    edit->setObjectName(QStringLiteral("editMenu"));
    edit->addAction(m_pasteLinkAction);
    edit->addSeparator();
    edit->addAction(m_optionsAction);

    QMenu *download = bar->addMenu(QStringLiteral("&Descarga"));
    download->setObjectName(QStringLiteral("downloadMenu"));
    download->addAction(m_analyzeAction);
    download->addSeparator();
    download->addAction(m_cancelAction);
    download->addAction(m_revealAction);
    download->addSeparator();
    download->addAction(m_queueAction);

    QMenu *help = bar->addMenu(QStringLiteral("A&yuda"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addAction(m_checkForUpdatesAction);
    help->addSeparator();
    help->addAction(m_aboutAction);
}

void MainWindow::createToolBar() {
    QToolBar *toolBar = addToolBar(QStringLiteral("Herramientas"));
    toolBar->setObjectName(QStringLiteral("mainToolBar"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar->toggleViewAction()->setVisible(false);
    toolBar->setIconSize(QSize(16, 16));
    toolBar->layout()->setSpacing(8);
    toolBar->setContentsMargins(8, 4, 8, 4);

    // One group at the trailing end.
    auto *spacer = new QWidget(toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar->addWidget(spacer);

    m_ytDLPPill = new ToolStatusPill(QStringLiteral("yt-dlp"), ToolIndicatorState::missing, toolBar);
    m_ytDLPPill->setObjectName(QStringLiteral("ytDLPPill"));
    connect(m_ytDLPPill, &ToolStatusPill::clicked, this, [this] { showToolManager(ToolKind::ytDLP); });
    toolBar->addWidget(m_ytDLPPill);

    m_ffmpegPill = new ToolStatusPill(QStringLiteral("FFmpeg"), ToolIndicatorState::missing, toolBar);
    m_ffmpegPill->setObjectName(QStringLiteral("ffmpegPill"));
    connect(m_ffmpegPill, &ToolStatusPill::clicked, this, [this] { showToolManager(ToolKind::ffmpeg); });
    toolBar->addWidget(m_ffmpegPill);

    auto *options = new QToolButton(toolBar);
    options->setObjectName(QStringLiteral("optionsToolButton"));
    options->setText(QStringLiteral("Opciones"));
    options->setToolTip(QStringLiteral("Opciones"));
    options->setIcon(Icons::icon(QStringLiteral("gearshape")));
    options->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    options->setAutoRaise(true);
    connect(options, &QToolButton::clicked, this, &MainWindow::showOptions);
    toolBar->addWidget(options);
}

void MainWindow::refreshActions() {
    const AppModel::Phase phase = m_model.phase();
    // Downloads run in the queue: another address can be analyzed beside them.
    m_analyzeAction->setEnabled(phase != AppModel::Phase::analyzing);
    // A running download keeps the window until it ends or is cancelled.
    m_newDownloadAction->setEnabled(phase != AppModel::Phase::downloading);
    m_cancelAction->setEnabled(phase == AppModel::Phase::analyzing || phase == AppModel::Phase::downloading);
    m_revealAction->setEnabled(m_model.completedFile().has_value());
    const bool checking = m_model.isCheckingApplicationUpdate();
    m_checkForUpdatesAction->setText(checking ? QStringLiteral("Buscando actualizaciones…")
                                              : QStringLiteral("Buscar actualizaciones…"));
    m_checkForUpdatesAction->setEnabled(!checking && !m_model.isInstallingApplicationUpdate());
}

void MainWindow::showAppUpdateAlert() {
    // A dismissed alert was dismissed by its dialog, which is closing by itself.
    const std::optional<AppUpdateAlert> &alert = m_model.appUpdateAlert();
    if (!alert || (m_appUpdateDialog && *alert == m_appUpdateDialog->alert()))
        return;
    // A new outcome replaces a dialog still shown.
    if (m_appUpdateDialog) {
        m_appUpdateDialog->disconnect(this);
        m_appUpdateDialog->close();
    }
    auto *dialog = new AppUpdateDialog(*alert, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Whichever button closes it, the alert is dismissed before anything it asks for starts.
    connect(dialog, &QMessageBox::finished, this, [this, dialog] {
        if (m_model.appUpdateAlert() == dialog->alert())
            m_model.dismissAppUpdateAlert();
    });
    connect(dialog, &AppUpdateDialog::installRequested, this, [this](const AppUpdateManifest &manifest) {
        m_model.dismissAppUpdateAlert();
        m_model.installApplicationUpdate(manifest);
    });
    connect(dialog, &AppUpdateDialog::packageRequested, this, [this](const QUrl &url) {
        m_model.dismissAppUpdateAlert();
        m_desktop.openURL(url);
    });
    m_appUpdateDialog = dialog;
    dialog->open();
}

void MainWindow::refreshToolPills() {
    m_ytDLPPill->setState(m_model.indicatorState(ToolKind::ytDLP));
    m_ffmpegPill->setState(m_model.indicatorState(ToolKind::ffmpeg));
}

void MainWindow::pasteLink() {
    m_model.offerAddress(m_desktop.clipboardText());
}

void MainWindow::showOptionsWindow() {
    if (!m_optionsWindow) {
        m_optionsWindow = new OptionsWindow(m_model, this);
        closeOnEscape(m_optionsWindow);
    }
    showSecondaryWindow(m_optionsWindow);
}

namespace {

// Esc closes the window, whichever of its widgets has the focus: text and link labels take Esc
// as a shortcut of their own and then let it go, so it is caught on its way up to the window.
class EscapeCloses final : public QObject {
public:
    explicit EscapeCloses(QWidget *window) : QObject(window), m_window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_window && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
            static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier) {
            m_window->close();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *m_window;
};

} // namespace

void MainWindow::closeOnEscape(QWidget *window) {
    new EscapeCloses(window);
}

void MainWindow::showSecondaryWindow(QWidget *window) {
    // A window that opens comes up over the middle of the main window; one already open stays
    // where the user put it. Showing may fit its size to its content: centred again after.
    const bool opening = !window->isVisible();
    const auto centre = [this, window] {
        window->move(frameGeometry().center() - QPoint(window->width() / 2, window->height() / 2));
    };
    if (opening)
        centre();
    bringWindowForward(window);
    if (opening)
        centre();
}

void MainWindow::showOptions() {
    m_model.setSelectedOptionsTab(AppModel::OptionsTab::general);
    showOptionsWindow();
}

void MainWindow::showToolManager(ToolKind tool) {
    // The options window then asks to confirm the install or update the tool needs.
    m_model.showToolManager(tool, true);
    showOptionsWindow();
}

bool MainWindow::isBusy() const {
    // The window's downloads are items of the queue, counted by queueWorkGoesOn().
    return m_model.isUpdatingTools();
}

void MainWindow::showAboutWindow() {
    if (!m_aboutWindow) {
        m_aboutWindow = new AboutWindow(m_model, this);
        closeOnEscape(m_aboutWindow);
    }
    showSecondaryWindow(m_aboutWindow);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    const bool quitRequested = std::exchange(m_quitRequested, false);
    if (!m_closeDespiteWork) {
        const bool queueWork = queueWorkGoesOn();
        if (isBusy() || queueWork) {
            event->ignore();
            // Once the user chose to quit, the window closes by itself when the work has stopped.
            if (!m_quitting)
                askBeforeQuitting(queueWork && !quitRequested);
            return;
        }
    }
    closeSecondaryWindows();
    QMainWindow::closeEvent(event);
    // A hidden window's closing ends nothing by itself: the application quits as it would have
    // when its last window closed.
    if (m_inBackground) {
        leaveBackground();
        if (QGuiApplication::quitOnLastWindowClosed())
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void MainWindow::requestQuit() {
    m_quitRequested = true;
    // The question is asked over the window.
    if (m_inBackground && (isBusy() || queueWorkGoesOn()))
        showFromBackground();
    close();
}

bool MainWindow::queueWorkGoesOn() const {
    return queuePendingCount() > 0;
}

int MainWindow::queuePendingCount() const {
    // Items that another process runs are not this window's to keep or pause; waiting items wait
    // for nothing while the runner is stopped (tools missing, or the queue not resumed at start).
    const QueueRunner &runner = m_model.queue().runner();
    int waiting = 0;
    if (runner.isActive()) {
        try {
            waiting = m_model.queue().store().counts().value(QueueState::waiting);
        } catch (const TorvelError &) {
            // Counted as none: the running ones are known without the store.
        }
    }
    return runner.runningCount() + waiting;
}

QString MainWindow::quitExplanation(bool offerBackground) const {
    QStringList parts;
    if (offerBackground)
        parts.append(BackgroundTray::isAvailable()
                         ? QStringLiteral("La cola puede seguir descargando con la ventana cerrada; el icono de "
                                          "Torvel Downloader en la bandeja del sistema muestra el avance y vuelve a "
                                          "abrirla.")
                         : QStringLiteral("La cola puede seguir descargando con la ventana cerrada: Torvel Downloader "
                                          "sigue en marcha sin ventana. Para volver a ella, ábrelo de nuevo."));
    if (const int pending = queuePendingCount(); pending > 0) {
        const bool one = pending == 1;
        const QString after = m_model.settings().resumeQueueAtStart()
                                  ? (one ? QStringLiteral("se pausará y seguirá cuando vuelvas a abrir Torvel "
                                                          "Downloader.")
                                         : QStringLiteral("se pausarán y seguirán cuando vuelvas a abrir Torvel "
                                                          "Downloader."))
                                  : (one ? QStringLiteral("se pausará hasta que la reanudes.")
                                         : QStringLiteral("se pausarán hasta que las reanudes."));
        parts.append(QStringLiteral("Hay %1 en la cola. Si sales, %2")
                         .arg(countedText(pending, QStringLiteral("descarga"), QStringLiteral("descargas")), after));
    }
    if (m_model.isUpdatingTools())
        parts.append(QStringLiteral("Hay una operación de herramientas en curso. Si sales, se cancelará."));
    return parts.join(QLatin1Char(' '));
}

void MainWindow::askBeforeQuitting(bool offerBackground) {
    if (m_quitQuestion) {
        bringWindowForward(m_quitQuestion);
        return;
    }
    auto *question = new QMessageBox(this);
    question->setObjectName(offerBackground ? QStringLiteral("backgroundQuestion")
                                            : QStringLiteral("quitWhileDownloadingQuestion"));
    question->setAttribute(Qt::WA_DeleteOnClose);
    question->setIcon(offerBackground ? QMessageBox::Question : QMessageBox::Warning);
    const QString title = offerBackground ? QStringLiteral("¿Seguir descargando en segundo plano?")
                                          : QStringLiteral("¿Salir de Torvel Downloader?");
    question->setWindowTitle(title);
    question->setText(title);
    question->setInformativeText(quitExplanation(offerBackground));
    QPushButton *keep = nullptr;
    if (offerBackground) {
        QPushButton *background =
            question->addButton(QStringLiteral("Seguir en segundo plano"), QMessageBox::AcceptRole);
        background->setObjectName(QStringLiteral("backgroundButton"));
        connect(background, &QPushButton::clicked, this, &MainWindow::goToBackground);
        question->setDefaultButton(background);
        keep = question->addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole);
    } else {
        keep =
            question->addButton(queueWorkGoesOn() ? QStringLiteral("Seguir descargando") : QStringLiteral("Continuar"),
                                QMessageBox::RejectRole);
        question->setDefaultButton(keep);
    }
    keep->setObjectName(QStringLiteral("keepDownloadingButton"));
    QPushButton *quit = question->addButton(QStringLiteral("Salir"), QMessageBox::DestructiveRole);
    quit->setObjectName(QStringLiteral("quitButton"));
    question->setEscapeButton(keep);
    connect(quit, &QPushButton::clicked, this, &MainWindow::quitAfterCancelling);
    // Answered, it is gone, even before its deletion: the next closing asks again.
    connect(question, &QDialog::finished, this, [this, question] {
        if (m_quitQuestion == question)
            m_quitQuestion = nullptr;
    });
    // Kept open while it quit for an update, whichever way the question went without "Salir"
    // (a button, Escape, or the window manager closing it): the update is called off. Queued, so
    // that "Salir" has been handled first.
    connect(
        question, &QDialog::finished, this,
        [this] {
            if (!m_quitting)
                m_model.abandonApplicationRestart();
        },
        Qt::QueuedConnection);
    // Wide enough for the title bar to show the title whole beside the window manager's buttons
    // (after the texts: setting them rebuilds the box's layout).
    if (auto *grid = qobject_cast<QGridLayout *>(question->layout())) {
        QFont titleFont = question->font();
        titleFont.setBold(true);
        const int width = QFontMetrics(titleFont).horizontalAdvance(title) + titleBarAllowance;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    m_quitQuestion = question;
    // Window-modal and asynchronous: the work and incoming links go on while it is shown.
    question->open();
}

void MainWindow::rejectQuestionWhenIdle() {
    // Work that ends by itself while the closing question is shown leaves nothing to ask.
    if (m_quitQuestion && !isBusy() && !queueWorkGoesOn())
        m_quitQuestion->reject();
}

void MainWindow::quitAfterCancelling() {
    if (m_quitting)
        return;
    m_quitting = true;
    // A tool operation ends only after its processes and work folders are gone. The queue's
    // running items — the download on screen among them — stop paused, their partial data kept, to go on at the next
    // start.
    QueueRunner &runner = m_model.queue().runner();
    const auto quitWhenStopped = [this, &runner] {
        if (!isBusy() && runner.runningCount() == 0)
            finishQuitting();
    };
    m_quitWhenStopped = connect(&m_model, &AppModel::phaseChanged, this, quitWhenStopped);
    m_quitWhenToolsStopped = connect(&m_model, &AppModel::isUpdatingToolsChanged, this, quitWhenStopped);
    m_quitWhenQueueStopped = connect(&runner, &QueueRunner::itemFinished, this, quitWhenStopped);
    m_quitDeadline->start();
    m_model.cancelToolOperation();
    m_model.queue().quit();
    quitWhenStopped();
}

void MainWindow::finishQuitting() {
    disconnect(m_quitWhenStopped);
    disconnect(m_quitWhenToolsStopped);
    disconnect(m_quitWhenQueueStopped);
    m_quitDeadline->stop();
    // Reached through the deadline, the work still runs: a program that ignores the request is
    // not waited for any longer.
    m_closeDespiteWork = true;
    // After the model has finished publishing the change that got us here.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::createQueueParts() {
    m_historyAction = new QAction(QStringLiteral("Historial"), this);
    m_historyAction->setObjectName(QStringLiteral("historyAction"));
    m_historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(m_historyAction, &QAction::triggered, this, &MainWindow::showHistory);
    // Beside "Cola", the other view of the queue.
    if (auto *download = menuBar()->findChild<QMenu *>(QStringLiteral("downloadMenu")))
        download->addAction(m_historyAction);

    m_tray = new BackgroundTray(m_model.queue(), this);
    connect(m_tray, &BackgroundTray::showRequested, this, &MainWindow::showFromBackground);
    connect(m_tray, &BackgroundTray::quitRequested, this, &MainWindow::requestQuit);
    connect(&m_model.queue().runner(), &QueueRunner::itemFinished, this, &MainWindow::rejectQuestionWhenIdle);
    // A link from outside shows the window, even one that is refused.
    connect(&IncomingLinks::instance(), &IncomingLinks::urlReceived, this, [this] {
        if (m_inBackground)
            showFromBackground();
    });
}

void MainWindow::showHistory() {
    if (!m_historyView) {
        m_historyView = new HistoryView(m_model, this);
        closeOnEscape(m_historyView);
    }
    showSecondaryWindow(m_historyView);
}

void MainWindow::showFromBackground() {
    bringWindowForward(this);
}

void MainWindow::goToBackground() {
    if (m_inBackground)
        return;
    m_inBackground = true;
    closeSecondaryWindows();
    // The application goes on without a window until it is quit.
    m_quitOnLastWindowClosed = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    hide();
    m_tray->setActive(true);
    Q_EMIT backgroundChanged(true);
}

void MainWindow::leaveBackground() {
    if (!m_inBackground)
        return;
    m_inBackground = false;
    QGuiApplication::setQuitOnLastWindowClosed(m_quitOnLastWindowClosed);
    m_tray->setActive(false);
    Q_EMIT backgroundChanged(false);
}

void MainWindow::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    leaveBackground();
}

void MainWindow::closeSecondaryWindows() {
    for (QWidget *window : {static_cast<QWidget *>(m_optionsWindow), static_cast<QWidget *>(m_aboutWindow),
                            static_cast<QWidget *>(m_historyView)}) {
        if (window)
            window->close();
    }
}
