#include "ytdlpexplanations.h"

#include <QStringList>

namespace {

const QString separator = QStringLiteral("\n\n");
const QString advicePrefix = QStringLiteral("Prueba: ");

QList<QRegularExpression> any(std::initializer_list<const char *> patterns) {
    QList<QRegularExpression> compiled;
    for (const char *pattern : patterns)
        compiled.append(QRegularExpression(QString::fromUtf8(pattern), QRegularExpression::CaseInsensitiveOption));
    return compiled;
}

const QString cookiesAdvice =
    QStringLiteral(" En Opciones › General, elige en «Usar las cookies de» el navegador en el "
                   "que tienes la sesión iniciada y vuelve a intentarlo.");
const QString cookiesRefused = QStringLiteral("El sitio no aceptó la sesión de las cookies elegidas. Abre el sitio en "
                                              "ese navegador, comprueba que la sesión sigue iniciada y vuelve a "
                                              "intentarlo.");

using YTDLPExplanations::Action;
using YTDLPExplanations::Context;
using YTDLPExplanations::Kind;

} // namespace

namespace YTDLPExplanations {

const QList<Kind> &kinds() {
    static const QList<Kind> table{
        {QStringLiteral("drm"),
         any({"DRM protected"}),
         QStringLiteral("El contenido está protegido con DRM: no se puede descargar."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("cookies-file"),
         any({"'([^'\\n]+)' does not look like a Netscape format cookies file", "must be Netscape formatted"}),
         QStringLiteral("El archivo de cookies %1 no está en formato Netscape (el «cookies.txt» que exportan las "
                        "extensiones del navegador). Expórtalo de nuevo en ese formato o elige un navegador."),
         QStringLiteral("elegido"),
         {},
         Action::changeCookies,
         {}},
        {QStringLiteral("browser-cookies"),
         any({"could not find (\\w+) cookies database", "could not find (\\w+) container",
              "Could not copy (\\w+) cookie database", "failed to read from keyring", "failed to read NetworkWallet",
              "failed to decrypt cookie", "unsupported keyring", "could not find local state file",
              "secretstorage not available", "database is locked", "failed to load cookies"}),
         QStringLiteral("No se pudieron leer las cookies de %1: no se encontró su almacén de cookies, está bloqueado "
                        "o no se pudo abrir el llavero donde guarda la clave. Cierra el navegador y vuelve a "
                        "intentarlo, o elige otro en Opciones › General."),
         QStringLiteral("el navegador elegido"),
         {},
         Action::changeCookies,
         {}},
        {QStringLiteral("javascript"),
         any({"No supported JavaScript runtime", "supported JavaScript runtime and challenge solver", "JS runtime",
              "n challenge solving failed", "Signature solving failed"}),
         QStringLiteral("yt-dlp necesita un entorno JavaScript (Deno) para leer este sitio y no encontró ninguno. "
                        "Instala Deno desde Opciones › Herramientas y vuelve a intentarlo."),
         {},
         {},
         Action::installDeno,
         {}},
        {QStringLiteral("age"),
         any({"confirm your age", "age[- ]restricted", "inappropriate for some users", "age verification"}),
         QStringLiteral("El video tiene restricción de edad: solo se puede ver con la sesión de una cuenta adulta.") +
             cookiesAdvice,
         {},
         QStringLiteral("El video tiene restricción de edad y el sitio no aceptó la sesión de las cookies elegidas: "
                        "usa las de una cuenta adulta con la sesión iniciada."),
         Action::useCookies,
         {}},
        {QStringLiteral("private"),
         any({"Private video", "video is private", "set to private", "This playlist is private"}),
         QStringLiteral("El video es privado: solo pueden verlo las cuentas a las que su autor dio permiso. Si la tuya "
                        "es una de ellas, usa las cookies del navegador con esa sesión."),
         {},
         {},
         Action::useCookies,
         {}},
        {QStringLiteral("premium"),
         any({"requires payment", "premium members", "Premium members only", "YouTube Premium", "premium membership",
              "premium[- ]only", "purchase", "rent this"}),
         QStringLiteral("Es contenido de pago o para suscriptores premium: solo se descarga con la sesión de una "
                        "cuenta que tenga acceso."),
         {},
         {},
         Action::useCookies,
         {}},
        {QStringLiteral("members"),
         any({"members[- ]only", "Join this channel", "channel members", "subscriber[- ]only"}),
         QStringLiteral("El video es solo para miembros del canal: solo se descarga con la sesión de una cuenta que "
                        "sea miembro."),
         {},
         {},
         Action::useCookies,
         {}},
        {QStringLiteral("country"),
         any({"This video is available in ([^\\n]+?)\\.?\\n", "not available from your location",
              "not available in your country", "geo[- ]restrict"}),
         QStringLiteral("El sitio no ofrece este contenido en tu país (solo en: %1). Solo se puede descargar a "
                        "través de una conexión (un proxy o una VPN) de uno de esos países."),
         QStringLiteral("otros países"),
         {},
         Action::useProxy,
         {}},
        {QStringLiteral("rate-limited"),
         any({"rate-limited", "rate limit", "exceeded the rate-limit", "try again later"}),
         QStringLiteral("El sitio limitó por un tiempo (hasta una hora) lo que esta conexión puede descargar. Espera "
                        "y vuelve a intentarlo; descarga menos videos seguidos."),
         {},
         {},
         Action::wait,
         {}},
        {QStringLiteral("too-many-requests"),
         any({"HTTP Error 429", "Too Many Requests"}),
         QStringLiteral("El sitio recibió demasiadas peticiones (429). Espera unos minutos y vuelve a intentarlo, "
                        "con menos descargas seguidas."),
         {},
         {},
         Action::wait,
         {}},
        {QStringLiteral("ip-blocked"),
         any({"IP address is blocked", "IP is blocked", "blocked from accessing", "has been blocked by",
              "Your IP address"}),
         QStringLiteral("El sitio bloqueó la dirección IP de esta conexión. Prueba desde otra red o más tarde."),
         {},
         {},
         Action::useProxy,
         {}},
        {QStringLiteral("robot"),
         any({"confirm you[’']re not a bot", "not a robot", "captcha"}),
         QStringLiteral("El sitio pide comprobar que no eres un robot.") + cookiesAdvice,
         {},
         cookiesRefused,
         Action::useCookies,
         {}},
        {QStringLiteral("not-live"),
         any({"live event will begin", "Premieres in", "is upcoming", "not currently live", "will begin in",
              "has not started"}),
         QStringLiteral("La emisión todavía no ha comenzado o ya no está en directo. Vuelve a intentarlo cuando esté "
                        "en emisión."),
         {},
         {},
         Action::wait,
         {}},
        {QStringLiteral("certificate"),
         any({"CERTIFICATE_VERIFY_FAILED", "certificate verify failed", "SSL: "}),
         QStringLiteral("No se pudo comprobar el certificado de seguridad del sitio. Comprueba la fecha y la hora del "
                        "equipo y la red (un proxy o un portal que intercepte la conexión)."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("password"),
         any({"password[- ]protected", "--video-password", "requires a password", "Wrong password"}),
         QStringLiteral("El video está protegido con contraseña, que esta aplicación no puede enviar."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("login"),
         any({"only available for registered users", "Login details are needed", "login required",
              "requires authentication", "needs authentication", "log ?in to", "sign in to", "for the authentication",
              "to provide account credentials"}),
         QStringLiteral("El sitio pide iniciar sesión.") + cookiesAdvice,
         {},
         cookiesRefused,
         Action::useCookies,
         {}},
        {QStringLiteral("file-name"),
         any({"File name too long", "Errno 36"}),
         QStringLiteral("El nombre del archivo es demasiado largo para la carpeta de descargas, incluso con el título "
                        "acortado. Elige una carpeta en otro disco."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("unsupported"),
         any({"Unsupported URL"}),
         QStringLiteral("yt-dlp no reconoce contenido descargable en esta dirección."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("page-404"),
         any({"Unable to download webpage: HTTP Error 404"}),
         QStringLiteral("La página no existe: el sitio respondió «404 No encontrado». Comprueba la dirección."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("page-403"),
         any({"Unable to download webpage: HTTP Error 403"}),
         QStringLiteral("El sitio rechazó la petición de la página (403). Puede que pida iniciar sesión.") +
             cookiesAdvice,
         {},
         {},
         Action::useCookies,
         {}},
        {QStringLiteral("file-403-404"),
         any({"HTTP Error 40[34]"}),
         QStringLiteral("El servidor de origen rechazó la URL temporal del archivo. Comprueba si hay una "
                        "actualización de yt-dlp en Opciones › Herramientas y vuelve a analizar el enlace."),
         {},
         {},
         Action::updateYTDLP,
         {}},
        {QStringLiteral("proxy"),
         any({"HTTP Error 407", "Proxy Authentication Required", "Unable to connect to proxy",
              "Tunnel connection failed", "caused by ProxyError", "SocksHTTPS?Connection"}),
         QStringLiteral("No se pudo pasar por el proxy de Opciones › Red: comprueba su dirección, su usuario y su "
                        "clave, o elige «Ninguno»."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("network"),
         any({"Connection refused", "Name or service not known", "Temporary failure in name resolution",
              "Failed to resolve '", "getaddrinfo failed", "timed out", "Network is unreachable", "No route to host",
              "Connection reset", "Connection aborted", "Remote end closed connection"}),
         QStringLiteral("No se pudo conectar con el sitio. Comprueba la dirección y la conexión a internet."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("extractor"),
         any({"please report this issue", "Unable to extract", "Unable to parse", "Failed to parse"}),
         QStringLiteral("yt-dlp no supo leer esta página: el sitio cambió o yt-dlp está desactualizado."),
         {},
         {},
         Action::updateYTDLP,
         {}},
        {QStringLiteral("no-formats"),
         any({"Requested format is not available", "No video formats found"}),
         QStringLiteral("yt-dlp no encontró ningún formato que se pueda descargar. Suele pasar cuando yt-dlp está "
                        "desactualizado."),
         {},
         {},
         Action::updateYTDLP,
         Context::analysis},
        {QStringLiteral("format-gone"),
         any({"Requested format is not available"}),
         QStringLiteral("El formato elegido ya no está disponible. Vuelve a analizar el enlace y elige otro."),
         {},
         {},
         Action::none,
         Context::download},
        {QStringLiteral("ffmpeg"),
         any({"ffmpeg is not installed", "ffmpeg not found", "ffprobe and ffmpeg not found"}),
         QStringLiteral("Hace falta FFmpeg para combinar o convertir este contenido. Instálalo desde Opciones › "
                        "Herramientas."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("disk-full"),
         any({"No space left on device", "Disk quota exceeded"}),
         QStringLiteral("No queda espacio en el disco de destino o en la carpeta de trabajo."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("permission"),
         any({"Permission denied", "Errno 13", "Read-only file system"}),
         QStringLiteral("No hay permiso para escribir en la carpeta de destino o en la de trabajo. Elige otra carpeta "
                        "de descargas."),
         {},
         {},
         Action::none,
         {}},
        {QStringLiteral("unavailable"),
         any({"Video unavailable", "has been removed", "no longer available", "does not exist",
              "account associated "
              "with this video has "
              "been terminated"}),
         QStringLiteral("El video ya no está disponible en el sitio."),
         {},
         {},
         Action::none,
         {}},
    };
    return table;
}

std::optional<Explanation> explain(const QString &failure, Context context, bool cookiesInUse) {
    // A capture that ends a line needs the line's end even for the last line.
    const QString lines = failure + QLatin1Char('\n');
    for (const Kind &kind : kinds()) {
        if (kind.only && *kind.only != context)
            continue;
        for (const QRegularExpression &pattern : kind.patterns) {
            const QRegularExpressionMatch match = pattern.match(lines);
            if (!match.hasMatch())
                continue;
            QString text =
                cookiesInUse && !kind.explanationWithCookies.isEmpty() ? kind.explanationWithCookies : kind.explanation;
            if (text.contains(QLatin1String("%1"))) {
                const QString captured = match.captured(1).trimmed();
                text = text.arg(captured.isEmpty() ? kind.fallback : QStringLiteral("«%1»").arg(captured));
            }
            return Explanation{kind.name, text, kind.action};
        }
    }
    return std::nullopt;
}

QString advice(Action action) {
    switch (action) {
    case Action::none:
        return {};
    case Action::useCookies:
        return QStringLiteral("usar las cookies de un navegador con la sesión iniciada (--cookies-from-browser "
                              "NAVEGADOR, o «Usar las cookies de» en Opciones › General).");
    case Action::changeCookies:
        return QStringLiteral("cerrar el navegador o elegir otro (--cookies-from-browser NAVEGADOR), o exportar "
                              "de nuevo el archivo de cookies en formato Netscape.");
    case Action::installDeno:
        return QStringLiteral("instalar Deno desde Opciones › Herramientas.");
    case Action::updateYTDLP:
        return QStringLiteral("actualizar yt-dlp (torvel-downloader tools update yt-dlp) y reintentar; si ya es la "
                              "última versión, informa del problema en https://github.com/yt-dlp/yt-dlp/issues.");
    case Action::wait:
        return QStringLiteral("esperar un rato y reintentar, con menos descargas seguidas.");
    case Action::useProxy:
        return QStringLiteral("una conexión desde otro lugar (un proxy o una VPN).");
    }
    return {};
}

QString explained(const QString &failure, Context context, bool cookiesInUse) {
    const std::optional<Explanation> found = explain(failure, context, cookiesInUse);
    if (!found)
        return failure;
    const QString line = advice(found->action);
    return found->text + (line.isEmpty() ? QString() : QLatin1Char('\n') + advicePrefix + line) + separator + failure;
}

QString Parts::summary() const {
    QStringList kept;
    bool inWarning = false;
    for (QString line : detail.split(QLatin1Char('\n'))) {
        // A warning and the indented lines that continue it.
        inWarning = line.startsWith(QLatin1String("WARNING:")) || (inWarning && line.startsWith(QLatin1Char(' ')));
        if (inWarning)
            continue;
        // yt-dlp's request to report the problem, after "; " or ". ".
        static const QRegularExpression report(QStringLiteral("[;.]?\\s*please report this issue on .*$"),
                                               QRegularExpression::CaseInsensitiveOption);
        line.remove(report);
        // yt-dlp prints some errors twice (a cookies file it cannot load).
        if (!line.trimmed().isEmpty() && (kept.isEmpty() || kept.constLast() != line))
            kept.append(line);
    }
    return kept.isEmpty() ? detail : kept.join(QLatin1Char('\n'));
}

Parts split(const QString &message) {
    const qsizetype end = message.indexOf(separator);
    if (end < 0)
        return {{}, Action::none, message};
    const QString head = message.left(end);
    const QString detail = message.mid(end + separator.size());
    // The head is an explanation only when the detail, read again, gives the same one.
    for (const Context context : {Context::analysis, Context::download}) {
        for (const bool cookies : {false, true}) {
            if (explained(detail, context, cookies) != message)
                continue;
            const std::optional<Explanation> found = explain(detail, context, cookies);
            return {found->text, found->action, detail};
        }
    }
    return {{}, Action::none, message};
}

} // namespace YTDLPExplanations
