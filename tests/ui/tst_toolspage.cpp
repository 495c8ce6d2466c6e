#include "common/blockingwait.h"
#include "model/appmodel.h"
#include "platform/toolassets.h"
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
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace Qt::StringLiterals;
using Response = ScriptedHttpServer::Response;
using Action = AppModel::PendingToolAction;
// Prepares the machine for one row of a table.
using Setup = std::function<void()>;
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(std::optional<Action>)

namespace {

const QByteArray tier3 = R"({"tier":3,"findings":[]})";

QString screenshotPath(const QString &name) {
    const qreal ratio = qApp->devicePixelRatio();
    const QString suffix = ratio > 1 ? u"@%1x"_s.arg(ratio) : QString();
    return TestSupport::artefactFolder(u"ui"_s) + u"/"_s + name + suffix + u".png"_s;
}

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

class TestToolsPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ToolMachine> m_machine;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<OptionsWindow> m_window;
    QDateTime m_now = QDateTime(QDate(2025, 10, 1), QTime(12, 0), Qt::UTC);

    void open() {
        m_model = m_machine->makeModel([this] { return m_now; });
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
        QVERIFY(find(u"toolsPageContent"_s)->grab().save(screenshotPath(name)));
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
    }

    void rowsPerState_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("screenshot");
        QTest::newRow("current") << Setup([this] { m_machine->standaloneYTDLP("2025.10.22"); }) << u"Actualizado"_s
                                 << QStringList{u"Seleccionar…"_s} << u"tools-current"_s;
        QTest::newRow("update available")
            << Setup([this] { m_machine->standaloneYTDLP("2025.01.01"); }) << u"Actualización disponible"_s
            << QStringList{u"Actualizar…"_s, u"Seleccionar…"_s} << u"tools-update-available"_s;
        QTest::newRow("missing") << Setup([] {}) << u"No instalado"_s << QStringList{u"Instalar…"_s, u"Seleccionar…"_s}
                                 << u"tools-missing"_s;
        QTest::newRow("homebrew, high risk")
            << Setup([this] { m_machine->homebrewYTDLP(tier3); }) << u"Actualizado"_s
            << QStringList{u"Usar versión precompilada…"_s, u"Desinstalar Homebrew…"_s, u"Seleccionar…"_s}
            << u"tools-homebrew-warning"_s;
        QTest::newRow("homebrew needed by others")
            << Setup([this] { m_machine->homebrewYTDLP(tier3, "scrcpy\nmpv\n"); }) << u"Actualizado"_s
            << QStringList{u"Usar versión precompilada…"_s, u"Seleccionar…"_s} << QString();
        // Debian's own yt-dlp, chosen by path: a distribution's copy is never removed here.
        QTest::newRow("system package") << Setup([this] { m_machine->settings.setYtDLPPath(u"/usr/bin/yt-dlp"_s); })
                                        << u"Actualización disponible"_s
                                        << QStringList{u"Actualizar…"_s, u"Usar versión precompilada…"_s,
                                                       u"Seleccionar…"_s}
                                        << u"tools-system-package"_s;
    }
    void rowsPerState() {
        QFETCH(Setup, setup);
        QFETCH(QString, state);
        QFETCH(QStringList, buttons);
        QFETCH(QString, screenshot);
        setup();
        open();
        QWidget *row = find(u"ytDLPRow"_s);
        QCOMPARE(find<QLabel>(u"stateText"_s, row)->text(), state);
        QCOMPARE(visibleButtons(row), buttons);
        QCOMPARE(shown(u"toolPath"_s, row), m_model->ytDLP().has_value());
        const bool homebrew = m_model->toolUsesHomebrew(ToolKind::ytDLP);
        QCOMPARE(shown(u"homebrewTierWarning"_s), homebrew);
        if (homebrew)
            QCOMPARE(visibleButtons(find(u"homebrewTierWarning"_s)), QStringList{u"Migrar yt-dlp"_s});
        QCOMPARE(find<QLabel>(u"keepHomebrewCaption"_s, row)->isVisibleTo(row),
                 m_model->homebrewDependentSummary(ToolKind::ytDLP).has_value());
        if (!screenshot.isEmpty())
            this->screenshot(screenshot);
    }

    void runningOperationDisablesAndFollows() {
        m_machine->standaloneYTDLP("2025.01.01");
        m_machine->write(u"update-script"_s, "seq -f 'Descargando parte %g' 0 39; sleep 30 & wait");
        open();
        m_model->updateTools(ToolKind::ytDLP);
        QTRY_VERIFY(m_model->updateProcessID());
        QTRY_VERIFY(m_model->updateLog().endsWith(u"Descargando parte 39"_s));
        const QStringList actions{u"updateButton"_s, u"selectButton"_s, u"checkUpdatesButton"_s,
                                  u"statusUpdateButton"_s};
        for (const QString &name : actions)
            QVERIFY2(!find(name)->isEnabled(), qPrintable(name));
        QVERIFY(find(u"redetectButton"_s)->isEnabled());
        QVERIFY(shown(u"cancelOperationButton"_s) && shown(u"activitySpinner"_s) && !shown(u"activityOutcomeIcon"_s));
        QCOMPARE(find<LabeledIcon>(u"processLabel"_s)->text(),
                 u"Proceso activo (PID %1). La etapa y el tiempo sin nueva salida se muestran arriba."_s.arg(
                     *m_model->updateProcessID()));
        auto *log = find<QPlainTextEdit>(u"updateLogView"_s);
        QCOMPARE(log->toPlainText(), m_model->updateLog());
        QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
        QVERIFY(log->verticalScrollBar()->maximum() > 0);
        // Each new line scrolls the log to its end.
        for (int i = 0; i < 3; ++i) {
            m_model->appendUpdateLog(u"otra línea %1"_s.arg(i));
            QCOMPARE(log->toPlainText(), m_model->updateLog());
            QCOMPARE(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
        }
        screenshot(u"tools-running"_s);

        // The silence line on the injected clock.
        auto *panel = find<UpdateActivityPanel>(u"updateActivityPanel"_s);
        auto *silence = find<QLabel>(u"silenceLabel"_s);
        const QDateTime last = *m_model->updateLastActivityAt();
        m_now = last.addSecs(9);
        panel->refreshTimes();
        QCOMPARE(silence->text(), u"Actividad reciente"_s);
        m_now = last.addSecs(60);
        panel->refreshTimes();
        QCOMPARE(silence->palette().color(QPalette::WindowText), TorvelTheme::warning());
        m_now = last.addSecs(75);
        panel->refreshTimes();
        QCOMPARE(silence->text(), u"Sin salida: 1:15"_s);
        QCOMPARE(silence->palette().color(QPalette::WindowText), TorvelTheme::warning());
        QCOMPARE(find<QLabel>(u"elapsedLabel"_s)->text(),
                 UpdateActivityPanel::elapsedText(*m_model->updateStartedAt(), m_now));

        // Closed and opened again, the window shows the running operation.
        m_window->close();
        m_window = std::make_unique<OptionsWindow>(*m_model);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(shown(u"cancelOperationButton"_s) && shown(u"processLabel"_s));
        QCOMPARE(find<QPlainTextEdit>(u"updateLogView"_s)->toPlainText(), m_model->updateLog());

        QTest::mouseClick(find<QPushButton>(u"cancelOperationButton"_s), Qt::LeftButton);
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::cancelled);
        QVERIFY(find(u"updateButton"_s)->isEnabled());
        QCOMPARE(find<LabeledIcon>(u"updateMessage"_s)->iconName(), u"stop.circle.fill"_s);
        screenshot(u"tools-cancelled"_s);
    }

    void failedOperation() {
        m_machine->standaloneYTDLP("2025.01.01");
        m_machine->write(u"update-script"_s, "echo '==> Pouring yt-dlp'\necho 'no se pudo escribir' >&2\nexit 3");
        open();
        m_model->updateTools(ToolKind::ytDLP);
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::failure);
        auto *message = find<LabeledIcon>(u"updateMessage"_s);
        QCOMPARE(message->text(), u"El comando terminó con el código 3."_s);
        QCOMPARE(message->iconName(), u"xmark.octagon.fill"_s);
        QCOMPARE(find<QLabel>(u"activityTitle"_s)->text(), u"La operación falló"_s);
        QVERIFY(!shown(u"silenceLabel"_s) && !shown(u"processLabel"_s) && shown(u"activityOutcomeIcon"_s));
        screenshot(u"tools-failed"_s);
    }

    void confirmationDialogs_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<std::optional<Action>>("action");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const Setup &setup, Action action, const QString &title,
                            const QStringList &buttons, const QString &message) {
            QTest::newRow(name) << setup << std::optional(action) << title << buttons << message;
        };
        const Setup none = [] {};
        const Setup outdated = [this] { m_machine->standaloneYTDLP("2025.01.01"); };
        const Setup homebrew = [this] { m_machine->homebrewYTDLP(tier3); };
        const QString cancel = u"Cancelar"_s;
        row("install yt-dlp", none, Action::install(ToolKind::ytDLP), u"¿Instalar yt-dlp?"_s,
            {u"Instalar versión oficial"_s, cancel}, u"el ejecutable oficial "_s + ToolAssets::ytDLPAssetName());
        row("install FFmpeg", none, Action::install(ToolKind::ffmpeg), u"¿Instalar FFmpeg?"_s,
            {u"Instalar versión precompilada"_s, cancel}, u"para la arquitectura de este equipo."_s);
        row("update", outdated, Action::update(ToolKind::ytDLP), u"¿Actualizar yt-dlp?"_s,
            {u"Actualizar con su administrador"_s, cancel},
            u"Solo se actualizará yt-dlp; la otra herramienta no se incluirá en el mismo comando."_s);
        row("update with Homebrew warning", homebrew, Action::update(ToolKind::ytDLP), u"¿Actualizar yt-dlp?"_s,
            {u"Usar versión precompilada (recomendado)"_s, u"Actualizar con Homebrew de todos modos"_s, cancel},
            u"comando. Homebrew confirmó que este host es Tier 3."_s);
        row("uninstall", homebrew, Action::uninstallHomebrew(ToolKind::ytDLP), u"¿Desinstalar yt-dlp de Homebrew?"_s,
            {u"Desinstalar yt-dlp"_s, cancel}, u"Se ejecutará brew uninstall yt-dlp."_s);
        row(
            "uninstall needed by others", [this] { m_machine->homebrewYTDLP(tier3, "scrcpy\n"); },
            Action::uninstallHomebrew(ToolKind::ytDLP), u"¿Desinstalar yt-dlp de Homebrew?"_s,
            {u"Desinstalar yt-dlp"_s, cancel}, u"No se debe desinstalar porque Homebrew lo necesita para: scrcpy."_s);
    }
    void confirmationDialogs() {
        QFETCH(Setup, setup);
        QFETCH(std::optional<Action>, action);
        QFETCH(QString, title);
        QFETCH(QStringList, buttons);
        QFETCH(QString, message);
        setup();
        open();
        m_model->setPendingToolAction(action);
        ToolActionDialog *dialog = m_window->actionDialog();
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(find<QLabel>(u"toolActionTitle"_s, dialog)->text(), title);
        QCOMPARE(visibleButtons(dialog), buttons);
        QVERIFY2(ToolActionDialog::message(*m_model, action).contains(message),
                 qPrintable(ToolActionDialog::message(*m_model, action)));
        QVERIFY(dialog->grab().save(screenshotPath(
            u"dialog-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-').remove(u','))));
        // Cancelar declines: nothing runs.
        QTest::mouseClick(find<QPushButton>(u"cancelActionButton"_s, dialog), Qt::LeftButton);
        QCOMPARE(m_model->pendingToolAction(), std::nullopt);
        QTRY_VERIFY(!dialog->isVisible());
        QVERIFY(!m_model->isUpdatingTools());
    }

    void mainWindowPillsInstallAndQuitting() {
        m_machine->standaloneYTDLP("2025.01.01");
        open();
        MainWindow window(*m_model, m_machine->desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *ytDLP = window.findChild<ToolStatusPill *>(u"ytDLPPill"_s);
        auto *ffmpeg = window.findChild<ToolStatusPill *>(u"ffmpegPill"_s);
        QCOMPARE(ytDLP->state(), ToolIndicatorState::updateAvailable);
        QCOMPARE(ffmpeg->state(), ToolIndicatorState::missing);
        QVERIFY(window.findChild<QToolBar *>(u"mainToolBar"_s)->grab().save(screenshotPath(u"pills-update-missing"_s)));

        // The orange pill opens Herramientas and proposes the update; the proposal is cleared
        // before the confirmed update starts, and the pill turns green afterwards.
        m_machine->write(u"update-script"_s, "echo 2025.10.22 > \"$dir/version\"");
        QTest::mouseClick(ytDLP, Qt::LeftButton);
        QCOMPARE(window.optionsWindow()->tabs()->currentIndex(), 1);
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
        QVERIFY(
            window.findChild<QToolBar *>(u"mainToolBar"_s)->grab().save(screenshotPath(u"pills-current-missing"_s)));

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
        QTRY_COMPARE(ToolUpdateService::descendantProcessIDs(qint32(QCoreApplication::applicationPid())),
                     QList<qint32>());
    }

    void copyCommand() {
        open();
        QTest::mouseClick(find<QToolButton>(u"copyCommandButton"_s), Qt::LeftButton);
        QCOMPARE(m_machine->desktop.clipboard, u"brew install yt-dlp ffmpeg"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(125)), u"2:05"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(-5)), u"0:00"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(3725)), u"62:05"_s);
    }
};

QTEST_MAIN(TestToolsPage)
#include "tst_toolspage.moc"
