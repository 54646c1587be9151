# DICOM: the big picture as an uncompressed colour DICOM file (DCMTK's
# img2dcm), then run-length (dcmcrle) and JPEG baseline (dcmcjpeg), against
# the peers that read them.
if command -v img2dcm >/dev/null && command -v dcmcrle >/dev/null && command -v dcmcjpeg >/dev/null; then
    $IM "$P" -type TrueColor bmp3:"$w/big_dcm.bmp" 2>/dev/null
    img2dcm -i BMP "$w/big_dcm.bmp" "$w/big.dcm" 2>/dev/null
    dcmcrle "$w/big.dcm" "$w/big_rle.dcm" 2>/dev/null
    dcmcjpeg +eb "$w/big.dcm" "$w/big_jpeg.dcm" 2>/dev/null
    for v in "" _rle _jpeg; do
        row "decode DICOM${v:+ ${v#_}}" "$K -quiet -check $w/big$v.dcm" "$IM $w/big$v.dcm null:" \
            "gm convert $w/big$v.dcm null:" "" ""
    done
fi
