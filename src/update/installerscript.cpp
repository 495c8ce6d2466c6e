#include "installerscript.h"

namespace InstallerScript {

namespace {

QString quoted(QString text) {
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

} // namespace

QString text(const QString &copyProgram, const QString &openProgram, int waitTenths) {
    return QStringLiteral(R"(#!/bin/sh
# Replaces the Torvel Downloader bundle once the running copy has quit.
set -u
old_pid=$1
source_app=$2
target_app=$3
backup_app=$4
update_root=$5
fallback_dmg=$6
)") + QStringLiteral("copy_program=") +
           quoted(copyProgram) + QStringLiteral("\nopen_program=") + quoted(openProgram) +
           QStringLiteral("\nwait_limit=") + QString::number(waitTenths) + QStringLiteral(R"(

open_fallback() {
    "$open_program" "$fallback_dmg" < /dev/null > /dev/null 2>&1 &
}

# Detached from this script, which ends right after.
start_app() {
    "$1/bin/torvel-downloader" < /dev/null > /dev/null 2>&1 &
}

attempt=0
while [ "$attempt" -lt "$wait_limit" ]; do
    kill -0 "$old_pid" 2> /dev/null || break
    sleep 0.1
    attempt=$((attempt + 1))
done
# The application did not quit: the update is given up, and its files go with this script.
if kill -0 "$old_pid" 2> /dev/null; then
    /bin/rm -rf "$update_root"
    open_fallback
    /bin/rm -f "$0"
    exit 1
fi

# The new bundle is copied next to the installed one first and swapped in with two renames, so
# the installed path never holds a half-copied bundle; a backup left behind by an interruption
# is found and dealt with at the next start (BundleRecovery).
staged_app="$(dirname "$backup_app")/.Torvel Downloader.new-${backup_app##*.backup-}"
if ! "$copy_program" -a "$source_app" "$staged_app"; then
    /bin/rm -rf "$staged_app"
    start_app "$target_app"
    open_fallback
    /bin/rm -f "$0"
    exit 1
fi

if [ -e "$target_app" ] && ! /bin/mv -T "$target_app" "$backup_app"; then
    /bin/rm -rf "$staged_app"
    start_app "$target_app"
    open_fallback
    /bin/rm -f "$0"
    exit 1
fi

if /bin/mv -T "$staged_app" "$target_app"; then
    start_app "$target_app"
    /bin/rm -rf "$backup_app" "$update_root"
    /bin/rm -f "$0"
    exit 0
fi

if [ -e "$backup_app" ]; then
    /bin/mv -T "$backup_app" "$target_app"
fi
/bin/rm -rf "$staged_app"
start_app "$target_app"
open_fallback
/bin/rm -f "$0"
exit 1
)");
}

} // namespace InstallerScript
