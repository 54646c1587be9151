# Unix workstation and scientific formats that netpbm both writes and reads:
# Usenix FaceServer (hexadecimal text) and SBIG CCD (16-bit samples).
$IM "$P" -colorspace gray pgm:- | pgmtofs >"$w/big.fac"
$IM "$P" -colorspace gray pgm:- | pgmtosbig >"$w/big.st7"
row "decode Usenix FaceServer" "$K -quiet -check $w/big.fac" "" "" "" "fstopgm $w/big.fac"
row "decode SBIG CCD" "$K -quiet -check $w/big.st7" "" "" "" "sbigtopgm $w/big.st7"
