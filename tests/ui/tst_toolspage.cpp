#include "common/blockingwait.h"
#include "model/appmodel.h"
#include "platform/manualinstall.h"
#include "platform/toolassets.h"
#include "process/processtree.h"
#include "screenshot.h"
#include "testsupport.h"
#include "toolfixtures.h"
#include "tools/toolupdateservice.h"
#include "ui/components/labeledicon.h"
#include "ui/components/toolstatuspill.h"
#include "ui/main/mainwindow.h"
#include "ui/options/optionswindow.h"
#include "ui/options/toolactiondialog.h"
#include "ui/options/toolspage.h"
#include "ui/options/updateactivitypanel.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace Qt::StringLiterals;
using Response = ScriptedHttpServer::Response;
using Action = AppModel::PendingToolAction;
// Prepares the machine for one row of a table.
using Setup = std::function<void()>;

namespace {

const QByteArray tier3 = R"({"tier":3,"findings":[]})";

// Visible buttons of a widget, left to right and top to bottom.
QStringList visibleButtons(QWidget *parent) {
    QList<QAbstractButton *> buttons;
    for (QAbstractButton *button : parent->findChildren<QAbstractButton *>())
        if (button->isVisibleTo(parent) && !button->text().isEmpty())
            buttons.append(button);
    std::sort(buttons.begin(), buttons.end(), [parent](QAbstractButton *a, QAbstractButton *b) {
        const QPoint pa = a->mapTo(parent, QPoint()), pb = b->mapTo(parent, QPoint());
        return std::pair(pa.y(), pa.x()) < std::pair(pb.y(), pb.x());
    });
    QStringList texts;
    for (QAbstractButton *button : buttons)
        texts.append(button->text());
    return texts;
}

} // namespace

// The Herramientas tab, the pills and the model's tool operations behind them.
class TestToolsPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ToolMachine> m_machine;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<OptionsWindow> m_window;
    QDateTime m_now = QDateTime(QDate(2025, 10, 1), QTime(12, 0), Qt::UTC);

    void makeModel() {
        m_model = m_machine->makeModel([this] { return m_now; });
    }
    // A new machine prepared by setup, and the window opened over it.
    void openOnFreshMachine(const Setup &setup) {
        m_window.reset();
        m_model.reset();
        m_machine = std::make_unique<ToolMachine>();
        setup();
        open();
    }
    void open() {
        if (!m_model)
            makeModel();
        m_model->setSelectedOptionsTab(AppModel::OptionsTab::tools);
        m_window = std::make_unique<OptionsWindow>(*m_model);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    template <typename T = QWidget> T *find(const QString &name, QWidget *within = nullptr) const {
        T *widget = (within ? within : m_window.get())->findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    bool shown(const QString &name, QWidget *within = nullptr) const {
        return find(name, within)->isVisibleTo(m_window.get());
    }
    void screenshot(const QString &name) {
        QApplication::processEvents();
        QVERIFY(TestSupport::saveScreenshot(find(u"toolsPageContent"_s), name));
    }

    // Every published value of the tool side, to show that something changed nothing.
    QStringList snapshot() const {
        const AppModel &m = *m_model;
        return {m.updateStage(),
                m.updateLog(),
                m.updateMessage(),
                QString::number(m.isUpdatingTools()),
                QString::number(int(m.updateOutcome())),
                m.updateStartedAt() ? m.updateStartedAt()->toString(Qt::ISODateWithMs) : QString(),
                m.updateProcessID() ? QString::number(*m.updateProcessID()) : QString(),
                m.updateNotice()};
    }

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() { m_machine = std::make_unique<ToolMachine>(); }
    void cleanup() {
        if (m_model && m_model->isUpdatingTools())
            m_model->cancelToolOperation();
        if (m_model)
            QTRY_VERIFY(!m_model->isUpdatingTools());
        m_window.reset();
        m_model.reset();
        QVERIFY(TestSupport::waitUntilChildless());
    }

    // The yt-dlp row in each state, each from a fresh machine: its state, its buttons, and the
    // path and Homebrew notes it shows.
    void rowsPerState() {
        const auto check = [this](const char *state, const QStringList &buttons, const QString &shot,
                                  const Setup &setup) {
            openOnFreshMachine(setup);
            QWidget *row = find(u"ytDLPRow"_s);
            QCOMPARE(find<QLabel>(u"stateText"_s, row)->text(), QString::fromUtf8(state));
            QCOMPARE(visibleButtons(row), buttons);
            // Every label keeps room from its button's outline.
            for (QPushButton *button : row->findChildren<QPushButton *>())
                if (button->isVisibleTo(row) && !button->text().isEmpty())
                    QVERIFY2(button->width() >= button->fontMetrics().horizontalAdvance(button->text()) + 16,
                             qPrintable(button->text()));
            QCOMPARE(shown(u"toolPath"_s, row), m_model->ytDLP().has_value());
            const bool homebrew = m_model->toolUsesHomebrew(ToolKind::ytDLP);
            QCOMPARE(shown(u"homebrewTierWarning"_s), homebrew);
            if (homebrew)
                QCOMPARE(visibleButtons(find(u"homebrewTierWarning"_s)), QStringList{u"Migrar yt-dlp"_s});
            QCOMPARE(find<QLabel>(u"keepHomebrewCaption"_s, row)->isVisibleTo(row),
                     m_model->homebrewDependentSummary(ToolKind::ytDLP).has_value());
            if (!shot.isEmpty())
                screenshot(shot);
        };
        const QString select = u"Seleccionar…"_s, prebuilt = u"Usar versión precompilada…"_s;
        check("Actualizado", {select}, u"tools-current"_s, [this] { m_machine->standaloneYTDLP("2025.10.22"); });
        check("Actualización disponible", {u"Actualizar…"_s, select}, u"tools-update-available"_s,
              [this] { m_machine->standaloneYTDLP("2025.01.01"); });
        check("No instalado", {u"Instalar…"_s, select}, u"tools-missing"_s, [] {});
        check("Actualizado", {prebuilt, u"Desinstalar Homebrew…"_s, select}, u"tools-homebrew-warning"_s,
              [this] { m_machine->homebrewYTDLP(tier3); });
        // Homebrew's copy needed by others.
        check("Actualizado", {prebuilt, select}, {}, [this] { m_machine->homebrewYTDLP(tier3, "scrcpy\nmpv\n"); });
        // Debian's own yt-dlp, chosen by path: a distribution's copy is never removed here.
        check("Actualización disponible", {u"Actualizar…"_s, prebuilt, select}, u"tools-system-package"_s,
              [this] { m_machine->settings.setYtDLPPath(u"/usr/bin/yt-dlp"_s); });
    }

    // A running update: the page disables what would start another, follows the log and the
    // silence, survives being closed, and "Cancelar" stops the whole process tree.
    void runningOperationFollowsAndCancels() {
        m_machine->standaloneYTDLP("2025.01.01");
        m_machine->write(u"update-script"_s, R"(echo '==> Descargando'
seq -f 'Descargando parte %g' 0 39
sleep 30 & echo $! > "$dir/child"
wait)");
        open();
        QSignalSpy refreshes(m_model.get(), &AppModel::toolsChanged);
        m_model->updateTools(std::nullopt);
        QTRY_VERIFY(m_model->updateProcessID() && QFile::exists(m_machine->path(u"child"_s)));
        QTRY_VERIFY(m_model->updateLog().endsWith(u"Descargando parte 39"_s));
        QCOMPARE(find<QLabel>(u"activityTitle"_s)->text(), u"Descargando"_s);
        for (const QString &name :
             {u"updateButton"_s, u"selectButton"_s, u"checkUpdatesButton"_s, u"statusUpdateButton"_s})
            QVERIFY2(!find(name)->isEnabled(), qPrintable(name));
        QVERIFY(find(u"redetectButton"_s)->isEnabled());
        QVERIFY(shown(u"cancelOperationButton"_s) && shown(u"activitySpinner"_s) && !shown(u"activityOutcomeIcon"_s));
        const qint32 updater = *m_model->updateProcessID();
        QCOMPARE(find<LabeledIcon>(u"processLabel"_s)->text(),
                 u"Proceso activo (PID %1). La etapa y el tiempo sin nueva salida se muestran arriba."_s.arg(updater));
        // The log shows everything and stays scrolled to its end as lines arrive.
        auto *log = find<QPlainTextEdit>(u"updateLogView"_s);
        QVERIFY(log->verticalScrollBar()->maximum() > 0);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(log->toPlainText(), m_model->updateLog());
            QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
            m_model->appendUpdateLog(u"otra línea %1"_s.arg(i));
        }
        screenshot(u"tools-running"_s);

        // The silence line on the injected clock: warning colour from 60 s.
        auto *panel = find<UpdateActivityPanel>(u"updateActivityPanel"_s);
        auto *silence = find<QLabel>(u"silenceLabel"_s);
        const QDateTime last = *m_model->updateLastActivityAt();
        const auto warnsAfter = [&](int seconds) {
            m_now = last.addSecs(seconds);
            panel->refreshTimes();
            return silence->palette().color(QPalette::WindowText) == TorvelTheme::warning();
        };
        QVERIFY(!warnsAfter(9));
        QCOMPARE(silence->text(), u"Actividad reciente"_s);
        QVERIFY(warnsAfter(60) && warnsAfter(75));
        QCOMPARE(silence->text(), u"Sin salida: 1:15"_s);
        QCOMPARE(find<QLabel>(u"elapsedLabel"_s)->text(), u"1:15"_s);
        // Minutes go on past the hour; a clock that went back shows no time.
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(3725)), u"62:05"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(-5)), u"0:00"_s);

        // Closed and opened again, the window shows the running operation.
        m_window->close();
        open();
        QVERIFY(shown(u"cancelOperationButton"_s) && shown(u"processLabel"_s));
        QCOMPARE(find<QPlainTextEdit>(u"updateLogView"_s)->toPlainText(), m_model->updateLog());

        const qint64 child = m_machine->read(u"child"_s).trimmed().toLongLong();
        QTest::mouseClick(find<QPushButton>(u"cancelOperationButton"_s), Qt::LeftButton);
        QCOMPARE(m_model->updateStage(), u"Cancelando…"_s);
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::cancelled);
        QCOMPARE(find<QLabel>(u"activityTitle"_s)->text(), u"Operación cancelada"_s);
        const QString message = u"La operación fue cancelada. Las herramientas que ya hubieran terminado de "
                                "instalarse se conservaron."_s;
        QCOMPARE(find<LabeledIcon>(u"updateMessage"_s)->text(), message);
        QCOMPARE(find<LabeledIcon>(u"updateMessage"_s)->iconName(), u"stop.circle.fill"_s);
        QVERIFY(m_model->updateLog().endsWith(u"\nSe solicitó cancelar el proceso.\n"_s + message));
        QVERIFY(find(u"updateButton"_s)->isEnabled());
        QVERIFY(!m_model->isUpdatingTools() && !ProcessTree::isRunning(qint32(updater)));
        QCOMPARE(refreshes.count(), 0);
        QTRY_VERIFY(!ProcessTree::isRunning(qint32(child)));
        screenshot(u"tools-cancelled"_s);
    }

    // A failing update that floods the log: the log is cut, cleaned and ends with the error;
    // Homebrew's step marker and build-from-source warning reach the page; nothing is searched again.
    void failedOperationWithAFlood() {
        m_machine->standaloneYTDLP();
        m_machine->write(u"update-script"_s, R"(seq 1 12000 | sed 's/^/salida /'
printf '\033[1m\033[0m   \n'
echo '==>   Pouring yt-dlp'
printf 'bytes \377\376 inválidos\n'
echo 'Warning: yt-dlp would build from source'
echo 'ERROR: primera línea' >&2
echo 'segunda línea' >&2
exit 1)");
        open();
        QStringList stages;
        connect(m_model.get(), &AppModel::updateStageChanged, this, [&] { stages.append(m_model->updateStage()); });
        QSignalSpy refreshes(m_model.get(), &AppModel::toolsChanged);
        m_model->updateTools(ToolKind::ytDLP);
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::failure);
        auto *message = find<LabeledIcon>(u"updateMessage"_s);
        QCOMPARE(message->text(), u"El comando terminó con el código 1."_s);
        QCOMPARE(message->iconName(), u"xmark.octagon.fill"_s);
        QCOMPARE(find<QLabel>(u"activityTitle"_s)->text(), u"La operación falló"_s);
        QVERIFY(!shown(u"silenceLabel"_s) && !shown(u"processLabel"_s) && shown(u"activityOutcomeIcon"_s));
        QVERIFY(stages.contains(u"Pouring yt-dlp"_s));
        QCOMPARE(find<LabeledIcon>(u"noticeLabel"_s)->text(),
                 u"Homebrew está compilando desde código fuente en este "
                 "equipo. Puede tardar desde varios minutos hasta horas."_s);
        const QString log = m_model->updateLog();
        QVERIFY(log.startsWith(ToolUpdateLog::marker()));
        QVERIFY(log.size() <= ToolUpdateLog::marker().size() + ToolUpdateLog::limit);
        QVERIFY(log.contains(u"\nbytes \uFFFD\uFFFD inválidos\n"_s));
        QVERIFY(!log.contains(QChar(0x1B)));
        // The whole description after "ERROR: ", the end of what the tool printed included.
        QVERIFY(log.contains(u"\nERROR: El comando terminó con el código 1.\nERROR: primera línea\nsegunda línea\n"_s));
        QVERIFY(log.endsWith(u"\nWarning: yt-dlp would build from source"_s));
        QCOMPARE(find<QPlainTextEdit>(u"updateLogView"_s)->toPlainText(), log);
        QCOMPARE(refreshes.count(), 0);
        m_model->copyToolUpdateLog();
        QCOMPARE(m_machine->desktop.clipboard, log);
        QTest::mouseClick(find<QToolButton>(u"copyCommandButton"_s), Qt::LeftButton);
        QCOMPARE(m_machine->desktop.clipboard, ManualInstall::commands(false).value(0));
        screenshot(u"tools-failed"_s);
    }

    // Without a connection: a found yt-dlp is not called up to date, "Comprobar" shows that it
    // ran, and a failed install says in Spanish what went wrong, with curl's line in the log.
    void offlineTab() {
        m_machine->standaloneYTDLP("2025.01.01");
        m_machine->offline = true;
        open();
        QWidget *row = find(u"ytDLPRow"_s);
        QCOMPARE(find<QLabel>(u"stateText"_s, row)->text(), u"Sin comprobar"_s);
        QVERIFY(shown(u"uncheckedReason"_s, row));
        QCOMPARE(find<QLabel>(u"uncheckedReason"_s, row)->text(),
                 u"No se pudo consultar el catálogo de versiones: no se sabe si hay una versión más reciente."_s);
        QCOMPARE(m_model->indicatorState(ToolKind::ytDLP), ToolIndicatorState::unchecked);
        auto *check = find<QPushButton>(u"checkUpdatesButton"_s);
        m_now = m_now.addSecs(75);
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(check->text(), u"Comprobando…"_s);
        QTRY_COMPARE(check->text(), u"Comprobar"_s);
        QCOMPARE(find<QLabel>(u"lastCheckLabel"_s)->text(),
                 u"Última comprobación: %1."_s.arg(m_now.toLocalTime().toString(u"HH:mm:ss"_s)));

        m_model->installTool(ToolKind::ffmpeg);
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::failure);
        QCOMPARE(m_model->updateMessage(),
                 u"No se pudo conectar con 127.0.0.1: no hay conexión a internet o el servidor no responde."_s);
        QVERIFY(m_model->updateLog().contains(u"curl: (7)"_s));
        QStringList commands;
        for (QLabel *command : find(u"manualAlternative"_s)->findChildren<QLabel *>(u"manualCommand"_s))
            commands.append(command->text());
        QCOMPARE(commands, ManualInstall::commands(false));
        if (QFile(u"/etc/debian_version"_s).exists())
            QCOMPARE(commands, QStringList{u"sudo apt install yt-dlp ffmpeg"_s});
        screenshot(u"tools-offline"_s);
    }

    // Each proposal in its dialog, from a fresh machine: its title, buttons and message; the row's
    // button that proposes it ("row/button"; empty: the model does), and Cancelar declines it.
    void confirmationDialogs() {
        const auto row = [this](const char *name, const std::optional<Action> &action, const char *opener,
                                const QString &title, const QStringList &buttons, const QString &message,
                                const Setup &setup) {
            openOnFreshMachine(setup);
            if (!*opener)
                m_model->setPendingToolAction(action);
            else
                QTest::mouseClick(find<QPushButton>(QString::fromLatin1(opener).section(u'/', 1),
                                                    find(QString::fromLatin1(opener).section(u'/', 0, 0))),
                                  Qt::LeftButton);
            QCOMPARE(m_model->pendingToolAction(), action);
            ToolActionDialog *dialog = m_window->actionDialog();
            QTRY_VERIFY(dialog->isVisible());
            QCOMPARE(find<QLabel>(u"toolActionTitle"_s, dialog)->text(), title);
            QCOMPARE(visibleButtons(dialog), buttons);
            QWidget *messageLabel = find(u"toolActionMessage"_s, dialog);
            const QString text = messageLabel->property("text").toString();
            QVERIFY2(text.contains(message), qPrintable(text));
            QVERIFY(messageLabel->height() >= messageLabel->heightForWidth(messageLabel->width())); // nothing cut off
            QVERIFY(TestSupport::saveScreenshot(
                dialog, u"dialog-"_s + QString::fromLatin1(name).replace(u' ', u'-').remove(u',')));
            // Cancelar declines: nothing runs.
            QTest::mouseClick(find<QPushButton>(u"cancelActionButton"_s, dialog), Qt::LeftButton);
            QCOMPARE(m_model->pendingToolAction(), std::nullopt);
            QTRY_VERIFY(!dialog->isVisible());
            QVERIFY(!m_model->isUpdatingTools());
        };
        const Setup none = [] {};
        const Setup outdated = [this] { m_machine->standaloneYTDLP("2025.01.01"); };
        const Setup homebrew = [this] { m_machine->homebrewYTDLP(tier3); };
        const QString cancel = u"Cancelar"_s;
        row("install yt-dlp", Action::install(ToolKind::ytDLP), "ytDLPRow/installButton", u"¿Instalar yt-dlp?"_s,
            {u"Instalar versión oficial"_s, cancel}, u"el ejecutable oficial "_s + ToolAssets::ytDLPAssetName(), none);
        row("install FFmpeg", Action::install(ToolKind::ffmpeg), "ffmpegRow/installButton", u"¿Instalar FFmpeg?"_s,
            {u"Instalar versión precompilada"_s, cancel}, u"para la arquitectura de este equipo."_s, none);
        row("update", Action::update(ToolKind::ytDLP), "ytDLPRow/updateButton", u"¿Actualizar yt-dlp?"_s,
            {u"Actualizar con su administrador"_s, cancel},
            u"Solo se actualizará yt-dlp; la otra herramienta no se incluirá en el mismo comando."_s, outdated);
        row("update with Homebrew warning", Action::update(ToolKind::ytDLP), "", u"¿Actualizar yt-dlp?"_s,
            {u"Usar versión precompilada (recomendado)"_s, u"Actualizar con Homebrew de todos modos"_s, cancel},
            u"comando. Homebrew confirmó que este host es Tier 3."_s, homebrew);
        row("uninstall", Action::uninstallHomebrew(ToolKind::ytDLP), "ytDLPRow/uninstallButton",
            u"¿Desinstalar yt-dlp de Homebrew?"_s, {u"Desinstalar yt-dlp"_s, cancel},
            u"Se ejecutará brew uninstall yt-dlp."_s, homebrew);
        row("roll back", Action::rollBack(ToolKind::ytDLP), "ytDLPRow/rollBackButton",
            u"¿Volver a la versión anterior de yt-dlp?"_s, {u"Volver a la versión anterior"_s, cancel},
            u"Se restaurará yt-dlp 2025.10.22, la copia administrada que reemplazó la última instalación, en lugar "
            "de la versión 2025.11.01."_s,
            [this] { m_machine->managedYTDLP("2025.11.01", "2025.10.22"); });
        row("uninstall needed by others", Action::uninstallHomebrew(ToolKind::ytDLP), "",
            u"¿Desinstalar yt-dlp de Homebrew?"_s, {u"Desinstalar yt-dlp"_s, cancel},
            u"No se debe desinstalar porque Homebrew lo necesita para: scrcpy."_s,
            [this] { m_machine->homebrewYTDLP(tier3, "scrcpy\n"); });
    }

    void mainWindowPillsInstallAndQuitting() {
        m_machine->standaloneYTDLP("2025.01.01");
        open();
        MainWindow window(*m_model, m_machine->desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *toolBar = window.findChild<QToolBar *>(u"mainToolBar"_s);
        auto *ytDLP = window.findChild<ToolStatusPill *>(u"ytDLPPill"_s);
        QCOMPARE(ytDLP->state(), ToolIndicatorState::updateAvailable);
        QCOMPARE(window.findChild<ToolStatusPill *>(u"ffmpegPill"_s)->state(), ToolIndicatorState::missing);
        QVERIFY(TestSupport::saveScreenshot(toolBar, u"pills-update-missing"_s));

        // The orange pill opens Herramientas and proposes the update; the proposal is cleared
        // before the confirmed update starts, and the pill turns green afterwards.
        m_machine->write(u"update-script"_s, "echo 2025.10.22 > \"$dir/version\"");
        QTest::mouseClick(ytDLP, Qt::LeftButton);
        QCOMPARE(window.optionsWindow()->tabs()->currentIndex(), OptionsWindow::tabIndex(AppModel::OptionsTab::tools));
        QCOMPARE(m_model->pendingToolAction(), Action::update(ToolKind::ytDLP));
        QTRY_VERIFY(window.optionsWindow()->actionDialog()->isVisible());
        std::optional<std::optional<Action>> pendingAtStart;
        connect(m_model.get(), &AppModel::isUpdatingToolsChanged, this, [&] {
            if (!pendingAtStart)
                pendingAtStart = m_model->pendingToolAction();
        });
        window.optionsWindow()->actionDialog()->findChild<QPushButton *>(u"confirmActionButton"_s)->click();
        QVERIFY(pendingAtStart.has_value() && !pendingAtStart->has_value());
        QTRY_COMPARE(ytDLP->state(), ToolIndicatorState::current);
        QVERIFY(TestSupport::saveScreenshot(toolBar, u"pills-current-missing"_s));

        // Closing during an operation asks; quitting cancels it and leaves nothing running.
        m_machine->write(u"update-script"_s, R"(sleep 30 & wait)");
        m_machine->write(u"version"_s, "2025.01.01");
        BlockingWait::wait(m_model->refreshDependencies());
        m_model->updateTools(ToolKind::ytDLP);
        QTRY_VERIFY(m_model->updateProcessID());
        QVERIFY(!window.close());
        QTRY_VERIFY(window.quitQuestion() && window.quitQuestion()->isVisible());
        QCOMPARE(window.quitQuestion()->informativeText(),
                 u"Hay una operación de herramientas en curso. Si sales, se cancelará."_s);
        window.quitQuestion()->findChild<QPushButton *>(u"quitButton"_s)->click();
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::cancelled);
        QTRY_COMPARE(TestSupport::runningChildren(), QList<qint32>());
    }

    void installFromMissingToCurrent() {
        makeModel();
        QCOMPARE(m_model->indicatorState(ToolKind::ytDLP), ToolIndicatorState::missing);
        m_model->showToolManager(ToolKind::ytDLP, true);
        QCOMPARE(m_model->selectedOptionsTab(), AppModel::OptionsTab::tools);
        QCOMPARE(m_model->pendingToolAction(), Action::install(ToolKind::ytDLP));

        QList<ToolIndicatorState> pill{m_model->indicatorState(ToolKind::ytDLP)};
        const auto follow = [&] {
            if (pill.last() != m_model->indicatorState(ToolKind::ytDLP))
                pill.append(m_model->indicatorState(ToolKind::ytDLP));
        };
        connect(m_model.get(), &AppModel::toolsChanged, this, follow);
        connect(m_model.get(), &AppModel::updateStatusesChanged, this, follow);

        QCoro::Task<> install = m_model->installTool(ToolKind::ytDLP);
        QVERIFY(m_model->isUpdatingTools());
        QCOMPARE(m_model->updateStage(), u"Iniciando…"_s);
        QCOMPARE(m_model->updateLog(), u"Iniciando instalación administrada de yt-dlp."_s);
        QCOMPARE(m_model->updateStartedAt(), m_now);

        // A second operation while one runs changes nothing at all.
        const QStringList before = snapshot();
        QSignalSpy stage(m_model.get(), &AppModel::updateStageChanged);
        QSignalSpy log(m_model.get(), &AppModel::updateLogChanged);
        QSignalSpy updating(m_model.get(), &AppModel::isUpdatingToolsChanged);
        m_model->updateTools(std::nullopt);
        m_model->installTool(ToolKind::ffmpeg);
        m_model->checkForUpdates();
        QCOMPARE(snapshot(), before);
        QCOMPARE(stage.count() + log.count() + updating.count(), 0);

        m_now = m_now.addSecs(30);
        BlockingWait::wait(std::move(install));
        QCOMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::success);
        QCOMPARE(m_model->updateStage(), u"Operación completada"_s);
        const QString message = u"Se instaló yt-dlp 2025.10.22 con el ejecutable oficial verificado."_s;
        QCOMPARE(m_model->updateMessage(), message);
        QCOMPARE(m_model->updateFinishedAt(), m_now);
        QCOMPARE(m_model->updateProcessID(), std::nullopt);
        // The service's log, its stages marked, then the outcome.
        const QStringList lines = m_model->updateLog().split(u'\n');
        QVERIFY(lines.contains(u"▶ Verificando la descarga…"_s));
        QCOMPARE(lines.last(), message);
        QCOMPARE(m_machine->settings.ytDLPPath(), m_machine->path(u"tools/yt-dlp"_s));
        // Found, then found up to date once the version check has answered.
        QCOMPARE(pill, (QList<ToolIndicatorState>{ToolIndicatorState::missing, ToolIndicatorState::unchecked,
                                                  ToolIndicatorState::current}));
        m_model->showToolManager(ToolKind::ytDLP, true);
        QCOMPARE(m_model->pendingToolAction(), std::nullopt);
    }

    // The row offers the copy the last install replaced; going back is an operation like any other.
    void rollBackFromTheToolRow() {
        m_machine->managedYTDLP("2025.11.01", "2025.10.22");
        open();
        auto *rollBack = find<QPushButton>(u"rollBackButton"_s, find(u"ytDLPRow"_s));
        QCOMPARE(rollBack->text(), u"Volver a la versión anterior (2025.10.22)"_s);
        QVERIFY(!shown(u"rollBackButton"_s, find(u"ffmpegRow"_s)));
        screenshot(u"tools-roll-back"_s);
        rollBack->click();
        QTRY_VERIFY(m_window->actionDialog()->isVisible());
        find<QPushButton>(u"confirmActionButton"_s, m_window->actionDialog())->click();
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::success);
        QCOMPARE(
            m_model->updateLog().split(u'\n'),
            (QStringList{u"Iniciando la vuelta a la versión anterior de yt-dlp."_s,
                         u"▶ Comprobando la versión anterior de yt-dlp…"_s,
                         u"Versión anterior verificada: yt-dlp 2025.10.22."_s, u"▶ Restaurando yt-dlp 2025.10.22…"_s,
                         u"Se restauró la versión anterior de yt-dlp, 2025.10.22."_s}));
        QCOMPARE(m_model->ytDLP()->version, u"2025.10.22"_s);
        QVERIFY(!shown(u"rollBackButton"_s, find(u"ytDLPRow"_s)));
    }

    void aRefusedInstallChangesNothing() {
        const QString asset = ToolAssets::ytDLPAssetName();
        m_machine->server.route(u"/yt-dlp/yt-dlp/releases/latest/download/SHA2-256SUMS"_s,
                                ScriptedHttpServer::Response::ok(QByteArray(64, '0') + "  " + asset.toUtf8() + "\n"));
        makeModel();
        BlockingWait::wait(m_model->installTool(ToolKind::ytDLP));
        QCOMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::failure);
        QCOMPARE(m_model->updateMessage(), u"La firma de la lista de sumas de yt-dlp no es válida."_s);
        QCOMPARE(m_machine->settings.ytDLPPath(), QString());
        QCOMPARE(m_model->indicatorState(ToolKind::ytDLP), ToolIndicatorState::missing);
    }

    void quittingMidInstallLeavesNothingBehind() {
        // The download crawls, so the install is still running when the model goes away.
        Response slow = Response::ok(QByteArray(200'000, '#'));
        slow.bytesPerTick = 1'000;
        m_machine->server.route(u"/yt-dlp/yt-dlp/releases/latest/download/"_s + ToolAssets::ytDLPAssetName(), slow);
        makeModel();
        m_model->installTool(ToolKind::ytDLP);
        // Quit once the partial download exists: its removal shows the operation has unwound.
        QTRY_VERIFY(m_model->updateProcessID() &&
                    !QDir(m_machine->path(u"tools"_s)).entryList({u"yt-dlp.download-*"_s}, QDir::Files).isEmpty());
        m_model.reset();
        QTRY_COMPARE(TestSupport::runningChildren(), QList<qint32>());
        QTRY_COMPARE(
            QDir(m_machine->path(u"tools"_s)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{u"deno"_s});
    }

    void homebrewRemovalProposesTheManagedCopy() {
        m_machine->homebrewYTDLP(tier3);
        makeModel();
        QVERIFY(m_model->toolUsesHomebrew(ToolKind::ytDLP));

        // The path setting is empty by the time the tools are searched again.
        QStringList pathWhenSearching;
        connect(m_model.get(), &AppModel::toolsChanged, this, [&] {
            if (m_model->isCheckingTools())
                pathWhenSearching.append(m_machine->settings.ytDLPPath());
        });
        BlockingWait::wait(m_model->uninstallHomebrew(ToolKind::ytDLP));
        QCOMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::success);
        QCOMPARE(m_model->updateMessage(),
                 u"Se desinstaló la copia Homebrew de yt-dlp. Las dependencias se conservaron."_s);
        QCOMPARE(pathWhenSearching, QStringList{QString()});
        QCOMPARE(m_model->ytDLP(), std::nullopt);
        QCOMPARE(m_model->pendingToolAction(), Action::install(ToolKind::ytDLP));
        QCOMPARE(m_model->homebrewSupportInfo(), std::nullopt);
        QVERIFY(m_machine->read(u"brew-calls"_s).contains("uninstall yt-dlp\n"));

        // Not a Homebrew copy any more: nothing to remove, nothing changes.
        const QStringList before = snapshot();
        BlockingWait::wait(m_model->uninstallHomebrew(ToolKind::ytDLP));
        QCOMPARE(snapshot(), before);
    }

    void homebrewWarningsFollowTheDiagnosis() {
        // Homebrew's diagnosis and dependents, the tier named in the warning (empty: no warning)
        // and the dependents' summary.
        for (const auto &[diagnosis, dependents, tier, summary] :
             std::initializer_list<std::tuple<QByteArray, QByteArray, QString, QString>>{
                 {R"({"tier":2,"findings":[]})", {}, {}, {}},
                 {tier3, "scrcpy\nmpv\n", u"Tier 3"_s, u"scrcpy, mpv"_s},
                 {R"({"tier":"unsupported","findings":[]})", {}, u"no compatible"_s, {}},
                 {R"({"tier":"x","findings":[]})", {}, {}, {}},                     // an unknown tier
                 {R"({"tier":3,"findings":[{"text":7,"tier":3}]})", {}, {}, {}}}) { // findings of other types
            m_model.reset();
            m_machine = std::make_unique<ToolMachine>();
            m_machine->homebrewYTDLP(diagnosis, dependents);
            makeModel();
            QCOMPARE(m_model->homebrewSupportWarning().value_or(QString()),
                     tier.isEmpty()
                         ? QString()
                         : u"Homebrew clasificó este equipo como "_s + tier +
                               u". Los paquetes pueden compilarse desde código fuente y tardar horas. "
                               "Recomendamos migrar a las versiones precompiladas administradas por Torvel."_s);
            QCOMPARE(m_model->homebrewWarning(ToolKind::ytDLP).has_value(), !tier.isEmpty());
            QVERIFY(!m_model->homebrewWarning(ToolKind::ffmpeg));
            QCOMPARE(m_model->homebrewDependentSummary(ToolKind::ytDLP).value_or(QString()), summary);
        }
    }
};

QTEST_MAIN(TestToolsPage)
#include "tst_toolspage.moc"
