#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Clean-up and validation of an address the user pasted or another application sent.
namespace WebURL {

// Trims, unwraps a Markdown link "[text](address)" and angle brackets "<address>", and undoes
// the "\&" and "\_" escapes that chat and note applications add.
QString normalizedURLText(const QString &text);
// The cleaned text as an http or https URL with a host, or nothing.
std::optional<QUrl> validatedWebURL(const QString &text);

// The web addresses in what a person pasted or typed, one per line, as they will be shown. A line
// that begins with an address is that address whole (a space in it is part of its path) up to
// another address after a space; in any other line, the first address inside its text. "www." without a scheme is taken
// as https.
QStringList addressesIn(const QString &text);
// The first of addressesIn(text) as a URL, or nothing.
std::optional<QUrl> firstWebURL(const QString &text);

} // namespace WebURL
