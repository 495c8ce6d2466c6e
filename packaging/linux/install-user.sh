#!/bin/sh
# Installs Torvel Downloader for the current user and makes it the handler of tdl: links.
#
#   packaging/linux/install-user.sh [--link] [EXECUTABLE]
#   packaging/linux/install-user.sh BUNDLE.tar.gz | "BUNDLE.app"
#
# EXECUTABLE defaults to the Release build of scripts/run (build/release/src/app/torvel-downloader).
# It is copied to ~/.local/bin, or with --link only linked there (handy while developing: every
# rebuild is picked up).
#
# A release bundle (the .tar.gz or the "Torvel Downloader.app" folder made by make-release) is
# installed as ~/.local/opt/Torvel Downloader.app, replacing an earlier one, and
# ~/.local/bin/torvel-downloader becomes a link into it. Installed this way the application can
# update itself. The bundle's seal is checked first (torvel-downloader self-update --verify), by
# the program already installed, or by the bundle's own when there is none yet.
#
# The desktop file goes to ~/.local/share/applications with Exec pointing at the installed
# program, the icon to ~/.local/share/icons/hicolor/scalable/apps. Where the desktop's tools are
# installed, the desktop database is refreshed and the file is made the default handler of
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
    echo "     $0 PAQUETE.tar.gz | PAQUETE.app" >&2
    exit 2
fi
source=${1:-$root/build/release/src/app/torvel-downloader}

# Files that root makes in someone else's home would stay root's, beyond that user's reach.
if [ "$(id -u)" -eq 0 ] && [ -d "$HOME" ] && [ "$(stat -c %u "$HOME")" -ne 0 ]; then
    echo "No se instala como root en la carpeta personal de otro usuario ($HOME): ejecútalo como ese usuario." >&2
    exit 1
fi

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
bin_dir=$HOME/.local/bin
applications=$data_home/applications
icons=$data_home/icons/hicolor/scalable/apps
mkdir -p "$bin_dir" "$applications" "$icons"
installed=$bin_dir/torvel-downloader
icon=$here/torvel-downloader.svg

case $source in
*.tar.gz | *.tgz | *.app | *.app/)
    if $link; then
        echo "--link no se aplica a un paquete." >&2
        exit 2
    fi
    opt=$HOME/.local/opt
    bundle="$opt/Torvel Downloader.app"
    mkdir -p "$opt"
    work=$(mktemp -d "$opt/.torvel-install-XXXXXX")
    trap 'rm -rf "$work"' EXIT
    if [ -d "$source" ]; then
        cp -a "$source" "$work/Torvel Downloader.app"
    else
        tar -xzf "$source" -C "$work"
    fi
    new="$work/Torvel Downloader.app"
    if [ -L "$new" ] || [ ! -d "$new" ] || [ ! -x "$new/bin/torvel-downloader" ] || [ ! -f "$new/Info.json" ]; then
        echo "No es un paquete de Torvel Downloader: $source" >&2
        exit 1
    fi
    # The seal is checked with the release key of the program already installed; a first
    # installation can only use the key of the program the bundle brings.
    verifier="$bundle/bin/torvel-downloader"
    if [ ! -x "$verifier" ]; then
        verifier="$new/bin/torvel-downloader"
        echo "No hay otra versión instalada: el sello se comprueba con la clave del propio paquete." >&2
    fi
    if ! "$verifier" self-update --verify "$new"; then
        echo "El paquete no supera la comprobación de su sello; no se instala: $source" >&2
        exit 1
    fi
    # Renames only: the installed bundle is never half-replaced, and it comes back when the new
    # one cannot take its place (the work folder goes on exit).
    if [ -e "$bundle" ]; then
        mv "$bundle" "$work/previous.app"
    fi
    if ! mv "$new" "$bundle"; then
        if [ -e "$work/previous.app" ]; then
            mv "$work/previous.app" "$bundle"
        fi
        echo "No se pudo poner el paquete en su sitio; se conserva el instalado: $bundle" >&2
        exit 1
    fi
    ln -sfn "$bundle/bin/torvel-downloader" "$installed.new"
    mv -T "$installed.new" "$installed"
    executable=$bundle/bin/torvel-downloader
    icon=$bundle/share/icons/hicolor/scalable/apps/torvel-downloader.svg
    [ -f "$icon" ] || icon=$here/torvel-downloader.svg
    ;;
*)
    executable=$source
    ;;
esac

if [ -z "${bundle:-}" ]; then
    if [ ! -x "$executable" ] || [ -d "$executable" ]; then
        echo "No se encontró el ejecutable: $executable" >&2
        echo "Compílalo primero (scripts/run) o indica su ruta." >&2
        exit 1
    fi
    executable=$(cd "$(dirname "$executable")" && pwd -P)/$(basename "$executable")
    if [ "$executable" = "$(cd "$bin_dir" && pwd -P)/torvel-downloader" ]; then
        echo "$executable ya es el programa instalado; indica el ejecutable compilado." >&2
        exit 1
    fi
    # Beside it first, then one rename: a failed copy leaves the installed program as it was.
    rm -f "$installed.new"
    if $link; then
        ln -s "$executable" "$installed.new"
    elif ! cp "$executable" "$installed.new" || ! chmod 755 "$installed.new"; then
        rm -f "$installed.new"
        echo "No se pudo copiar $executable; se conserva el programa instalado." >&2
        exit 1
    fi
    mv -T "$installed.new" "$installed"
    # The desktop starts the copy (or the link) in ~/.local/bin.
    executable=$installed
fi

# The Exec key's own quoting: inside double quotes, " ` $ and \ take a backslash, and the key's
# value escapes every backslash once more; a % is doubled (a lone one starts a field code).
quoted=$(printf '%s' "$executable" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')
sed -e "s|^Exec=.*|Exec=\"$(printf '%s' "$quoted" | sed -e 's/[|&\\]/\\&/g')\" %u|" \
    "$here/torvel-downloader.desktop" > "$applications/torvel-downloader.desktop.new"
mv "$applications/torvel-downloader.desktop.new" "$applications/torvel-downloader.desktop"
cp "$icon" "$icons/torvel-downloader.svg"
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

echo "Torvel Downloader instalado en $executable"
