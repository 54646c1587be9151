#!/bin/sh
# Times kaleocmd against ImageMagick, GraphicsMagick, libvips and netpbm on the
# same generated 12-megapixel pictures, in one run, and prints a table of the
# median wall times (seconds) with our ratio to the fastest peer (below 1 means
# we are faster). The tools of a row take turns, round after round. No tool's
# output is kept.
#   sh bench/run.sh [RUNS]       (default 5 runs per cell)
set -eu
runs=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
sh "$root/scripts/setup.sh" >/dev/null
for p in libvips-tools libjpeg-turbo-progs libtiff-tools time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$p" >/dev/null
done
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target kaleocmd >/dev/null
K="$root/build/kaleocmd"
IM=convert-im6.q16
# The pictures and outputs live in memory when /dev/shm has room, so that the
# disk's write-back does not time one tool's run with another's files.
w="${BENCH_DIR:-$root/build/bench}"
if [ -z "${BENCH_DIR:-}" ] && [ -d /dev/shm ] &&
    [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -gt 2000000 ]; then
    w=/dev/shm/kaleobench
    trap 'rm -rf "$w"' EXIT
fi
rm -rf "$w"
mkdir -p "$w/out" "$w/batch"

echo "Generating the test pictures (4000 x 3000) ..." >&2
$IM -size 4000x3000 gradient:'#1a3050'-'#f0c060' \( -size 4000x3000 gradient:'#ff0000'-'#0000ff' -rotate 90 -resize 4000x3000! \) \
    -compose multiply -composite -attenuate 0.35 +noise Gaussian -depth 8 "$w/big.ppm"
$IM "$w/big.ppm" BMP3:"$w/big.bmp"
cjpeg -quality 90 "$w/big.ppm" >"$w/big.jpg"
$IM "$w/big.ppm" -quality 75 "$w/big.png"
$IM "$w/big.ppm" -compress LZW "$w/big.tif"
$IM "$w/big.ppm" -resize 1155x866! "$w/small.ppm"  # one megapixel, for the batch
$IM "$w/big.ppm" -compress RLE "$w/big.pcx"
$IM "$w/big.ppm" -compress RLE "$w/big.tga"
$IM "$w/big.ppm" -compress RLE "$w/big.sgi"
$IM "$w/big.ppm" -compress RLE "$w/big.ras"
i=0
while [ $i -lt 100 ]; do
    cjpeg -quality 85 "$w/small.ppm" >"$w/batch/f$i.jpg"
    i=$((i + 1))
done

# median of RUNS timings of a command, or "n/a" when it fails
median() {
    if [ -z "$1" ]; then
        echo "n/a"
        return
    fi
    t=""
    n=0
    while [ $n -lt "$runs" ]; do
        s=$(date +%s%N)
        if ! sh -c "$1" >/dev/null 2>&1; then
            echo "n/a"
            return
        fi
        e=$(date +%s%N)
        t="$t $(((e - s) / 1000))"
        n=$((n + 1))
    done
    echo "$t" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]/1e6}'
}

# one timing of a command in microseconds; fails when the command does
timeOnce() {
    s=$(date +%s%N)
    sh -c "$1" >/dev/null 2>&1 || return 1
    e=$(date +%s%N)
    echo $(((e - s) / 1000))
}

# A row of the table. The tools take turns, one run each per round, so that a
# slow spell of the (virtual) machine falls on all of them alike.
row() {
    name=$1
    shift
    c1=$1 c2=$2 c3=$3 c4=$4 c5=$5
    t1="" t2="" t3="" t4="" t5=""
    bad1="" bad2="" bad3="" bad4="" bad5=""
    n=0
    while [ $n -lt "$runs" ]; do
        for i in 1 2 3 4 5; do
            eval "cmd=\$c$i bad=\$bad$i"
            if [ -z "$cmd" ] || [ -n "$bad" ]; then continue; fi
            if v=$(timeOnce "$cmd"); then eval "t$i=\"\$t$i $v\""; else eval "bad$i=1"; fi
        done
        n=$((n + 1))
    done
    for i in 1 2 3 4 5; do
        eval "list=\$t$i bad=\$bad$i"
        if [ -z "$list" ] || [ -n "$bad" ]; then
            eval "m$i=n/a"
        else
            eval "m$i=$(echo "$list" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {printf "%.3f", a[int((NR+1)/2)]/1e6}')"
        fi
    done
    ours=$m1 im=$m2 gm=$m3 vips=$m4 pbm=$m5
    ratio=$(printf '%s %s %s %s %s\n' "$ours" "$im" "$gm" "$vips" "$pbm" | awk '{
        best = 0
        for (i = 2; i <= 5; i++) if ($i != "n/a" && (best == 0 || $i < best)) best = $i
        if ($1 == "n/a" || best == 0) print "n/a"; else printf "%.2f", $1 / best }')
    printf '| %-28s | %8s | %8s | %8s | %8s | %8s | %6s |\n' "$name" "$ours" "$im" "$gm" "$vips" "$pbm" "$ratio"
}

o="$w/out"
P="$w/big.ppm"

echo "| case                         | kaleocmd |    IM6   |    GM    |  libvips |  netpbm  | ratio  |"
echo "|------------------------------|----------|----------|----------|----------|----------|--------|"
row "decode BMP 24-bit" "$K -quiet -check $w/big.bmp" "$IM $w/big.bmp null:" "gm convert $w/big.bmp null:" \
    "vips avg $w/big.bmp" "bmptopnm $w/big.bmp"
row "decode JPEG" "$K -quiet -check $w/big.jpg" "$IM $w/big.jpg null:" "gm convert $w/big.jpg null:" \
    "vips avg $w/big.jpg" "djpeg $w/big.jpg"
row "decode PNG" "$K -quiet -check $w/big.png" "$IM $w/big.png null:" "gm convert $w/big.png null:" \
    "vips avg $w/big.png" "pngtopnm $w/big.png"
row "decode TIFF LZW" "$K -quiet -check $w/big.tif" "$IM $w/big.tif null:" "gm convert $w/big.tif null:" \
    "vips avg $w/big.tif" "tifftopnm $w/big.tif"
row "decode PPM" "$K -quiet -check $w/big.ppm" "$IM $w/big.ppm null:" "gm convert $w/big.ppm null:" \
    "vips avg $w/big.ppm" "pnmtopnm $w/big.ppm"
for f in pcx tga sgi ras; do
    row "decode $f (run-length)" "$K -quiet -check $w/big.$f" "$IM $w/big.$f null:" "gm convert $w/big.$f null:" "" ""
done
row "encode PCX (run-length)" "$K -quiet -overwrite -c 1 -out pcx -o $o/k.pcx $P" "$IM $P -compress RLE $o/i.pcx" \
    "gm convert $P -compress RLE $o/g.pcx" "" "ppmtopcx $P > $o/n.pcx"
row "encode Targa (run-length)" "$K -quiet -overwrite -c 1 -out tga -o $o/k.tga $P" "$IM $P -compress RLE $o/i.tga" \
    "gm convert $P -compress RLE $o/g.tga" "" "pamtotga $P > $o/n.tga"
row "encode SGI (run-length)" "$K -quiet -overwrite -c 1 -out sgi -o $o/k.rgb $P" "$IM $P -compress RLE $o/i.sgi" \
    "gm convert $P -compress RLE $o/g.sgi" "" "pnmtosgi -rle $P > $o/n.sgi"
row "encode PPM" "$K -quiet -overwrite -out pnm -o $o/k.ppm $w/big.bmp" "$IM $w/big.bmp $o/i.ppm" \
    "gm convert $w/big.bmp $o/g.ppm" "vips copy $w/big.bmp $o/v.ppm" "bmptopnm $w/big.bmp > $o/n.ppm"
row "BMP to PNG" "$K -quiet -overwrite -out png -o $o/k.png $w/big.bmp" "$IM $w/big.bmp $o/i.png" \
    "gm convert $w/big.bmp $o/g.png" "vips copy $w/big.bmp $o/v.png" "bmptopnm $w/big.bmp | pnmtopng > $o/n.png"
row "JPEG to PNG" "$K -quiet -overwrite -out png -o $o/k.png $w/big.jpg" "$IM $w/big.jpg $o/i.png" \
    "gm convert $w/big.jpg $o/g.png" "vips copy $w/big.jpg $o/v.png" "djpeg $w/big.jpg | pnmtopng > $o/n.png"
row "PNG to JPEG" "$K -quiet -overwrite -q 85 -out jpeg -o $o/k.jpg $w/big.png" "$IM $w/big.png -quality 85 $o/i.jpg" \
    "gm convert $w/big.png -quality 85 $o/g.jpg" "vips copy $w/big.png $o/v.jpg[Q=85]" \
    "pngtopnm $w/big.png | cjpeg -quality 85 > $o/n.jpg"
row "JPEG to PPM" "$K -quiet -overwrite -out pnm -o $o/k.ppm $w/big.jpg" "$IM $w/big.jpg $o/i.ppm" \
    "gm convert $w/big.jpg $o/g.ppm" "vips copy $w/big.jpg $o/v.ppm" "djpeg -outfile $o/n.ppm $w/big.jpg"
# The last column of this row is libtiff's own tiffcp.
row "TIFF LZW to plain TIFF" "$K -quiet -overwrite -c 0 -out tiff -o $o/k.tif $w/big.tif" \
    "$IM $w/big.tif -compress none $o/i.tif" "gm convert $w/big.tif -compress none $o/g.tif" \
    "vips copy $w/big.tif $o/v.tif" "tiffcp -c none $w/big.tif $o/n.tif"
row "TIFF LZW to JPEG" "$K -quiet -overwrite -q 85 -out jpeg -o $o/k.jpg $w/big.tif" \
    "$IM $w/big.tif -quality 85 $o/i.jpg" "gm convert $w/big.tif -quality 85 $o/g.jpg" \
    "vips copy $w/big.tif $o/v.jpg[Q=85]" "tifftopnm $w/big.tif | cjpeg -quality 85 > $o/n.jpg"
row "thumbnail 160 from JPEG" "$K -quiet -overwrite -thumb 160x160 -out bmp -o $o/k.bmp $w/big.jpg" \
    "$IM -define jpeg:size=320x320 $w/big.jpg -thumbnail 160x160 $o/i.bmp" \
    "gm convert -size 320x320 $w/big.jpg -thumbnail 160x160 $o/g.bmp" \
    "vipsthumbnail $w/big.jpg -s 160 -o $o/v.png" "djpeg -scale 1/8 $w/big.jpg | pamscale -xyfit 160 160 > $o/n.ppm"
row "thumbnail 160 from BMP" "$K -quiet -overwrite -thumb 160x160 -out bmp -o $o/k.bmp $w/big.bmp" \
    "$IM $w/big.bmp -thumbnail 160x160 $o/i.bmp" "gm convert $w/big.bmp -thumbnail 160x160 $o/g.bmp" \
    "vipsthumbnail $w/big.bmp -s 160 -o $o/v.png" "bmptopnm $w/big.bmp | pamscale -xyfit 160 160 > $o/n.ppm"
row "batch: 100 JPEG to PNG, 2 jobs" "$K -quiet -j 2 -overwrite -out png -o $o/kb/ $w/batch/*.jpg" \
    "mkdir -p $o/ib && ls $w/batch/*.jpg | xargs -P2 -n 50 mogrify-im6.q16 -path $o/ib -format png" \
    "mkdir -p $o/gb && ls $w/batch/*.jpg | xargs -P2 -n 50 gm mogrify -output-directory $o/gb -format png" \
    "ls $w/batch/*.jpg | xargs -P2 -I{} sh -c 'vips copy {} $o/vb_\$(basename {} .jpg).png'" \
    "ls $w/batch/*.jpg | xargs -P2 -I{} sh -c 'djpeg {} | pnmtopng > $o/nb_\$(basename {} .jpg).png'"
# Format families add their own decode rows in bench/cases/*.sh (sourced here,
# with K, IM, w, o, P and row available; each makes its files from $P first).
# Each runs in a subshell without -e: a peer that cannot make a test file costs
# that family's rows, not the rest of the run.
for cases in "$root"/bench/cases/*.sh; do
    [ -f "$cases" ] || continue
    (set +e; . "$cases") || echo "($(basename "$cases"): stopped early)"
done
# Operations: PPM in, PPM out, so the codecs cost little next to the operation.
op() {
    row "$1" "$K -quiet -overwrite -out pnm $2 -o $o/k.ppm $P" "$IM $P $3 $o/i.ppm" "gm convert $P $3 $o/g.ppm" "$4" "$5"
}
op "op: 256 colours" "-colors 256" "+dither -colors 256" "" "pnmquant 256 $P"
op "op: 256 colours dithered" "-dither -colors 256" "-dither FloydSteinberg -colors 256" "" "pnmquant -floyd 256 $P"
op "op: negate" "-negate" "-negate" "vips invert $P $o/v.ppm" "pnminvert $P"
op "op: gamma 1.5" "-gamma 1.50" "-gamma 1.5" "vips gamma $P $o/v.ppm --exponent 1.5" "pnmgamma 1.5 $P"
op "op: equalize" "-equalize" "-equalize" "vips hist_equal $P $o/v.ppm" "pnmhisteq $P"
op "op: normalize" "-normalize" "-normalize" "" "pnmnorm $P"
op "op: resize 50% area" "-rtype linear -resize 50% 50%" "-resize 50%" "vips resize $P $o/v.ppm 0.5" "pamscale 0.5 $P"
op "op: rotate 90" "-rotate 90" "-rotate 90" "vips rot $P $o/v.ppm d90" "pamflip -r90 $P"
op "op: median 5x5" "-medianb 5" "-median 2" "vips median $P $o/v.ppm 5" ""
op "op: gaussian 5x5" "-gauss 5" "-gaussian-blur 0x1" "vips gaussblur $P $o/v.ppm 1" ""
op "op: blur 3x3" "-blur 1" "-blur 1x1" "" ""


# Sizes of the PNG files written from the same JPEG (bytes), ours against the peers' defaults.
echo
$K -quiet -overwrite -out png -o "$o/size_k.png" "$w/big.jpg" >/dev/null 2>&1 || true
$IM "$w/big.jpg" "$o/size_i.png" 2>/dev/null || true
vips copy "$w/big.jpg" "$o/size_v.png" 2>/dev/null || true
echo "PNG from the 12 MP JPEG, bytes: kaleocmd $(stat -c %s "$o/size_k.png" 2>/dev/null || echo n/a)," \
    "IM6 $(stat -c %s "$o/size_i.png" 2>/dev/null || echo n/a), libvips $(stat -c %s "$o/size_v.png" 2>/dev/null || echo n/a)"

# Total size of the batch's PNG files (bytes).
echo "PNG files of the batch, bytes: kaleocmd $(cat "$o"/kb/*.png 2>/dev/null | wc -c)," \
    "IM6 $(cat "$o"/ib/*.png 2>/dev/null | wc -c), libvips $(cat "$o"/vb_*.png 2>/dev/null | wc -c)"

# Peak memory (resident set, MiB) of one decode of the 12 MP files; the decoded picture alone is 34 MiB.
peak() { /usr/bin/time -f %M sh -c "$1" 2>&1 >/dev/null | tail -1 | awk '{printf "%.0f", $1/1024}'; }
echo
echo "| peak memory of a decode, MiB | kaleocmd |    IM6   |    GM    |  libvips |  netpbm  |"
echo "|------------------------------|----------|----------|----------|----------|----------|"
for f in jpg bmp png; do
    case $f in jpg) n="djpeg $w/big.jpg" ;; bmp) n="bmptopnm $w/big.bmp" ;; png) n="pngtopnm $w/big.png" ;; esac
    printf '| %-28s | %8s | %8s | %8s | %8s | %8s |\n' "decode $f" "$(peak "$K -quiet -check $w/big.$f")" \
        "$(peak "$IM $w/big.$f null:")" "$(peak "gm convert $w/big.$f null:")" "$(peak "vips avg $w/big.$f")" "$(peak "$n")"
done

# Cost against size: decode times at 3, 12 and 48 megapixels and the time per megapixel.
echo
$IM "$P" -resize 50% "$w/mp3.ppm"
$IM "$P" -resize 200% "$w/mp48.ppm"
cp "$P" "$w/mp12.ppm"
for m in 3 12 48; do
    cjpeg -quality 90 "$w/mp$m.ppm" >"$w/mp$m.jpg"
    $IM "$w/mp$m.ppm" BMP3:"$w/mp$m.bmp"
done
echo "| decode at 3 / 12 / 48 MP     |   3 MP   |  12 MP   |  48 MP   | ms per MP (3 / 12 / 48) |"
echo "|------------------------------|----------|----------|----------|-------------------------|"
for f in jpg bmp; do
    t3=$(median "$K -quiet -check $w/mp3.$f"); t12=$(median "$K -quiet -check $w/mp12.$f"); t48=$(median "$K -quiet -check $w/mp48.$f")
    per=$(echo "$t3 $t12 $t48" | awk '{printf "%.1f / %.1f / %.1f", $1*1000/3, $2*1000/12, $3*1000/48}')
    printf '| %-28s | %8s | %8s | %8s | %-23s |\n' "kaleocmd $f" "$t3" "$t12" "$t48" "$per"
done

# Thumbnail quality: PSNR (dB) of each 160 x 120 thumbnail against a Lanczos resize of the full picture.
echo
$IM "$w/big.jpg" -filter Lanczos -resize 160x120 "$o/ref.ppm"
$K -quiet -overwrite -thumb 160x120 -out pnm -o "$o/tk.ppm" "$w/big.jpg" >/dev/null 2>&1 || true
vipsthumbnail "$w/big.jpg" -s 160x120 -o "$o/tv.png" 2>/dev/null || true
$IM -define jpeg:size=320x240 "$w/big.jpg" -thumbnail 160x120 "$o/ti.ppm" 2>/dev/null || true
psnr() { [ -f "$1" ] && compare-im6.q16 -metric PSNR "$1" "$o/ref.ppm" null: 2>&1 | awk '{printf "%.1f", $1}' || echo n/a; }
echo "Thumbnail PSNR against a Lanczos resize, dB: kaleocmd $(psnr "$o/tk.ppm"), vipsthumbnail $(psnr "$o/tv.png"), IM6 -thumbnail $(psnr "$o/ti.ppm")"
echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -m), $(. /etc/os-release && echo "$PRETTY_NAME"); $runs runs per cell."
