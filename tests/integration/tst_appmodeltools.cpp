#include "common/blockingwait.h"
#include "platform/toolassets.h"
#include "testsupport.h"
#include "toolfixtures.h"
#include "tools/toolupdateservice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using Response = ScriptedHttpServer::Response;
using Kind = AppModel::PendingToolAction;

namespace {

QList<qint32> runningChildren() {
    QList<qint32> running;
    const QList<qint32> all = ToolUpdateService::descendantProcessIDs(qint32(QCoreApplication::applicationPid()));
    for (qint32 pid : all)
        if (TestSupport::isRunning(pid))
            running.append(pid);
    return running;
}

} // namespace

class TestAppModelTools : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ToolMachine> m_machine;
    std::unique_ptr<AppModel> m_model;
    QDateTime m_now = QDateTime(QDate(2025, 10, 1), QTime(12, 0), Qt::UTC);

    QString path(const QString &relative) const { return m_machine->path(relative); }
    void makeModel() {
        m_model.reset();
        m_model = m_machine->makeModel([this] { return m_now; });
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
    void init() { m_machine = std::make_unique<ToolMachine>(); }
    void cleanup() {
        m_model.reset();
        QTRY_COMPARE(runningChildren(), QList<qint32>());
    }

    void installFromMissingToCurrent() {
        makeModel();
        QCOMPARE(m_model->indicatorState(ToolKind::ytDLP), ToolIndicatorState::missing);
        m_model->showToolManager(ToolKind::ytDLP, true);
        QCOMPARE(m_model->selectedOptionsTab(), AppModel::OptionsTab::tools);
        QCOMPARE(m_model->pendingToolAction(), Kind::install(ToolKind::ytDLP));

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
        const QStringList lines = m_model->updateLog().split(u'\n');
        QCOMPARE(lines.first(), u"Iniciando instalación administrada de yt-dlp."_s);
        QCOMPARE(lines.last(), message);
        QVERIFY(lines.contains(u"▶ Verificando la descarga…"_s));
        QVERIFY(m_model->updateLog().contains(u"\n$ /usr/bin/curl --location http://127.0.0.1:"_s));
        QVERIFY(m_model->updateLog().contains(QRegularExpression(u"\nProceso activo: PID \\d+\\.\n"_s)));
        QCOMPARE(m_machine->settings.ytDLPPath(), path(u"tools/yt-dlp"_s));
        QCOMPARE(pill, (QList<ToolIndicatorState>{ToolIndicatorState::missing, ToolIndicatorState::current}));
        m_model->showToolManager(ToolKind::ytDLP, true);
        QCOMPARE(m_model->pendingToolAction(), std::nullopt);
    }

    void failedUpdateWithAFlood() {
        m_machine->standaloneYTDLP();
        // Enough output to cut the log, a line of escapes only, invalid UTF-8, Homebrew's step
        // marker and its build-from-source warning, then an error of several lines.
        m_machine->write(u"update-script"_s, R"(seq 1 12000 | sed 's/^/salida /'
printf '\033[1m\033[0m   \n'
echo '==>   Pouring yt-dlp'
printf 'bytes \377\376 inválidos\n'
echo 'Warning: yt-dlp would build from source'
echo 'ERROR: primera línea' >&2
echo 'segunda línea' >&2
exit 1)");
        makeModel();
        QCOMPARE(m_model->indicatorState(ToolKind::ytDLP), ToolIndicatorState::updateAvailable);

        QStringList stages;
        connect(m_model.get(), &AppModel::updateStageChanged, this, [&] { stages.append(m_model->updateStage()); });
        QSignalSpy refreshes(m_model.get(), &AppModel::toolsChanged);
        BlockingWait::wait(m_model->updateTools(ToolKind::ytDLP));

        QCOMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::failure);
        QCOMPARE(m_model->updateStage(), u"La operación falló"_s);
        QCOMPARE(m_model->updateMessage(), u"El comando terminó con el código 1."_s);
        QVERIFY(stages.contains(u"Pouring yt-dlp"_s));
        QCOMPARE(m_model->updateNotice(), u"Homebrew está compilando desde código fuente en este equipo. Puede tardar "
                                          "desde varios minutos hasta horas."_s);
        const QString log = m_model->updateLog();
        QVERIFY(log.startsWith(ToolUpdateLog::marker()));
        QVERIFY(log.size() <= ToolUpdateLog::marker().size() + ToolUpdateLog::limit);
        QVERIFY(log.contains(u"\nbytes \uFFFD\uFFFD inválidos\n"_s));
        QVERIFY(!log.contains(QChar(0x1B)));
        // The whole description after "ERROR: ", the end of what the tool printed included.
        QVERIFY(log.contains(u"\nERROR: El comando terminó con el código 1.\nERROR: primera línea\nsegunda línea\n"_s));
        QVERIFY(log.endsWith(u"\nWarning: yt-dlp would build from source"_s));
        QCOMPARE(refreshes.count(), 0);
        m_model->copyToolUpdateLog();
        QCOMPARE(m_machine->desktop.clipboard, log);
    }

    void cancelStopsEveryProcessWithoutARefresh() {
        m_machine->standaloneYTDLP();
        m_machine->write(u"update-script"_s, R"(echo '==> Descargando'
sleep 30 & echo $! > "$dir/child"
wait)");
        makeModel();
        QSignalSpy refreshes(m_model.get(), &AppModel::toolsChanged);
        QCoro::Task<> update = m_model->updateTools(std::nullopt);
        QTRY_VERIFY(m_model->updateProcessID() && QFile::exists(path(u"child"_s)));
        QTRY_COMPARE(m_model->updateStage(), u"Descargando"_s);
        const qint32 updater = *m_model->updateProcessID();
        const qint64 child = m_machine->read(u"child"_s).trimmed().toLongLong();
        m_model->cancelToolOperation();
        QCOMPARE(m_model->updateStage(), u"Cancelando…"_s);
        BlockingWait::wait(std::move(update));

        QCOMPARE(m_model->updateOutcome(), AppModel::ToolUpdateOutcome::cancelled);
        QCOMPARE(m_model->updateStage(), u"Operación cancelada"_s);
        const QString message = u"La operación fue cancelada. Las herramientas que ya hubieran terminado de "
                                "instalarse se conservaron."_s;
        QCOMPARE(m_model->updateMessage(), message);
        QVERIFY(m_model->updateLog().endsWith(u"\nSe solicitó cancelar el proceso.\n"_s + message));
        QVERIFY(!m_model->isUpdatingTools() && !TestSupport::isRunning(updater));
        QCOMPARE(refreshes.count(), 0);
        QTRY_VERIFY(!TestSupport::isRunning(child));
    }

    void homebrewRemovalProposesTheManagedCopy() {
        m_machine->homebrewYTDLP(R"({"tier":3,"findings":[]})");
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
        QCOMPARE(m_model->pendingToolAction(), Kind::install(ToolKind::ytDLP));
        QCOMPARE(m_model->homebrewSupportInfo(), std::nullopt);
        QVERIFY(m_machine->read(u"brew-calls"_s).contains("uninstall yt-dlp\n"));

        // Not a Homebrew copy any more: nothing to remove, nothing changes.
        const QStringList before = snapshot();
        BlockingWait::wait(m_model->uninstallHomebrew(ToolKind::ytDLP));
        QCOMPARE(snapshot(), before);
    }

    void homebrewWarningsFollowTheDiagnosis_data() {
        QTest::addColumn<QByteArray>("diagnosis");
        QTest::addColumn<QByteArray>("dependents");
        QTest::addColumn<QString>("tier");
        QTest::addColumn<QString>("summary");
        QTest::newRow("tier 2") << QByteArray(R"({"tier":2,"findings":[]})") << QByteArray() << QString() << QString();
        QTest::newRow("tier 3") << QByteArray(R"({"tier":3,"findings":[]})") << QByteArray("scrcpy\nmpv\n")
                                << u"Tier 3"_s << u"scrcpy, mpv"_s;
        QTest::newRow("unsupported") << QByteArray(R"({"tier":"unsupported","findings":[]})") << QByteArray()
                                     << u"no compatible"_s << QString();
        QTest::newRow("unknown tier") << QByteArray(R"({"tier":"x","findings":[]})") << QByteArray() << QString()
                                      << QString();
        QTest::newRow("findings of other types")
            << QByteArray(R"({"tier":3,"findings":[{"text":7,"tier":3}]})") << QByteArray() << QString() << QString();
    }
    void homebrewWarningsFollowTheDiagnosis() {
        QFETCH(QByteArray, diagnosis);
        QFETCH(QByteArray, dependents);
        QFETCH(QString, tier);
        QFETCH(QString, summary);
        m_machine->homebrewYTDLP(diagnosis, dependents);
        makeModel();
        QCOMPARE(m_model->homebrewSupportWarning().value_or(QString()),
                 tier.isEmpty() ? QString()
                                : u"Homebrew clasificó este equipo como "_s + tier +
                                      u". Los paquetes pueden compilarse desde código fuente y tardar horas. "
                                      "Recomendamos migrar a las versiones precompiladas administradas por Torvel."_s);
        QCOMPARE(m_model->homebrewWarning(ToolKind::ytDLP).has_value(), !tier.isEmpty());
        QVERIFY(!m_model->homebrewWarning(ToolKind::ffmpeg));
        QCOMPARE(m_model->homebrewDependentSummary(ToolKind::ytDLP).value_or(QString()), summary);
    }

    void quittingMidInstallLeavesNothingBehind() {
        // The download crawls, so the install is still running when the model goes away.
        Response slow = Response::ok(QByteArray(200'000, '#'));
        slow.bytesPerTick = 1'000;
        m_machine->server.route(u"/yt-dlp/yt-dlp/releases/latest/download/"_s + ToolAssets::ytDLPAssetName(), slow);
        makeModel();
        m_model->installTool(ToolKind::ytDLP);
        QTRY_VERIFY(m_model->updateProcessID());
        m_model.reset();
        QTRY_COMPARE(runningChildren(), QList<qint32>());
        QTRY_COMPARE(QDir(path(u"tools"_s)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{u"deno"_s});
    }
};

QTEST_GUILESS_MAIN(TestAppModelTools)
#include "tst_appmodeltools.moc"
