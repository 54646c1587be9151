# Calculator and organiser bitmaps, Windows icons: the formats here that a peer
# also decodes. Palm databases hold up to 65535 x 65535; netpbm writes them.
# Icons are written by our own converter (one 8-bit bitmap of the full size).
$IM "$w/big.ppm" -colorspace gray -depth 2 pgm:- | pamtopdbimg -uncompressed >"$w/big.pdb"
$IM "$w/big.ppm" -colorspace gray -depth 2 pgm:- | pamtopdbimg -compressed >"$w/big_rle.pdb"
$IM "$w/big.ppm" -colors 256 -type Palette "$w/big_pal.bmp"
$K -quiet -out ico -o "$w/big.ico" "$w/big_pal.bmp" >/dev/null 2>&1 || true
row "decode Palm 2-bit" "$K -quiet -check $w/big.pdb" "" "" "" "pdbimgtopam $w/big.pdb"
row "decode Palm 2-bit RLE" "$K -quiet -check $w/big_rle.pdb" "" "" "" "pdbimgtopam $w/big_rle.pdb"
row "decode ICO 8-bit" "$K -quiet -check $w/big.ico" "$IM $w/big.ico null:" "gm convert $w/big.ico null:" "" \
    "winicontoppm $w/big.ico"
