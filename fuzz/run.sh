#!/bin/sh
# Builds the libFuzzer targets with clang and runs one of them on a scratch copy
# of the seed corpus (fuzz/corpus itself is never written to).
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
#   fuzz/run.sh bmp_fuzz 600
# Crash files land in build-fuzz/artifacts-TARGET/; replay one with
#   build-fuzz/TARGET build-fuzz/artifacts-TARGET/crash-...
set -eu
if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"

cmake -S "$root" -B "$build" -G Ninja -DKALEO_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target "$target" -j2

corpus="$build/corpus-$target"
artifacts="$build/artifacts-$target"
mkdir -p "$corpus" "$artifacts"
for seed in "$root"/fuzz/corpus/*; do
    [ -f "$seed" ] || continue
    [ -e "$corpus/$(basename "$seed")" ] || cp "$seed" "$corpus/"
done

exec "$build/$target" "$corpus" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$artifacts/" -print_final_stats=1 "$@"
