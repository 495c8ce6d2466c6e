#pragma once

#include <QString>

#include <optional>

// A stretch of one video to keep ("Recortar"): from start to end, in seconds; without an end,
// to the end of the video.
struct MediaSection {
    double start = 0;
    std::optional<double> end;

    // A time as typed: seconds ("83", "83.5"), minutes and seconds ("1:23") or hours, minutes and
    // seconds ("01:02:03"); none when the text is not one.
    static std::optional<double> parseTime(const QString &text);

    // The stretch from two typed times, either of which may be empty (the beginning, the end);
    // duration is the video's length when known. Both empty: no stretch and no problem.
    // Otherwise the stretch, or none with the reason in problem.
    static std::optional<MediaSection> fromTimes(const QString &start, const QString &end,
                                                 std::optional<double> duration, QString &problem);
    // "START-END" as given on the command line ("1:00-2:30", "90-", "-45").
    static std::optional<MediaSection> fromRange(const QString &range, std::optional<double> duration,
                                                 QString &problem);

    // yt-dlp's --download-sections value: "*START-END" in seconds, "inf" for the end.
    QString ytDLPValue() const;
    bool operator==(const MediaSection &) const = default;
};
