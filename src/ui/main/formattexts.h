#pragma once

#include "media/mediainfo.h"

#include <QString>

#include <optional>

// The texts the main window shows for one format and for the download progress. Pure functions of
// their arguments, so the cards stay thin and the numbers can be checked on their own.
namespace FormatTexts {

// "Bitrate no informado", "850 kb/s" or "1.5 Mb/s".
QString bitrateText(const MediaFormat &format);
// The exact size, the approximate one with "~", an estimate from bitrate × duration with "~", or
// "Tamaño no informado".
QString sizeText(const MediaFormat &format, std::optional<double> duration);
// "Sin audio", or codec · bitrate · channels, e.g. "AAC · 128 kb/s · estéreo".
QString audioText(const MediaFormat &format);
// One line for an audio-only format in the pairing menu: "ID 140 · M4A · 130 kb/s · 3,2 MB".
QString audioDescription(const MediaFormat &format);
// "30 fps", the rate rounded half away from zero.
QString framesPerSecondText(double fps);
// "12 formatos".
QString formatCountText(qsizetype count);
// The fraction × 100 truncated toward zero, then " %": 0.999 gives "99 %".
QString percentageText(double fraction);

} // namespace FormatTexts
