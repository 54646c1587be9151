# Atari ST screens: the formats have fixed, small sizes, so these rows time a
# whole screen per run (mostly start-up on every side). Netpbm is the only peer.
$IM "$P" -resize 320x200! -colors 16 ppm:- | ppmtopi1 >"$w/atari.pi1"
$IM "$P" -resize 640x400! -monochrome pbm:- | pbmtopi3 >"$w/atari.pi3"
$IM "$P" -resize 320x200! -colors 16 ppm:- | ppmtoneo >"$w/atari.neo"
cp "$root/fuzz/corpus/spu_hand.spu" "$w/atari.spu"
cp "$root/fuzz/corpus/spc_hand.spc" "$w/atari.spc"
row "decode Degas PI1" "$K -quiet -check $w/atari.pi1" "" "" "" "pi1toppm $w/atari.pi1"
row "decode Degas PI3" "$K -quiet -check $w/atari.pi3" "" "" "" "pi3topbm $w/atari.pi3"
row "decode NEOchrome" "$K -quiet -check $w/atari.neo" "" "" "" "neotoppm $w/atari.neo"
row "decode Spectrum 512" "$K -quiet -check $w/atari.spu" "" "" "" "sputoppm $w/atari.spu"
row "decode Spectrum 512 (compressed)" "$K -quiet -check $w/atari.spc" "" "" "" "spctoppm $w/atari.spc"
