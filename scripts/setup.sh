#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -e
PACKAGES="cmake ninja-build g++ make pkg-config libgtest-dev zlib1g-dev libdeflate-dev libpng-dev libjpeg62-turbo-dev
libjbig-dev jbigkit-bin libtiff-tools imagemagick netpbm graphicsmagick xvfb xauth libjpeg-turbo-progs
wine wine64 wine64-tools libwine-dev fonts-wine x11-apps locales parallel dpkg-dev man-db"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends $missing
fi
# The viewer runs in French, Wine's own dialogs included: fr_FR.UTF-8 must exist.
if ! locale -a 2>/dev/null | grep -qix 'fr_FR\.utf-\?8'; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "Generating the fr_FR.UTF-8 locale"
    $SUDO localedef -i fr_FR -c -f UTF-8 fr_FR.UTF-8
fi
