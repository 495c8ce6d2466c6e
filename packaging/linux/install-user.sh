#!/bin/sh
# Installs Torvel Downloader for the current user and makes it the handler of tdl: links.
#
#   packaging/linux/install-user.sh [--link] [EXECUTABLE]
#
# EXECUTABLE defaults to the Release build of scripts/run (build/release/src/app/torvel-downloader).
# It is copied to ~/.local/bin, or with --link only linked there (handy while developing: every
# rebuild is picked up). The desktop file goes to ~/.local/share/applications with Exec pointing
# at that copy, the icon to ~/.local/share/icons/hicolor/scalable/apps. Where the desktop's tools
# are installed, the desktop database is refreshed and the file is made the default handler of
# x-scheme-handler/tdl.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

link=false
if [ "${1:-}" = --link ]; then
    link=true
    shift
fi
if [ $# -gt 1 ] || [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
    echo "Uso: $0 [--link] [EJECUTABLE]" >&2
    exit 2
fi
executable=${1:-$root/build/release/src/app/torvel-downloader}
if [ ! -x "$executable" ] || [ -d "$executable" ]; then
    echo "No se encontró el ejecutable: $executable" >&2
    echo "Compílalo primero (scripts/run) o indica su ruta." >&2
    exit 1
fi
executable=$(cd "$(dirname "$executable")" && pwd)/$(basename "$executable")

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
bin_dir=$HOME/.local/bin
applications=$data_home/applications
icons=$data_home/icons/hicolor/scalable/apps
mkdir -p "$bin_dir" "$applications" "$icons"

installed=$bin_dir/torvel-downloader
rm -f "$installed"
if $link; then
    ln -s "$executable" "$installed"
else
    cp "$executable" "$installed.new"
    chmod 755 "$installed.new"
    mv "$installed.new" "$installed"
fi

# The Exec key's own quoting: inside double quotes, " ` $ and \ take a backslash, and the key's
# value escapes every backslash once more.
quoted=$(printf '%s' "$installed" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g')
sed -e "s|^Exec=.*|Exec=\"$(printf '%s' "$quoted" | sed -e 's/[|&\\]/\\&/g')\" %u|" \
    "$here/torvel-downloader.desktop" > "$applications/torvel-downloader.desktop.new"
mv "$applications/torvel-downloader.desktop.new" "$applications/torvel-downloader.desktop"
cp "$here/torvel-downloader.svg" "$icons/torvel-downloader.svg"
# Icon themes notice new files by the folder's time.
touch "$data_home/icons/hicolor"

if command -v update-desktop-database > /dev/null 2>&1; then
    update-desktop-database "$applications"
fi
if command -v xdg-mime > /dev/null 2>&1; then
    xdg-mime default torvel-downloader.desktop x-scheme-handler/tdl
else
    echo "xdg-mime no está disponible (paquete xdg-utils): los enlaces tdl: no se asociaron." >&2
fi

echo "Torvel Downloader instalado en $installed"
