#!/bin/sh
# Builds everything and runs every test.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
cd build
ctest --output-on-failure -j2
