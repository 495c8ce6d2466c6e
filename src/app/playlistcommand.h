#pragma once

#include "media/playlistinfo.h"

#include <QList>
#include <QString>

#include <optional>

// What the command line shows of a list, and which of its entries `--items` names.
namespace PlaylistCommand {

// The title, author, count and the numbered entries; as JSON with them under "entries".
void print(const PlaylistInfo &list, bool json);

// "1,3,5-7" → the zero-based positions 0, 2, 4, 5, 6, in the order given, each once. Nothing,
// with the problem, for another shape or a number outside 1…count.
std::optional<QList<qsizetype>> parseItems(const QString &text, qsizetype count, QString &problem);

} // namespace PlaylistCommand
