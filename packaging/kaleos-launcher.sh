#!/bin/sh
# kaleos: starts Kaleos, the image viewer, under Wine.
#   kaleos [options] [files or folders...]
# Files and folders are Linux paths (relative or absolute); options are the
# viewer's own (-all, -full, -view, -browser, -ini FILE, -slide FILE). The
# viewer keeps its Wine prefix apart from other programs' (KALEOS_WINEPREFIX,
# default ~/.local/share/kaleos/wine) unless WINEPREFIX is set.
set -e
here=$(dirname "$(readlink -f "$0")")
program=${KALEOS_PROGRAM:-$here/../lib/kaleos/kaleos.exe.so}
wine=${KALEOS_WINE:-wine}
if [ ! -f "$program" ]; then
    echo "kaleos: $program is missing" >&2
    exit 1
fi
if ! command -v "$wine" >/dev/null 2>&1; then
    echo "kaleos: Wine is needed to run the viewer ($wine not found)" >&2
    exit 1
fi
data=${XDG_DATA_HOME:-$HOME/.local/share}
export WINEPREFIX="${WINEPREFIX:-${KALEOS_WINEPREFIX:-$data/kaleos/wine}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Linux paths become paths of Wine's drive Z:, which is the root folder.
windows_path() {
    case "$1" in
        /*) p=$1 ;;
        *) p=$(pwd)/$1 ;;
    esac
    printf 'Z:%s' "$p" | tr '/' '\\'
}

count=$#
expect_file=0
for a in "$@"; do
    if [ $expect_file = 1 ] || { case "$a" in -*) false ;; *) [ -e "$a" ] ;; esac; }; then
        a=$(windows_path "$a")
        expect_file=0
    else
        case "$a" in
            -ini|-slide) expect_file=1 ;;
            *) expect_file=0 ;;
        esac
    fi
    set -- "$@" "$a"
done
shift "$count"

if [ ! -d "$WINEPREFIX" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    echo "kaleos: preparing the Wine prefix $WINEPREFIX (once)" >&2
    "$wine" wineboot -i >/dev/null 2>&1 || true
fi
exec "$wine" "$program" "$@"
