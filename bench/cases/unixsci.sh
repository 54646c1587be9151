# Unix workstation and scientific pictures: decoding the big picture as an X
# window dump (true colour), a 16-bit FITS array (a min/max pass, then the
# scaling), an AVS X image, a Khoros VIFF image (three bands) and a grey
# VICAR image, against the peers that read them.
$IM "$P" xwd:"$w/big.xwd" 2>/dev/null
row "decode X window dump" "$K -quiet -check $w/big.xwd" "$IM $w/big.xwd null:" "gm convert $w/big.xwd null:" "" \
    "xwdtopnm $w/big.xwd"
$IM "$P" -colorspace gray -depth 16 fits:"$w/big.fits" 2>/dev/null
row "decode FITS 16-bit" "$K -quiet -check $w/big.fits" "$IM $w/big.fits null:" "gm convert $w/big.fits null:" "" \
    "fitstopnm $w/big.fits"
$IM "$P" avs:"$w/big.avs" 2>/dev/null
row "decode AVS X" "$K -quiet -check $w/big.avs" "$IM $w/big.avs null:" "gm convert $w/big.avs null:" "" ""
$IM "$P" viff:"$w/big.viff" 2>/dev/null
row "decode Khoros VIFF" "$K -quiet -check $w/big.viff" "$IM $w/big.viff null:" "gm convert $w/big.viff null:" "" ""
$IM "$P" -colorspace gray vicar:"$w/big.vic" 2>/dev/null
row "decode VICAR" "$K -quiet -check $w/big.vic" "$IM $w/big.vic null:" "" "" ""
