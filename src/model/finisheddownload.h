#pragma once

#include <QMetaType>
#include <QString>

// How a download ended, for whoever tells the user about it (a desktop notification). A download
// the user cancelled is not reported.
struct FinishedDownload {
    enum class Result { completed, failed };

    Result result = Result::completed;
    // completed: the placed file, or for a list the folder that holds its files.
    QString path;
    // failed: the error text shown in the window.
    QString message;

    bool operator==(const FinishedDownload &) const = default;
};
Q_DECLARE_METATYPE(FinishedDownload)
