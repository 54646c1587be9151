#!/bin/sh
# Builds Kaleocore, makes the bundled sample images and converts them with kaleocmd.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target kaleocmd kaleosamples
out=build/demo
rm -rf "$out"
mkdir -p "$out"
build/kaleosamples "$out"
echo "== Sample images (examined without decoding) =="
build/kaleocmd -info "$out"/*.bmp
echo "== Converted through the library (run-length where the depth allows it) =="
build/kaleocmd -v -rle -out bmp -o "$out/converted/" "$out"/*.bmp
echo "== Thumbnails (bounded to 32x32) =="
build/kaleocmd -thumb 32x32 -out bmp -o "$out/thumbs/" "$out"/*.bmp
build/kaleocmd -info "$out"/thumbs/*.bmp
echo "Demo output in $(pwd)/$out"
