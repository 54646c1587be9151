#!/bin/sh
# Prepares the private Wine prefix in which the viewer runs (GUI test, demo).
#   sh scripts/wineprefix.sh PREFIX        (inside an X display, e.g. under xvfb-run)
# The first run creates the prefix (about half a minute); later runs return at once.
set -e
prefix=$1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$prefix/.kaleos-ready" ] && exit 0
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1
# Wine's own fonts (dialog font, caption buttons) where the prefix looks for them.
if [ -d /usr/share/wine/fonts ]; then
    cp -n /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
fi
# Without a window manager Wine draws the captions and places the windows itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.kaleos-ready"
