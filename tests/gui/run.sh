#!/bin/sh
# Runs the viewer's GUI test (kaleosgui.exe.so) with Wine under xvfb-run, in a
# private Wine prefix under the build folder (created on first use).
#   sh tests/gui/run.sh BUILD_DIR [GoogleTest options]
# KALEO_SCREENSHOTS=FOLDER saves screenshots of the frame and the dialogs there.
set -e
src=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$1" = "--inside" ]; then
    build=$2
    shift 2
    sh "$src/scripts/wineprefix.sh" "$WINEPREFIX"
    status=0
    timeout 400 wine "$build/kaleosgui.exe.so" "$@" || status=$?
    wineserver -k 2>/dev/null || true
    exit $status
fi
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME="$build/winehome"
# French throughout, as on a French Windows: Wine's own dialogs (open and
# save, message box buttons, the system menu) follow the locale.
if locale -a 2>/dev/null | grep -qix 'fr_FR\.utf-\?8'; then
    export LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8
else
    echo "kaleos GUI test: the fr_FR.UTF-8 locale is missing (sh scripts/setup.sh generates it); Wine's dialogs stay in English" >&2
fi
mkdir -p "$HOME"
exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$src/tests/gui/run.sh" --inside "$build" "$@"
