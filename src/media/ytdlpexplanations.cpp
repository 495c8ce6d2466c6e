#include "ytdlpexplanations.h"

namespace {

const QString separator = QStringLiteral("\n\n");

} // namespace

namespace YTDLPExplanations {

const QList<Row> &rows() {
    static const QList<Row> table{
        {{QStringLiteral("confirm you're not a bot"), QStringLiteral("confirm you’re not a bot"),
          QStringLiteral("Sign in to confirm"), QStringLiteral("--cookies-from-browser"),
          QStringLiteral("login required"), QStringLiteral("requires authentication"),
          QStringLiteral("only available for registered users")},
         QStringLiteral("El sitio pide iniciar sesión o comprobar que no eres un robot. En Opciones › General, elige "
                        "en «Usar las cookies de» el navegador en el que tienes la sesión iniciada y vuelve a analizar "
                        "el enlace."),
         QStringLiteral("El sitio no aceptó la sesión de las cookies elegidas. Abre el sitio en ese navegador, "
                        "comprueba que la sesión sigue iniciada y vuelve a analizar el enlace.")},
        {{QStringLiteral("Private video"), QStringLiteral("This video is private")},
         QStringLiteral("El video es privado: solo pueden verlo las cuentas con permiso en el sitio."),
         {}},
        {{QStringLiteral("Video unavailable"), QStringLiteral("has been removed"),
          QStringLiteral("no longer available")},
         QStringLiteral("El video ya no está disponible en el sitio."),
         {}},
        {{QStringLiteral("not available in your country"), QStringLiteral("geo restrict")},
         QStringLiteral("El sitio no ofrece este contenido en tu región."),
         {}},
        {{QStringLiteral("live event will begin"), QStringLiteral("Premieres in"), QStringLiteral("is upcoming")},
         QStringLiteral("La emisión todavía no ha comenzado. Vuelve a analizar el enlace cuando empiece."),
         {}},
        {{QStringLiteral("Unsupported URL")},
         QStringLiteral("yt-dlp no reconoce contenido descargable en esta dirección."),
         {}},
        {{QStringLiteral("Unable to download webpage: HTTP Error 404")},
         QStringLiteral("La página no existe: el sitio respondió «404 No encontrado». Comprueba la dirección."),
         {}},
        {{QStringLiteral("Unable to download webpage: HTTP Error 403")},
         QStringLiteral("El sitio rechazó la petición de la página (403). Puede que pida iniciar sesión: prueba con "
                        "las cookies del navegador en Opciones › General."),
         {}},
        {{QStringLiteral("Connection refused"), QStringLiteral("Name or service not known"),
          QStringLiteral("Temporary failure in name resolution"), QStringLiteral("timed out"),
          QStringLiteral("Network is unreachable"), QStringLiteral("No route to host")},
         QStringLiteral("No se pudo conectar con el sitio. Comprueba la dirección y la conexión a internet."),
         {}},
        {{QStringLiteral("Requested format is not available")},
         QStringLiteral("El formato elegido ya no está disponible. Vuelve a analizar el enlace y elige otro."),
         {}},
        {{QStringLiteral("ffmpeg is not installed"), QStringLiteral("ffmpeg not found"),
          QStringLiteral("ffprobe and ffmpeg not found")},
         QStringLiteral("Hace falta FFmpeg para combinar o convertir este contenido. Instálalo desde Opciones › "
                        "Herramientas."),
         {}},
        {{QStringLiteral("No space left on device")},
         QStringLiteral("No queda espacio en el disco de destino o en la carpeta de trabajo."),
         {}},
    };
    return table;
}

std::optional<QString> explanation(const QString &ytDLPText, bool cookiesInUse) {
    for (const Row &row : rows()) {
        for (const QString &pattern : row.patterns) {
            if (!ytDLPText.contains(pattern, Qt::CaseInsensitive))
                continue;
            return cookiesInUse && !row.explanationWithCookies.isEmpty() ? row.explanationWithCookies : row.explanation;
        }
    }
    return std::nullopt;
}

QString explained(const QString &message, bool cookiesInUse) {
    const std::optional<QString> text = explanation(message, cookiesInUse);
    return text ? *text + separator + message : message;
}

Parts split(const QString &message) {
    for (const Row &row : rows()) {
        for (const QString *text : {&row.explanation, &row.explanationWithCookies}) {
            if (!text->isEmpty() && message.startsWith(*text + separator))
                return {*text, message.mid(text->size() + separator.size())};
        }
    }
    return {{}, message};
}

} // namespace YTDLPExplanations
