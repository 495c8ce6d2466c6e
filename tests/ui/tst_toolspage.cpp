#include "common/blockingwait.h"
#include "fakedesktopservices.h"
#include "model/appmodel.h"
#include "platform/toolassets.h"
#include "scriptedhttpserver.h"
#include "testsupport.h"
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

// yt-dlp with a version from a file; "-U" runs update-script.
const char fakeYTDLP[] = R"(dir='%1'
case "$1" in
--version) cat "$dir/version"; exit 0 ;;
-U) . "$dir/update-script"; exit 0 ;;
esac)";
const char fakeBrew[] = R"(dir='%1'
case "$1" in doctor) cat "$dir/doctor"; exit 1 ;; uses) cat "$dir/dependents"; exit 0 ;; esac)";

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
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QSettings> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<FakeDesktopServices> m_desktop;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<OptionsWindow> m_window;
    QDateTime m_now = QDateTime(QDate(2025, 10, 1), QTime(12, 0), Qt::UTC);

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    void write(const QString &name, const QByteArray &contents) { TestSupport::writeFile(path(name), contents); }

    void standaloneYTDLP(const QByteArray &version) {
        write(u"version"_s, version);
        TestSupport::writeScript(path(u"bin/yt-dlp"_s), QString::fromLatin1(fakeYTDLP).arg(m_dir->path()));
    }
    void homebrewYTDLP(const QByteArray &dependents) {
        write(u"version"_s, "2025.10.22");
        write(u"doctor"_s, R"({"tier":3,"findings":[]})");
        write(u"dependents"_s, dependents);
        TestSupport::writeScript(path(u"Cellar/yt-dlp/1/bin/yt-dlp"_s),
                                 QString::fromLatin1(fakeYTDLP).arg(m_dir->path()));
        QFile::link(path(u"Cellar/yt-dlp/1/bin/yt-dlp"_s), path(u"bin/yt-dlp"_s));
        TestSupport::writeScript(path(u"brew"_s), QString::fromLatin1(fakeBrew).arg(m_dir->path()));
    }

    void open() {
        LocatorEnvironment environment = TestSupport::sandboxedTools(m_dir->path());
        environment.homebrewExecutables = {path(u"brew"_s)};
        const QUrl origin = m_server->origin();
        m_model = std::make_unique<AppModel>(*m_settings, *m_desktop, ToolHosts{origin, origin, origin, origin},
                                             DependencyLocator(environment), JobFolders(path(u"jobs"_s)),
                                             AppUpdateService(), [this] { return m_now; });
        QTRY_VERIFY(!m_model->isCheckingTools() && !m_model->isCheckingUpdates() &&
                    !m_model->isCheckingHomebrewSupport());
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
    // An update whose tool prints, then waits until the test removes the hold file.
    QCoro::Task<> startHeldUpdate() {
        standaloneYTDLP("2025.01.01");
        write(u"hold"_s, {});
        write(u"update-script"_s, R"(i=0; while [ $i -lt 40 ]; do echo "Descargando parte $i"; i=$((i+1)); done
while [ -e "$dir/hold" ]; do sleep 0.05; done)");
        open();
        return m_model->updateTools(ToolKind::ytDLP);
    }

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<ScriptedHttpServer>();
        m_store = std::make_unique<QSettings>(path(u"settings.ini"_s), QSettings::IniFormat);
        m_settings = std::make_unique<AppSettings>(m_store.get(), path(u"Descargas"_s), path(u"home"_s));
        m_desktop = std::make_unique<FakeDesktopServices>();
        QDir().mkpath(path(u"bin"_s));
        TestSupport::writeScript(path(u"tools/deno"_s), u"echo 'deno 2.5.0'"_s);
        const QByteArray asset = "#!/bin/sh\necho 2025.10.22\n";
        const QString folder = u"/yt-dlp/yt-dlp/releases/latest/download/"_s;
        m_server->route(folder + ToolAssets::ytDLPAssetName(), Response::ok(asset));
        m_server->route(folder + u"SHA2-256SUMS"_s,
                        Response::ok(QCryptographicHash::hash(asset, QCryptographicHash::Sha256).toHex() + "  " +
                                     ToolAssets::ytDLPAssetName().toUtf8() + "\n"));
        m_server->route(u"/repos/yt-dlp/yt-dlp/releases/latest"_s, Response::ok(R"({"tag_name":"2025.10.22"})"));
        m_server->route(u"/api/formula/yt-dlp.json"_s, Response::ok(R"({"versions":{"stable":"2025.10.22"}})"));
    }
    void cleanup() {
        QFile::remove(path(u"hold"_s));
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
        QTest::newRow("current") << Setup([this] { standaloneYTDLP("2025.10.22"); }) << u"Actualizado"_s
                                 << QStringList{u"Seleccionar…"_s} << u"tools-current"_s;
        QTest::newRow("update available")
            << Setup([this] { standaloneYTDLP("2025.01.01"); }) << u"Actualización disponible"_s
            << QStringList{u"Actualizar…"_s, u"Seleccionar…"_s} << u"tools-update-available"_s;
        QTest::newRow("missing") << Setup([] {}) << u"No instalado"_s << QStringList{u"Instalar…"_s, u"Seleccionar…"_s}
                                 << u"tools-missing"_s;
        QTest::newRow("homebrew, high risk")
            << Setup([this] { homebrewYTDLP({}); }) << u"Actualizado"_s
            << QStringList{u"Usar versión precompilada…"_s, u"Desinstalar Homebrew…"_s, u"Seleccionar…"_s}
            << u"tools-homebrew-warning"_s;
        QTest::newRow("homebrew needed by others")
            << Setup([this] { homebrewYTDLP("scrcpy\nmpv\n"); }) << u"Actualizado"_s
            << QStringList{u"Usar versión precompilada…"_s, u"Seleccionar…"_s} << QString();
        // Debian's own yt-dlp, chosen by path: a distribution's copy is never removed here.
        QTest::newRow("system package") << Setup([this] { m_settings->setYtDLPPath(u"/usr/bin/yt-dlp"_s); })
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
        QCoro::Task<> update = startHeldUpdate();
        QTRY_VERIFY(m_model->updateProcessID());
        QTRY_VERIFY(m_model->updateLog().endsWith(u"Descargando parte 39"_s));
        const QStringList actions{u"updateButton"_s, u"selectButton"_s, u"checkUpdatesButton"_s,
                                  u"statusUpdateButton"_s};
        for (const QString &name : actions)
            QVERIFY2(!find(name)->isEnabled(), qPrintable(name));
        QVERIFY(find(u"redetectButton"_s)->isEnabled());
        QVERIFY(shown(u"cancelOperationButton"_s));
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
        standaloneYTDLP("2025.01.01");
        write(u"update-script"_s, "echo '==> Pouring yt-dlp'\necho 'no se pudo escribir' >&2\nexit 3");
        open();
        m_model->updateTools(ToolKind::ytDLP);
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::failure);
        auto *message = find<LabeledIcon>(u"updateMessage"_s);
        QCOMPARE(message->text(), u"El comando terminó con el código 3."_s);
        QCOMPARE(message->iconName(), u"xmark.octagon.fill"_s);
        QCOMPARE(find<QLabel>(u"activityTitle"_s)->text(), u"La operación falló"_s);
        QVERIFY(!shown(u"silenceLabel"_s) && !shown(u"processLabel"_s));
        screenshot(u"tools-failed"_s);
    }

    void confirmationDialogs_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<std::optional<Action>>("action");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("message");
        const QString install = u"Se descargarán el ejecutable oficial "_s + ToolAssets::ytDLPAssetName();
        QTest::newRow("install yt-dlp") << Setup([] {}) << std::optional(Action::install(ToolKind::ytDLP))
                                        << u"¿Instalar yt-dlp?"_s
                                        << QStringList{u"Instalar versión oficial"_s, u"Cancelar"_s} << install;
        QTest::newRow("install FFmpeg") << Setup([] {}) << std::optional(Action::install(ToolKind::ffmpeg))
                                        << u"¿Instalar FFmpeg?"_s
                                        << QStringList{u"Instalar versión precompilada"_s, u"Cancelar"_s}
                                        << u"para la arquitectura de este equipo."_s;
        QTest::newRow("update") << Setup([this] { standaloneYTDLP("2025.01.01"); })
                                << std::optional(Action::update(ToolKind::ytDLP)) << u"¿Actualizar yt-dlp?"_s
                                << QStringList{u"Actualizar con su administrador"_s, u"Cancelar"_s}
                                << u"Solo se actualizará yt-dlp; la otra herramienta no se incluirá en el mismo "
                                   "comando."_s;
        QTest::newRow("update with Homebrew warning")
            << Setup([this] { homebrewYTDLP({}); }) << std::optional(Action::update(ToolKind::ytDLP))
            << u"¿Actualizar yt-dlp?"_s
            << QStringList{u"Usar versión precompilada (recomendado)"_s, u"Actualizar con Homebrew de todos modos"_s,
                           u"Cancelar"_s}
            << u"comando. Homebrew confirmó que este host es Tier 3."_s;
        QTest::newRow("uninstall") << Setup([this] { homebrewYTDLP({}); })
                                   << std::optional(Action::uninstallHomebrew(ToolKind::ytDLP))
                                   << u"¿Desinstalar yt-dlp de Homebrew?"_s
                                   << QStringList{u"Desinstalar yt-dlp"_s, u"Cancelar"_s}
                                   << u"Se ejecutará brew uninstall yt-dlp."_s;
        QTest::newRow("uninstall needed by others")
            << Setup([this] { homebrewYTDLP("scrcpy\n"); }) << std::optional(Action::uninstallHomebrew(ToolKind::ytDLP))
            << u"¿Desinstalar yt-dlp de Homebrew?"_s << QStringList{u"Desinstalar yt-dlp"_s, u"Cancelar"_s}
            << u"No se debe desinstalar porque Homebrew lo necesita para: scrcpy."_s;
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

    void confirmingClearsTheProposalFirst() {
        open();
        m_model->showToolManager(ToolKind::ytDLP, true);
        QTRY_VERIFY(m_window->actionDialog()->isVisible());
        std::optional<std::optional<Action>> pendingAtStart;
        connect(m_model.get(), &AppModel::isUpdatingToolsChanged, this, [&] {
            if (!pendingAtStart)
                pendingAtStart = m_model->pendingToolAction();
        });
        QTest::mouseClick(find<QPushButton>(u"confirmActionButton"_s, m_window->actionDialog()), Qt::LeftButton);
        QVERIFY(pendingAtStart.has_value() && !pendingAtStart->has_value());
        QTRY_COMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::success);
        QCOMPARE(find<QLabel>(u"stateText"_s, find(u"ytDLPRow"_s))->text(), u"Actualizado"_s);
        QVERIFY(!m_window->actionDialog()->isVisible());
    }

    void mainWindowPillsInstallAndQuitting() {
        standaloneYTDLP("2025.01.01");
        open();
        MainWindow window(*m_model, *m_desktop);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *ytDLP = window.findChild<ToolStatusPill *>(u"ytDLPPill"_s);
        auto *ffmpeg = window.findChild<ToolStatusPill *>(u"ffmpegPill"_s);
        QCOMPARE(ytDLP->state(), ToolIndicatorState::updateAvailable);
        QCOMPARE(ffmpeg->state(), ToolIndicatorState::missing);
        QVERIFY(window.findChild<QToolBar *>(u"mainToolBar"_s)->grab().save(screenshotPath(u"pills-update-missing"_s)));

        // The red pill opens Herramientas and proposes the install there.
        QTest::mouseClick(ffmpeg, Qt::LeftButton);
        QVERIFY(window.optionsWindow()->isVisible());
        QCOMPARE(window.optionsWindow()->tabs()->currentIndex(), 1);
        QCOMPARE(m_model->pendingToolAction(), Action::install(ToolKind::ffmpeg));
        QTRY_VERIFY(window.optionsWindow()->actionDialog()->isVisible());
        window.optionsWindow()->actionDialog()->reject();

        // The orange one proposes the update; confirmed, the pill turns green afterwards.
        write(u"update-script"_s, "echo 2025.10.22 > \"$dir/version\"");
        QTest::mouseClick(ytDLP, Qt::LeftButton);
        QCOMPARE(m_model->pendingToolAction(), Action::update(ToolKind::ytDLP));
        QTRY_VERIFY(window.optionsWindow()->actionDialog()->isVisible());
        window.optionsWindow()->actionDialog()->findChild<QPushButton *>(u"confirmActionButton"_s)->click();
        QTRY_COMPARE(ytDLP->state(), ToolIndicatorState::current);
        QVERIFY(
            window.findChild<QToolBar *>(u"mainToolBar"_s)->grab().save(screenshotPath(u"pills-current-missing"_s)));

        // Closing during an operation asks; quitting cancels it and leaves nothing running.
        write(u"update-script"_s, R"(sleep 30 & wait)");
        write(u"version"_s, "2025.01.01");
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
        QCOMPARE(m_desktop->clipboard, u"brew install yt-dlp ffmpeg"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(125)), u"2:05"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(-5)), u"0:00"_s);
        QCOMPARE(UpdateActivityPanel::elapsedText(m_now, m_now.addSecs(3725)), u"62:05"_s);
    }
};

QTEST_MAIN(TestToolsPage)
#include "tst_toolspage.moc"
