# The browser: time to fill the thumbnails (92 x 69) of a folder of 200
# twelve-megapixel JPEGs, then of one of 200 PNGs (hard links to the same
# picture: the same decoding work without gigabytes of disk), against
# vipsthumbnail making the same thumbnails from the same files. The browser
# runs in the GUI test program under Wine and reports the time from the
# start to the last thumbnail (the listing included); one run per cell, the
# folder being large.
if cmake --build "$root/build" -j2 --target kaleosgui >/dev/null 2>&1 && command -v wine >/dev/null &&
    command -v xvfb-run >/dev/null; then
    for kind in jpg png; do
        d="$w/browse-$kind"
        mkdir -p "$d" "$o/vt-$kind"
        i=0
        while [ $i -lt 200 ]; do
            ln -f "$w/big.$kind" "$d/p$i.$kind"
            i=$((i + 1))
        done
        ours=$(KALEO_BENCH_FOLDER="$d" sh "$root/tests/gui/run.sh" "$root/build" --gtest_also_run_disabled_tests \
            --gtest_filter='BrowseBench.DISABLED_FillThumbnails' 2>/dev/null |
            sed -n 's/^thumbnails filled in \([0-9.]*\) s$/\1/p')
        s=$(date +%s%N)
        vipsthumbnail "$d"/*."$kind" -s 92x69 -o "$o/vt-$kind/%s.png" >/dev/null 2>&1 && e=$(date +%s%N) || e=""
        vips=n/a
        [ -n "$e" ] && vips=$(awk -v a="$s" -v b="$e" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
        [ -n "$ours" ] || ours=n/a
        ratio=$(printf '%s %s\n' "$ours" "$vips" | awk '{ if ($1 == "n/a" || $2 == "n/a") print "n/a";
            else printf "%.2f", $1 / $2 }')
        printf '| %-28s | %8s | %8s | %8s | %8s | %8s | %6s |\n' "browser: 200 $kind thumbnails" "$ours" "" "" \
            "$vips" "" "$ratio"
    done
else
    echo "| browser thumbnails           |      n/a |          |          |      n/a |          |    n/a |"
fi
