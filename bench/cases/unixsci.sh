# Unix workstation and scientific pictures: decoding the big picture as an X
# window dump (true colour), a 16-bit FITS array (a min/max pass, then the
# scaling) and an AVS X image, against the peers that read them.
$IM "$P" xwd:"$w/big.xwd" 2>/dev/null
row "decode X window dump" "$K -quiet -check $w/big.xwd" "$IM $w/big.xwd null:" "gm convert $w/big.xwd null:" "" \
    "xwdtopnm $w/big.xwd"
$IM "$P" -colorspace gray -depth 16 fits:"$w/big.fits" 2>/dev/null
row "decode FITS 16-bit" "$K -quiet -check $w/big.fits" "$IM $w/big.fits null:" "gm convert $w/big.fits null:" "" \
    "fitstopnm $w/big.fits"
$IM "$P" avs:"$w/big.avs" 2>/dev/null
row "decode AVS X" "$K -quiet -check $w/big.avs" "$IM $w/big.avs null:" "gm convert $w/big.avs null:" "" ""
