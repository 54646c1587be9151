#!/bin/sh
# Builds Kaleocore, makes the bundled sample pictures with our own writers,
# converts them with kaleocmd into the everyday formats, and opens them all in
# the viewer (under Wine; without a display, on a virtual screen with a screenshot).
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target kaleocmd kaleosamples
out=build/demo
rm -rf "$out"
mkdir -p "$out/samples"
build/kaleosamples "$out/samples"
s="$out/samples"
echo "== Converted with kaleocmd into other formats =="
build/kaleocmd -out png -o "$s/" "$s/wheel.bmp" "$s/ramp.bmp"
build/kaleocmd -q 90 -out jpeg -o "$s/" "$s/wheel.bmp"
build/kaleocmd -c 1 -out tga -o "$s/" "$s/wheel.bmp"
build/kaleocmd -c 2 -out tiff -o "$s/" "$s/wheel.bmp"
build/kaleocmd -out gif -o "$s/" "$s/bands16.bmp"
build/kaleocmd -c 1 -out pcx -o "$s/" "$s/checker.bmp"
build/kaleocmd -out pnm -o "$s/" "$s/checker.bmp" "$s/bands16.bmp"
build/kaleocmd -out sgi -o "$s/" -grey 256 "$s/ramp.bmp"
build/kaleocmd -c 1 -out iff -o "$s/" "$s/wheel.bmp"
build/kaleocmd -out xpm -o "$s/" "$s/bands16.bmp"
build/kaleocmd -out xbm -o "$s/" "$s/checker.bmp"
echo "== Every sample, examined without decoding =="
build/kaleocmd -info "$s"/*
echo "== Thumbnails (bounded to 32x32 while decoding) =="
mkdir -p "$out/thumbs"
build/kaleocmd -thumb 32x32 -out bmp -o "$out/thumbs/thumb#.bmp" "$s/wheel.jpg" "$s/wheel.png" "$s/wheel.tif"
echo "Demo pictures in $(pwd)/$s"
echo "== The viewer on the sample pictures =="
cmake --build build -j2 --target kaleos
printf '[Start]\r\nMaximizeKaleosAtStartup=1\r\n' > "$out/kaleos.ini"
KALEOS_SCREENSHOT="$(pwd)/$out/kaleos-screenshot.png" sh scripts/kaleos.sh -ini "$out/kaleos.ini" -all "$s"/*
