#include "toolupdateservice.h"

#include "process/lineaccumulator.h"
#include "toolupdateerror.h"
#include "versioncomparison.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString formulaName(ToolKind tool) {
    return tool == ToolKind::ytDLP ? QStringLiteral("yt-dlp") : QStringLiteral("ffmpeg");
}

QString displayName(ToolKind tool) {
    return ToolUpdateStatus::rawValue(ToolUpdateStatus::of(tool));
}

// The text at a key path of a JSON document; absent when any step is missing or of another type.
std::optional<QString> textAt(const QByteArray &json, const QStringList &keys) {
    QJsonValue value = QJsonDocument::fromJson(json).object();
    for (const QString &key : keys) {
        if (!value.isObject())
            return std::nullopt;
        value = value.toObject().value(key);
    }
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

void report(const ToolUpdateEventHandler &onEvent, const ToolUpdateEvent &event) {
    if (onEvent)
        onEvent(event);
}

} // namespace

QCoro::Task<QList<ToolUpdateStatus>> ToolUpdateService::check(std::optional<ToolInfo> ytDLP,
                                                              std::optional<ToolInfo> ffmpeg) {
    // Both lookups start before either is awaited, so they run side by side.
    auto ytDLPLookup = ytDLPStatus(ytDLP);
    auto ffmpegLookup = ffmpegStatus(ffmpeg);
    QList<ToolUpdateStatus> statuses;
    if (const std::optional<ToolUpdateStatus> status = co_await ytDLPLookup)
        statuses.append(*status);
    if (const std::optional<ToolUpdateStatus> status = co_await ffmpegLookup)
        statuses.append(*status);
    co_return statuses;
}

QCoro::Task<std::optional<ToolUpdateStatus>> ToolUpdateService::ytDLPStatus(std::optional<ToolInfo> ytDLP) {
    if (!ytDLP)
        co_return std::nullopt;
    QString latest;
    try {
        if (ytDLP->installSource.kind == ToolInstallSource::Kind::homebrew) {
            const QString formula = QStringLiteral("yt-dlp");
            latest = co_await formulaVersion(formula);
        } else {
            const QUrl address =
                ToolHosts::address(m_hosts.gitHubAPI, QStringLiteral("/repos/yt-dlp/yt-dlp/releases/latest"));
            const QByteArray release = co_await curlJSON(address);
            latest = textAt(release, {QStringLiteral("tag_name")}).value_or(QString());
            latest.remove(QStringLiteral("yt-dlp "));
        }
    } catch (const std::exception &) {
        co_return std::nullopt;
    }
    if (!VersionComparison::isPlainVersion(latest))
        co_return std::nullopt;
    co_return ToolUpdateStatus{ToolUpdateStatus::Tool::ytDLP, ytDLP->version, latest,
                               VersionComparison::isNewer(latest, ytDLP->version)};
}

QCoro::Task<std::optional<ToolUpdateStatus>> ToolUpdateService::ffmpegStatus(std::optional<ToolInfo> ffmpeg) {
    if (!ffmpeg)
        co_return std::nullopt;
    QString latest;
    try {
        const QString formula = QStringLiteral("ffmpeg");
        latest = co_await formulaVersion(formula);
    } catch (const std::exception &) {
        co_return std::nullopt;
    }
    if (!VersionComparison::isPlainVersion(latest))
        co_return std::nullopt;
    co_return ToolUpdateStatus{ToolUpdateStatus::Tool::ffmpeg, ffmpeg->version, latest,
                               VersionComparison::isNewer(latest, ffmpeg->version)};
}

QCoro::Task<QString> ToolUpdateService::formulaVersion(QString name) {
    const QUrl address =
        ToolHosts::address(m_hosts.homebrewAPI, QStringLiteral("/api/formula/") + name + QStringLiteral(".json"));
    const QByteArray formula = co_await curlJSON(address);
    const std::optional<QString> stable = textAt(formula, {QStringLiteral("versions"), QStringLiteral("stable")});
    if (!stable)
        throw ToolUpdateError::invalidResponse(name);
    co_return *stable;
}

QCoro::Task<std::optional<HomebrewSupportInfo>> ToolUpdateService::checkHomebrewSupport(QString brewPath) {
    Run run;
    run.executable = brewPath;
    run.arguments = {QStringLiteral("doctor"), QStringLiteral("check_for_unsupported_macos"), QStringLiteral("--json")};
    run.environment = homebrewEnvironment();
    run.cancellable = false;
    run.limit = m_limits.homebrewQuery;
    RunOutcome outcome;
    try {
        outcome = co_await execute(run);
    } catch (const std::exception &) {
        co_return std::nullopt;
    }
    // The diagnosis reports problems with a non-zero status, so only its document counts.
    if (outcome.stop != RunOutcome::Stop::none || outcome.result.standardOutput.trimmed().isEmpty())
        co_return std::nullopt;
    co_return HomebrewSupportInfo::fromDiagnosis(outcome.result.standardOutput);
}

QCoro::Task<QStringList> ToolUpdateService::homebrewInstalledDependents(ToolKind tool, QString brewPath) {
    // A refresh of the Homebrew state, perhaps while an operation runs: never the operation's to
    // cancel, so it must not take its slot.
    return installedDependents(tool, brewPath, false);
}

QCoro::Task<QStringList> ToolUpdateService::installedDependents(ToolKind tool, QString brewPath, bool cancellable) {
    Run run;
    run.executable = brewPath;
    run.arguments = {QStringLiteral("uses"), QStringLiteral("--installed"), formulaName(tool)};
    run.environment = homebrewEnvironment(true);
    run.limit = m_limits.homebrewQuery;
    run.cancellable = cancellable;
    RunOutcome outcome;
    try {
        outcome = co_await execute(run);
    } catch (const ProcessRunnerError &) {
        co_return QStringList();
    } catch (const ToolUpdateError &) {
        co_return QStringList();
    }
    if (outcome.stop != RunOutcome::Stop::none || outcome.result.status != 0)
        co_return QStringList();
    QStringList dependents;
    const QStringList lines = LineAccumulator::splitLines(QString::fromUtf8(outcome.result.standardOutput));
    for (const QString &line : lines) {
        if (!line.trimmed().isEmpty())
            dependents.append(line.trimmed());
    }
    co_return dependents;
}

QCoro::Task<QString> ToolUpdateService::uninstallHomebrew(ToolKind tool, QString brewPath,
                                                          ToolUpdateEventHandler onEvent) {
    OperationScope scope(*this);
    // Inside the uninstall the user waits on the query and may cancel it.
    const QStringList dependents = co_await installedDependents(tool, brewPath, true);
    const QString name = displayName(tool);
    if (!dependents.isEmpty())
        throw ToolUpdateError::unsupported(
            QStringLiteral("No se desinstaló ") + name + QStringLiteral(" porque Homebrew lo necesita para: ") +
            dependents.join(QStringLiteral(", ")) +
            QStringLiteral(". Instala la versión precompilada de Torvel en paralelo; la aplicación la usará sin "
                           "alterar esos programas."));
    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Desinstalando únicamente ") + name +
                                           QStringLiteral(" de Homebrew…")));
    report(onEvent,
           ToolUpdateEvent::output(QStringLiteral("No se ejecutará autoremove; las dependencias se conservarán.")));
    const QStringList arguments{QStringLiteral("uninstall"), formulaName(tool)};
    co_await runUpdate(brewPath, arguments, onEvent);
    co_return QStringLiteral("Se desinstaló la copia Homebrew de ") + name +
        QStringLiteral(". Las dependencias se conservaron.");
}

QCoro::Task<QString> ToolUpdateService::update(QList<ToolUpdateStatus> statuses, std::optional<ToolInfo> ytDLP,
                                               std::optional<ToolInfo> ffmpeg, std::optional<ToolKind> only,
                                               ToolUpdateEventHandler onEvent) {
    using Kind = ToolInstallSource::Kind;
    const auto outdated = [&](ToolKind tool) {
        if (only && *only != tool)
            return false;
        return std::any_of(statuses.cbegin(), statuses.cend(), [&](const ToolUpdateStatus &status) {
            return status.tool == ToolUpdateStatus::of(tool) && status.updateAvailable;
        });
    };
    const bool updateYTDLP = outdated(ToolKind::ytDLP);
    const bool updateFFmpeg = outdated(ToolKind::ffmpeg);
    if (!updateYTDLP && !updateFFmpeg)
        co_return QStringLiteral("Las herramientas ya están actualizadas.");

    OperationScope scope(*this);
    report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Preparando la actualización…")));
    QStringList messages;
    QStringList formulae;
    QString brewPath;

    if (updateYTDLP && ytDLP) {
        switch (ytDLP->installSource.kind) {
        case Kind::homebrew:
            formulae.append(QStringLiteral("yt-dlp"));
            brewPath = ytDLP->installSource.brewPath;
            break;
        case Kind::managed: {
            report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Actualizando la copia administrada de yt-dlp…")));
            const ManagedInstallResult result = co_await installManagedYTDLP(onEvent);
            messages.append(result.message);
            break;
        }
        case Kind::macPorts:
            throw ToolUpdateError::unsupported(
                QStringLiteral("yt-dlp pertenece a MacPorts. Actualízalo con MacPorts para no romper su instalación."));
        case Kind::pip:
            throw ToolUpdateError::unsupported(QStringLiteral(
                "yt-dlp fue instalado con pip. Actualízalo con el mismo entorno de Python que utilizaste para "
                "instalarlo."));
        case Kind::systemPackage:
            throw ToolUpdateError::unsupported(
                QStringLiteral("yt-dlp pertenece al gestor de paquetes del sistema. Actualízalo con él o instala la "
                               "copia administrada por Torvel."));
        case Kind::standalone: {
            report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Actualizando yt-dlp…")));
            // Its updater reaches GitHub the way the downloads reach their sites.
            QStringList arguments;
            if (m_proxy.kind != NetworkOptions::Proxy::Kind::system)
                arguments << QStringLiteral("--proxy") << m_proxy.ytDLPValue().value_or(QString());
            arguments << QStringLiteral("-U");
            co_await runUpdate(ytDLP->path, arguments, onEvent);
            messages.append(QStringLiteral("yt-dlp se actualizó con su actualizador integrado."));
            break;
        }
        }
    }

    if (updateFFmpeg && ffmpeg) {
        switch (ffmpeg->installSource.kind) {
        case Kind::homebrew:
            formulae.append(QStringLiteral("ffmpeg"));
            if (brewPath.isEmpty())
                brewPath = ffmpeg->installSource.brewPath;
            break;
        case Kind::managed: {
            report(onEvent, ToolUpdateEvent::stage(QStringLiteral("Actualizando la copia administrada de FFmpeg…")));
            const ManagedInstallResult result = co_await installManagedFFmpeg(onEvent);
            messages.append(result.message);
            break;
        }
        case Kind::macPorts:
            throw ToolUpdateError::unsupported(QStringLiteral(
                "FFmpeg pertenece a MacPorts. Actualízalo con MacPorts para conservar sus dependencias."));
        case Kind::pip:
        case Kind::systemPackage:
        case Kind::standalone:
            throw ToolUpdateError::unsupported(
                QStringLiteral("Esta copia de FFmpeg no tiene un actualizador integrado. Instala una copia "
                               "administrada por Torvel o actualízala manualmente."));
        }
    }

    if (!formulae.isEmpty() && !brewPath.isEmpty()) {
        const QString names = formulae.join(QStringLiteral(" y "));
        report(onEvent,
               ToolUpdateEvent::stage(QStringLiteral("Actualizando ") + names + QStringLiteral(" con Homebrew…")));
        report(onEvent,
               ToolUpdateEvent::output(QStringLiteral(
                   "Homebrew puede tardar varios minutos mientras actualiza su catálogo o instala dependencias.")));
        QStringList arguments{QStringLiteral("upgrade")};
        arguments.append(formulae);
        co_await runUpdate(brewPath, arguments, onEvent);
        messages.append(QStringLiteral("Homebrew actualizó ") + names + QStringLiteral("."));
    }
    co_return messages.join(QLatin1Char(' '));
}
