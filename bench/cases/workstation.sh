# Workstation, film and ray-tracer formats: decode rows where a peer reads the format.
$IM "$P" -depth 8 miff:"$w/big.miff"
$IM "$P" -depth 8 -compress RLE miff:"$w/big_rle.miff"
$IM "$P" mtv:"$w/big.mtv"
$IM "$P" cin:"$w/big.cin"
pnmtorle "$P" >"$w/big.rle"
$K -quiet -overwrite -out rla -o "$w/big.rla" "$P"
$K -quiet -overwrite -out alias -o "$w/big.alias" "$P"
row "decode MIFF" "$K -quiet -check $w/big.miff" "$IM $w/big.miff null:" "gm convert $w/big.miff null:" "" ""
row "decode MIFF (run-length)" "$K -quiet -check $w/big_rle.miff" "$IM $w/big_rle.miff null:" \
    "gm convert $w/big_rle.miff null:" "" ""
row "decode MTV" "$K -quiet -check -in mtv $w/big.mtv" "$IM mtv:$w/big.mtv null:" "gm convert mtv:$w/big.mtv null:" "" ""
row "decode Cineon" "$K -quiet -check $w/big.cin" "$IM $w/big.cin null:" "gm convert $w/big.cin null:" "" ""
row "decode Utah RLE" "$K -quiet -check -in rle $w/big.rle" "$IM rle:$w/big.rle null:" "gm convert rle:$w/big.rle null:" \
    "" "rletopnm $w/big.rle"
row "decode Wavefront RLA" "$K -quiet -check -in rla $w/big.rla" "" "gm convert rla:$w/big.rla null:" "" ""
row "decode Alias (run-length)" "$K -quiet -check -in alias $w/big.alias" "" "gm convert pix:$w/big.alias null:" "" ""
