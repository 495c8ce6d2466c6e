#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <optional>

// What yt-dlp's English failures mean, in a sentence a person can act on, and the one thing to
// try. The whole failure is read (the warnings yt-dlp printed before its error line too), and
// the kinds are tried most specific first, so that a hint yt-dlp adds to many errors (how to
// pass cookies) never decides the kind.
//
// An explained failure's message is: the explanation on its first line, "Prueba: " and the
// action's advice on the second when there is one, a blank line, then yt-dlp's text whole.
namespace YTDLPExplanations {

// An analysis and a download read some texts differently ("Requested format is not available").
enum class Context { analysis, download };

// What the failure card offers as a button, and the command line as its "Prueba:" line.
enum class Action {
    none,
    useCookies,    // Opciones › General: cookies of a browser with the session
    changeCookies, // Opciones › General: another browser or a valid cookies file
    installDeno,   // Opciones › Herramientas
    updateYTDLP,   // a newer yt-dlp, or else a report to yt-dlp
    wait,          // the site limits requests for a while
    useProxy,      // another country's connection
};

struct Kind {
    QString name;                       // for tests and logs: "robot", "age", …
    QList<QRegularExpression> patterns; // any of them, anywhere in the failure, ignoring case
    QString explanation;                // may hold %1, filled by the first pattern's first capture
    QString fallback;                   // %1 when the pattern captured nothing
    QString explanationWithCookies;     // when cookies were in use; empty: the same explanation
    Action action = Action::none;
    std::optional<Context> only; // read only in this context
};

// In order: the first kind with a matching pattern explains the failure.
const QList<Kind> &kinds();

struct Explanation {
    QString kind;
    QString text;
    Action action = Action::none;
};
std::optional<Explanation> explain(const QString &failure, Context context, bool cookiesInUse);
// The explanation, its advice and a blank line before the failure; the failure alone when
// nothing fits.
QString explained(const QString &failure, Context context, bool cookiesInUse);

// The "Prueba:" advice of an action, for the command line; empty for none.
QString advice(Action action);

struct Parts {
    QString explanation; // empty when the message has none
    Action action = Action::none;
    QString detail; // what follows it: yt-dlp's text whole
    // yt-dlp's error lines without its warnings and its request to report the problem; the
    // detail when nothing is left.
    QString summary() const;
};
// Takes apart a message that explained() made.
Parts split(const QString &message);

} // namespace YTDLPExplanations
