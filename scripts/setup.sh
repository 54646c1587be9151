#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -e
PACKAGES="cmake ninja-build g++ make pkg-config libgtest-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev
libjbig-dev jbigkit-bin libtiff-tools imagemagick netpbm graphicsmagick xvfb xauth libjpeg-turbo-progs
wine wine64 wine64-tools libwine-dev fonts-wine x11-apps"
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
