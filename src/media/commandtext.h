#pragma once

#include <QString>
#include <QStringList>

// How a command line is shown to the user (a download's live log): the program and its
// arguments as one line a shell would read back, with every secret masked. A URL-valued argument
// keeps its address but not its user:password part ("--proxy http://***@host:3128"), and the
// value of a password option (--password, -p, --video-password, --ap-password and any other
// option named "…-password") is "***", whether it follows the option or is joined to it by "=".
namespace CommandText {

QString forDisplay(const QString &program, const QStringList &arguments);

} // namespace CommandText
