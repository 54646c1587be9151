# Decode rows of the SciTex and Sun icon readers (the other formats of the
# family have no peer that decodes them here; GraphicsMagick refuses our
# SciTex files as cut short). Sourced by bench/run.sh.

# A SciTex CT file of the big picture: the parameter block at 1024 and each
# line stored as its R, G and B separations.
if [ ! -f "$w/big.sct" ]; then
    python3 - "$P" "$w/big.sct" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
fields, pixels = [], 0
i = 0
while len(fields) < 4:
    while data[i:i + 1].isspace(): i += 1
    j = i
    while not data[j:j + 1].isspace(): j += 1
    fields.append(data[i:j]); i = j
pixels = data[i + 1:]
width, height = int(fields[1]), int(fields[2])
head = bytearray(2048)
head[80:82] = b'CT'
head[1024] = 1
head[1025] = 3
size = b'+.10000000E+01+.10000000E+01+%011d+%011d' % (height, width)
head[1028:1028 + len(size)] = size
with open(sys.argv[2], 'wb') as out:
    out.write(head)
    line = 3 * width
    for y in range(height):
        row = pixels[y * line:(y + 1) * line]
        out.write(row[0::3] + row[1::3] + row[2::3])
PY
fi
row "decode scitex" "$K -quiet -check $w/big.sct" "$IM $w/big.sct null:" "" "" ""

[ -f "$w/big.icon" ] || ppmtopgm "$P" | pamthreshold -simple | pamtopnm | pbmtosunicon > "$w/big.icon"
row "decode Sun icon" "$K -quiet -check -in icon $w/big.icon" "" "" "" "sunicontopnm $w/big.icon > /dev/null"
