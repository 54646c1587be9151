# Decode rows of the Photo CD reader (the pack's largest uncompressed picture
# is the 768 x 512 Base image) and of a camera file (the JPEG stream of the big
# picture in a Casio QV-10 wrapper, against the bare stream). Sourced by
# bench/run.sh.

[ -f "$w/big.pcd" ] || $IM "$P" -resize '768x512!' "$w/big.pcd"
row "decode Photo CD" "$K -quiet -check $w/big.pcd" "$IM $w/big.pcd null:" "" "" ""

if [ ! -f "$w/big.cam" ]; then
    [ -f "$w/big-cam.jpg" ] || cjpeg -quality 90 "$P" > "$w/big-cam.jpg"
    { printf '\007\040MM\000\003'; head -c 48 /dev/zero; cat "$w/big-cam.jpg"; } > "$w/big.cam"
fi
row "decode Casio camera" "$K -quiet -check $w/big.cam" "$IM $w/big-cam.jpg null:" "" "" "djpeg $w/big-cam.jpg > /dev/null"
