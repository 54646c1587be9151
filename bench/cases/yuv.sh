# Headerless data: the big picture as packed UYVY, planar YUV 4:2:2 and raw
# R,G,B planes, read with the geometry given, against ImageMagick.
$IM "$P" uyvy:"$w/big.uyvy" 2>/dev/null
row "decode UYVY" "$K -quiet -check -in uyvyi -size 4000x3000+0 $w/big.uyvy" \
    "$IM -size 4000x3000 uyvy:$w/big.uyvy null:" "gm convert -size 4000x3000 uyvy:$w/big.uyvy null:" "" ""
$IM "$P" -sampling-factor 4:2:2 -interlace plane yuv:"$w/big.yuv" 2>/dev/null
row "decode YUV 4:2:2" "$K -quiet -check -in yuv422 -size 4000x3000+0 $w/big.yuv" \
    "$IM -size 4000x3000 -sampling-factor 4:2:2 -interlace plane yuv:$w/big.yuv null:" "" "" ""
$IM "$P" -depth 8 -interlace plane rgb:"$w/big.rgbp" 2>/dev/null
row "decode raw RGB planes" "$K -quiet -check -in raw -size 4000x3000+0 -ctype rgb -corder sep $w/big.rgbp" \
    "$IM -size 4000x3000 -depth 8 -interlace plane rgb:$w/big.rgbp null:" "" "" ""
