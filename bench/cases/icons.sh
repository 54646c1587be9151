# Calculator and organiser bitmaps, Windows icons: the formats here that a peer
# also decodes. netpbm writes Palm databases of at most 262144 grey pixels, so
# those rows use a 512 x 512 picture. Icons are written by our own converter
# (one 8-bit bitmap of the full size).
$IM "$w/big.ppm" -resize 512x512! -colorspace gray -depth 2 pgm:- | pamtopdbimg -uncompressed >"$w/palm.pdb" || true
$IM "$w/big.ppm" -resize 512x512! -colorspace gray -depth 2 pgm:- | pamtopdbimg -compressed >"$w/palm_rle.pdb" || true
$IM "$w/big.ppm" -colors 256 -type Palette "$w/big_pal.bmp"
$K -quiet -out ico -o "$w/big.ico" "$w/big_pal.bmp" >/dev/null 2>&1 || true
row "decode Palm 2-bit 512x512" "$K -quiet -check $w/palm.pdb" "" "" "" "pdbimgtopam $w/palm.pdb"
row "decode Palm 2-bit RLE 512x512" "$K -quiet -check $w/palm_rle.pdb" "" "" "" "pdbimgtopam $w/palm_rle.pdb"
row "decode ICO 8-bit" "$K -quiet -check $w/big.ico" "$IM $w/big.ico null:" "gm convert $w/big.ico null:" "" \
    "winicontoppm $w/big.ico"
