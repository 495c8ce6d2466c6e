#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Clean-up and validation of an address the user pasted or another application sent.
namespace WebURL {

// Trims, unwraps a Markdown link "[text](address)" and angle brackets "<address>", and undoes
// the "\&" and "\_" escapes that chat and note applications add.
QString normalizedURLText(const QString &text);
// The cleaned text as an http or https URL with a host, or nothing.
std::optional<QUrl> validatedWebURL(const QString &text);

} // namespace WebURL
