#!/bin/sh
# Runs the viewer, Kaleos, under Wine on the given files and folders.
#   sh scripts/kaleos.sh [options] [files or folders...]
# Paths are given as Linux paths (relative or absolute); options as the viewer
# takes them (-all, -full, -view, -ini FILE...). Without a display the viewer
# runs under xvfb-run: after a few seconds a screenshot is saved
# (KALEOS_SCREENSHOT, default build/kaleos-screenshot.png), its path printed,
# and the viewer closed.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KALEOS_BUILD:-$top/build}
if [ ! -f "$build/kaleos.exe.so" ]; then
    echo "kaleos: $build/kaleos.exe.so is missing; build it with: cmake --build $build --target kaleos" >&2
    exit 1
fi
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# French throughout, as on a French Windows: Wine's own dialogs (open and
# save, message box buttons, the system menu) follow the locale.
if locale -a 2>/dev/null | grep -qix 'fr_FR\.utf-\?8'; then
    export LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8
else
    echo "kaleos: the fr_FR.UTF-8 locale is missing (sh scripts/setup.sh generates it); Wine's dialogs stay in English" >&2
fi

# Linux paths become paths of Wine's drive Z:, which is the root folder.
windows_path() {
    case "$1" in
        /*) p=$1 ;;
        *) p=$(pwd)/$1 ;;
    esac
    printf 'Z:%s' "$p" | tr '/' '\\'
}
set_args() {
    args=""
    expect_file=0
    for a in "$@"; do
        case "$a" in
            -ini|-slide) expect_file=1; args="$args \"$a\""; continue ;;
            -*) args="$args \"$a\""; continue ;;
        esac
        if [ -e "$a" ] || [ $expect_file = 1 ]; then
            args="$args \"$(windows_path "$a")\""
        else
            args="$args \"$a\""
        fi
        expect_file=0
    done
}
set_args "$@"

if [ -n "$DISPLAY" ]; then
    sh "$top/scripts/wineprefix.sh" "$WINEPREFIX"
    eval "exec wine \"$build/kaleos.exe.so\" $args"
fi

# No display: run on a virtual screen and take a picture of it.
shot=${KALEOS_SCREENSHOT:-$build/kaleos-screenshot.png}
cat > "$build/kaleos-run.sh" <<EOS
sh "$top/scripts/wineprefix.sh" "\$WINEPREFIX"
wine "$build/kaleos.exe.so" $args &
sleep ${KALEOS_WAIT:-8}
xwd -root -silent > "$build/kaleos-screenshot.xwd"
convert-im6.q16 "$build/kaleos-screenshot.xwd" "$shot"
rm -f "$build/kaleos-screenshot.xwd"
wineserver -k 2>/dev/null || true
EOS
xvfb-run -a -s "-screen 0 1024x768x24" sh "$build/kaleos-run.sh"
rm -f "$build/kaleos-run.sh"
echo "Screenshot of the viewer: $shot"
